/* A native Lua module: built against Lua's headers alone, it takes the Lua
   API from the program that loads it. */
#include <lauxlib.h>
#include <lua.h>

/* [-0, +1] twice an integer, through the API's integer checks */
static int native_twice(lua_State* L)
{
  lua_Integer N = luaL_checkinteger(L, 1);
  lua_pushinteger(L, 2 * N);
  return 1;
}

static const luaL_Reg NATIVE_FUNCTIONS[] = {{"twice", native_twice}, {NULL, NULL}};

int luaopen_veldtnative(lua_State* L)
{
  luaL_newlib(L, NATIVE_FUNCTIONS);
  return 1;
}
