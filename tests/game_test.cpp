#include "game.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "game_fixture.h"
#include "new_probe.h"

namespace {

// Host allocations fail for the life of the object.
class failing_new {
 public:
  failing_new() { new_probe_fail = true; }
  ~failing_new() { new_probe_fail = false; }
};

// SDL 2.26 fills its keyboard state only from its video driver's input
// (pushed SDL_KEYDOWN events leave it alone, and the offscreen driver has
// no keyboard), so tests write the array SDL_GetKeyboardState hands out:
// SDL's own state, as a real key press leaves it.
void hold_key(SDL_Scancode Key, bool Down) { const_cast<Uint8*>(SDL_GetKeyboardState(nullptr))[Key] = Down; }

class GameTest : public game_fixture {
 protected:
  ~GameTest() override
  {
    int NumKeys = 0;
    std::memset(const_cast<Uint8*>(SDL_GetKeyboardState(&NumKeys)), 0, NumKeys);
  }
};

const char* const INCLUDE_WARNING = "! game script include warning: couldn't dofile ``";

TEST_F(GameTest, StartUpRunsLibrariesFontAndMainAndRecordsEachAfterItsRun)
{
  write_file("game/lib/std.lua", "order = {'std'}");
  for (const char* Lib : {"rn", "debug", "class", "matrix"})
    write_file(std::string("game/lib/") + Lib + ".lua", std::string("order[#order + 1] = '") + Lib + "'");
  write_file("game/lib/color.lua", "include('extra') extra_recorded = LIB['game/extra.lua']");
  write_file("game/extra.lua", "order[#order + 1] = 'extra' color_recorded = LIB['game/lib/color.lua']");
  write_file("game/font.lua", "order[#order + 1] = 'font' len_in_font = text_len(1, 'abc')");
  start("order[#order + 1] = 'main'");

  EXPECT_EQ(lines(), lines_t{});
  EXPECT_EQ(lua_gettop(G.L), 0);
  EXPECT_FALSE(G.F.null());
  EXPECT_EQ(eval("table.concat(order, ' ')"), "std rn debug class matrix extra font main");
  EXPECT_EQ(eval("tostring(extra_recorded) .. ' ' .. tostring(color_recorded) .. ' ' .. len_in_font"), "true nil 0");
  run("keys = {} for k, v in pairs(LIB) do keys[#keys + 1] = k .. '=' .. tostring(v) end table.sort(keys)");
  EXPECT_EQ(eval("table.concat(keys, ' ')"),
            "game/extra.lua=true game/font.lua=true game/lib/class.lua=true game/lib/color.lua=true "
            "game/lib/debug.lua=true game/lib/matrix.lua=true game/lib/rn.lua=true game/lib/std.lua=true "
            "game/main.lua=true");
}

TEST_F(GameTest, IncludeRunsAScriptOncePerPath)
{
  write_file("game/counted.lua", "runs = (runs or 0) + 1 return {1, 2}");
  write_file("game/5.lua", "five = true");
  write_file("game/lib/std.lua", "std_runs = (std_runs or 0) + 1");
  start("include('counted') include('counted') include('lib/std') include(5) include('counted\\0ignored')");
  EXPECT_EQ(eval("runs .. std_runs .. tostring(five)"), "11true");
  // Another name for one file is another key, so the file runs again; any
  // value but nil counts as a record, false included.
  run("include('./counted') LIB['game/counted.lua'] = false include('counted')");
  EXPECT_EQ(eval("runs .. tostring(LIB['game/./counted.lua'])"), "2true");
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
  start("include('missing') include('bad') include('bad') include('broken')");
  const lines_t Expected = {
      INCLUDE_WARNING + std::string("game/missing.lua''"), "! --- cannot open game/missing.lua: No such file or directory",
      INCLUDE_WARNING + std::string("game/bad.lua''"),     "! --- game/bad.lua:2: boom",
      INCLUDE_WARNING + std::string("game/bad.lua''"),     "! --- game/bad.lua:2: boom",
      INCLUDE_WARNING + std::string("game/broken.lua''"),  "! --- game/broken.lua:1: unexpected symbol near '='",
  };
  EXPECT_EQ(lines(), Expected);
  std::string Text = Trace->text();
  EXPECT_EQ(Trace->stdout_text(), Text);
  // What the failed script did before its error stays; its path is not recorded.
  EXPECT_EQ(eval("tries .. tostring(LIB['game/bad.lua'])"), "2nil");
  write_file("game/bad.lua", "tries = tries + 1");
  G.include("bad");
  G.include("bad");
  EXPECT_EQ(eval("tries"), "3");
}

TEST_F(GameTest, IncludeOfNonTextRaisesAnErrorInTheCallingScript)
{
  start("ok, err = pcall(include, {})\ninclude(true)\nafter = true");
  const lines_t Expected = {
      INCLUDE_WARNING + std::string("game/main.lua''"),
      "! --- game/main.lua:2: bad argument #1 to 'include' (string expected, got boolean)",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("tostring(ok) .. tostring(after)"), "falsenil");
  EXPECT_EQ(eval("err:match('include. %(string expected, got table%)$') ~= nil"), "true");
}

TEST_F(GameTest, SelfIncludingScriptEndsAtTheInterpretersLimit)
{
  write_file("game/loop.lua", "depth = (depth or 0) + 1 include('loop') finished = (finished or 0) + 1");
  start("include('loop')");
  // The innermost include fails; every run then finishes and records the path.
  lines_t Lines = lines();
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0], INCLUDE_WARNING + std::string("game/loop.lua''"));
  EXPECT_EQ(Lines[1].substr(0, 20), "! --- game/loop.lua:");
  EXPECT_EQ(eval("depth > 50 and finished == depth and LIB['game/loop.lua']"), "true");
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameTest, IncludeWithAnUnusableLibLogsAndDoesNotRunTheScript)
{
  write_file("game/x.lua", "x_runs = (x_runs or 0) + 1");
  write_file("game/replaces_lib.lua", "LIB = 7");
  start("LIB = 5 include('x') after = true");
  run("LIB = setmetatable({}, {__index = function(_, k) error('no read of ' .. k, 0) end})");
  G.include("x");
  run("LIB = {}");
  G.include("replaces_lib");
  const lines_t Expected = {
      INCLUDE_WARNING + std::string("game/x.lua''"),            "! --- attempt to index a number value",
      INCLUDE_WARNING + std::string("game/main.lua''"),         "! --- attempt to index a number value",
      INCLUDE_WARNING + std::string("game/x.lua''"),            "! --- no read of game/x.lua",
      INCLUDE_WARNING + std::string("game/replaces_lib.lua''"), "! --- attempt to index a number value",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("tostring(after) .. tostring(x_runs) .. LIB"), "truenil7");
  EXPECT_EQ(lua_gettop(G.L), 0);
}

