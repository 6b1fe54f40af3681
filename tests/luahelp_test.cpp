#include "luahelp.h"

#include <gtest/gtest.h>

#include <lua.hpp>

#include "trace_capture.h"

namespace {

using lines = std::vector<std::string>;

// A colour string's digit pair k as a colour component.
float channel(int K) { return static_cast<float>(K / 255.0); }

const char* const DEEP_EQUAL = R"(
  function deep_equal(a, b)
    if type(a) ~= 'table' or type(b) ~= 'table' then return a == b end
    for k, v in pairs(a) do if not deep_equal(v, b[k]) then return false end end
    for k in pairs(b) do if a[k] == nil then return false end end
    return true
  end)";

class luahelp : public testing::Test {
 protected:
  void SetUp() override
  {
    Trace.stdout_text();  // the trace file holds the lines; test failures stay visible
    L = luaL_newstate();
    luaL_openlibs(L);
    run(DEEP_EQUAL);
  }
  void TearDown() override { lua_close(L); }

  void run(const std::string& Chunk) { ASSERT_EQ(luaL_dostring(L, Chunk.c_str()), LUA_OK) << lua_tostring(L, -1); }
  // [-0, +1] pushes the value of a Lua expression.
  void push(const std::string& Expression) { run("return " + Expression); }
  // Whether the value on top equals Expression's value, deeply; pops nothing.
  bool is_globals(int Index)
  {
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    bool Globals = lua_rawequal(L, Index, -1);
    lua_pop(L, 1);
    return Globals;
  }
  bool top_is(const std::string& Expression)
  {
    lua_getglobal(L, "deep_equal");
    lua_pushvalue(L, -2);
    push(Expression);
    lua_call(L, 2, 1);
    bool Equal = lua_toboolean(L, -1);
    lua_pop(L, 1);
    return Equal;
  }

  lua_State* L;
  trace_capture Trace;
};

TEST_F(luahelp, GettersReadFieldsWithConversionsAndKeepTheStack)
{
  push("{n = 2.5, dec = '12.5', hx = '0x10', word = 'ten', f = false, zero = 0, p_x = 4, c_r = 0.5}");
  int Top = lua_gettop(L);
  EXPECT_EQ(luahelp_table_getstring(L, "n", "d"), "2.5");
  EXPECT_EQ(luahelp_table_getstring(L, "f", "d"), "d");
  EXPECT_EQ(luahelp_table_getnumber(L, "n", 1), 2.5);  // still a number after getstring
  EXPECT_EQ(luahelp_table_getnumber(L, "dec", 1), 12.5);
  EXPECT_EQ(luahelp_table_getnumber(L, "hx", 1), 16);
  EXPECT_EQ(luahelp_table_getnumber(L, "word", 1), 1);
  EXPECT_TRUE(luahelp_table_getboolean(L, "missing", true));
  EXPECT_TRUE(luahelp_table_getboolean(L, "zero", true));
  EXPECT_TRUE(luahelp_table_getboolean(L, "word", true));
  EXPECT_FALSE(luahelp_table_getboolean(L, "f", true));
  EXPECT_EQ(luahelp_table_getrloc(L, "p", mkrloc(7, 8)), mkrloc(4, 8));
  EXPECT_EQ(luahelp_table_getrpos(L, "q", mkrpos(1, 2, 3)), mkrpos(1, 2, 3));
  EXPECT_EQ(luahelp_table_getfcolor(L, "c", mkfcolor(0.1f, 0.2f, 0.3f, 0.4f)), mkfcolor(0.5f, 0.2f, 0.3f, 0.4f));
  EXPECT_EQ(lua_gettop(L), Top);
  lua_getfield(L, -1, "n");
  EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER);
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(luahelp, ColorFieldIsAColorStringOnlyWhenSixBytesLong)
{
  push("{a = 'ff8000', a_r = 0, b = 'ff80G0', c = 'abcde', c_g = 0.25, d = 123456}");
  fcolor Default = mkfcolor(0.1f, 0.2f, 0.3f, 0.4f);
  EXPECT_EQ(luahelp_table_getfcolor(L, "a", Default), mkfcolor(1, channel(128), 0, 1));
  EXPECT_EQ(luahelp_table_getfcolor(L, "b", Default), mkfcolor(1, channel(128), 0, 1));
  EXPECT_EQ(luahelp_table_getfcolor(L, "missing", Default), Default);
  EXPECT_EQ(luahelp_table_getfcolor(L, "d", Default), mkfcolor(channel(0x12), channel(0x34), channel(0x56), 1));
  EXPECT_TRUE(Trace.lines().empty());
  EXPECT_EQ(luahelp_table_getfcolor(L, "c", Default), mkfcolor(0.1f, 0.25f, 0.3f, 0.4f));
  EXPECT_EQ(Trace.lines(), lines{"! luahelp table getfcolor warning: improperly formatted color string ``abcde''"});
  EXPECT_EQ(lua_gettop(L), 1);
}

