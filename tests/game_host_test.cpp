#include <gtest/gtest.h>

#include <string>

#include "game_fixture.h"
#include "rngen.h"

namespace {

class GameHostTest : public game_fixture {
 protected:
  GameHostTest() { start(""); }

  // The next three draws of RN.
  std::string draws() { return eval("RN() .. ' ' .. RN() .. ' ' .. RN()"); }
  // The first three draws of a generator seeded with Seed, as Lua writes them.
  std::string draws_of_seed(unsigned long Seed)
  {
    rngen R;
    R.seed(Seed);
    for (const char* Name : {"a", "b", "c"}) {
      lua_pushnumber(G.L, R.get());
      lua_setglobal(G.L, Name);
    }
    return eval("a .. ' ' .. b .. ' ' .. c");
  }
};

TEST_F(GameHostTest, RnDrawsTheSequenceOfThe32BitPatternOfItsSeed)
{
  // Never seeded, the generator draws the sequence of 4357.
  EXPECT_EQ(draws(), draws_of_seed(4357));
  const std::pair<const char*, unsigned long> Cases[] = {
      {"RN_seed(99)", 99},          {"RN_seed(0)", 1},           {"RN_seed()", 1},
      {"RN_seed(0.7)", 1},          {"RN_seed('abc')", 1},       {"RN_seed('12')", 12},
      {"RN_seed(-1)", 4294967295ul}, {"RN_seed(-12.9)", 4294967284ul}, {"RN_seed(3e9)", 2147483648ul},
      {"RN_seed(-3e9)", 2147483648ul}, {"RN_seed(0/0)", 2147483648ul},
  };
  for (const auto& Case : Cases) {
    run(Case.first);
    EXPECT_EQ(draws(), draws_of_seed(Case.second)) << Case.first;
  }
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, ColourStringsConvertInSinglePrecision)
{
  // A byte of 128 reads as the float 128/255 widened, not as the double.
  run("c = str2color('ff8000') e = str2color('') n = str2color(123456)");
  EXPECT_EQ(eval("string.format('%.17g', c[2])"), "0.50196081399917603");
  EXPECT_EQ(eval("c[1] .. c[3] .. #c .. tostring(c[4])"), "103nil");
  EXPECT_EQ(eval("e[1] .. e[2] .. e[3] .. #e"), "0003");
  EXPECT_EQ(eval("color2str(n[1], n[2], n[3])"), "123456");
  EXPECT_EQ(eval("color2str(1, 0.5, 0) .. color2str() .. color2str('1', '0', '0')"), "ff7f00000000ff0000");
  // Bytes are never clamped, and the float conversion stays defined beyond the float range.
  EXPECT_EQ(eval("color2str(2, 0, 0) .. ' ' .. color2str(1e300, -1e300, 0/0)"), "1fe0000 800000008000000080000000");
  EXPECT_EQ(lines(), lines_t{});
  run("b = str2color('fff')");
  EXPECT_EQ(lines(), lines_t{"! str2color fatal: bad color string ``fff''"});
  EXPECT_EQ(eval("b[1] .. b[2] .. b[3] .. #b"), "0003");
}

TEST_F(GameHostTest, WarnWritesItsTextAsAWarningLine)
{
  run("WARN('hello') WARN(12) WARN(0.5) WARN('cut\\0here') WARN('two\\nlines')");
  EXPECT_EQ(lines(), (lines_t{"! hello", "! 12", "! 0.5", "! cut", "! two", "lines"}));
  std::string Text = Trace->text();
  EXPECT_EQ(Trace->stdout_text(), Text);
}

TEST_F(GameHostTest, TextArgumentsThatAreNotTextRaiseAnErrorInTheScript)
{
  for (const char* Call : {"WARN(nil)", "texture_load(true)", "image_size(print)", "image_exists()",
                           "str2color(false)", "image_load_subpixels(nil)", "image_load_submask({})"})
    EXPECT_NE(run(Call).find(" (string expected, got "), std::string::npos) << Call;
  EXPECT_EQ(run("text_len(1, {})"),
            "[string \"text_len(1, {})\"]:1: bad argument #2 to 'text_len' (string expected, got table)");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, ImageExistsTestsTheFileWithoutDecodingIt)
{
  for (const char* File : {"data/notapicture.png", "data/7.png", "data/a.png", "data/sub/b.png"})
    write_file(File, "not a picture");
  EXPECT_EQ(eval("image_exists('notapicture') and image_exists(7) and image_exists('a\\0b') and image_exists('sub/b')"),
            "true");
  EXPECT_EQ(eval("image_exists('missing') or image_exists('notapicture.png')"), "false");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, SetPaletteRefusesNegativeEntriesAndThosePastItsCap)
{
  run("set_palette(3, 1, 0, 0) set_palette(1, 0, 1, 0) set_palette(65535, 1, 1, 1) set_palette(0)");
  run("set_palette(-1, 1, 1, 1) set_palette(-3e9) set_palette(3e9) set_palette('x')");
  EXPECT_EQ(lines(), lines_t{});
  run("set_palette(65536, 1, 1, 1) set_palette(2147483647, 1e300, 0, 0)");
  const lines_t Expected = {
      "! script set palette warning: entry 65536 is past the palette's limit of 65536 entries",
      "! script set palette warning: entry 2147483647 is past the palette's limit of 65536 entries",
  };
  EXPECT_EQ(lines(), Expected);
}

TEST_F(GameHostTest, GameQuitSetsTheQuitFlagDuringStartUpOrAFrame)
{
  run("function update() game_quit() end");
  EXPECT_FALSE(quit_flag);
  G.update(0.02);
  EXPECT_TRUE(quit_flag);
  quit_flag = false;
  write_file("game/main.lua", "game_quit() after_quit = true");
  game Second;
  Second.init();
  EXPECT_TRUE(quit_flag);
  EXPECT_EQ(lua_eval(Second.L, "after_quit"), "true");
}

TEST_F(GameHostTest, TextLenIsZeroBeforeTheFontExistsAndWithoutGlyphs)
{
  write_file("game/lib/std.lua", "early = text_len(2, 'abc') .. text_len(2, '')");
  game Second;
  Second.init();
  EXPECT_EQ(lua_eval(Second.L, "early"), "00");
  EXPECT_EQ(lua_eval(Second.L, "text_len(2, 'abc') .. text_len(1, '') .. text_len('x', 5)"), "000");
}

TEST_F(GameHostTest, MissingPicturesGiveNothingAndAreReportedOnEveryCall)
{
  run("t = {texture_load('missing'), texture_load(7), texture_load('a\\0b')} w, h = image_size('none')");
  run("n = select('#', image_size('none')) sp = image_load_subpixels('none', 0, 0, 2, 2)");
  run("sm = image_load_submask('none', 0, 0, 2, 2)");
  EXPECT_EQ(eval("#t .. tostring(w) .. tostring(h) .. n .. tostring(sp) .. tostring(sm)"), "0nilnil0nilnil");
  // The loaders log their own lines before these.
  lines_t Ours;
  for (const std::string& Line : lines())
    if (Line.compare(0, 9, "* script ") == 0) Ours.push_back(Line);
  const std::string NoImage = "* script image load submask: could not find image none";
  const lines_t Expected = {
      "* script texture load: could not find texture missing", "* script texture load: could not find texture 7",
      "* script texture load: could not find texture a", NoImage, NoImage, NoImage, NoImage,
  };
  EXPECT_EQ(Ours, Expected);
}

}  // namespace