TEST_F(GameTest, MissingOrUnreadableFontLeavesAnEmptyFontAndMainRuns)
{
  std::filesystem::remove("game/font.lua");
  start("main_ran = text_len(1, 'abc')");
  write_file("game/font.lua", "setmetatable(_G, {__index = function(_, k) error('undefined global ' .. k, 0) end})");
  game Second;
  Second.init();
  const lines_t Expected = {
      INCLUDE_WARNING + std::string("game/font.lua''"), "! --- cannot open game/font.lua: No such file or directory",
      "! game init warning: couldn't read the font table", "! --- undefined global font",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("main_ran"), "0");
  EXPECT_EQ(lua_eval(Second.L, "rawget(_G, 'main_ran')"), "0");
  EXPECT_FALSE(G.F.null());
  EXPECT_FALSE(Second.F.null());
  EXPECT_EQ(lua_gettop(Second.L), 0);
}

TEST_F(GameTest, UpdatePublishesTheNamedKeysHeldAndCallsUpdateWithTheStep)
{
  start(
      "function update(t)\n"
      "  local names = {}\n"
      "  for k, v in pairs(keys_down) do names[#names + 1] = k .. '=' .. tostring(v) end\n"
      "  table.sort(names)\n"
      "  held = t .. ': ' .. table.concat(names, ' ')\n"
      "  keys_down.EXTRA = true\n"
      "end");
  G.update(0.02);
  EXPECT_EQ(eval("held"), "0.02: ");
  for (SDL_Scancode Key : {SDL_SCANCODE_SPACE, SDL_SCANCODE_F11, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_KP_1,
                           SDL_SCANCODE_NUMLOCKCLEAR, SDL_SCANCODE_F13})
    hold_key(Key, true);
  G.update(0.5);
  EXPECT_EQ(eval("held"), "0.5: F11=true LSHIFT=true SPACE=true");
  run("old_keys = keys_down");
  hold_key(SDL_SCANCODE_SPACE, false);
  G.update(0.02);
  EXPECT_EQ(eval("held"), "0.02: F11=true LSHIFT=true");
  EXPECT_EQ(eval("old_keys ~= keys_down and old_keys.SPACE"), "true");
  EXPECT_EQ(lines(), lines_t{});
}

