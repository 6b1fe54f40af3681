#include "luahelp.h"

#include <lua.hpp>


#include "die.h"
#include "image.h"

namespace {

// The text of the value at Index (a string, or a number's text form) up to
// its first NUL.
std::string text_at(lua_State* L, int Index)
{
  const char* Text = lua_tolstring(L, Index, nullptr);
  return Text ? std::string(Text) : std::string();
}

// [-0, +1] pushes field Name of the table at -1.
void push_field(lua_State* L, const std::string& Name)
{
  lua_pushstring(L, Name.c_str());
  lua_gettable(L, -2);
}

// [-1, +0] stores the value on top as field Name of the table just below it.
void store_field(lua_State* L, const std::string& Name)
{
  lua_pushstring(L, Name.c_str());
  lua_insert(L, -2);
  lua_settable(L, -3);
}

const char* const VECTOR_SUFFIXES[] = {"_x", "_y", "_z"};
const char* const COLOR_SUFFIXES[] = {"_r", "_g", "_b", "_a"};

// Collects the string values of the table at -1 into Strings.
void collect_strings(lua_State* L, std::set<std::string>& Strings)
{
  if (!lua_istable(L, -1)) return;
  lua_pushnil(L);
  while (lua_next(L, -2)) {
    // lua_isstring is true for numbers too; converting the value in place
    // is safe because the traversal key below it is left alone.
    if (lua_isstring(L, -1))
      Strings.insert(text_at(L, -1));
    else
      die_warning("luahelp getstrings warning: encountered non-string element, skipping");
    lua_pop(L, 1);
  }
}

}  // namespace

std::string luahelp_table_getstring(lua_State* L, const std::string& Name, const std::string& Default)
{
  push_field(L, Name);
  std::string Result = lua_isstring(L, -1) ? text_at(L, -1) : Default;
  lua_pop(L, 1);
  return Result;
}

double luahelp_table_getnumber(lua_State* L, const std::string& Name, double Default)
{
  push_field(L, Name);
  double Result = lua_isnumber(L, -1) ? lua_tonumberx(L, -1, nullptr) : Default;
  lua_pop(L, 1);
  return Result;
}

bool luahelp_table_getboolean(lua_State* L, const std::string& Name, bool Default)
{
  push_field(L, Name);
  bool Result = lua_isboolean(L, -1) ? lua_toboolean(L, -1) != 0 : Default;
  lua_pop(L, 1);
  return Result;
}

rloc luahelp_table_getrloc(lua_State* L, const std::string& Name, const rloc& Default)
{
  rloc Result;
  for (int i = 0; i < 2; ++i) Result[i] = luahelp_table_getnumber(L, Name + VECTOR_SUFFIXES[i], Default[i]);
  return Result;
}

rpos luahelp_table_getrpos(lua_State* L, const std::string& Name, const rpos& Default)
{
  rpos Result;
  for (int i = 0; i < 3; ++i) Result[i] = luahelp_table_getnumber(L, Name + VECTOR_SUFFIXES[i], Default[i]);
  return Result;
}

fcolor luahelp_table_getfcolor(lua_State* L, const std::string& Name, const fcolor& Default)
{
  std::string Text = luahelp_table_getstring(L, Name, "");
  if (Text.size() == 6) return str2color(Text);
  if (!Text.empty()) die_warning("luahelp table getfcolor warning: improperly formatted color string ``" + Text + "''");
  fcolor Result;
  for (int i = 0; i < 4; ++i)
    Result[i] = static_cast<float>(luahelp_table_getnumber(L, Name + COLOR_SUFFIXES[i], Default[i]));
  return Result;
}

std::set<std::string> luahelp_table_getstrings(lua_State* L, const std::string& Name)
{
  std::set<std::string> Strings;
  push_field(L, Name);
  collect_strings(L, Strings);
  lua_pop(L, 1);
  return Strings;
}

std::set<std::string> luahelp_getstrings(lua_State* L)
{
  std::set<std::string> Strings;
  collect_strings(L, Strings);
  return Strings;
}

void luahelp_table_setstring(lua_State* L, const std::string& Name, const std::string& Value)
{
  lua_pushstring(L, Value.c_str());
  store_field(L, Name);
}

