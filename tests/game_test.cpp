#include "game.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "game_fixture.h"

namespace {

// SDL 2.26 fills its keyboard state only from its video driver's input
// (pushed SDL_KEYDOWN events leave it alone, and the offscreen driver has
// no keyboard), so tests write the array SDL_GetKeyboardState hands out:
// SDL's own state, as a real key press leaves it.
void hold_key(SDL_Scancode Key, bool Down)
{
  const_cast<Uint8*>(SDL_GetKeyboardState(nullptr))[Key] = Down ? 1 : 0;
}

void release_all_keys()
{
  int NumKeys = 0;
  Uint8* Keys = const_cast<Uint8*>(SDL_GetKeyboardState(&NumKeys));
  std::memset(Keys, 0, NumKeys);
}

class GameTest : public game_fixture {
 protected:
  ~GameTest() override { release_all_keys(); }
};

TEST_F(GameTest, StartUpRunsLibrariesFontAndMainInOrderAndRecordsThemInLib)
{
  write_file("game/lib/std.lua", "order = {'std'}");
  for (const char* Lib : {"rn", "debug", "class", "matrix"})
    write_file(std::string("game/lib/") + Lib + ".lua", std::string("order[#order + 1] = '") + Lib + "'");
  // A nested include is recorded before the script that included it.
  write_file("game/lib/color.lua",
             "order[#order + 1] = 'color'\n"
             "include('extra')\n"
             "extra_recorded = LIB['game/extra.lua']\n");
  write_file("game/extra.lua", "order[#order + 1] = 'extra'\ncolor_recorded_in_extra = LIB['game/lib/color.lua']");
  write_file("game/font.lua", "order[#order + 1] = 'font'\nlen_in_font = text_len(1, 'abc')");
  start("order[#order + 1] = 'main'\nmain_recorded_in_main = LIB['game/main.lua']");

  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(lua_gettop(G.L), 0);
  EXPECT_EQ(eval("table.concat(order, ' ')"), "std rn debug class matrix color extra font main");
  EXPECT_EQ(eval("extra_recorded"), "true");
  EXPECT_EQ(eval("color_recorded_in_extra"), "nil");
  EXPECT_EQ(eval("main_recorded_in_main"), "nil");
  EXPECT_EQ(eval("len_in_font"), "0");
  run("keys = {} for k, v in pairs(LIB) do keys[#keys + 1] = k .. '=' .. tostring(v) end table.sort(keys)");
  EXPECT_EQ(eval("table.concat(keys, ' ')"),
            "game/extra.lua=true game/font.lua=true game/lib/class.lua=true game/lib/color.lua=true "
            "game/lib/debug.lua=true game/lib/matrix.lua=true game/lib/rn.lua=true game/lib/std.lua=true "
            "game/main.lua=true");
  EXPECT_FALSE(G.F.null());
  const char* const Functions[] = {"include", "texture_load", "image_load_submask", "RN_seed", "RN",
                                   "set_palette", "image_size", "WARN", "image_exists", "image_load_subpixels",
                                   "str2color", "color2str", "text_len", "game_quit"};
  for (const char* Name : Functions) {
    lua_getglobal(G.L, Name);
    EXPECT_TRUE(lua_iscfunction(G.L, -1)) << Name;
    lua_pop(G.L, 1);
  }
  // Lua's own debug library is untouched by the game's library of that name.
  EXPECT_EQ(eval("type(debug.traceback)"), "function");
}

TEST_F(GameTest, IncludeRunsAScriptOncePerPath)
{
  write_file("game/counted.lua", "runs = (runs or 0) + 1\nreturn {1, 2}");
  write_file("game/5.lua", "five = true");
  write_file("game/lib/std.lua", "std_runs = (std_runs or 0) + 1");
  start("include('counted')\ninclude('counted')\ninclude('lib/std')\ninclude(5)");
  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(eval("runs"), "1");
  EXPECT_EQ(eval("std_runs"), "1");
  EXPECT_EQ(eval("five"), "true");
  EXPECT_EQ(eval("LIB['game/5.lua']"), "true");

  // Another name for the same file is another key, so the file runs again.
  run("include('./counted')");
  EXPECT_EQ(eval("runs"), "2");
  EXPECT_EQ(eval("LIB['game/./counted.lua']"), "true");

  // Any value but nil in LIB counts as run, false included.
  run("LIB['game/counted.lua'] = false include('counted')");
  EXPECT_EQ(eval("runs"), "2");

  for (int i = 0; i < 1000; ++i) G.include("counted");
  G.lib("std");
  EXPECT_EQ(lua_gettop(G.L), 0);
  EXPECT_EQ(eval("runs"), "2");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameTest, FailedIncludeIsRetriedAndLoggedAgain)
{
  write_file("game/bad.lua", "tries = (tries or 0) + 1\nerror('boom')");
  write_file("game/broken.lua", "x = = 1");
  start("include('missing')\ninclude('bad')\ninclude('bad')\ninclude('broken')");
  const lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/missing.lua''",
      "! --- cannot open game/missing.lua: No such file or directory",
      "! game script include warning: couldn't dofile ``game/bad.lua''",
      "! --- game/bad.lua:2: boom",
      "! game script include warning: couldn't dofile ``game/bad.lua''",
      "! --- game/bad.lua:2: boom",
      "! game script include warning: couldn't dofile ``game/broken.lua''",
      "! --- game/broken.lua:1: unexpected symbol near '='",
  };
  EXPECT_EQ(lines(), Expected);
  std::string Text = Trace->text();
  EXPECT_EQ(Trace->stdout_text(), Text);
  // What the failed script did before its error stays; the path is not recorded.
  EXPECT_EQ(eval("tries"), "2");
  EXPECT_EQ(eval("LIB['game/bad.lua']"), "nil");
  EXPECT_EQ(lua_gettop(G.L), 0);

