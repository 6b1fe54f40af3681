#include "luahelp.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdio>
#include <new>
#include <sstream>
#include <vector>

#include "die.h"
#include "filehelp.h"
#include "image.h"
#include "itostr.h"

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
  if (!Text.empty()) die_warning({"luahelp table getfcolor warning: improperly formatted color string ``", Text, "''"});
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

// Taking the text allocates nothing inside Lua and calls no metamethod, so
// it is safe outside a protected call.
namespace {

// The text of the error value on top, as luahelp_pcall gives it.
void error_text(lua_State* L, int Status, std::string& Error)
{
  // Lua, built as C++, ends a call with a status of its own when host code
  // inside it throws; the value on top is then not an error value. Host
  // code throws only when an allocation fails.
  if (Status != LUA_ERRRUN && Status != LUA_ERRMEM && Status != LUA_ERRERR && Status != LUA_ERRGCMM) {
    Error = "not enough memory";
    return;
  }
  int Type = lua_type(L, -1);
  if (Type == LUA_TSTRING) {
    size_t Length = 0;
    const char* Text = lua_tolstring(L, -1, &Length);
    Error.assign(Text, Length);
  } else if (Type == LUA_TNUMBER) {
    char Buffer[LUAI_MAXNUMBER2STR];
    std::snprintf(Buffer, sizeof Buffer, LUA_NUMBER_FMT, lua_tonumberx(L, -1, nullptr));
    Error = Buffer;
  } else {
    Error = std::string("(error object is a ") + lua_typename(L, Type) + " value)";
  }
}

}  // namespace

bool luahelp_pcall(lua_State* L, int Args, int Results, std::string& Error)
{
  const int Status = lua_pcall(L, Args, Results, 0);
  if (Status == LUA_OK) return true;
  try {
    error_text(L, Status, Error);
  } catch (const std::bad_alloc&) {
    // The text could not be copied; this one is short enough to be kept
    // without allocating.
    Error = "(no memory)";
  }
  lua_pop(L, 1);
  return false;
}

namespace {

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
  die_warning({"luahelp get path table fatal: couldn't get subpath ``", Failing, "''"});
  die_warning("--- fullpath is: ");
  for (const char** Segment = Path; *Segment; ++Segment) die_warning({"--- ``", *Segment, "''"});
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
    die_fatal({"luahelp get path table fatal: global ", Path[0], " isn't a table"});
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
  if (luahelp_pcall(L, 1, LUA_MULTRET, Error)) return;
  die_warning({"luahelp get path table warning: error fetching ``", Walk.Segment, "''"});
  die_warning({"--- ", Error});
}