void luahelp_table_setnumber(lua_State* L, const std::string& Name, double Value)
{
  lua_pushnumber(L, Value);
  store_field(L, Name);
}

void luahelp_table_setboolean(lua_State* L, const std::string& Name, bool Value)
{
  lua_pushboolean(L, Value);
  store_field(L, Name);
}

void luahelp_table_setrpos(lua_State* L, const std::string& Name, const rpos& Value)
{
  for (int i = 0; i < 3; ++i) luahelp_table_setnumber(L, Name + VECTOR_SUFFIXES[i], Value[i]);
}

void luahelp_table_setnewtable(lua_State* L, const std::string& Name)
{
  lua_createtable(L, 0, 0);
  store_field(L, Name);
}

void luahelp_table_clear(lua_State* L, const std::string& Name)
{
  lua_pushnil(L);
  store_field(L, Name);
}

namespace {

// The text of a failed protected call's error object.
std::string error_text(lua_State* L)
{
  const char* Text = lua_tostring(L, -1);
  if (Text) return Text;
  return std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
}

// [-(Args+1), +Results] calls the function below the Args values on top
// protected; on an error pops the error object and hands back its text.
bool call_protected(lua_State* L, int Args, int Results, std::string& Error)
{
  if (lua_pcall(L, Args, Results, 0) == LUA_OK) return true;
  Error = error_text(L);
  lua_pop(L, 1);
  return false;
}

// Where a protected walk is: its path and the segment being fetched, so a
// failing metamethod can be reported by segment.
struct path_walk {
  const char** Path;
  const char* Segment;
};

// [-0, +1] pushes field Segment of the table on top; metamethods take part.
void fetch_segment(lua_State* L, path_walk& Walk, const char* Segment)
{
  Walk.Segment = Segment;
  lua_pushstring(L, Segment);
  lua_gettable(L, -2);
}

void log_broken_path(const char** Path, const char* Failing)
{
  die_warning(std::string("luahelp get path table fatal: couldn't get subpath ``") + Failing + "''");
  die_warning("--- fullpath is: ");
  for (const char** Segment = Path; *Segment; ++Segment) die_warning(std::string("--- ``") + *Segment + "''");
}

// [-1, +1..3] protected body of the walk; the light userdata path_walk at 1.
// Returns the globals table and whatever the walk's outcome leaves above it.
int walk_path(lua_State* L)
{
  path_walk& Walk = *static_cast<path_walk*>(lua_touserdata(L, 1));
  const char** Path = Walk.Path;
  lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  fetch_segment(L, Walk, Path[0]);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    die_fatal(std::string("luahelp get path table fatal: global ") + Path[0] + " isn't a table");
    return 1;
  }
  for (const char** Segment = Path + 1; *Segment; ++Segment) {
    fetch_segment(L, Walk, *Segment);
    if (!lua_istable(L, -1)) {
      log_broken_path(Path, *Segment);
      return 3;
    }
    lua_replace(L, -2);
  }
  return 2;
}

}  // namespace

// A metamethod that raises leaves the stack as it was, with a warning and
// the error text as its detail line.
void luahelp_get_path_table(lua_State* L, const char** Path)
{
  if (!Path || !Path[0]) {
    die_fatal("luahelp get path table fatal: didn't pass any path segments in, not pushing anything");
    return;
  }
  if (!lua_checkstack(L, 3)) {
    die_warning("luahelp get path table warning: no room on the Lua stack, not pushing anything");
    return;
  }
  path_walk Walk = {Path, Path[0]};
  lua_pushcfunction(L, walk_path);
  lua_pushlightuserdata(L, &Walk);
  std::string Error;
  if (call_protected(L, 1, LUA_MULTRET, Error)) return;
  die_warning(std::string("luahelp get path table warning: error fetching ``") + Walk.Segment + "''");
  die_warning("--- " + Error);
}

// TODO(helper): the value stream.
void fput_lua_object(lua_State*, int, std::ostream&) {}
void fget_lua_object(lua_State* L, std::istream&) { lua_pushnil(L); }
