#include "game.h"

#include <cmath>
#include <cstdint>

namespace {

// A script number as a 32-bit int: truncated toward zero; NaN and values
// outside the int range give INT32_MIN.
[[maybe_unused]] int script_number_to_int(double D)
{
  if (!(D > -2147483649.0 && D < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(D);
}

}  // namespace

// TODO(gamehost): the game object, update, keypress, inclusion, host functions.
game::game() : L(nullptr), render_depth(0), render_depth_reported(false) {}
game::~game() {}
void game::init() {}
void game::update(double) {}
void game::keypress(int) {}
void game::include(const std::string&) {}
void game::lib(const std::string&) {}

// TODO(render): the render-list walk.
// The render-list walk: every frame the scripts' render_list is read and
// drawn in OpenGL immediate mode. Its own dependencies come here, with it.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <lua.hpp>
#include <string>

#include "die.h"
#include "vecco.h"

namespace {

// Nesting of lists and sub-commands the walk follows: far beyond what a game
// draws, and a small part of the native stack.
const int MaxRenderDepth = 200;
// Values interpreted in one frame: a list that shares its tables can name
// exponentially many commands, and the frame must still end.
const int MaxRenderCommands = 1 << 20;
// Lua stack slots one level of the walk holds: the traversal's key and value.
const int RenderSlotsPerLevel = 2;
// Dashes of one dashline: a period too small to shorten a long line would
// otherwise never end the loop, and no screen shows more.
const int MaxDashes = 100000;
// Segments of one circarc: at 25 units each the cap is an arc far larger
// than the world; a larger arc is drawn whole with that many segments.
const int MaxArcSegments = 100000;
// Room for a number's text as Lua writes it (LUA_NUMBER_FMT).
const size_t NumberTextSize = 32;

const double Pi = 3.141592653589793;
const double TwoPi = 6.283185307179586;

enum command_id {
  cmd_unknown,
  cmd_none,
  cmd_rgba,
  cmd_line,
  cmd_rect,
  cmd_quad,
  cmd_tri,
  cmd_dashline,
  cmd_circarc,
  cmd_camera,
  cmd_rotate,
  cmd_scale,
  cmd_translate,
  cmd_zoffs,
  cmd_picture,
  cmd_terrain,
  cmd_text,
  cmd_righttext,
  cmd_centertext
};

struct command_name {
  const char* text;
  size_t length;
  command_id id;
};

#define COMMAND(NAME) {#NAME, sizeof(#NAME) - 1, cmd_##NAME}
// The most frequent commands first: the lookup is a linear search.
const command_name CommandNames[] = {
    COMMAND(rect),      COMMAND(rgba),    COMMAND(line),      COMMAND(translate), COMMAND(tri),
    COMMAND(quad),      COMMAND(rotate),  COMMAND(scale),     COMMAND(picture),   COMMAND(text),
    COMMAND(centertext), COMMAND(righttext), COMMAND(dashline), COMMAND(circarc),  COMMAND(zoffs),
    COMMAND(camera),    COMMAND(terrain), COMMAND(none),
};
#undef COMMAND

command_id find_command(const char* Text, size_t Length)
{
  for (const command_name& Name : CommandNames)
    if (Name.length == Length && std::memcmp(Name.text, Text, Length) == 0) return Name.id;
  return cmd_unknown;
}

// The keyword text of the string or number on top of the stack, cut at its
// first zero byte. A number is written into Buffer as Lua would write it, so
// no Lua string is made and the list keeps its number.
const char* keyword_text(lua_State* L, char (&Buffer)[NumberTextSize], size_t& Length)
{
  if (lua_type(L, -1) == LUA_TNUMBER) {
    std::snprintf(Buffer, sizeof Buffer, LUA_NUMBER_FMT, lua_tonumberx(L, -1, nullptr));
    Length = std::strlen(Buffer);
    return Buffer;
  }
  const char* Text = lua_tolstring(L, -1, &Length);
  if (const void* Zero = std::memchr(Text, 0, Length)) Length = static_cast<const char*>(Zero) - Text;
  return Text;
}

// [-0, +0] with the traversal of the table at Table under way, reads the
// next elements as numbers into Args; false when the table runs out first
// (the traversal has then ended).
bool read_numbers(lua_State* L, int Table, std::initializer_list<double*> Args)
{
  for (double* Arg : Args) {
    if (!lua_next(L, Table)) return false;
    *Arg = lua_tonumberx(L, -1, nullptr);
    lua_pop(L, 1);
  }
  return true;
}

// [-1, +0] ends the traversal of the table at Table, skipping what is left.
void drain(lua_State* L, int Table)
{
  while (lua_next(L, Table)) lua_pop(L, 1);
}

void vertex(double X, double Y) { glVertex3f(static_cast<float>(X), static_cast<float>(Y), 0.0f); }

// The command handlers below all take the table at Table with its traversal
// standing just after the keyword, read their arguments before drawing, and
// end the traversal: [-1, +0].

void render_rgba(lua_State* L, int Table)
{
  double R = 0, G = 0, B = 0, A = 0;
  if (!read_numbers(L, Table, {&R, &G, &B, &A})) return;
  glColor4d(R, G, B, A);
  drain(L, Table);
}

void render_line(lua_State* L, int Table)
{
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0, W = 0;
  if (!read_numbers(L, Table, {&X0, &Y0, &X1, &Y1, &W})) return;
  glLineWidth(static_cast<float>(W));
  glBegin(GL_LINES);
  vertex(X0, Y0);
  vertex(X1, Y1);
  glEnd();
  drain(L, Table);
}

// W and H are half extents.
void render_rect(lua_State* L, int Table)
{
  double X = 0, Y = 0, W = 0, H = 0;
  if (!read_numbers(L, Table, {&X, &Y, &W, &H})) return;
  glBegin(GL_QUADS);
  vertex(X - W, Y - H);
  vertex(X + W, Y - H);
  vertex(X + W, Y + H);
  vertex(X - W, Y + H);
  glEnd();
  drain(L, Table);
}

void render_quad(lua_State* L, int Table)
{
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0, X3 = 0, Y3 = 0, X4 = 0, Y4 = 0;
  if (!read_numbers(L, Table, {&X1, &Y1, &X2, &Y2, &X3, &Y3, &X4, &Y4})) return;
  glBegin(GL_QUADS);
  vertex(X1, Y1);
  vertex(X2, Y2);
  vertex(X3, Y3);
  vertex(X4, Y4);
  glEnd();
  drain(L, Table);
}

void render_tri(lua_State* L, int Table)
{
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0, X3 = 0, Y3 = 0;
  if (!read_numbers(L, Table, {&X1, &Y1, &X2, &Y2, &X3, &Y3})) return;
  glBegin(GL_TRIANGLES);
  vertex(X1, Y1);
  vertex(X2, Y2);
  vertex(X3, Y3);
  glEnd();
  drain(L, Table);
}

// Dashes OnL long every OnL + OffL from CurPos along the unit PosDelta while
// LineLen lasts; the last dash is not cut at the line's end. A period that
// is not positive or not finite, or a length that is not finite, gives none.
void emit_dashes(rpos CurPos, const rpos& PosDelta, double LineLen, double OnL, double OffL)
{
  const double Period = OnL + OffL;
  if (!(Period > 0) || !std::isfinite(Period) || !std::isfinite(LineLen)) return;
  for (int Dash = 0; LineLen > 0 && Dash < MaxDashes; ++Dash) {
    glVertex3dv(CurPos);
    glVertex3dv(CurPos + PosDelta * OnL);
    LineLen -= Period;
    CurPos += PosDelta * Period;
  }
}

void render_dashline(lua_State* L, int Table)
{
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0, W = 0, OnL = 0, OffL = 0;
  if (!read_numbers(L, Table, {&X0, &Y0, &X1, &Y1, &W, &OnL, &OffL})) return;
  rpos PosDelta = mkrpos(X1 - X0, Y1 - Y0, 0);
  const double LineLen = length(PosDelta);
  safe_normalize(PosDelta);
  glLineWidth(static_cast<float>(W));
  glBegin(GL_LINES);
  emit_dashes(mkrpos(X0, Y0, 0), PosDelta, LineLen, OnL, OffL);
  glEnd();
  drain(L, Table);
}

// About one segment per 25 units of arc length, truncated. Negative, not a
// number or beyond the int range gives a negative count (no vertex at all);
// a count above the cap is cut to it.
int arc_segments(double R, double ThetaRange)
{
  const int NumSegs = script_number_to_int(((R * Pi + R * Pi) * (ThetaRange / Pi)) / 50);
  return NumSegs < MaxArcSegments ? NumSegs : MaxArcSegments;
}

void render_circarc(lua_State* L, int Table)
{
  double X = 0, Y = 0, R = 0, StartTheta = 0, EndTheta = 0, W = 0;
  if (!read_numbers(L, Table, {&X, &Y, &R, &StartTheta, &EndTheta, &W})) return;
  const double ThetaRange = EndTheta - StartTheta;
  const int NumSegs = arc_segments(R, ThetaRange);
  const double SegTheta = NumSegs > 0 ? ThetaRange / NumSegs : 0;
  glLineWidth(static_cast<float>(W));
  glBegin(GL_LINE_STRIP);
  double Theta = StartTheta;
  for (int a = 0; a <= NumSegs; ++a) {
    vertex(std::cos(Theta) * R + X, std::sin(Theta) * R + Y);
    Theta += SegTheta;
  }
  glEnd();
  drain(L, Table);
}

// Puts (CameraX, CameraY) at the centre of the view with y downwards.
void render_camera(lua_State* L, int Table)
{
  double CameraX = 0, CameraY = 0;
  if (!read_numbers(L, Table, {&CameraX, &CameraY})) return;
  drain(L, Table);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(CameraX, CameraY, 0, CameraX, CameraY, 1, 0, -1, 0);
}

void render_zoffs(lua_State* L, int Table)
{
  double Z = 0;
  if (!read_numbers(L, Table, {&Z})) return;
  glTranslated(0, 0, Z);
  drain(L, Table);
}

// Keeps the modelview matrix of one transform and gives it back when the
// transform ends, on every path out of it. GL's own stack is only some 32
// levels deep and a push beyond it fails without a word, so past that the
// matrix is kept here instead.
class saved_matrix {
 public:
  explicit saved_matrix(int& Room) : Room(Room), OnGlStack(Room > 0)
  {
    if (OnGlStack) {
      --Room;
      glPushMatrix();
    } else {
      glGetDoublev(GL_MODELVIEW_MATRIX, Saved);
    }
  }
  ~saved_matrix()
  {
    if (OnGlStack) {
      glPopMatrix();
      ++Room;
    } else {
      glLoadMatrixd(Saved);
    }
  }
  saved_matrix(const saved_matrix&) = delete;
  saved_matrix& operator=(const saved_matrix&) = delete;

 private:
  int& Room;
  const bool OnGlStack;
  GLdouble Saved[16];
};

// The sub-command after a transform's numbers, under the transformed matrix;
// a transform without one draws nothing.
void render_sub_command(game& G, int Table)
{
  if (!lua_next(G.L, Table)) return;
  G.render_command();
  lua_pop(G.L, 1);
  drain(G.L, Table);
}

// Theta is in radians, turning x towards y.
void render_rotate(game& G, int Table, int& MatrixRoom)
{
  double Theta = 0;
  if (!read_numbers(G.L, Table, {&Theta})) return;
  saved_matrix Matrix(MatrixRoom);
  glRotated((Theta * 360) / TwoPi, 0, 0, 1);
  render_sub_command(G, Table);
}

void render_scale(game& G, int Table, int& MatrixRoom)
{
  double X = 0, Y = 0;
  if (!read_numbers(G.L, Table, {&X, &Y})) return;
  saved_matrix Matrix(MatrixRoom);
  glScaled(X, Y, 1);
  render_sub_command(G, Table);
}

void render_translate(game& G, int Table, int& MatrixRoom)
{
  double X = 0, Y = 0;
  if (!read_numbers(G.L, Table, {&X, &Y})) return;
  saved_matrix Matrix(MatrixRoom);
  glTranslated(X, Y, 0);
  render_sub_command(G, Table);
}

// The asset commands: for now they skip their elements.
void render_picture(game& G, int Table) { drain(G.L, Table); }
void render_terrain(game& G, int Table) { drain(G.L, Table); }
void render_text(game& G, int Table) { drain(G.L, Table); }
void render_righttext(game& G, int Table) { drain(G.L, Table); }
void render_centertext(game& G, int Table) { drain(G.L, Table); }

void run_command(game& G, command_id Id, int Table, int& MatrixRoom)
{
  lua_State* const L = G.L;
  switch (Id) {
    case cmd_rgba: return render_rgba(L, Table);
    case cmd_line: return render_line(L, Table);
    case cmd_rect: return render_rect(L, Table);
    case cmd_quad: return render_quad(L, Table);
    case cmd_tri: return render_tri(L, Table);
    case cmd_dashline: return render_dashline(L, Table);
    case cmd_circarc: return render_circarc(L, Table);
    case cmd_camera: return render_camera(L, Table);
    case cmd_rotate: return render_rotate(G, Table, MatrixRoom);
    case cmd_scale: return render_scale(G, Table, MatrixRoom);
    case cmd_translate: return render_translate(G, Table, MatrixRoom);
    case cmd_zoffs: return render_zoffs(L, Table);
    case cmd_picture: return render_picture(G, Table);
    case cmd_terrain: return render_terrain(G, Table);
    case cmd_text: return render_text(G, Table);
    case cmd_righttext: return render_righttext(G, Table);
    case cmd_centertext: return render_centertext(G, Table);
    case cmd_none:
    case cmd_unknown: return drain(L, Table);
  }
}

// [-2, +0] the keyword on top (over the traversal's key) picks the command.
void dispatch_keyword(game& G, int Table, int& MatrixRoom)
{
  char Buffer[NumberTextSize];
  size_t Length = 0;
  const char* Keyword = keyword_text(G.L, Buffer, Length);
  const command_id Id = find_command(Keyword, Length);
  if (Id == cmd_unknown)
    die_warning("game render command warning: unrecognized command ``" + std::string(Keyword, Length) +
                "''; skipping");
  lua_pop(G.L, 1);
  run_command(G, Id, Table, MatrixRoom);
}

// [-1, +0] every element of the list at Table, the first on top over its key.
void walk_list(game& G, int Table)
{
  do {
    G.render_command();
    lua_pop(G.L, 1);
  } while (lua_next(G.L, Table));
}

// [-0, +0] the value on top as a command or a list.
void interpret(game& G, int& MatrixRoom)
{
  lua_State* const L = G.L;
  if (!lua_istable(L, -1)) {
    die_fatal("game render command fatal: command is not itself a table!");
    return;
  }
  const int Table = lua_gettop(L);
  lua_pushnil(L);
  if (!lua_next(L, Table)) {
    die_fatal("game render command fatal: empty table specified!");
    return;
  }
  if (lua_istable(L, -1)) return walk_list(G, Table);
  if (lua_isstring(L, -1)) return dispatch_keyword(G, Table, MatrixRoom);
  lua_pop(L, 2);  // a first element that is neither text nor a table
}

// Levels of GL's modelview stack left free for the walk's transforms.
int modelview_room()
{
  GLint Max = 0;
  GLint Used = 0;
  glGetIntegerv(GL_MAX_MODELVIEW_STACK_DEPTH, &Max);
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &Used);
  return Max - Used;
}

// One more value interpreted this frame; false, with one warning, once the
// frame's allowance is spent.
bool within_allowance(int& CommandsLeft)
{
  if (CommandsLeft > 0) {
    --CommandsLeft;
    return true;
  }
  if (CommandsLeft == 0) {
    die_warning("game render command warning: more than " + std::to_string(MaxRenderCommands) +
                " commands in one frame; skipping the rest");
    --CommandsLeft;
  }
  return false;
}

// True when the table on top is already being walked further out. Each
// level of the walk holds its table, the traversal's key and the element, so
// the enclosing tables lie at every second slot below the top.
bool inside_itself(lua_State* L, int Depth)
{
  if (!lua_istable(L, -1)) return false;
  const int Top = lua_gettop(L);
  for (int Level = 1; Level <= Depth; ++Level)
    if (lua_rawequal(L, Top - 2 * Level, Top)) return true;
  return false;
}

// Whether the walk may go one level deeper from Depth, reserving the Lua
// stack slots it needs; the first refusal of a frame is logged.
bool room_for_level(lua_State* L, int Depth, bool& Reported)
{
  if (Depth < MaxRenderDepth && !inside_itself(L, Depth) && lua_checkstack(L, RenderSlotsPerLevel))
    return true;
  if (!Reported)
    die_warning("game render command warning: render list nested deeper than " + std::to_string(MaxRenderDepth) +
                " levels or inside itself; skipping the deeper part");
  Reported = true;
  return false;
}

// Counts one level of the walk for as long as it lasts, also when a Lua
// error unwinds it.
class depth_scope {
 public:
  explicit depth_scope(int& Depth) : Depth(Depth) { ++Depth; }
  ~depth_scope() { --Depth; }
  depth_scope(const depth_scope&) = delete;
  depth_scope& operator=(const depth_scope&) = delete;

 private:
  int& Depth;
};

// [-0, +0] run by game::render inside a protected call, with the game as
// light userdata: fetches render_list through the globals' metatable, if
// any, and walks it. A C function starts with LUA_MINSTACK free slots, room
// for its two pushes.
int render_frame(lua_State* L)
{
  game* const G = static_cast<game*>(lua_touserdata(L, 1));
  lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  lua_pushstring(L, "render_list");
  lua_gettable(L, -2);
  if (lua_isnil(L, -1))
    die_fatal("game render fatal: couldn't find the global render table");
  else
    G->render_command();
  lua_pop(L, 2);
  return 0;
}

void report_render_error(const char* Detail)
{
  die_warning("game render warning: error reading the global render table");
  die_warning(std::string("--- ") + Detail);
}

}  // namespace

void game::render()
{
  const int Top = lua_gettop(L);
  if (!lua_checkstack(L, 2)) return report_render_error("no room on the Lua stack");
  lua_pushcfunction(L, render_frame);
  lua_pushlightuserdata(L, this);
  if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
    const char* Error = lua_tostring(L, -1);
    if (Error)
      report_render_error(Error);
    else
      report_render_error(("(error object is a " + std::string(luaL_typename(L, -1)) + " value)").c_str());
  }
  lua_settop(L, Top);
}

// A walk starts at depth 0, once per frame: the frame's allowances are set
// there.
void game::render_command()
{
  if (render_depth == 0) {
    render_depth_reported = false;
    render_commands_left = MaxRenderCommands;
    render_matrix_room = modelview_room();
  }
  if (!within_allowance(render_commands_left)) return;
  if (!room_for_level(L, render_depth, render_depth_reported)) return;
  depth_scope Level(render_depth);
  interpret(*this, render_matrix_room);
}