namespace {

// Tables nest at most this deep in a record: far beyond any saved game, and
// shallow enough for the recursion on the C stack and two Lua stack slots a
// level. Writer and reader share it, so whatever is written can be read.
const size_t MAX_NESTING = 200;

const std::string NESTING_TOO_DEEP = "tables nested deeper than " + itostr(MAX_NESTING) + " levels";
const std::string NO_STACK_ROOM = "no room on the Lua stack";

// Collects one record; it reaches the caller's stream only when whole.
struct value_writer {
  std::ostringstream Out;
  std::vector<const void*> Open;  // tables being written, outermost first
};

void write_value(lua_State* L, value_writer& W, int Index);

void write_nil_instead(value_writer& W, const std::string& Why)
{
  die_warning({"fput lua object warning: ", Why, ", writing nil"});
  fput_int(W.Out, LUA_TNIL);
}

// [-0, +0] the number of pairs of the table at the absolute Index.
int count_pairs(lua_State* L, int Index)
{
  int Count = 0;
  lua_pushnil(L);
  while (lua_next(L, Index)) {
    ++Count;
    lua_pop(L, 1);
  }
  return Count;
}

// [-0, +0] a table reached again inside itself is written as nil, so a
// cycle ends; one merely reached twice elsewhere is written twice.
void write_table(lua_State* L, value_writer& W, int Index)
{
  const void* Table = lua_topointer(L, Index);
  if (std::find(W.Open.begin(), W.Open.end(), Table) != W.Open.end())
    return write_nil_instead(W, "table contains itself");
  if (W.Open.size() >= MAX_NESTING) return write_nil_instead(W, NESTING_TOO_DEEP);
  if (!lua_checkstack(L, 2)) return write_nil_instead(W, NO_STACK_ROOM);
  fput_int(W.Out, LUA_TTABLE);
  fput_int(W.Out, count_pairs(L, Index));
  W.Open.push_back(Table);
  lua_pushnil(L);
  while (lua_next(L, Index)) {
    int Value = lua_gettop(L);
    write_value(L, W, Value - 1);
    write_value(L, W, Value);
    lua_pop(L, 1);
  }
  W.Open.pop_back();
}

// [-0, +0] writes the value at the absolute Index as one record.
void write_value(lua_State* L, value_writer& W, int Index)
{
  int Type = lua_type(L, Index);
  if (Type == LUA_TTABLE) return write_table(L, W, Index);
  fput_int(W.Out, Type);
  switch (Type) {
    case LUA_TNIL: break;
    case LUA_TBOOLEAN: fput_int(W.Out, lua_toboolean(L, Index) ? 1 : 0); break;
    case LUA_TNUMBER: fput_double(W.Out, lua_tonumberx(L, Index, nullptr)); break;
    case LUA_TSTRING: fput_string(W.Out, text_at(L, Index)); break;
    default: die_warning({"fput lua object warning: unsupported object type ", itostr(Type)});
  }
}

// [-2, +0] protected body of the writer: the light userdata value_writer at
// 1, the value at 2.
int write_protected(lua_State* L)
{
  write_value(L, *static_cast<value_writer*>(lua_touserdata(L, 1)), 2);
  return 0;
}

// The type at StackID, and LUA_TNONE for stack positions beyond either end
// of the stack, which Lua itself may not be asked about.
int position_type(lua_State* L, int StackID)
{
  if (StackID <= LUA_REGISTRYINDEX) return lua_type(L, StackID);
  int Top = lua_gettop(L);
  bool OnStack = StackID > 0 ? StackID <= Top : StackID < 0 && -StackID <= Top;
  return OnStack ? lua_type(L, StackID) : LUA_TNONE;
}

}  // namespace

// A value that cannot be written whole (no Lua stack room, a Lua error) is
// written as the nil record with a warning, so each call adds exactly one
// whole record to Dest.
void fput_lua_object(lua_State* L, int StackID, std::ostream& Dest)
{
  if (position_type(L, StackID) == LUA_TNONE) {
    fput_int(Dest, LUA_TNONE);
    die_warning({"fput lua object warning: unsupported object type ", itostr(LUA_TNONE)});
    return;
  }
  value_writer W;
  if (!lua_checkstack(L, 3)) {
    write_nil_instead(W, NO_STACK_ROOM);
  } else {
    int Index = lua_absindex(L, StackID);
    lua_pushcfunction(L, write_protected);
    lua_pushlightuserdata(L, &W);
    lua_pushvalue(L, Index);
    std::string Error;
    if (!luahelp_pcall(L, 2, 0, Error)) {
      W.Out.str(std::string());
      write_nil_instead(W, "error writing a value");
      die_warning({"--- ", Error});
    }
  }
  const std::string Record = W.Out.str();
  Dest.write(Record.data(), static_cast<std::streamsize>(Record.size()));
}