TEST_F(GameTest, UpdateFailuresAreLoggedEveryFrame)
{
  start("");
  hold_key(SDL_SCANCODE_A, true);
  G.update(0.02);
  G.update(0.02);
  EXPECT_EQ(eval("keys_down.A"), "true");
  run(
      "calls = 0\n"
      "function update() calls = calls + 1\n"
      "  if calls == 1 then error('first', 0) end\n"
      "  if calls == 2 then error({}) end\n"
      "  if calls == 3 then error() end\n"
      "  if calls == 4 then error(0.5, 0) end\n"
      "  if calls == 5 then error('a\\0b\\nc', 0) end\n"
      "  update = 5\n"
      "end");
  for (int i = 0; i < 7; ++i) G.update(0.02);
  const std::string Warning = "! game update warning: error calling update function";
  const std::string Missing = "* game update fatal: couldn't find the global update () function";
  const lines_t Expected = {
      Missing, Missing,
      Warning, "! --- first",
      Warning, "! --- (error object is a table value)",
      Warning, "! --- (error object is a nil value)",
      Warning, "! --- 0.5",
      Warning, std::string("! --- a\0b", 9), "c",
      Warning, "! --- attempt to call a number value",
  };
  EXPECT_EQ(lines(), Expected);
  EXPECT_EQ(eval("calls"), "6");
}

TEST_F(GameTest, HostCodeOutOfMemoryLosesItsTextsNeverTheProgram)
{
  start("function update() WARN('from update') error(string.rep('x', 100)) end"
        " function keypress(k) error(string.rep('y', 100)) end"
        " function fill() texture_load('anything') end"
        " render_list = {{'no such command'}, {'rgba', 1, 0, 0, 1}}");
  retrace();
  game Second;
  {
    failing_new Scope;
    G.update(0.02);
    G.keypress(SDL_SCANCODE_A);
    G.render();
    G.include("missing");
    Second.init();
  }
  const lines_t Frame = {
      "! from update", "! game update warning: error calling update function", "! --- (no memory)",
      "! game update warning: error calling keypress function", "! --- (no memory)",
      "! game render command warning: unrecognized command ``no such command''; skipping",
      "! game script include warning: couldn't dofile ``game/missing.lua''", "! --- (no memory)",
  };
  lines_t Lines = lines();
  ASSERT_GE(Lines.size(), Frame.size());
  EXPECT_EQ(Frame, lines_t(Lines.begin(), Lines.begin() + Frame.size()));
  GLdouble Colour[4] = {0, 0, 0, 0};
  glGetDoublev(GL_CURRENT_COLOR, Colour);
  EXPECT_EQ(1.0, Colour[0]);
  // Start-up ended without a font, its includes failing where a path could
  // not be put together.
  EXPECT_TRUE(Second.F.null());
  ASSERT_EQ(0u, (Lines.size() - Frame.size()) % 2);
  for (size_t i = Frame.size(); i < Lines.size(); i += 2) {
    EXPECT_EQ(0u, Lines[i].rfind(INCLUDE_WARNING, 0)) << Lines[i];
    EXPECT_EQ("! --- (no memory)", Lines[i + 1]);
  }
  EXPECT_EQ(lua_eval(Second.L, "type(WARN)"), "function");
}

TEST_F(GameTest, KeypressPassesNamedKeysAndLogsItsFailuresAsUpdateWarnings)
{
  start("");
  G.keypress(SDL_SCANCODE_A);
  run("pressed = {} function keypress(k) pressed[#pressed + 1] = k end");
  for (int Scancode : std::initializer_list<int>{SDL_SCANCODE_SPACE, SDL_SCANCODE_KP_1, SDL_SCANCODE_0, SDL_SCANCODE_F13, SDL_SCANCODE_F11,
                       SDL_SCANCODE_NUMLOCKCLEAR, -1, 100000, SDL_SCANCODE_VOLUMEUP})
    G.keypress(Scancode);
  EXPECT_EQ(eval("table.concat(pressed, ' ')"), "SPACE 0 F11 VOLUMEUP");
  run("function keypress(k) error('no ' .. k, 0) end");
  G.keypress(SDL_SCANCODE_A);
  G.keypress(SDL_SCANCODE_B);
  const std::string Warning = "! game update warning: error calling keypress function";
  const lines_t Expected = {
      "* game keypress fatal: couldn't find keypress () function", Warning, "! --- no A", Warning, "! --- no B",
  };
  EXPECT_EQ(lines(), Expected);
}

