// The Lua bridge: typed fields of the table on top of the stack, table paths
// from the globals, and Lua values to raw streams and back.
#pragma once

#include <istream>
#include <ostream>
#include <set>
#include <string>

#include "vecco.h"

struct lua_State;

// Getters read one field (or the derived fields Name_x.., Name_r..) of the
// table at -1 and leave the stack as it was; a missing or ill-typed field
// gives the default.
std::string luahelp_table_getstring(lua_State* L, const std::string& Name, const std::string& Default);
double luahelp_table_getnumber(lua_State* L, const std::string& Name, double Default);
bool luahelp_table_getboolean(lua_State* L, const std::string& Name, bool Default);
rloc luahelp_table_getrloc(lua_State* L, const std::string& Name, const rloc& Default);
rpos luahelp_table_getrpos(lua_State* L, const std::string& Name, const rpos& Default);
// A six-byte text in Name is a colour string; otherwise Name_r.._a.
fcolor luahelp_table_getfcolor(lua_State* L, const std::string& Name, const fcolor& Default);
std::set<std::string> luahelp_table_getstrings(lua_State* L, const std::string& Name);
// The string values of the table at -1 itself (empty when it is no table).
std::set<std::string> luahelp_getstrings(lua_State* L);

// Setters store into the table at -1 and leave the stack as it was.
void luahelp_table_setstring(lua_State* L, const std::string& Name, const std::string& Value);
void luahelp_table_setnumber(lua_State* L, const std::string& Name, double Value);
void luahelp_table_setboolean(lua_State* L, const std::string& Name, bool Value);
void luahelp_table_setrpos(lua_State* L, const std::string& Name, const rpos& Value);
void luahelp_table_setnewtable(lua_State* L, const std::string& Name);
void luahelp_table_clear(lua_State* L, const std::string& Name);

// [-(Args+1), +Results] calls the function below the Args values on top in
// protected mode. On an error, pops the error value and gives its text in
// Error: a string whole (line breaks and NULs kept), a number as Lua writes
// it, any other value by its type.
bool luahelp_pcall(lua_State* L, int Args, int Results, std::string& Error);

// Walks Path (null-terminated array of segments) from the globals table.
// [-0, +2] globals and the final table on success; fewer or more values on
// the failures the log lines describe.
void luahelp_get_path_table(lua_State* L, const char** Path);

// [-0, +0] writes the value at StackID as one record.
void fput_lua_object(lua_State* L, int StackID, std::ostream& Dest);
// [-0, +1] reads one record and pushes its value (nil when unreadable).
void fget_lua_object(lua_State* L, std::istream& Source);