namespace {

const std::string STREAM_ENDED = "stream ends inside a record";

// Reads one record; Damage names the first fault, after which nothing more
// is read and every value still owed is nil.
struct value_reader {
  std::istream& In;
  size_t Depth;  // tables open around the record being read
  std::string Damage;
};

void read_value(lua_State* L, value_reader& R);

// [-0, +1] pushes nil for a value that cannot be read and stops the read,
// leaving the stream failed.
void damaged(lua_State* L, value_reader& R, const std::string& Why)
{
  if (R.Damage.empty()) R.Damage = Why;
  R.In.setstate(std::ios::failbit);
  lua_pushnil(L);
}

// [-0, +0|+1] true when the last primitive read arrived whole; otherwise
// pushes nil as damaged() does.
bool arrived(lua_State* L, value_reader& R)
{
  if (!R.In.fail()) return true;
  damaged(L, R, STREAM_ENDED);
  return false;
}

// [-0, +1]
void read_string(lua_State* L, value_reader& R)
{
  int Count = fget_int(R.In);
  if (!arrived(L, R)) return;
  if (Count < 0) return damaged(L, R, "negative string byte count " + itostr(Count));
  const std::string Text = fget_string_bytes(R.In, Count);
  if (R.In.fail()) return damaged(L, R, STREAM_ENDED);
  lua_pushlstring(L, Text.data(), Text.size());
}

// A key Lua refuses to store under: nil (also what unsupported values read
// back as) or NaN.
bool refused_key(lua_State* L, int Index)
{
  if (lua_isnil(L, Index)) return true;
  if (lua_type(L, Index) != LUA_TNUMBER) return false;
  lua_Number Key = lua_tonumberx(L, Index, nullptr);
  return Key != Key;
}

// [-0, +1] the pair count only bounds the loop: every pair takes at least
// eight bytes of the stream, and nothing is allocated ahead of them.
void read_table(lua_State* L, value_reader& R)
{
  if (R.Depth >= MAX_NESTING) return damaged(L, R, NESTING_TOO_DEEP);
  int Count = fget_int(R.In);
  if (!arrived(L, R)) return;
  if (Count < 0) return damaged(L, R, "negative pair count " + itostr(Count));
  if (!lua_checkstack(L, 2)) return damaged(L, R, NO_STACK_ROOM);
  lua_createtable(L, 0, 0);
  ++R.Depth;
  for (int i = 0; i < Count && R.Damage.empty(); ++i) {
    read_value(L, R);
    read_value(L, R);
    if (R.Damage.empty() && !refused_key(L, -2))
      lua_settable(L, -3);
    else
      lua_pop(L, 2);
  }
  --R.Depth;
}

// [-0, +1] the caller leaves room for the one value.
void read_value(lua_State* L, value_reader& R)
{
  if (!R.Damage.empty()) return lua_pushnil(L);
  int Tag = fget_int(R.In);
  if (!arrived(L, R)) return;
  switch (Tag) {
    case LUA_TNIL: lua_pushnil(L); break;
    case LUA_TBOOLEAN: {
      int Truth = fget_int(R.In);
      if (arrived(L, R)) lua_pushboolean(L, Truth != 0);
      break;
    }
    case LUA_TNUMBER: {
      double Number = fget_double(R.In);
      if (arrived(L, R)) lua_pushnumber(L, Number);
      break;
    }
    case LUA_TSTRING: read_string(L, R); break;
    case LUA_TTABLE: read_table(L, R); break;
    default:
      die_warning({"fget lua object warning: unsupported object type ", itostr(Tag)});
      lua_pushnil(L);
  }
}

// [-1, +1] protected body of the reader: the light userdata value_reader at
// 1. A damaged record gives nil as a whole, not the part read before the
// damage.
int read_protected(lua_State* L)
{
  value_reader& R = *static_cast<value_reader*>(lua_touserdata(L, 1));
  read_value(L, R);
  if (!R.Damage.empty()) lua_pushnil(L);
  return 1;
}

}  // namespace

// A damaged record (the stream ends inside it, a negative count, nesting
// too deep, a Lua error) pushes nil, leaves the stream failed and logs one
// warning. Only when the Lua stack cannot grow at all is nothing pushed.
void fget_lua_object(lua_State* L, std::istream& Source)
{
  if (!lua_checkstack(L, 2)) {
    Source.setstate(std::ios::failbit);
    die_warning({"fget lua object warning: ", NO_STACK_ROOM, ", pushing nothing"});
    return;
  }
  value_reader R = {Source, 0, std::string()};
  lua_pushcfunction(L, read_protected);
  lua_pushlightuserdata(L, &R);
  std::string Error;
  if (!luahelp_pcall(L, 1, 1, Error)) {
    Source.setstate(std::ios::failbit);
    die_warning("fget lua object warning: error reading a record, pushing nil");
    die_warning({"--- ", Error});
    lua_pushnil(L);
    return;
  }
  if (!R.Damage.empty()) die_warning({"fget lua object warning: ", R.Damage, ", pushing nil"});
}
