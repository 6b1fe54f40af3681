// A game object started from scripts written into a temporary working
// directory (game/lib/*.lua and game/font.lua empty unless a test writes
// them), on the shared test window, with the trace log captured.
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "game.h"
#include "game_files.h"
#include "gl_window.h"
#include "main.h"
#include "sdlkeynames.h"
#include "temp_dir.h"
#include "trace_capture.h"

// Runs Code in L; the error text, or "" on success.
inline std::string lua_run(lua_State* L, const std::string& Code)
{
  if (luaL_loadstring(L, Code.c_str()) == LUA_OK && lua_pcall(L, 0, 0, 0) == LUA_OK) return "";
  std::string Error = lua_tostring(L, -1);
  lua_pop(L, 1);
  return Error;
}

// tostring of a Lua expression's value, or "error: " and the error text.
inline std::string lua_eval(lua_State* L, const std::string& Expression)
{
  std::string Code = "return tostring(" + Expression + ")";
  bool Ok = luaL_loadstring(L, Code.c_str()) == LUA_OK && lua_pcall(L, 0, 1, 0) == LUA_OK;
  std::string Value = (Ok ? "" : "error: ") + std::string(lua_tostring(L, -1));
  lua_pop(L, 1);
  return Value;
}

class game_fixture : public testing::Test {
 protected:
  using lines_t = std::vector<std::string>;

  game_fixture()
  {
    gl_test_window();
    sdl_key_names_init();
    write_start_up_scripts();
  }
  ~game_fixture() override
  {
    end_trace();
    quit_flag = false;
  }

  // Starts the game with the given main script; the trace starts anew first.
  void start(const std::string& Main)
  {
    write_file("game/main.lua", Main);
    Trace.emplace();
    G.init();
  }
  // Drops what was logged so far.
  void retrace()
  {
    end_trace();
    Trace.emplace();
  }
  lines_t lines() { return Trace->lines(); }
  std::string eval(const std::string& Expression) { return lua_eval(G.L, Expression); }
  std::string run(const std::string& Code) { return lua_run(G.L, Code); }

  temp_dir Dir;
  std::optional<trace_capture> Trace;
  game G;

 private:
  // Failure messages go to the captured standard output; they are shown.
  void end_trace()
  {
    if (Trace && HasFailure()) std::cerr << Trace->stdout_text();
    Trace.reset();
  }
};