  // Once the file is good it runs and is recorded.
  write_file("game/bad.lua", "tries = tries + 1");
  retrace();
  G.include("bad");
  G.include("bad");
  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(eval("tries"), "3");
}

TEST_F(GameTest, IncludeOfNonTextRaisesAnErrorInTheCallingScript)
{
  start(
      "ok_table, err_table = pcall(include, {})\n"
      "ok_nil = pcall(include)\n"
      "include(true)\n"
      "after = true\n");
  const lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/main.lua''",
      "! --- game/main.lua:3: bad argument #1 to 'include' (string expected, got boolean)",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("ok_table"), "false");
  // Lua names a function called through pcall as it finds it ('include' or '_G.include').
  EXPECT_EQ(eval("err_table:match('include. %(string expected, got table%)$') ~= nil"), "true");
  EXPECT_EQ(eval("ok_nil"), "false");
  EXPECT_EQ(eval("after"), "nil");
}

TEST_F(GameTest, IncludeCutsItsNameAtTheFirstNulByte)
{
  write_file("game/a.lua", "a_runs = (a_runs or 0) + 1");
  start("include('a\\0b')");
  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(eval("a_runs"), "1");
  EXPECT_EQ(eval("LIB['game/a.lua']"), "true");
}

TEST_F(GameTest, SelfIncludingScriptEndsAtTheInterpretersLimit)
{
  write_file("game/loop.lua", "depth = (depth or 0) + 1\ninclude('loop')\nfinished = (finished or 0) + 1");
  start("include('loop')");
  // The innermost include fails; every run then finishes.
  std::vector<std::string> Lines = lines();
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0], "! game script include warning: couldn't dofile ``game/loop.lua''");
  EXPECT_EQ(Lines[1].substr(0, 20), "! --- game/loop.lua:");
  EXPECT_GT(std::stoi(eval("depth")), 50);
  EXPECT_EQ(eval("finished == depth"), "true");
  EXPECT_EQ(eval("LIB['game/loop.lua']"), "true");
  EXPECT_EQ(lua_gettop(G.L), 0);
}

// A LIB that cannot be indexed makes every include fail with the include
// warning; the script is not run, since it cannot be told whether it ran.
TEST_F(GameTest, IncludeWithUnusableLibLogsAndGoesOn)
{
  write_file("game/x.lua", "x_runs = (x_runs or 0) + 1");
  write_file("game/replaces_lib.lua", "LIB = 7");
  start("LIB = 5\ninclude('x')\nafter = true");
  lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/x.lua''",
      "! --- attempt to index a number value",
      "! game script include warning: couldn't dofile ``game/main.lua''",
      "! --- attempt to index a number value",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("after"), "true");
  EXPECT_EQ(eval("x_runs"), "nil");

  // A LIB whose metamethods raise, and a script that replaces LIB while it
  // runs: logged, and the stack is clean.
  retrace();
  run("LIB = setmetatable({}, {__index = function(_, k) error('no read of ' .. k, 0) end})");
  G.include("x");
  run("LIB = {}");
  G.include("replaces_lib");
  Expected = {
      "! game script include warning: couldn't dofile ``game/x.lua''",
      "! --- no read of game/x.lua",
      "! game script include warning: couldn't dofile ``game/replaces_lib.lua''",
      "! --- attempt to index a number value",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("LIB"), "7");
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameTest, ErrorValuesAreLoggedWhole)
{
  write_file("game/table_error.lua", "error({})");
  write_file("game/nil_error.lua", "error()");
  write_file("game/bool_error.lua", "error(false)");
  write_file("game/number_error.lua", "error(0.5, 0)");
  write_file("game/odd_error.lua", "error('one\\ntwo\\0three', 0)");
  start(
      "include('table_error') include('nil_error') include('bool_error') include('number_error') "
      "include('odd_error')");
  const lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/table_error.lua''",
      "! --- (error object is a table value)",
      "! game script include warning: couldn't dofile ``game/nil_error.lua''",
      "! --- (error object is a nil value)",
      "! game script include warning: couldn't dofile ``game/bool_error.lua''",
      "! --- (error object is a boolean value)",
      "! game script include warning: couldn't dofile ``game/number_error.lua''",
      "! --- 0.5",
      "! game script include warning: couldn't dofile ``game/odd_error.lua''",
      "! --- one",
      std::string("two\0three", 9),
  };
  EXPECT_EQ(lines(), Expected);
}

