#include "game.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>
#include <lua.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "die.h"
#include "filehelp.h"
#include "image.h"
#include "itostr.h"
#include "luahelp.h"
#include "main.h"
#include "rngen.h"
#include "sdlkeynames.h"
#include "texture.h"
#include "vecco.h"

namespace {

// Constructed in this order; palette is freed before cur_font is released.
ref<font> cur_font;           // second share of the game font, for text_len
std::vector<fcolor> palette;  // colours by entry number; only grows
rngen RN;                     // the scripts' random generator

// Entry numbers up to this are stored; a script asking for more is refused
// rather than letting one call take gigabytes.
const int MAX_PALETTE_ENTRIES = 65536;

// Past this many entries the image readers' table would need gigabytes and
// minutes of rehashing; a 2048 x 2048 region's colours still fit.
const int MAX_IMAGE_TABLE_ENTRIES = 1 << 24;

// A script number as a 32-bit int: truncated toward zero; NaN and values
// outside the int range give INT32_MIN.
int script_number_to_int(double D)
{
  if (!(D > -2147483649.0 && D < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(D);
}

// A script number as the nearest float. The plain conversion is undefined
// beyond the float range; round-to-nearest gives FLT_MAX up to half an ulp
// above it and the signed infinity from there on.
float script_number_to_float(double D)
{
  const double RoundsToInfinity = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
  if (std::fabs(D) >= RoundsToInfinity) return static_cast<float>(std::copysign(HUGE_VAL, D));
  if (std::fabs(D) > FLT_MAX) return static_cast<float>(std::copysign(double(FLT_MAX), D));
  return static_cast<float>(D);
}

int int_arg(lua_State* L, int Index) { return script_number_to_int(lua_tonumberx(L, Index, nullptr)); }
float color_arg(lua_State* L, int Index) { return script_number_to_float(lua_tonumberx(L, Index, nullptr)); }

// The text of argument Index (a number as Lua writes it), cut at its first
// NUL; valid while the argument is. Any other value raises a Lua argument
// error in the calling script.
std::string_view text_view(lua_State* L, int Index) { return luaL_checklstring(L, Index, nullptr); }
std::string text_arg(lua_State* L, int Index) { return std::string(text_view(L, Index)); }

std::string data_png_path(const std::string& Name) { return "data/" + Name + ".png"; }

// [-0, +0] table[Key] = Value for the fresh table on top.
void set_number_entry(lua_State* L, double Key, double Value)
{
  lua_pushnumber(L, Key);
  lua_pushnumber(L, Value);
  lua_rawset(L, -3);
}

// [-0, +0] runs Step in protected mode with Arg as its one argument, a light
// userdata (pushing it allocates nothing, so no Lua error can escape).
// False, with the error text in ErrorText, when Step raised an error.
bool call_protected(lua_State* L, lua_CFunction Step, const void* Arg, std::string& ErrorText)
{
  if (!lua_checkstack(L, 2)) {
    ErrorText = "stack overflow";
    return false;
  }
  lua_pushcfunction(L, Step);
  lua_pushlightuserdata(L, const_cast<void*>(Arg));
  return luahelp_pcall(L, 1, 0, ErrorText);
}

// A failure line and its detail line, written with the same function.
void log_error(void (*Log)(die_pieces), die_pieces Header, const std::string& ErrorText)
{
  Log(Header);
  Log({"--- ", ErrorText});
}

template <class T>
T& step_arg(lua_State* L)
{
  return *static_cast<T*>(lua_touserdata(L, 1));
}

// Protected step of an include; its argument is the script's name. A path
// that LIB records is skipped. Every failure counts as a failed include,
// which the caller logs, and leaves the path unrecorded. That holds for a
// LIB that cannot be indexed too: the script is then not run, since whether
// it ran before cannot be told; and when LIB cannot take the record after
// a run, the script has run but stays unrecorded.
int include_step(lua_State* L)
{
  const std::string Filename = "game/" + step_arg<const std::string>(L) + ".lua";
  lua_getglobal(L, "LIB");
  lua_pushlstring(L, Filename.data(), Filename.size());
  lua_gettable(L, -2);
  if (!lua_isnil(L, -1)) return 0;
  // Lua would open a named pipe and wait on it for ever.
  if (fkind(Filename) == file_other) return luaL_error(L, "cannot open %s: not a regular file", Filename.c_str());
  if (luaL_loadfilex(L, Filename.c_str(), nullptr) != LUA_OK) return lua_error(L);
  lua_call(L, 0, 0);
  // Recorded in the LIB of this moment: the script may have replaced it.
  lua_getglobal(L, "LIB");
  lua_pushlstring(L, Filename.data(), Filename.size());
  lua_pushboolean(L, 1);
  lua_settable(L, -3);
  return 0;
}

void base_include(lua_State* L, const std::string& ScriptName)
{
  std::string Error;
  if (!call_protected(L, include_step, &ScriptName, Error))
    log_error(die_warning, {"game script include warning: couldn't dofile ``game/", ScriptName, ".lua''"}, Error);
}

// [-0, +1] pushes a new table of key name to true for every named key held.
void push_keys_down(lua_State* L)
{
  int NumKeys = 0;
  const Uint8* SDLKeys = SDL_GetKeyboardState(&NumKeys);
  lua_newtable(L);
  for (const auto& Key : sdl_scancode_key_names) {
    if (Key.first < 0 || Key.first >= NumKeys || !SDLKeys[Key.first]) continue;
    lua_pushboolean(L, 1);
    lua_setfield(L, -2, Key.second.c_str());
  }
}

// Protected step of a frame; its argument is the step in seconds.
int update_step(lua_State* L)
{
  double T = step_arg<double>(L);
  push_keys_down(L);
  lua_setglobal(L, "keys_down");
  lua_getglobal(L, "update");
  if (lua_isnil(L, -1)) {
    die_fatal("game update fatal: couldn't find the global update () function");
    return 0;
  }
  lua_pushnumber(L, T);
  lua_call(L, 1, 0);
  return 0;
}

// Protected step of a key press; its argument is the key's name.
int keypress_step(lua_State* L)
{
  const std::string& Name = step_arg<const std::string>(L);
  lua_getglobal(L, "keypress");
  if (lua_isnil(L, -1)) {
    die_fatal("game keypress fatal: couldn't find keypress () function");
    return 0;
  }
  lua_pushlstring(L, Name.data(), Name.size());
  lua_call(L, 1, 0);
  return 0;
}

// Protected step of start-up: the game font read from the global font; its
// argument is the game. Only a table or a string is read.
int font_step(lua_State* L)
{
  game& G = step_arg<game>(L);
  lua_getglobal(L, "font");
  if (G.F.null()) return 0;
  if (lua_type(L, -1) == LUA_TTABLE || lua_type(L, -1) == LUA_TSTRING) G.F->init(L);
  return 0;
}

// The picture data/<ImageName>.png, or a null handle after logging the
// failure line that the three image functions share.
ref<image> script_image(const std::string& ImageName)
{
  ref<image> I = image_load(data_png_path(ImageName));
  if (I.null()) die_fatal({"script image load submask: could not find image ", ImageName});
  return I;
}

// Opaque white outside the picture, which takes in coordinates beyond the
// int range.
fcolor pixel_at(const image& I, int64_t X, int64_t Y)
{
  if (X < INT32_MIN || X > INT32_MAX || Y < INT32_MIN || Y > INT32_MAX) return fcolor(1.0f);
  return I.get_pixel(mkiloc(static_cast<int>(X), static_cast<int>(Y)));
}

// [-0, +1] pushes the table of components First .. First + Count - 1 of
// each pixel of the rectangle at arguments 2 to 5 of the image named by
// argument 1, rows outer, columns inner; nothing when the image fails or the
// table would be too large (logged under the Reader's name).
int push_image_components(lua_State* L, const char* Reader, int First, int Count)
{
  const std::string ImageName = text_arg(L, 1);
  ref<image> I = script_image(ImageName);
  if (I.null()) return 0;
  const int X = int_arg(L, 2), Y = int_arg(L, 3), W = int_arg(L, 4), H = int_arg(L, 5);
  if (W > 0 && H > 0 && int64_t(W) * H > MAX_IMAGE_TABLE_ENTRIES / Count) {
    die_warning({"script image load ", Reader, " warning: region ", itostr(W), "x", itostr(H), " of ``", ImageName,
                 "'' needs more than ", itostr(MAX_IMAGE_TABLE_ENTRIES), " table entries"});
    return 0;
  }
  lua_newtable(L);
  // An empty rectangle gives the empty table without walking its rows.
  if (W <= 0 || H <= 0) return 1;
  double CurID = 1;
  for (int64_t CurY = Y; CurY < int64_t(Y) + H; ++CurY)
    for (int64_t CurX = X; CurX < int64_t(X) + W; ++CurX) {
      fcolor Pixel = pixel_at(*I.ptr(), CurX, CurY);
      for (int c = First; c < First + Count; ++c) set_number_entry(L, CurID++, Pixel[c]);
    }
  return 1;
}

// [-0, +0] the script function include: runs game/<name>.lua once.
int script_include(lua_State* L)
{
  base_include(L, text_arg(L, 1));
  return 0;
}

// [-0, +1] pushes the texture's index, or nothing on failure
int script_texture_load(lua_State* L)
{
  std::string TextureName = text_arg(L, 1);
  ref<texture> T = texture_load(data_png_path(TextureName), false);
  if (T.null()) {
    die_fatal({"script texture load: could not find texture ", TextureName});
    return 0;
  }
  lua_pushnumber(L, T->get_id);
  return 1;
}

// [-0, +1] pushes the alpha values of a rectangle of the image, or nothing on failure
int script_image_load_submask(lua_State* L) { return push_image_components(L, "submask", 3, 1); }

// [-0, +0] restarts the scripts' random sequence from the seed
int script_RN_seed(lua_State* L)
{
  RN.seed(static_cast<uint32_t>(int_arg(L, 1)));
  return 0;
}

// [-0, +1] pushes the next random number in [0, 1]
int script_RN(lua_State* L)
{
  lua_pushnumber(L, RN.get());
  return 1;
}

// [-0, +0] stores a colour under a palette entry number
int script_set_palette(lua_State* L)
{
  int ID = int_arg(L, 1);
  if (ID < 0) return 0;
  if (ID >= MAX_PALETTE_ENTRIES) {
    die_warning({"script set palette warning: entry ", itostr(ID), " is past the palette's limit of ",
                 itostr(MAX_PALETTE_ENTRIES), " entries"});
    return 0;
  }
  if (palette.size() < static_cast<size_t>(ID) + 1) palette.resize(ID + 1, fcolor(0.0f));
  palette[ID] = mkfcolor(color_arg(L, 2), color_arg(L, 3), color_arg(L, 4), 1.0f);
  return 0;
}

// [-0, +2] pushes the image's width and height, or nothing on failure
int script_image_size(lua_State* L)
{
  ref<image> I = script_image(text_arg(L, 1));
  if (I.null()) return 0;
  lua_pushnumber(L, I->size[0]);
  lua_pushnumber(L, I->size[1]);
  return 2;
}

// [-0, +0] logs the message as a warning line
int script_WARN(lua_State* L)
{
  die_warning(text_view(L, 1));
  return 0;
}

// [-0, +1] pushes whether data/<name>.png can be opened
int script_image_exists(lua_State* L)
{
  lua_pushboolean(L, fexist(data_png_path(text_arg(L, 1))));
  return 1;
}

// [-0, +1] pushes the red, green, blue values of a rectangle of the image, or nothing on failure
int script_image_load_subpixels(lua_State* L) { return push_image_components(L, "subpixels", 0, 3); }

// [-0, +1] pushes {red, green, blue} of a colour string
int script_str2color(lua_State* L)
{
  fcolor Color = str2color(text_arg(L, 1));
  lua_newtable(L);
  for (int c = 0; c < 3; ++c) set_number_entry(L, c + 1, Color[c]);
  return 1;
}

// [-0, +1] pushes the colour string of red, green, blue
int script_color2str(lua_State* L)
{
  std::string Text = color2str(mkfcolor(color_arg(L, 1), color_arg(L, 2), color_arg(L, 3), 1.0f));
  lua_pushlstring(L, Text.data(), Text.size());
  return 1;
}

// [-0, +1] pushes the width of the text in the game font at size W; 0 before the font exists
int script_text_len(lua_State* L)
{
  double W = lua_tonumberx(L, 1, nullptr);
  std::string Text = text_arg(L, 2);
  lua_pushnumber(L, cur_font.null() ? 0.0 : cur_font->get_length(mkrpos(W, W, 1), Text));
  return 1;
}

// [-0, +0] ends the main loop after the current pass
int script_game_quit(lua_State*)
{
  quit_flag = true;
  return 0;
}

struct host_function {
  const char* name;
  lua_CFunction handler;
};

// In the order of registration.
const host_function HOST_FUNCTIONS[] = {
    {"include", script_include},
    {"texture_load", script_texture_load},
    {"image_load_submask", script_image_load_submask},
    {"RN_seed", script_RN_seed},
    {"RN", script_RN},
    {"set_palette", script_set_palette},
    {"image_size", script_image_size},
    {"WARN", script_WARN},
    {"image_exists", script_image_exists},
    {"image_load_subpixels", script_image_load_subpixels},
    {"str2color", script_str2color},
    {"color2str", script_color2str},
    {"text_len", script_text_len},
    {"game_quit", script_game_quit},
};

const char* const START_LIBS[] = {"std", "rn", "debug", "class", "matrix", "color"};

// Protected step of start-up: standard libraries, host functions, LIB.
int setup_step(lua_State* L)
{
  luaL_openlibs(L);
  for (const host_function& F : HOST_FUNCTIONS) {
    lua_pushcclosure(L, F.handler, 0);
    lua_setglobal(L, F.name);
  }
  lua_newtable(L);
  lua_setglobal(L, "LIB");
  return 0;
}

}  // namespace

game::game() : L(nullptr), render_depth(0), render_depth_reported(false) {}

game::~game() {}

void game::init()
{
  L = luaL_newstate();
  if (!L) {
    die_fatal("game init fatal: couldn't create the Lua state");
    return;
  }
  std::string Error;
  if (!call_protected(L, setup_step, nullptr, Error))
    log_error(die_fatal, {"game init fatal: couldn't set up the Lua state"}, Error);
  for (const char* Name : START_LIBS) lib(Name);
  base_include(L, "font");
  // The game font exists from here on, empty when the description is
  // missing or unreadable; without memory for it the game draws no text.
  try {
    std::unique_ptr<font> Font(new font());
    F.init(Font.get());
    Font.release();
  } catch (const std::bad_alloc&) {
  }
  cur_font = F;
  if (!call_protected(L, font_step, this, Error))
    log_error(die_warning, {"game init warning: couldn't read the font table"}, Error);
  base_include(L, "main");
}

void game::update(double T)
{
  std::string Error;
  if (L && !call_protected(L, update_step, &T, Error))
    log_error(die_warning, {"game update warning: error calling update function"}, Error);
}

void game::keypress(int Scancode)
{
  auto Key = sdl_scancode_key_names.find(Scancode);
  if (!L || Key == sdl_scancode_key_names.end()) return;
  std::string Error;
  if (!call_protected(L, keypress_step, &Key->second, Error))
    log_error(die_warning, {"game update warning: error calling keypress function"}, Error);
}

void game::include(const std::string& ScriptName)
{
  if (L) base_include(L, ScriptName);
}

void game::lib(const std::string& LibName) { include("lib/" + LibName); }

// The render-list walk: every frame the scripts' render_list is read and
// drawn in OpenGL immediate mode.

namespace {

// Nesting of lists and sub-commands the walk follows: far beyond what a game
// draws, and a small part of the native stack.
const int MAX_RENDER_DEPTH = 200;
// Values interpreted in one frame: a list that shares its tables can name
// exponentially many commands, and the frame must still end.
const int MAX_RENDER_COMMANDS = 1 << 20;
// Lua stack slots one level of the walk holds: the traversal's key and value.
const int RENDER_SLOTS_PER_LEVEL = 2;
// Segments of one circarc: at 25 units each the cap is an arc far larger
// than the world; a larger arc is drawn whole with that many segments.
const int MAX_ARC_SEGMENTS = 100000;
// Room for a number's text as Lua writes it (LUA_NUMBER_FMT).
const size_t NUMBER_TEXT_SIZE = 32;
// Vertices one frame draws at most, across all its commands (four a glyph):
// caps on single commands alone would multiply with the frame's command
// allowance. It also ends a dashline whose period is too small to shorten
// its line, and an infinite or huge terrain band. It bounds the work per
// vertex: this many small shapes, tiny pictures under transforms the
// costliest, take an eighth of a second on a software renderer, and 32768
// rectangles fit. It does not bound the pixels filled: this many vertices of
// screen-filling pictures or glyphs take seconds to tens of seconds.
const int MAX_RENDER_VERTICES = 1 << 17;
// Lines one frame's walk writes at most; the notice takes the place of the
// next. A list failing in every one of its elements would otherwise write
// tens of megabytes a frame.
const int MAX_FRAME_RENDER_LINES = 100;
const char FRAME_RENDER_LINES_LEFT_OUT[] =
    "game render warning: more than 100 lines in one frame; leaving out the rest of its render lines";

// The text argument of the text commands and terrain's swatch name. Kept
// from one command to the next so that a frame's texts allocate only when one
// is longer than any read before.
std::string text_arg_buffer;

// Vertices the frame being drawn may still draw; -1 once spent, after which
// the rest of the frame draws nothing.
int frame_vertices_left = 0;

// Takes Items items of PerItem vertices each from the frame's budget and
// gives how many of them it may draw. When fewer than Items fit, the budget
// is spent, with one warning a frame.
long long take_vertices(long long Items, int PerItem)
{
  const long long Fit = frame_vertices_left / PerItem;
  if (Items <= Fit) {
    frame_vertices_left -= static_cast<int>(Items * PerItem);
    return Items;
  }
  if (frame_vertices_left >= 0)
    die_warning({"game render command warning: more than ", itostr(MAX_RENDER_VERTICES),
                 " vertices in one frame; skipping the rest"});
  frame_vertices_left = -1;
  return Fit > 0 ? Fit : 0;
}

bool take_vertices(int Count) { return take_vertices(1, Count) == 1; }

const double PI = 3.141592653589793;
const double TWO_PI = 6.283185307179586;

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
const command_name COMMAND_NAMES[] = {
    COMMAND(rect),      COMMAND(rgba),    COMMAND(line),      COMMAND(translate), COMMAND(tri),
    COMMAND(quad),      COMMAND(rotate),  COMMAND(scale),     COMMAND(picture),   COMMAND(text),
    COMMAND(centertext), COMMAND(righttext), COMMAND(dashline), COMMAND(circarc),  COMMAND(zoffs),
    COMMAND(camera),    COMMAND(terrain), COMMAND(none),
};
#undef COMMAND

command_id find_command(const char* Text, size_t Length)
{
  for (const command_name& Name : COMMAND_NAMES)
    if (Name.length == Length && std::memcmp(Name.text, Text, Length) == 0) return Name.id;
  return cmd_unknown;
}

// The text of the string or number on top of the stack, cut at its first
// zero byte. A number is written into Buffer as Lua would write it, so no Lua
// string is made and the list keeps its number.
const char* element_text(lua_State* L, char (&Buffer)[NUMBER_TEXT_SIZE], size_t& Length)
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
bool read_number(lua_State* L, int Table, double& Arg)
{
  if (!lua_next(L, Table)) return false;
  Arg = lua_tonumberx(L, -1, nullptr);
  lua_pop(L, 1);
  return true;
}

bool read_numbers(lua_State* L, int Table, std::initializer_list<double*> Args)
{
  for (double* Arg : Args)
    if (!read_number(L, Table, *Arg)) return false;
  return true;
}

// [-1, +0] ends the traversal under way, leaving what is left of its table
// unread: dropping the traversal's key ends it without visiting the rest,
// however many elements the script put there.
void drain(lua_State* L) { lua_pop(L, 1); }

// [-0, +0] with the traversal of the table at Table under way, reads the
// next element into Text: a string, or a number as Lua writes it. False when
// the table runs out first or the element is of another kind; the traversal
// has then ended, the rest of the table drained unread.
bool read_text(lua_State* L, int Table, std::string& Text)
{
  if (!lua_next(L, Table)) return false;
  const int Type = lua_type(L, -1);
  if (Type != LUA_TSTRING && Type != LUA_TNUMBER) {
    lua_pop(L, 1);
    drain(L);
    return false;
  }
  char Buffer[NUMBER_TEXT_SIZE];
  size_t Length = 0;
  const char* Chars = element_text(L, Buffer, Length);
  Text.assign(Chars, Length);
  lua_pop(L, 1);
  return true;
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
  drain(L);
}

void render_line(lua_State* L, int Table)
{
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0, W = 0;
  if (!read_numbers(L, Table, {&X0, &Y0, &X1, &Y1, &W})) return;
  if (!take_vertices(2)) return drain(L);
  glLineWidth(static_cast<float>(W));
  glBegin(GL_LINES);
  vertex(X0, Y0);
  vertex(X1, Y1);
  glEnd();
  drain(L);
}

// W and H are half extents.
void render_rect(lua_State* L, int Table)
{
  double X = 0, Y = 0, W = 0, H = 0;
  if (!read_numbers(L, Table, {&X, &Y, &W, &H})) return;
  if (!take_vertices(4)) return drain(L);
  glBegin(GL_QUADS);
  vertex(X - W, Y - H);
  vertex(X + W, Y - H);
  vertex(X + W, Y + H);
  vertex(X - W, Y + H);
  glEnd();
  drain(L);
}

// Corners x, y pairs in the order given, as one primitive of Mode.
template <int Corners>
void render_polygon(lua_State* L, int Table, GLenum Mode)
{
  double XY[2 * Corners];
  for (double& V : XY)
    if (!read_number(L, Table, V)) return;
  if (!take_vertices(Corners)) return drain(L);
  glBegin(Mode);
  for (int c = 0; c < Corners; ++c) vertex(XY[2 * c], XY[2 * c + 1]);
  glEnd();
  drain(L);
}

// Dashes OnL long every OnL + OffL from CurPos along the unit PosDelta while
// LineLen lasts; the last dash is not cut at the line's end. A period that
// is zero or negative, or a length that is not finite, would never end the
// loop and gives none; an infinite or NaN period ends it after one dash.
void emit_dashes(rpos CurPos, const rpos& PosDelta, double LineLen, double OnL, double OffL)
{
  const double Period = OnL + OffL;
  if (Period <= 0 || !std::isfinite(LineLen)) return;
  while (LineLen > 0 && take_vertices(2)) {
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
  drain(L);
}

// About one segment per 25 units of arc length, truncated. Negative, not a
// number or beyond the int range gives a negative count (no vertex at all);
// a count above the cap is cut to it.
int arc_segments(double R, double ThetaRange)
{
  const int NumSegs = script_number_to_int(((R * PI + R * PI) * (ThetaRange / PI)) / 50);
  return NumSegs < MAX_ARC_SEGMENTS ? NumSegs : MAX_ARC_SEGMENTS;
}

void render_circarc(lua_State* L, int Table)
{
  double X = 0, Y = 0, R = 0, StartTheta = 0, EndTheta = 0, W = 0;
  if (!read_numbers(L, Table, {&X, &Y, &R, &StartTheta, &EndTheta, &W})) return;
  const double ThetaRange = EndTheta - StartTheta;
  const int NumSegs = arc_segments(R, ThetaRange);
  const double SegTheta = NumSegs > 0 ? ThetaRange / NumSegs : 0;
  const long long Vertices = NumSegs >= 0 ? take_vertices(NumSegs + 1LL, 1) : 0;
  glLineWidth(static_cast<float>(W));
  glBegin(GL_LINE_STRIP);
  double Theta = StartTheta;
  for (long long a = 0; a < Vertices; ++a) {
    vertex(std::cos(Theta) * R + X, std::sin(Theta) * R + Y);
    Theta += SegTheta;
  }
  glEnd();
  drain(L);
}

// Puts (CameraX, CameraY) at the centre of the view with y downwards.
void render_camera(lua_State* L, int Table)
{
  double CameraX = 0, CameraY = 0;
  if (!read_numbers(L, Table, {&CameraX, &CameraY})) return;
  drain(L);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(CameraX, CameraY, 0, CameraX, CameraY, 1, 0, -1, 0);
}

void render_zoffs(lua_State* L, int Table)
{
  double Z = 0;
  if (!read_numbers(L, Table, {&Z})) return;
  glTranslated(0, 0, Z);
  drain(L);
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
  drain(G.L);
}

// Theta is in radians, turning x towards y.
void render_rotate(game& G, int Table, int& MatrixRoom)
{
  double Theta = 0;
  if (!read_numbers(G.L, Table, {&Theta})) return;
  saved_matrix Matrix(MatrixRoom);
  glRotated((Theta * 360) / TWO_PI, 0, 0, 1);
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

// The texture at one world unit per texel, centred on the origin; texture
// row 0 (the picture's top row) lies at -h/2.
void draw_picture(const texture& T)
{
  const double HalfW = T.size_in_pixels[0] / 2;
  const double HalfH = T.size_in_pixels[1] / 2;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, T.id);
  glBegin(GL_QUADS);
  glNormal3f(0, 0, -1);
  glTexCoord2d(0, 0);
  glVertex3d(-HalfW, -HalfH, 0);
  glTexCoord2d(1, 0);
  glVertex3d(HalfW, -HalfH, 0);
  glTexCoord2d(1, 1);
  glVertex3d(HalfW, HalfH, 0);
  glTexCoord2d(0, 1);
  glVertex3d(-HalfW, HalfH, 0);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

// GetID is a texture's registry index; the current colour tints it.
void render_picture(lua_State* L, int Table)
{
  double GetID = 0;
  if (!read_numbers(L, Table, {&GetID})) return;
  ref<texture> T = texture_get(script_number_to_int(GetID));
  drain(L);
  if (!T.null() && take_vertices(4)) draw_picture(*T.ptr());
}

// Strips 10 to 35 high from Y until one reaches Y + H, each in one random
// pixel of the swatch, then opaque white. A strip that no longer raises CurY
// (Y too large for the step to register) ends the band, and so does the
// frame's vertex budget.
void draw_strips(const image& Swatch, uint32_t Seed, double Y, double W, double H)
{
  const double End = H + Y;
  double CurY = Y;
  rngen RN;  // the band's own; the scripts' generator is left alone
  // Seeding fills 624 words: only a band with a strip to draw pays for it.
  if (End > CurY) RN.seed(Seed);
  glBegin(GL_QUADS);
  while (End > CurY && take_vertices(4)) {
    const double NextY = (25 * RN.get() + CurY) + 10;
    if (!(NextY > CurY)) break;
    const fcolor SwatchC = Swatch.get_any_pixel(RN);
    glColor4fv(SwatchC);
    vertex(-W, CurY);
    vertex(-W, NextY);
    vertex(W, NextY);
    vertex(W, CurY);
    CurY = NextY;
  }
  glEnd();
  glColor4f(1, 1, 1, 1);
}

// A band from Y to about Y + H, x from -W to W; the swatch is an image path
// used as it stands. The same Seed draws the same strips in every frame.
void render_terrain(lua_State* L, int Table)
{
  double Y = 0, W = 0, H = 0, Seed = 0;
  std::string& SwatchName = text_arg_buffer;
  if (!read_numbers(L, Table, {&Y, &W, &H}) || !read_text(L, Table, SwatchName) ||
      !read_numbers(L, Table, {&Seed}))
    return;
  ref<image> I = image_load(SwatchName);
  if (!I.null()) draw_strips(*I.ptr(), static_cast<uint32_t>(script_number_to_int(Seed)), Y, W, H);
  drain(L);
}

// Which point of the text lies at the given x.
enum text_anchor { anchor_start, anchor_end, anchor_centre };

// One line of text in the game font at W times its size, never in italics;
// Y is the pen's y. A game without a font draws nothing.
void render_anchored_text(game& G, int Table, text_anchor Anchor)
{
  double X = 0, Y = 0, W = 0;
  std::string& Text = text_arg_buffer;
  if (!read_numbers(G.L, Table, {&X, &Y, &W}) || !read_text(G.L, Table, Text)) return;
  // Four vertices a byte: a text longer than the frame's budget allows is
  // measured and drawn as far as it fits.
  Text.resize(static_cast<size_t>(take_vertices(static_cast<long long>(Text.size()), 4)));
  if (!G.F.null()) {
    const rpos Scale = mkrpos(W, W, 1);
    rpos Position = mkrpos(X, Y, 0);
    if (Anchor != anchor_start) {
      const double Length = G.F->get_length(Scale, Text);
      Position[0] = Anchor == anchor_end ? X - Length : X - Length * 0.5;
    }
    G.F->render_string(Position, Scale, Text, false);
  }
  drain(G.L);
}

void render_text(game& G, int Table) { render_anchored_text(G, Table, anchor_start); }
void render_righttext(game& G, int Table) { render_anchored_text(G, Table, anchor_end); }
void render_centertext(game& G, int Table) { render_anchored_text(G, Table, anchor_centre); }

void run_command(game& G, command_id Id, int Table, int& MatrixRoom)
{
  lua_State* const L = G.L;
  switch (Id) {
    case cmd_rgba: return render_rgba(L, Table);
    case cmd_line: return render_line(L, Table);
    case cmd_rect: return render_rect(L, Table);
    case cmd_quad: return render_polygon<4>(L, Table, GL_QUADS);
    case cmd_tri: return render_polygon<3>(L, Table, GL_TRIANGLES);
    case cmd_dashline: return render_dashline(L, Table);
    case cmd_circarc: return render_circarc(L, Table);
    case cmd_camera: return render_camera(L, Table);
    case cmd_rotate: return render_rotate(G, Table, MatrixRoom);
    case cmd_scale: return render_scale(G, Table, MatrixRoom);
    case cmd_translate: return render_translate(G, Table, MatrixRoom);
    case cmd_zoffs: return render_zoffs(L, Table);
    case cmd_picture: return render_picture(L, Table);
    case cmd_terrain: return render_terrain(L, Table);
    case cmd_text: return render_text(G, Table);
    case cmd_righttext: return render_righttext(G, Table);
    case cmd_centertext: return render_centertext(G, Table);
    case cmd_none:
    case cmd_unknown: return drain(L);
  }
}

// [-2, +0] the keyword on top (over the traversal's key) picks the command.
void dispatch_keyword(game& G, int Table, int& MatrixRoom)
{
  char Buffer[NUMBER_TEXT_SIZE];
  size_t Length = 0;
  const char* Keyword = element_text(G.L, Buffer, Length);
  const command_id Id = find_command(Keyword, Length);
  if (Id == cmd_unknown)
    die_warning({"game render command warning: unrecognized command ``", std::string_view(Keyword, Length),
                 "''; skipping"});
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
    die_warning({"game render command warning: more than ", itostr(MAX_RENDER_COMMANDS),
                 " commands in one frame; skipping the rest"});
    --CommandsLeft;
  }
  return false;
}

// The value being interpreted at each level of the walk, outermost first: a
// table's address, or null. Kept here rather than compared on the Lua stack
// since every value of a frame is looked up in it; room_for_level keeps the
// walk within its MAX_RENDER_DEPTH levels.
const void* walk_path[MAX_RENDER_DEPTH];

// The address of the value on top when it is a table, else null.
const void* table_on_top(lua_State* L) { return lua_istable(L, -1) ? lua_topointer(L, -1) : nullptr; }

// True when the table on top is already being walked at one of the Depth
// levels further out.
bool inside_itself(lua_State* L, int Depth)
{
  const void* Table = table_on_top(L);
  return Table && std::find(walk_path, walk_path + Depth, Table) != walk_path + Depth;
}

// Whether the walk may go one level deeper from Depth, reserving the Lua
// stack slots it needs; the first refusal of a frame is logged.
bool room_for_level(lua_State* L, int Depth, bool& Reported)
{
  if (Depth < MAX_RENDER_DEPTH && !inside_itself(L, Depth) && lua_checkstack(L, RENDER_SLOTS_PER_LEVEL))
    return true;
  if (!Reported)
    die_warning({"game render command warning: render list nested deeper than ", itostr(MAX_RENDER_DEPTH),
                 " levels or inside itself; skipping the deeper part"});
  Reported = true;
  return false;
}

// Counts one level of the walk, and notes the table it interprets, for as
// long as it lasts, also when a Lua error unwinds it.
class depth_scope {
 public:
  depth_scope(int& Depth, const void* Table) : Depth(Depth) { walk_path[Depth++] = Table; }
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
  game& G = step_arg<game>(L);
  // A list whose every element fails would write a line for each, and a
  // swatch path that fails would be looked up again for each band.
  die_line_cap Lines(MAX_FRAME_RENDER_LINES, FRAME_RENDER_LINES_LEFT_OUT);
  image_failure_memo FailedSwatches;
  lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  lua_pushstring(L, "render_list");
  lua_gettable(L, -2);
  if (lua_isnil(L, -1))
    die_fatal("game render fatal: couldn't find the global render table");
  else
    G.render_command();
  lua_pop(L, 2);
  return 0;
}

}  // namespace

void game::render()
{
  std::string Error;
  if (L && !call_protected(L, render_frame, this, Error))
    log_error(die_warning, {"game render warning: error reading the global render table"}, Error);
}

// A walk starts at depth 0, once per frame: the frame's allowances are set
// there.
void game::render_command()
{
  if (render_depth == 0) {
    render_depth_reported = false;
    render_commands_left = MAX_RENDER_COMMANDS;
    render_matrix_room = modelview_room();
    frame_vertices_left = MAX_RENDER_VERTICES;
  }
  if (frame_vertices_left < 0 || !within_allowance(render_commands_left)) return;
  if (!room_for_level(L, render_depth, render_depth_reported)) return;
  depth_scope Level(render_depth, table_on_top(L));
  interpret(*this, render_matrix_room);
}
