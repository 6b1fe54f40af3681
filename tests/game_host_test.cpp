#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <initializer_list>
#include <regex>
#include <set>
#include <string>

#include "game_fixture.h"
#include "image.h"
#include "png_writer.h"
#include "texture.h"
#include "rngen.h"

namespace {

using lines_t = std::vector<std::string>;

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

// A W x H RGBA picture of one colour.
void write_plain_png(const std::string& File, int W, int H)
{
  write_png(File, W, H, 4, std::vector<unsigned char>(static_cast<size_t>(W) * H * 4, 255));
}

// The lines of a texture_load(Name) whose file fails with FailLine.
lines_t failed_texture_lines(const std::string& Name, const std::string& FailLine)
{
  const std::string Path = "data/" + Name + ".png";
  return {"- texture load: loading " + Path, "* texlib load texdata fatal: " + FailLine + " ``" + Path + "''",
          "* script texture load: could not find texture " + Name};
}

// The lines of an image_size(Name) whose file fails with FailLine.
lines_t failed_image_lines(const std::string& Name, const std::string& FailLine)
{
  const std::string Path = "data/" + Name + ".png";
  return {"- image load: loading " + Path, "* image load fatal: " + FailLine + " ``" + Path + "''",
          "* script image load submask: could not find image " + Name};
}

lines_t joined(std::initializer_list<lines_t> Parts)
{
  lines_t All;
  for (const lines_t& Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

TEST_F(GameHostTest, MissingPicturesGiveNothingAndAreReportedOnEveryCall)
{
  run("t = {texture_load('missing'), texture_load(9), texture_load('a\\0b')} w, h = image_size('none')");
  run("n = select('#', image_size('none')) sp = image_load_subpixels('none', 0, 0, 2, 2)");
  run("sm = image_load_submask('none', 0, 0, 2, 2) t2 = texture_load('missing')");
  EXPECT_EQ(eval("#t .. tostring(w) .. tostring(h) .. n .. tostring(sp) .. tostring(sm) .. tostring(t2)"),
            "0nilnil0nilnilnil");
  // The loaders log their own lines before these, and nothing is remembered.
  const std::string Undecodable = "couldn't load image file";
  const lines_t NoImage = failed_image_lines("none", Undecodable);
  EXPECT_EQ(lines(), joined({failed_texture_lines("missing", Undecodable), failed_texture_lines("9", Undecodable),
                             failed_texture_lines("a", Undecodable), NoImage, NoImage, NoImage, NoImage,
                             failed_texture_lines("missing", Undecodable)}));
}

TEST_F(GameHostTest, PipesAndFoldersCountAsAbsentWithoutBeingOpened)
{
  write_plain_png("data/real.png", 2, 2);
  std::filesystem::create_directories("data/folder.png");
  std::filesystem::create_symlink("real.png", "data/link.png");
  ASSERT_EQ(0, mkfifo("data/pipe.png", 0600));
  ASSERT_EQ(0, mkfifo("game/pipe.lua", 0600));
  // Opening any of the pipes would wait for a writer for ever.
  EXPECT_EQ(eval("tostring(image_exists('pipe')) .. tostring(image_exists('folder')) .. tostring(image_exists('link'))"),
            "falsefalsetrue");
  run("w, h = image_size('pipe') t = texture_load('pipe') include('pipe')");
  EXPECT_EQ(eval("tostring(w) .. tostring(t) .. tostring(LIB['game/pipe.lua'])"), "nilnilnil");
  EXPECT_EQ(lines(), joined({failed_image_lines("pipe", "couldn't load image file"),
                             failed_texture_lines("pipe", "couldn't load image file"),
                             {"! game script include warning: couldn't dofile ``game/pipe.lua''",
                              "! --- cannot open game/pipe.lua: not a regular file"}}));
}

// The first bytes of a PNG that declares W x H pixels and ends there.
std::string png_header(uint32_t W, uint32_t H)
{
  std::string Head("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (uint32_t Size : {W, H})
    for (int Shift = 24; Shift >= 0; Shift -= 8) Head += static_cast<char>(Size >> Shift & 0xff);
  return Head + std::string("\x08\x02\0\0\0", 5);
}

TEST_F(GameHostTest, PicturesBeyondThePixelLimitOrInSvgAreRefusedBeforeTheirPixelsAreAllocated)
{
  // Headers alone: only the sizes tell them apart from files the decoder
  // refuses. A PNG of 16000 x 16000 and one of exactly the limit; a GIF
  // whose 1 x 1 screen holds a 65535 x 65535 picture; JPEG frame headers of
  // 60000 x 60000 after a fill byte and after seventy comments; an ICO of
  // 60000 x 60000, which only the allocator measures; an XV thumbnail whose
  // header walk reads 1 x 1 where its decoder reads 16384 x 16384.
  write_file("data/png.png", png_header(16000, 16000));
  write_file("data/limit.png", png_header(8192, 8192));
  write_file("data/gif.png", std::string("GIF89a\x01\0\x01\0\0\0\0,\0\0\0\0\xff\xff\xff\xff\0\x02\x02\x44\x01\0;", 29));
  const std::string Frame("\xff\xc0\0\x11\x08\xea\x60\xea\x60\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 19);
  std::string Comments;
  for (int i = 0; i < 70; ++i) Comments += std::string("\xff\xfe\0\x02", 4);
  write_file("data/jpegfill.png", "\xff\xd8\xff" + Frame);
  write_file("data/jpegnotes.png", "\xff\xd8" + Comments + Frame);
  write_file("data/ico.png", std::string("\0\0\x01\0\x01\0\0\0\0\0\x01\0\x20\0\x28\0\0\0\x16\0\0\0"
                                         "\x28\0\0\0\x60\xea\0\0\xc0\xd4\x01\0\x01\0\x20\0", 38) +
                                 std::string(24, '\0'));
  // A run-length TGA of 23200 x 23200 in 23 bytes: the decoder's row offsets
  // would overflow.
  write_file("data/bomb.tga", std::string("\0\0\x0a\0\0\0\0\0\0\0\0\0\xa0\x5a\xa0\x5a\x20\x08\xff\x10\x20\x30\x40", 23));
  write_file("data/xv.png", "P7 332\n1 1\n#END_OF_COMMENTS\n16384 16384\n" + std::string(64, '\0'));
  write_file("data/vector.png", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\">"
                                "<rect width=\"4\" height=\"4\" fill=\"red\"/></svg>");
  run("image_size('png') image_size('limit') texture_load('gif') texture_load('jpegfill') image_size('jpegnotes')"
      " texture_load('ico') image_size('xv') image_size('vector') texture_load('vector')");
  EXPECT_TRUE(image_load("data/bomb.tga").null());
  const std::string TooLarge = "image too large", Undecodable = "couldn't load image file";
  EXPECT_EQ(lines(), joined({failed_image_lines("png", TooLarge), failed_image_lines("limit", Undecodable),
                             failed_texture_lines("gif", TooLarge), failed_texture_lines("jpegfill", TooLarge),
                             failed_image_lines("jpegnotes", TooLarge), failed_texture_lines("ico", TooLarge),
                             failed_image_lines("xv", TooLarge),
                             failed_image_lines("vector", Undecodable), failed_texture_lines("vector", Undecodable),
                             {"- image load: loading data/bomb.tga", "* image load fatal: image too large ``data/bomb.tga''"}}));
}

TEST_F(GameHostTest, TextureLoadGivesEachPathOneIndexAndLoadsItOnce)
{
  for (const char* File : {"data/host_tex_a.png", "data/host_tex_b.png", "data/7.png", "data/host_cut.png"})
    write_plain_png(File, 2, 2);
  run("a1 = texture_load('host_tex_a') a2 = texture_load('host_tex_a') b = texture_load('host_tex_b')");
  run("seven = texture_load(7) cut = texture_load('host_cut\\0.png')");
  EXPECT_EQ(eval("a1 == a2 and b == a1 + 1 and seven == b + 1 and cut == seven + 1"), "true");
  EXPECT_EQ(lines(), (lines_t{"- texture load: loading data/host_tex_a.png", "- texture load: loading data/host_tex_b.png",
                              "- texture load: loading data/7.png", "- texture load: loading data/host_cut.png"}));
  const ref<texture> Seven = texture_load("data/7.png", true);
  ASSERT_FALSE(Seven.null());
  EXPECT_EQ(eval("seven"), std::to_string(Seven->get_id));
}

// "data/host_pixels.png", 3 x 2: pixel k (column k % 3, row k / 3) has the
// bytes 40k, 40k + 1, 40k + 2, 40k + 3, except that pixel 3's alpha is 128.
class GameHostImageTest : public GameHostTest {
 protected:
  GameHostImageTest()
  {
    std::vector<unsigned char> Bytes;
    for (int k = 0; k < 6; ++k)
      for (int c = 0; c < 4; ++c) Bytes.push_back(static_cast<unsigned char>(k == 3 && c == 3 ? 128 : 40 * k + c));
    write_png("data/host_pixels.png", 3, 2, 4, Bytes);
    write_plain_png("data/host_40x30.png", 40, 30);
    // Decoded here, once per process, so that no test sees the loading lines.
    image_load("data/host_pixels.png");
    image_load("data/host_40x30.png");
    retrace();
    // The bytes of a reader's table, from the colour values k / 255.
    run("function bytes(t) local s = {} for i, v in ipairs(t) do s[i] = math.floor(v * 255 + 0.5) end"
        " return #t .. ': ' .. table.concat(s, ' ') end");
  }
};

TEST_F(GameHostImageTest, ImageReadersTakeTheRectangleRowByRowInPixelOrder)
{
  EXPECT_EQ(eval("table.concat({image_size('host_40x30')}, ' ')"), "40 30");
  EXPECT_EQ(eval("bytes(image_load_subpixels('host_pixels', 0, 0, 2, 2))"),
            "12: 0 1 2 40 41 42 120 121 122 160 161 162");
  EXPECT_EQ(eval("bytes(image_load_submask('host_pixels', 0, 0, 2, 2))"), "4: 3 43 128 163");
  // Colour values are floats widened: 128 is not 128 / 255 in double precision.
  EXPECT_EQ(eval("string.format('%.15g', image_load_submask('host_pixels', 0, 1, 1, 1)[1])"), "0.501960813999176");
  EXPECT_EQ(eval("image_load_submask('host_pixels', 0, 1, 1, 1)[1] == 128 / 255"), "false");

  // Outside the picture every pixel is opaque white.
  EXPECT_EQ(eval("table.concat(image_load_subpixels('host_pixels', -1, 0, 1, 1), ' ')"), "1 1 1");
  EXPECT_EQ(eval("table.concat(image_load_submask('host_pixels', -1, 0, 1, 1), ' ')"), "1");
  EXPECT_EQ(eval("bytes(image_load_subpixels('host_pixels', 2, 1, 2, 1))"), "6: 200 201 202 255 255 255");

  // Fractions truncate toward zero.
  EXPECT_EQ(eval("bytes(image_load_subpixels('host_pixels', 1.9, 0, 1, 1))"), "3: 40 41 42");
  EXPECT_EQ(eval("bytes(image_load_subpixels('host_pixels', -0.5, 0, 1, 1))"), "3: 0 1 2");
  EXPECT_EQ(eval("bytes(image_load_submask('host_pixels', 0, 0.7, 2.99, 1))"), "2: 3 43");

  // An empty rectangle gives an empty table, not nil.
  EXPECT_EQ(eval("bytes(image_load_subpixels('host_pixels', 0, 0, 0, 2)) .. bytes(image_load_submask('host_pixels',"
                 " 0, 0, 2, -1)) .. bytes(image_load_submask('host_pixels', 0, 0, -5, -5))"),
            "0: 0: 0: ");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameHostImageTest, TooLargeARegionLogsAWarningAndReturnsNothing)
{
  run("function update() big = image_load_subpixels('host_pixels', 0, 0, 5000, 5000)"
      " mask = image_load_submask('host_pixels', 0, 0, 4097, 4096) after = true end");
  G.update(0.02);
  EXPECT_EQ(lines(), (lines_t{"! script image load subpixels warning: region 5000x5000 of ``host_pixels'' needs more "
                              "than 16777216 table entries",
                              "! script image load submask warning: region 4097x4096 of ``host_pixels'' needs more "
                              "than 16777216 table entries"}));
  EXPECT_EQ(eval("tostring(big) .. tostring(mask) .. tostring(after)"), "nilniltrue");
  EXPECT_EQ(eval("#image_load_submask('host_pixels', 2147483647, 2147483647, 2, 2)"), "4");
}

TEST_F(GameHostTest, GameFontMeasuresTextAndTakesTheNextTextureIndex)
{
  write_plain_png("data/host_share_a.png", 2, 2);
  write_plain_png("data/host_share_b.png", 2, 2);
  write_plain_png("data/host_font.png", 2, 2);
  write_file("game/lib/std.lua", "before = texture_load('host_share_a') early = text_len(1, 'ab')");
  write_file("game/font.lua", "font = { texture = 'data/host_font.png', pixelsize = 16,"
                              " glyph_97 = { advance = 0.5 }, glyph_98 = { advance = 0.25 } }");
  write_file("game/main.lua", "after = texture_load('host_share_b')");
  retrace();
  game Second;
  Second.init();
  EXPECT_EQ(lines(), (lines_t{"- texture load: loading data/host_share_a.png", "- texture load: loading data/host_font.png",
                              "- texture load: loading data/host_share_b.png"}));
  EXPECT_EQ(lua_eval(Second.L, "after - before"), "2");
  EXPECT_EQ(lua_eval(Second.L, "before + 1"), std::to_string(texture_load("data/host_font.png", true)->get_id));

  // Before the font exists every text measures 0.
  EXPECT_EQ(lua_eval(Second.L, "early"), "0");
  EXPECT_EQ(lua_eval(Second.L, "text_len(1, 'ab') .. ' ' .. text_len(2, 'ab') .. ' ' .. text_len('2', 'ba')"),
            "12 24 24");
  EXPECT_EQ(lua_eval(Second.L, "text_len(3, '') .. ' ' .. text_len(1, 'zz\\255') .. ' ' .. text_len(1, 'a\\0b')"),
            "0 0 8");
}

TEST_F(GameHostTest, FontTableThatRaisesLeavesAnEmptyFontAndStartUpGoesOn)
{
  write_file("game/font.lua", "font = setmetatable({}, {__index = function(_, k) error('no field ' .. k, 0) end})");
  write_file("game/main.lua", "main_ran = true len = text_len(1, 'ab')");
  retrace();
  game Second;
  Second.init();
  EXPECT_EQ(lines(), (lines_t{"! font init warning: error reading font table", "! --- no field texture"}));
  EXPECT_EQ(lua_eval(Second.L, "tostring(main_ran) .. ' ' .. len"), "true 0");
  EXPECT_FALSE(Second.F.null());
  EXPECT_EQ(lua_gettop(Second.L), 0);
}

// The global names that are C functions in L but not in a state with only
// Lua's standard libraries: the functions the program offers to scripts.
std::set<std::string> host_function_names(lua_State* L)
{
  lua_State* Plain = luaL_newstate();
  luaL_openlibs(Plain);
  std::set<std::string> Names;
  lua_pushglobaltable(L);
  lua_pushnil(L);
  while (lua_next(L, -2)) {
    if (lua_type(L, -2) == LUA_TSTRING && lua_iscfunction(L, -1)) {
      const std::string Name = lua_tostring(L, -2);
      lua_getglobal(Plain, Name.c_str());
      if (!lua_iscfunction(Plain, -1)) Names.insert(Name);
      lua_pop(Plain, 1);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  lua_close(Plain);
  return Names;
}

// The guide for game authors names, in backticks, every function the program
// offers to scripts and every render command it knows, the latter taken from
// the program's own table of command names.
TEST_F(GameHostTest, WritingGuideNamesEveryHostFunctionAndRenderCommand)
{
  const std::filesystem::path Root = std::filesystem::path(__FILE__).parent_path().parent_path();
  const std::string Guide = read_file((Root / "docs" / "writing-games.md").string());
  ASSERT_FALSE(Guide.empty());

  const std::set<std::string> Functions = host_function_names(G.L);
  EXPECT_FALSE(Functions.empty());
  const std::string Source = read_file((Root / "src" / "game.cpp").string());
  const std::regex CommandEntry("COMMAND\\(([a-z]+)\\)");
  std::set<std::string> Commands;
  for (std::sregex_iterator Match(Source.begin(), Source.end(), CommandEntry), End; Match != End; ++Match)
    Commands.insert((*Match)[1]);
  EXPECT_FALSE(Commands.empty());

  for (const std::set<std::string>& Names : {Functions, Commands})
    for (const std::string& Name : Names) EXPECT_NE(Guide.find("`" + Name + "`"), std::string::npos) << Name;
  EXPECT_EQ(lua_gettop(G.L), 0);
}

}  // namespace