// The host's own lookups and stores of globals meet the globals'
// metamethods; what they raise is logged like any script error.
TEST_F(GameTest, RaisingGlobalsMetamethodsAreLoggedNotFatal)
{
  start(
      "setmetatable(_G, {__index = function(_, k) error('no global ' .. k, 0) end,\n"
      "                  __newindex = function(_, k) error('no new global ' .. k, 0) end})");
  G.update(0.02);
  G.keypress(SDL_SCANCODE_A);
  const lines_t Expected = {
      "! game update warning: error calling update function", "! --- no new global keys_down",
      "! game update warning: error calling keypress function", "! --- no global keypress",
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
    for (int Scancode : {SDL_SCANCODE_A, SDL_SCANCODE_B, SDL_SCANCODE_KP_1}) G.keypress(Scancode);
    ASSERT_EQ(lua_gettop(G.L), 0) << i;
  }
  G.keypress(SDL_SCANCODE_C);
  for (int i = 0; i < 1000; ++i) G.keypress(SDL_SCANCODE_A);
  EXPECT_EQ(lua_gettop(G.L), 0);
  EXPECT_EQ(eval("n"), "3000");
}

// The shipped game, its scripts and pictures copied from the repository:
// it starts, flies, crashes and draws without a warning or fatal line, its
// Lua memory stays level from frame to frame, and Escape quits.
TEST_F(GameTest, DemoGamePlaysWithoutWarningsOrGrowingMemoryAndQuitsOnEscape)
{
  const std::filesystem::path Root = std::filesystem::path(__FILE__).parent_path().parent_path();
  for (const char* Folder : {"game", "data"})
    std::filesystem::copy(Root / Folder, Folder,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  start(read_file("game/main.lua"));
  auto Complaints = [this] {
    lines_t Found;
    for (const std::string& Line : lines())
      if (Line.rfind("- ", 0) != 0) Found.push_back(Line);
    return Found;
  };
  // Frames with the given keys held; every tenth is drawn as well.
  auto Fly = [this](std::initializer_list<SDL_Scancode> Keys, int Frames) {
    for (SDL_Scancode Key : Keys) hold_key(Key, true);
    for (int i = 0; i < Frames; ++i) {
      G.update(0.02);
      if (i % 10 == 0) G.render();
    }
    for (SDL_Scancode Key : Keys) hold_key(Key, false);
  };

  Fly({}, 50);
  G.keypress(SDL_SCANCODE_SPACE);
  Fly({SDL_SCANCODE_UP}, 60);
  Fly({SDL_SCANCODE_UP, SDL_SCANCODE_RIGHT}, 40);
  G.keypress(SDL_SCANCODE_P);
  // Held, P repeats, each repeat a press of a key keys_down already holds;
  // the game stays paused.
  hold_key(SDL_SCANCODE_P, true);
  for (int i = 0; i < 5; ++i) {
    G.update(0.02);
    G.keypress(SDL_SCANCODE_P);
  }
  hold_key(SDL_SCANCODE_P, false);
  EXPECT_EQ(eval("(function() for i = 1, 255 do local n, g = debug.getupvalue(keypress, i)"
                 " if n == 'g' then return g.paused end end end)()"),
            "true");
  Fly({SDL_SCANCODE_UP}, 20);
  G.keypress(SDL_SCANCODE_P);
  // Long enough to lose every ship and reach the end screen, then the title.
  Fly({SDL_SCANCODE_UP, SDL_SCANCODE_LEFT}, 1500);
  G.keypress(SDL_SCANCODE_SPACE);
  Fly({}, 50);
  EXPECT_EQ(Complaints(), lines_t{});

  lua_gc(G.L, LUA_GCCOLLECT, 0);
  const int Before = lua_gc(G.L, LUA_GCCOUNT, 0);
  Fly({}, 3000);
  lua_gc(G.L, LUA_GCCOLLECT, 0);
  EXPECT_LT(lua_gc(G.L, LUA_GCCOUNT, 0), Before + Before / 20);

  EXPECT_FALSE(quit_flag);
  G.keypress(SDL_SCANCODE_ESCAPE);
  EXPECT_TRUE(quit_flag);
  EXPECT_EQ(Complaints(), lines_t{});
  EXPECT_EQ(lua_gettop(G.L), 0);
}

}  // namespace
