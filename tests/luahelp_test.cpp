#include "luahelp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <lua.hpp>
#include <sstream>

#include "trace_capture.h"

namespace {

using lines = std::vector<std::string>;

// Bytes from hex pairs; blanks are ignored.
std::string hex(const std::string& Pairs)
{
  std::string Bytes, Digits;
  for (char C : Pairs)
    if (C != ' ') Digits += C;
  for (size_t i = 0; i + 1 < Digits.size(); i += 2)
    Bytes += static_cast<char>(std::stoi(Digits.substr(i, 2), nullptr, 16));
  return Bytes;
}

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
  std::string written(int StackID)
  {
    std::ostringstream Out;
    fput_lua_object(L, StackID, Out);
    return Out.str();
  }
  // [-0, +1] reads one record of Bytes; Stream keeps what is left.
  void read(const std::string& Bytes)
  {
    Stream.clear();
    Stream.str(Bytes);
    fget_lua_object(L, Stream);
  }
  bool is_globals(int Index)
  {
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    bool Globals = lua_rawequal(L, Index, -1);
    lua_pop(L, 1);
    return Globals;
  }
  // Whether the value on top equals Expression's value, deeply; pops nothing.
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
  std::istringstream Stream;
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

TEST_F(luahelp, RecordsHaveTheDocumentedBytes)
{
  push("true");
  push("false");
  push("1");
  push("{}");
  push("'abc'");
  push("'a\\0b'");
  push("nil");
  EXPECT_EQ(written(1), hex("01000000 01000000"));
  EXPECT_EQ(written(-6), hex("01000000 00000000"));
  EXPECT_EQ(written(3), hex("03000000 000000000000F03F"));
  EXPECT_EQ(written(-4), hex("05000000 00000000"));
  EXPECT_EQ(written(5), hex("04000000 03000000 616263"));
  EXPECT_EQ(written(6), hex("04000000 01000000 61"));
  EXPECT_EQ(written(-1), hex("00000000"));
  push("{x = {}}");
  lua_pushinteger(L, 7);
  EXPECT_EQ(written(-2), hex("05000000 01000000 04000000 01000000 78 05000000 00000000"));
  EXPECT_EQ(lua_gettop(L), 9);
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(luahelp, EverySupportedValueReadsBackEqual)
{
  const char* Values[] = {"nil", "true", "false", "42", "-7", "0.1", "1e300", "''", "string.rep('xyz', 50000)",
                          "{}", "{1, 2, 'three', {4}, [true] = {[false] = 'f', s = {t = {u = {}}}}, [2.5] = -1}"};
  for (const char* Value : Values) {
    push(Value);
    read(written(-1));
    EXPECT_TRUE(top_is(Value)) << Value;
    EXPECT_EQ(Stream.peek(), EOF) << Value;
    lua_settop(L, 0);
  }
  lua_pushnumber(L, -0.0);
  read(written(1) + hex("04000000 03000000 616263"));
  EXPECT_TRUE(lua_tonumber(L, -1) == 0 && std::signbit(lua_tonumber(L, -1)));
  fget_lua_object(L, Stream);
  EXPECT_STREQ(lua_tostring(L, -1), "abc");
  read(hex("01000000 05000000"));
  EXPECT_TRUE(lua_toboolean(L, -1));
  read(hex("01000000 FFFFFFFF"));
  EXPECT_TRUE(lua_toboolean(L, -1));
  read(hex("04000000 03000000 610062 00000000"));
  EXPECT_STREQ(lua_tostring(L, -1), "a");
  fget_lua_object(L, Stream);
  EXPECT_TRUE(lua_isnil(L, -1) && Stream.peek() == EOF && !Stream.fail());
  EXPECT_EQ(lua_gettop(L), 7);
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(luahelp, SharedSubtableIsWrittenTwiceAndReadsBackAsTwoTables)
{
  run("shared = {1, 2} holder = {a = shared, b = shared}");
  push("holder");
  read(written(-1));
  lua_getfield(L, -1, "a");
  lua_getfield(L, -2, "b");
  EXPECT_FALSE(lua_rawequal(L, -1, -2));
  EXPECT_TRUE(top_is("{1, 2}"));
  lua_pop(L, 1);
  EXPECT_TRUE(top_is("{1, 2}"));
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(luahelp, UnsupportedValuesAreBareTagsThatReadAsNil)
{
  push("{a = 1, f = print}");
  lua_pushnil(L);
  ASSERT_TRUE(lua_next(L, 1));
  bool FunctionFirst = lua_isfunction(L, -1);
  lua_settop(L, 1);
  std::string FunctionPair = hex("04000000 01000000 66 06000000");
  std::string NumberPair = hex("04000000 01000000 61 03000000 000000000000F03F");
  std::string Pairs = FunctionFirst ? FunctionPair + NumberPair : NumberPair + FunctionPair;
  EXPECT_EQ(written(1), hex("05000000 02000000") + Pairs);
  EXPECT_EQ(Trace.lines(), lines{"! fput lua object warning: unsupported object type 6"});
  read(written(1));
  EXPECT_TRUE(top_is("{a = 1}"));

  lua_pushcfunction(L, [](lua_State*) { return 0; });
  EXPECT_EQ(written(-1), hex("06000000"));
  EXPECT_EQ(written(9), hex("FFFFFFFF"));
  EXPECT_EQ(written(-9), hex("FFFFFFFF"));
  EXPECT_EQ(written(0), hex("FFFFFFFF"));
  read(hex("FFFFFFFF 08000000"));
  EXPECT_TRUE(lua_isnil(L, -1));
  fget_lua_object(L, Stream);
  EXPECT_EQ(lua_gettop(L), 5);
  EXPECT_EQ(Trace.lines(), (lines{"! fput lua object warning: unsupported object type 6",
                                  "! fput lua object warning: unsupported object type 6",
                                  "! fget lua object warning: unsupported object type 6",
                                  "! fput lua object warning: unsupported object type 6",
                                  "! fput lua object warning: unsupported object type -1",
                                  "! fput lua object warning: unsupported object type -1",
                                  "! fput lua object warning: unsupported object type -1",
                                  "! fget lua object warning: unsupported object type -1",
                                  "! fget lua object warning: unsupported object type 8"}));
}

TEST_F(luahelp, TablesAsKeysAndRefusedKeysKeepTheStreamInStep)
{
  push("{[{1}] = 'k'}");
  read(written(-1));
  lua_pushnil(L);
  ASSERT_TRUE(lua_next(L, -2));
  EXPECT_STREQ(lua_tostring(L, -1), "k");
  lua_pop(L, 1);
  EXPECT_TRUE(top_is("{1}"));
  lua_settop(L, 0);

  std::string Nan = hex("03000000 000000000000F87F");
  std::string One = hex("03000000 000000000000F03F");
  std::string Key = hex("04000000 01000000 6B");
  read(hex("05000000 04000000") + hex("00000000") + One + hex("07000000") + One + Nan + One + Key + One + One);
  EXPECT_TRUE(top_is("{k = 1}"));
  fget_lua_object(L, Stream);
  EXPECT_EQ(lua_tonumber(L, -1), 1);
  EXPECT_FALSE(Stream.fail());
  EXPECT_EQ(Trace.lines(), lines{"! fget lua object warning: unsupported object type 7"});
}

TEST_F(luahelp, DamagedRecordsReadAsNilWithOneWarning)
{
  struct damage {
    std::string Bytes, Line;
  } Cases[] = {
      {hex("05000000 FEFFFFFF"), "negative pair count -2"},
      {hex("04000000 FFFFFFFF 61"), "negative string byte count -1"},
      {hex("05000000 40420F00 00000000 00000000"), "stream ends inside a record"},
      {hex("04000000 FFFFFF7F 616263"), "stream ends inside a record"},
      {hex("05000000 01000000 04000000 FBFFFFFF"), "negative string byte count -5"},
      {"", "stream ends inside a record"},
  };
  for (const damage& Case : Cases) {
    read(Case.Bytes);
    EXPECT_TRUE(lua_isnil(L, -1));
    EXPECT_TRUE(Stream.fail());
    lua_pop(L, 1);
  }
  lines Expected;
  for (const damage& Case : Cases) Expected.push_back("! fget lua object warning: " + Case.Line + ", pushing nil");
  EXPECT_EQ(Trace.lines(), Expected);
  EXPECT_EQ(lua_gettop(L), 0);

  push("{1, 'two', {3, true}, x = {y = {z = 'deep'}}}");
  std::string Whole = written(-1);
  for (size_t Size = 0; Size < Whole.size(); ++Size) {
    read(Whole.substr(0, Size));
    EXPECT_TRUE(lua_isnil(L, -1)) << Size;
    EXPECT_TRUE(Stream.fail()) << Size;
    EXPECT_EQ(Trace.lines().back(), "! fget lua object warning: stream ends inside a record, pushing nil");
    fget_lua_object(L, Stream);
    EXPECT_TRUE(lua_isnil(L, -1));
    lua_pop(L, 2);
  }
  EXPECT_EQ(Trace.lines().size(), Expected.size() + 2 * Whole.size());
  EXPECT_EQ(lua_gettop(L), 1);
}

TEST_F(luahelp, NestingIsBoundedForWriterAndReader)
{
  const int Bound = 200;
  // Bound + 1 tables, each the value of key 1 of the one around it.
  run("chain = {} local t = chain for i = 1, 200 do t[1] = {} t = t[1] end");
  push("chain");
  std::string Bytes = written(-1);
  EXPECT_EQ(Trace.lines(), lines{"! fput lua object warning: tables nested deeper than 200 levels, writing nil"});
  read(Bytes);
  EXPECT_FALSE(Stream.fail());
  lua_setglobal(L, "copy");
  run("local t = copy for i = 1, 199 do t = t[1] end assert(type(t) == 'table' and next(t) == nil)");

  std::string Table = hex("05000000 01000000 03000000 000000000000F03F");
  std::string Nested, Empty = hex("05000000 00000000");
  for (int i = 0; i < Bound; ++i) Nested += Table;
  read(Nested + Empty);
  EXPECT_TRUE(lua_isnil(L, -1));
  EXPECT_TRUE(Stream.fail());
  EXPECT_EQ(Trace.lines().back(), "! fget lua object warning: tables nested deeper than 200 levels, pushing nil");
  read(Nested.substr(Table.size()) + Empty);
  EXPECT_TRUE(lua_istable(L, -1));
  EXPECT_FALSE(Stream.fail());
  EXPECT_EQ(lua_gettop(L), 3);
  EXPECT_EQ(Trace.lines().size(), 2u);
}

TEST_F(luahelp, TableThatContainsItselfIsWrittenOnce)
{
  run("selfish = {} selfish.self = selfish "
      "a = {name = 'a'} b = {name = 'b', a = a} a.b = b "
      "keyed = {} keyed[keyed] = 1");
  push("selfish");
  EXPECT_EQ(written(-1), hex("05000000 01000000 04000000 04000000 73656C66 00000000"));
  push("a");
  read(written(-1));
  EXPECT_TRUE(top_is("{name = 'a', b = {name = 'b'}}"));
  push("keyed");
  read(written(-1));
  EXPECT_TRUE(top_is("{}"));
  lines Expected(3, "! fput lua object warning: table contains itself, writing nil");
  EXPECT_EQ(Trace.lines(), Expected);
  EXPECT_EQ(lua_gettop(L), 5);
}

// Lua's allocator with a budget of bytes still to give, to make a read run
// out of memory.
void* budget_alloc(void* Budget, void* Block, size_t Old, size_t New)
{
  size_t& Left = *static_cast<size_t*>(Budget);
  size_t Had = Block ? Old : 0;
  if (New == 0) {
    Left += Had;
    std::free(Block);
    return nullptr;
  }
  if (New > Had && New - Had > Left) return nullptr;
  void* Moved = std::realloc(Block, New);
  if (Moved) Left = Left + Had - New;
  return Moved;
}

TEST(luahelp_memory, ReadThatRunsOutOfMemoryPushesNil)
{
  trace_capture Trace;
  Trace.stdout_text();
  size_t Budget = 1 << 30;
  lua_State* L = lua_newstate(budget_alloc, &Budget);
  lua_createtable(L, 0, 0);
  for (int i = 1; i <= 4096; ++i) {
    lua_pushboolean(L, 1);
    lua_rawseti(L, -2, i);
  }
  std::ostringstream Out;
  fput_lua_object(L, -1, Out);
  lua_pop(L, 1);
  lua_gc(L, LUA_GCCOLLECT, 0);
  Budget = 16 * 1024;
  std::istringstream Stream(Out.str());
  fget_lua_object(L, Stream);
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_TRUE(lua_isnil(L, -1));
  EXPECT_TRUE(Stream.fail());
  EXPECT_EQ(Trace.lines(), (lines{"! fget lua object warning: error reading a record, pushing nil",
                                  "! --- not enough memory"}));
  lua_close(L);
}

}  // namespace