TEST_F(GameTest, MissingFontScriptStillBuildsAnEmptyFontAndRunsMain)
{
  std::filesystem::remove("game/font.lua");
  start("main_ran = true\nlen = text_len(1, 'abc')");
  const lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/font.lua''",
      "! --- cannot open game/font.lua: No such file or directory",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_FALSE(G.F.null());
  EXPECT_EQ(eval("main_ran"), "true");
  EXPECT_EQ(eval("len"), "0");
}

TEST_F(GameTest, FontLookupThatRaisesIsLoggedAndMainStillRuns)
{
  write_file("game/font.lua", "setmetatable(_G, {__index = function(_, k) error('undefined global ' .. k, 0) end})");
  start("rawset(_G, 'main_ran', true)");
  const lines_t Expected = {
      "! game init warning: couldn't read the font table",
      "! --- undefined global font",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_FALSE(G.F.null());
  EXPECT_EQ(eval("rawget(_G, 'main_ran')"), "true");
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameTest, UpdatePublishesHeldKeysAndCallsUpdateWithTheStep)
{
  start(
      "frames = 0\n"
      "function update(t)\n"
      "  frames = frames + 1\n"
      "  step = t\n"
      "  local names = {}\n"
      "  for k, v in pairs(keys_down) do names[#names + 1] = k .. '=' .. tostring(v) end\n"
      "  table.sort(names)\n"
      "  held = table.concat(names, ' ')\n"
      "  keys_down.EXTRA = true\n"
      "end");
  G.update(0.02);
  EXPECT_EQ(eval("held"), "");
  EXPECT_EQ(eval("step"), "0.02");

  hold_key(SDL_SCANCODE_SPACE, true);
  hold_key(SDL_SCANCODE_F11, true);
  hold_key(SDL_SCANCODE_LSHIFT, true);
  hold_key(SDL_SCANCODE_KP_1, true);
  hold_key(SDL_SCANCODE_NUMLOCKCLEAR, true);
  hold_key(SDL_SCANCODE_F13, true);
  G.update(0.5);
  EXPECT_EQ(eval("held"), "F11=true LSHIFT=true SPACE=true");
  EXPECT_EQ(eval("step"), "0.5");
  run("old_keys = keys_down");
  G.update(0.02);
  EXPECT_EQ(eval("held"), "F11=true LSHIFT=true SPACE=true");
  EXPECT_EQ(eval("old_keys == keys_down"), "false");

  hold_key(SDL_SCANCODE_SPACE, false);
  G.update(0.02);
  EXPECT_EQ(eval("held"), "F11=true LSHIFT=true");
  EXPECT_EQ(eval("frames"), "4");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameTest, MissingUpdateIsReportedEveryFrameWhileKeysDownIsStillRebuilt)
{
  start("");
  hold_key(SDL_SCANCODE_A, true);
  G.update(0.02);
  G.update(0.02);
  const lines_t Expected = {
      "* game update fatal: couldn't find the global update () function",
      "* game update fatal: couldn't find the global update () function",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("keys_down.A"), "true");
  hold_key(SDL_SCANCODE_A, false);
  G.update(0.02);
  EXPECT_EQ(eval("keys_down.A"), "nil");

  // A value that is not nil is called all the same.
  retrace();
  run("update = 5");
  G.update(0.02);
  const lines_t NotCallable = {
      "! game update warning: error calling update function",
      "! --- attempt to call a number value",
  };
  EXPECT_EQ(lines(), NotCallable);
}

TEST_F(GameTest, UpdateErrorsAreLoggedAndTheNextFrameCallsAgain)
{
  start(
      "calls = 0\n"
      "function update() calls = calls + 1\n"
      "  if calls == 1 then error('first', 0) end\n"
      "  if calls == 2 then error({}) end\n"
      "  if calls == 3 then error() end\n"
      "  if calls == 4 then error('a\\0b\\nc', 0) end\n"
      "end");
  for (int i = 0; i < 5; ++i) G.update(0.02);
  const lines_t Expected = {
      "! game update warning: error calling update function",
      "! --- first",
      "! game update warning: error calling update function",
      "! --- (error object is a table value)",
      "! game update warning: error calling update function",
      "! --- (error object is a nil value)",
      "! game update warning: error calling update function",
      std::string("! --- a\0b", 9),
      "c",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("calls"), "5");
}

TEST_F(GameTest, KeypressPassesKeyNamesAndSkipsKeysWithoutName)
{
  start("pressed = {}\nfunction keypress(k) pressed[#pressed + 1] = k end");
  for (int Scancode : std::initializer_list<int>{SDL_SCANCODE_SPACE, SDL_SCANCODE_KP_1, SDL_SCANCODE_0, SDL_SCANCODE_F13, SDL_SCANCODE_F11,
                       SDL_SCANCODE_NUMLOCKCLEAR, SDL_SCANCODE_ESCAPE, -1, 100000, SDL_SCANCODE_VOLUMEUP})
    G.keypress(Scancode);
  EXPECT_EQ(eval("table.concat(pressed, ' ')"), "SPACE 0 F11 ESCAPE VOLUMEUP");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameTest, KeypressFailuresAreLoggedAndTheNextPressCallsAgain)
{
  start("");
  G.keypress(SDL_SCANCODE_A);
  G.keypress(SDL_SCANCODE_KP_1);
  G.keypress(SDL_SCANCODE_B);
  lines_t Expected = {
      "* game keypress fatal: couldn't find keypress () function",
      "* game keypress fatal: couldn't find keypress () function",
  };
  EXPECT_EQ(lines(), Expected);

  retrace();
  run("function keypress(k) last = k error('no ' .. k, 0) end");
  G.keypress(SDL_SCANCODE_A);
  G.keypress(SDL_SCANCODE_B);
  Expected = {
      "! game update warning: error calling keypress function",
      "! --- no A",
      "! game update warning: error calling keypress function",
      "! --- no B",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("last"), "B");
}

// Globals whose metamethods raise reach the host's own lookups and stores;
// they are logged like any script error.
TEST_F(GameTest, RaisingGlobalsMetamethodsAreLoggedNotFatal)
{
  start(
      "setmetatable(_G, {\n"
      "  __index = function(_, k) error('no global ' .. k, 0) end,\n"
      "  __newindex = function(_, k) error('no new global ' .. k, 0) end})");
  G.update(0.02);
  G.keypress(SDL_SCANCODE_A);
  const lines_t Expected = {
      "! game update warning: error calling update function",
      "! --- no new global keys_down",
      "! game update warning: error calling keypress function",
      "! --- no global keypress",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameTest, StackIsUnchangedAfterThousandsOfFramesAndKeyPresses)
{
  write_file("game/fails.lua", "error('no')");
  start(
      "n = 0\n"
      "function update(t) n = n + 1 if n % 3 == 0 then error({}) end include('fails') end\n"
      "function keypress(k) if k == 'B' then error('b') end if k == 'C' then keypress = nil end end");
  hold_key(SDL_SCANCODE_Z, true);
  for (int i = 0; i < 3000; ++i) {
    G.update(0.02);
    G.keypress(SDL_SCANCODE_A);
    G.keypress(SDL_SCANCODE_B);
    G.keypress(SDL_SCANCODE_KP_1);
    ASSERT_EQ(lua_gettop(G.L), 0) << i;
  }
  G.keypress(SDL_SCANCODE_C);
  for (int i = 0; i < 1000; ++i) G.keypress(SDL_SCANCODE_A);
  EXPECT_EQ(lua_gettop(G.L), 0);
  EXPECT_EQ(eval("n"), "3000");
}

TEST_F(GameTest, DemoScriptsStartRunAndQuitOnEscape)
{
  const std::filesystem::path Game = std::filesystem::path(__FILE__).parent_path().parent_path() / "game";
  for (const char* Lib : {"std", "rn", "debug", "class", "matrix", "color"}) {
    std::string File = std::string("lib/") + Lib + ".lua";
    write_file("game/" + File, read_file((Game / File).string()));
  }
  std::filesystem::remove("game/font.lua");
  start(read_file((Game / "main.lua").string()));
  const lines_t Expected = {
      "! game script include warning: couldn't dofile ``game/font.lua''",
      "! --- cannot open game/font.lua: No such file or directory",
  };
  EXPECT_EQ(lines(), Expected);
  retrace();
  hold_key(SDL_SCANCODE_RIGHT, true);
  for (int i = 0; i < 100; ++i) G.update(0.02);
  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(eval("type(render_list)"), "table");
  G.keypress(SDL_SCANCODE_SPACE);
  EXPECT_FALSE(quit_flag);
  G.keypress(SDL_SCANCODE_ESCAPE);
  EXPECT_TRUE(quit_flag);
  EXPECT_EQ(lua_gettop(G.L), 0);
}

}  // namespace
