#include <gtest/gtest.h>

#include <string>

#include "game_fixture.h"
#include "rngen.h"

namespace {

class GameHostTest : public game_fixture {
 protected:
  GameHostTest() { start(""); }

  // The next three draws of RN, as text.
  std::string draws() { return eval("RN() .. ' ' .. RN() .. ' ' .. RN()"); }
  // The next three draws of a generator seeded with Seed, as Lua writes them.
  std::string draws_of_seed(unsigned long Seed)
  {
    rngen R;
    R.seed(Seed);
    lua_pushnumber(G.L, R.get());
    lua_pushnumber(G.L, R.get());
    lua_pushnumber(G.L, R.get());
    lua_setglobal(G.L, "c");
    lua_setglobal(G.L, "b");
    lua_setglobal(G.L, "a");
    return eval("a .. ' ' .. b .. ' ' .. c");
  }
};

TEST_F(GameHostTest, RnWithoutSeedDrawsTheSequenceOfSeed4357AndRepeatsAfterReseeding)
{
  rngen Unseeded;
  rngen Seeded;
  Seeded.seed(4357);
  EXPECT_EQ(Unseeded.get(), Seeded.get());
  EXPECT_EQ(draws(), draws_of_seed(4357));
  run("RN_seed(99)");
  std::string First = draws();
  run("RN_seed(99)");
  EXPECT_EQ(draws(), First);
  EXPECT_EQ(First, draws_of_seed(99));
  EXPECT_EQ(eval("type(RN())"), "number");
}

TEST_F(GameHostTest, RnSeedTakesThe32BitPatternOfItsTruncatedArgument)
{
  const std::pair<const char*, unsigned long> Cases[] = {
      {"RN_seed(0)", 1},           {"RN_seed()", 1},
      {"RN_seed(0.7)", 1},         {"RN_seed('abc')", 1},
      {"RN_seed({})", 1},          {"RN_seed(-1)", 4294967295ul},
      {"RN_seed(3e9)", 2147483648ul}, {"RN_seed(-3e9)", 2147483648ul},
      {"RN_seed(0/0)", 2147483648ul}, {"RN_seed('12')", 12},
      {"RN_seed(12.9)", 12},       {"RN_seed(-12.9)", 4294967284ul},
      {"RN_seed(2147483647)", 2147483647ul},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(run(Case.first), "") << Case.first;
    EXPECT_EQ(draws(), draws_of_seed(Case.second)) << Case.first;
  }
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, Str2colorGivesThreeSinglePrecisionComponents)
{
  // A byte of 128 reads as the float 128/255 widened, not as the double.
  EXPECT_EQ(eval("string.format('%.17g', str2color('ff8000')[2])"), "0.50196081399917603");
  run("c = str2color('ff8000')");
  EXPECT_EQ(eval("c[1] .. ' ' .. c[3] .. ' ' .. #c .. ' ' .. tostring(c[4])"), "1 0 3 nil");
  EXPECT_EQ(eval("str2color('FF0080')[3] == str2color('ff0080')[3]"), "true");
  run("e = str2color('')");
  EXPECT_EQ(eval("e[1] .. e[2] .. e[3] .. #e"), "0003");
  // Six digits from a number's text are a colour string too.
  EXPECT_EQ(eval("str2color(123456)[1] == str2color('123456')[1]"), "true");
  EXPECT_EQ(lines(), lines_t{});

  run("b = str2color('fff') n = str2color(12)");
  const lines_t Expected = {
      "! str2color fatal: bad color string ``fff''",
      "! str2color fatal: bad color string ``12''",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("b[1] .. b[2] .. b[3] .. #b"), "0003");
}

TEST_F(GameHostTest, Color2strFormatsTruncatedBytes)
{
  EXPECT_EQ(eval("color2str(1, 0.5, 0)"), "ff7f00");
  EXPECT_EQ(eval("color2str()"), "000000");
  EXPECT_EQ(eval("color2str('1', '0', '0')"), "ff0000");
  EXPECT_EQ(eval("color2str(true, {}, 'x')"), "000000");
  EXPECT_EQ(eval("color2str(str2color('ff8000')[1], str2color('ff8000')[2], 0)"), "ff8000");
  // Far outside the colour range the bytes are never clamped; the
  // conversion to float must stay defined even beyond the float range.
  EXPECT_EQ(eval("color2str(2, 0, 0)"), "1fe0000");
  EXPECT_EQ(eval("color2str(1e300, -1e300, 0/0)"), "800000008000000080000000");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, WarnWritesItsTextAsAWarningLine)
{
  run("WARN('hello') WARN(12) WARN(0.5) WARN('cut\\0here') WARN('two\\nlines')");
  const lines_t Expected = {"! hello", "! 12", "! 0.5", "! cut", "! two", "lines"};
  EXPECT_EQ(lines(), Expected);
  std::string Text = Trace->text();
  EXPECT_EQ(Trace->stdout_text(), Text);
}

TEST_F(GameHostTest, TextArgumentsThatAreNotTextRaiseAnErrorInTheScript)
{
  const char* const Calls[] = {
      "WARN(nil)",          "WARN({})",                "texture_load(true)",        "image_size(print)",
      "image_exists()",     "str2color(false)",        "image_load_subpixels(nil)", "image_load_submask({})",
      "text_len(1, nil)",   "text_len(1, {})",
  };
  for (const char* Call : Calls) EXPECT_NE(run(Call).find(" (string expected, got "), std::string::npos) << Call;
  EXPECT_EQ(run("WARN({})"), "[string \"WARN({})\"]:1: bad argument #1 to 'WARN' (string expected, got table)");
  EXPECT_EQ(run("text_len(1, nil)"),
            "[string \"text_len(1, nil)\"]:1: bad argument #2 to 'text_len' (string expected, got nil)");
  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameHostTest, ImageExistsTestsTheFileWithoutDecodingIt)
{
  write_file("data/notapicture.png", "hello");
  write_file("data/7.png", "");
  write_file("data/a.png", "");
  write_file("data/sub/b.png", "");
  EXPECT_EQ(eval("image_exists('notapicture')"), "true");
  EXPECT_EQ(eval("image_exists('missing')"), "false");
  EXPECT_EQ(eval("image_exists('notapicture.png')"), "false");
  EXPECT_EQ(eval("image_exists(7)"), "true");
  EXPECT_EQ(eval("image_exists('a\\0b')"), "true");
  EXPECT_EQ(eval("image_exists('sub/b')"), "true");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, SetPaletteGrowsOnlyUpToItsCap)
{
  run("set_palette(3, 1, 0, 0) set_palette(1, 0, 1, 0) set_palette(65535, 1, 1, 1) set_palette(0)");
  run("set_palette(-1, 1, 1, 1) set_palette(-3e9, 1, 1, 1) set_palette(3e9, 1, 1, 1) set_palette('x')");
  EXPECT_EQ(lines(), lines_t{});
  run("set_palette(65536, 1, 1, 1) set_palette(2147483647, 1e300, 0, 0)");
  const lines_t Expected = {
      "! script set palette warning: entry 65536 is past the palette's limit of 65536 entries",
      "! script set palette warning: entry 2147483647 is past the palette's limit of 65536 entries",
  };
  EXPECT_EQ(lines(), Expected);
}

TEST_F(GameHostTest, GameQuitSetsTheQuitFlagFromAnyScript)
{
  EXPECT_FALSE(quit_flag);
  run("function update() game_quit() end");
  G.update(0.02);
  EXPECT_TRUE(quit_flag);
  run("game_quit()");
  EXPECT_TRUE(quit_flag);
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostTest, GameQuitWhileStartingUpSetsTheFlagBeforeAnyFrame)
{
  game Second;
  write_file("game/main.lua", "game_quit() after_quit = true");
  Second.init();
  EXPECT_TRUE(quit_flag);
  EXPECT_EQ(lua_eval(Second.L, "after_quit"), "true");
}

TEST_F(GameHostTest, TextLenMeasuresZeroWithoutGlyphs)
{
  // Before the game font exists, and with the empty font that a missing
  // description gives.
  write_file("game/lib/std.lua", "early = text_len(2, 'abc') early_empty = text_len(2, '')");
  game Second;
  Second.init();
  EXPECT_EQ(lua_eval(Second.L, "early .. ' ' .. early_empty"), "0 0");
  EXPECT_EQ(lua_eval(Second.L, "text_len(2, 'abc') .. ' ' .. text_len(1, '') .. ' ' .. text_len('x', 5)"), "0 0 0");
}

TEST_F(GameHostTest, MissingPicturesGiveNothingAndAreReportedOnEveryCall)
{
  run("t1 = texture_load('missing') t2 = texture_load(7) t3 = texture_load('a\\0b')");
  run("w, h = image_size('nothing') sp = image_load_subpixels('nothing', 0, 0, 2, 2)");
  run("sm = image_load_submask('nothing', 0, 0, 2, 2) count = select('#', image_size('nothing'))");
  EXPECT_EQ(eval("tostring(t1) .. tostring(t2) .. tostring(t3)"), "nilnilnil");
  EXPECT_EQ(eval("tostring(w) .. tostring(h) .. tostring(sp) .. tostring(sm) .. count"), "nilnilnilnil0");
  // The loaders log their own lines before these.
  lines_t Ours;
  for (const std::string& Line : lines())
    if (Line.compare(0, 9, "* script ") == 0) Ours.push_back(Line);
  const lines_t Expected = {
      "* script texture load: could not find texture missing",
      "* script texture load: could not find texture 7",
      "* script texture load: could not find texture a",
      "* script image load submask: could not find image nothing",
      "* script image load submask: could not find image nothing",
      "* script image load submask: could not find image nothing",
      "* script image load submask: could not find image nothing",
  };
  EXPECT_EQ(Ours, Expected);
}

}  // namespace
