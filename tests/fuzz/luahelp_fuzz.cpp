// libFuzzer target: Lua value records read from arbitrary bytes. Each read
// must push exactly one value, and whatever was read must write out and read
// back whole, to a record of the same size.
#include <lua.hpp>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "die.h"
#include "luahelp.h"

namespace {

void require(bool Holds)
{
  if (!Holds) __builtin_trap();
}

std::string written(lua_State* L, int StackID)
{
  std::ostringstream Out;
  fput_lua_object(L, StackID, Out);
  return Out.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // Damaged input logs a warning per record; the lines would only slow the
  // run. A trace file that cannot be opened, and standard output without a
  // buffer, drop what they are given.
  die_init("");
  std::cout.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
  lua_State* L = luaL_newstate();
  std::istringstream In(std::string(reinterpret_cast<const char*>(Data), Size));
  while (In.peek() != EOF) {
    fget_lua_object(L, In);
    require(lua_gettop(L) == 1);
    std::string Record = written(L, 1);
    require(lua_gettop(L) == 1);
    std::istringstream Again(Record);
    fget_lua_object(L, Again);
    require(lua_gettop(L) == 2 && !Again.fail() && Again.peek() == EOF);
    require(written(L, 2).size() == Record.size());
    lua_settop(L, 0);
  }
  lua_close(L);
  return 0;
}