TEST_F(luahelp, StringSetsAreSortedMergedAndSkipNonStrings)
{
  push("{list = {'b', 'a', 'b', 3, true, '3'}, word = 'x'}");
  EXPECT_EQ(luahelp_table_getstrings(L, "list"), (std::set<std::string>{"3", "a", "b"}));
  EXPECT_EQ(Trace.lines(), lines{"! luahelp getstrings warning: encountered non-string element, skipping"});
  EXPECT_TRUE(luahelp_table_getstrings(L, "word").empty());
  EXPECT_TRUE(luahelp_table_getstrings(L, "missing").empty());
  lua_getfield(L, -1, "word");
  EXPECT_TRUE(luahelp_getstrings(L).empty());
  EXPECT_EQ(lua_gettop(L), 2);
  EXPECT_EQ(Trace.lines().size(), 1u);
}

TEST_F(luahelp, SettersStoreFieldsThatGettersReadBack)
{
  push("{old = 1}");
  luahelp_table_setstring(L, "s", std::string("ab\0c", 4));
  luahelp_table_setnumber(L, "n", -3.5);
  luahelp_table_setboolean(L, "b", false);
  luahelp_table_setrpos(L, "p", mkrpos(1, 2, 3));
  luahelp_table_setnewtable(L, "t");
  luahelp_table_clear(L, "old");
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_TRUE(top_is("{s = 'ab', n = -3.5, b = false, p_x = 1, p_y = 2, p_z = 3, t = {}}"));
  EXPECT_EQ(luahelp_table_getrpos(L, "p", rpos(0.0)), mkrpos(1, 2, 3));
  EXPECT_EQ(luahelp_table_getnumber(L, "old", 9), 9);
}

TEST_F(luahelp, AccessorsGoThroughMetamethods)
{
  run("log = {} proxy = setmetatable({}, {__index = function(t, k) return k .. '!' end,"
      " __newindex = function(t, k, v) log[#log + 1] = k end})");
  lua_getglobal(L, "proxy");
  EXPECT_EQ(luahelp_table_getstring(L, "x", ""), "x!");
  luahelp_table_setrpos(L, "v", rpos(0.0));
  lua_pop(L, 1);
  push("log");
  EXPECT_TRUE(top_is("{'v_x', 'v_y', 'v_z'}"));
}

TEST_F(luahelp, PathWalkLeavesTheOutcomesValuesAndLines)
{
  run("a = {b = {c = {d = {}}}, n = 5} s = 'text' num = 5");
  const char* Empty[] = {nullptr};
  luahelp_get_path_table(L, Empty);
  luahelp_get_path_table(L, nullptr);
  EXPECT_EQ(lua_gettop(L), 0);
  lines Expected(2, "* luahelp get path table fatal: didn't pass any path segments in, not pushing anything");
  EXPECT_EQ(Trace.lines(), Expected);

  const char* Deep[] = {"a", "b", "c", "d", nullptr};
  luahelp_get_path_table(L, Deep);
  ASSERT_EQ(lua_gettop(L), 2);
  EXPECT_TRUE(is_globals(1));
  run("return a.b.c.d");
  EXPECT_TRUE(lua_rawequal(L, 2, 3));
  lua_settop(L, 0);

  const char* One[] = {"a", nullptr};
  luahelp_get_path_table(L, One);
  ASSERT_EQ(lua_gettop(L), 2);
  EXPECT_TRUE(top_is("a"));
  lua_settop(L, 0);

  for (const char* Global : {"missing", "s", "num"}) {
    const char* Path[] = {Global, "x", nullptr};
    luahelp_get_path_table(L, Path);
    EXPECT_EQ(lua_gettop(L), 1);
    EXPECT_TRUE(is_globals(1));
    EXPECT_EQ(Trace.lines().back(), std::string("* luahelp get path table fatal: global ") + Global + " isn't a table");
    lua_settop(L, 0);
  }

  size_t Before = Trace.lines().size();
  const char* Broken[] = {"a", "n", "z", nullptr};
  luahelp_get_path_table(L, Broken);
  ASSERT_EQ(lua_gettop(L), 3);
  EXPECT_TRUE(is_globals(1));
  EXPECT_EQ(lua_tonumber(L, 3), 5);
  lua_getglobal(L, "a");
  EXPECT_TRUE(lua_rawequal(L, 2, 4));
  lines All = Trace.lines();
  lines Tail(All.begin() + Before, All.end());
  EXPECT_EQ(Tail, (lines{"! luahelp get path table fatal: couldn't get subpath ``n''", "! --- fullpath is: ",
                         "! --- ``a''", "! --- ``n''", "! --- ``z''"}));
}

TEST_F(luahelp, PathWalkSurvivesARaisingMetamethod)
{
  run("setmetatable(_G, {__index = function(t, k) if k == 'lazy' then return {x = {}} end error('no global ' .. k, 0) end})"
      " bad = setmetatable({}, {__index = function() error({}) end})");
  const char* Lazy[] = {"lazy", "x", nullptr};
  luahelp_get_path_table(L, Lazy);
  EXPECT_EQ(lua_gettop(L), 2);
  lua_settop(L, 0);

  const char* Undefined[] = {"undefined", nullptr};
  luahelp_get_path_table(L, Undefined);
  const char* Bad[] = {"bad", "y", nullptr};
  luahelp_get_path_table(L, Bad);
  EXPECT_EQ(lua_gettop(L), 0);
  EXPECT_EQ(Trace.lines(), (lines{"! luahelp get path table warning: error fetching ``undefined''",
                                  "! --- no global undefined",
                                  "! luahelp get path table warning: error fetching ``y''",
                                  "! --- (error object is a table value)"}));
}

}  // namespace
