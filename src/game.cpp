#include "game.h"

#include <SDL.h>
#include <lua.hpp>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "die.h"
#include "filehelp.h"
#include "image.h"
#include "itostr.h"
#include "main.h"
#include "rngen.h"
#include "sdlkeynames.h"
#include "texture.h"

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
const int64_t MAX_IMAGE_TABLE_ENTRIES = int64_t(1) << 24;

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
// NUL. Any other value raises a Lua argument error in the calling script.
std::string text_arg(lua_State* L, int Index) { return luaL_checklstring(L, Index, nullptr); }

std::string data_png_path(const std::string& Name) { return "data/" + Name + ".png"; }

// [-0, +0] table[Key] = Value for the fresh table on top.
void set_number_entry(lua_State* L, double Key, double Value)
{
  lua_pushnumber(L, Key);
  lua_pushnumber(L, Value);
  lua_rawset(L, -3);
}

// [-1, +0] pops the error value on top and returns it as text: a string
// whole (newlines and NULs included), a number as Lua writes it, any other
// value by its type. Nothing here allocates inside Lua or calls a
// metamethod, so it is safe outside a protected call.
std::string pop_error_text(lua_State* L)
{
  std::string Text;
  int Type = lua_type(L, -1);
  if (Type == LUA_TSTRING) {
    size_t Length = 0;
    const char* Chars = lua_tolstring(L, -1, &Length);
    Text.assign(Chars, Length);
  } else if (Type == LUA_TNUMBER) {
    char Buffer[LUAI_MAXNUMBER2STR];
    std::snprintf(Buffer, sizeof Buffer, LUA_NUMBER_FMT, lua_tonumberx(L, -1, nullptr));
    Text = Buffer;
  } else {
    Text = std::string("(error object is a ") + lua_typename(L, Type) + " value)";
  }
  lua_pop(L, 1);
  return Text;
}

// [-0, +0] runs Step in protected mode with Arg as its one argument, a light
// userdata (pushing it allocates nothing, so no Lua error can escape).
// False, with the error text in ErrorText, when Step raised an error.
bool call_protected(lua_State* L, lua_CFunction Step, void* Arg, std::string& ErrorText)
{
  if (!lua_checkstack(L, 2)) {
    ErrorText = "stack overflow";
    return false;
  }
  lua_pushcfunction(L, Step);
  lua_pushlightuserdata(L, Arg);
  if (lua_pcall(L, 1, 0, 0) == LUA_OK) return true;
  ErrorText = pop_error_text(L);
  return false;
}

// A failure line and its detail line, written with the same function.
void log_error(void (*Log)(const std::string&), const std::string& Header, const std::string& ErrorText)
{
  Log(Header);
  Log("--- " + ErrorText);
}

template <class T>
T& step_arg(lua_State* L)
{
  return *static_cast<T*>(lua_touserdata(L, 1));
}

// Protected step of an include; its argument is the script's path. A path
// that LIB records is skipped. Every failure counts as a failed include,
// which the caller logs, and leaves the path unrecorded. That holds for a
// LIB that cannot be indexed too: the script is then not run, since whether
// it ran before cannot be told; and when LIB cannot take the record after
// a run, the script has run but stays unrecorded.
int include_step(lua_State* L)
{
  const std::string& Filename = step_arg<const std::string>(L);
  lua_getglobal(L, "LIB");
  lua_pushlstring(L, Filename.data(), Filename.size());
  lua_gettable(L, -2);
  if (!lua_isnil(L, -1)) return 0;
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
  std::string Filename = "game/" + ScriptName + ".lua";
  std::string Error;
  if (!call_protected(L, include_step, &Filename, Error))
    log_error(die_warning, "game script include warning: couldn't dofile ``" + Filename + "''", Error);
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
  if (lua_type(L, -1) == LUA_TTABLE || lua_type(L, -1) == LUA_TSTRING) G.F->init(L);
  return 0;
}

// The picture data/<ImageName>.png, or a null handle after logging the
// failure line that the three image functions share.
ref<image> script_image(const std::string& ImageName)
{
  ref<image> I = image_load(data_png_path(ImageName));
  if (I.null()) die_fatal("script image load submask: could not find image " + ImageName);
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
// argument 1, rows outer, columns inner; nothing when the image fails. A
// table too large to make raises a memory error in the script.
int push_image_components(lua_State* L, int First, int Count)
{
  ref<image> I = script_image(text_arg(L, 1));
  if (I.null()) return 0;
  int64_t X = int_arg(L, 2), Y = int_arg(L, 3), W = int_arg(L, 4), H = int_arg(L, 5);
  lua_newtable(L);
  // An empty rectangle gives the empty table without walking its rows.
  if (W <= 0 || H <= 0) return 1;
  if (W * H > MAX_IMAGE_TABLE_ENTRIES / Count) return luaL_error(L, "not enough memory");
  double CurID = 1;
  for (int64_t CurY = Y; CurY < Y + H; ++CurY)
    for (int64_t CurX = X; CurX < X + W; ++CurX) {
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
    die_fatal("script texture load: could not find texture " + TextureName);
    return 0;
  }
  lua_pushnumber(L, T->get_id);
  return 1;
}

// [-0, +1] pushes the alpha values of a rectangle of the image, or nothing on failure
int script_image_load_submask(lua_State* L) { return push_image_components(L, 3, 1); }

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
    die_warning("script set palette warning: entry " + itostr(ID) + " is past the palette's limit of " +
                itostr(MAX_PALETTE_ENTRIES) + " entries");
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
  die_warning(text_arg(L, 1));
  return 0;
}

// [-0, +1] pushes whether data/<name>.png can be opened
int script_image_exists(lua_State* L)
{
  lua_pushboolean(L, fexist(data_png_path(text_arg(L, 1))));
  return 1;
}

// [-0, +1] pushes the red, green, blue values of a rectangle of the image, or nothing on failure
int script_image_load_subpixels(lua_State* L) { return push_image_components(L, 0, 3); }

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
    log_error(die_fatal, "game init fatal: couldn't set up the Lua state", Error);
  for (const char* Name : START_LIBS) lib(Name);
  base_include(L, "font");
  // The game font exists from here on, empty when the description is
  // missing or unreadable.
  F.init(new font());
  cur_font = F;
  if (!call_protected(L, font_step, this, Error))
    log_error(die_warning, "game init warning: couldn't read the font table", Error);
  base_include(L, "main");
}

void game::update(double T)
{
  std::string Error;
  if (L && !call_protected(L, update_step, &T, Error))
    log_error(die_warning, "game update warning: error calling update function", Error);
}

void game::keypress(int Scancode)
{
  auto Key = sdl_scancode_key_names.find(Scancode);
  if (!L || Key == sdl_scancode_key_names.end()) return;
  std::string Error;
  if (!call_protected(L, keypress_step, &Key->second, Error))
    log_error(die_warning, "game update warning: error calling keypress function", Error);
}

void game::include(const std::string& ScriptName)
{
  if (L) base_include(L, ScriptName);
}

void game::lib(const std::string& LibName) { include("lib/" + LibName); }

// TODO(render): the render-list walk.
void game::render() {}
void game::render_command() {}
