#include "font.h"

#include <GL/gl.h>
#include <lua.hpp>

#include "die.h"
#include "itostr.h"
#include "luahelp.h"

namespace {

// Every font registered by name; never emptied while the program runs.
std::map<std::string, ref<font>> registered_fonts;

// Codes a font table can define: one glyph per byte value.
const int GLYPH_CODES = 256;
// Values init pushes before its protected call: the function, the font, the table.
const int INIT_STACK_NEED = 3;
// Horizontal shear of italics as a share of the drawn height.
const double ITALICS_SHEAR = 0.125;

void log_init_error(const std::string& Detail)
{
  die_warning("font init warning: error reading font table");
  die_warning({"--- ", Detail});
}

}  // namespace

font::glyph::glyph() : advance(0) {}

font::font() : pixel_size(0) {}

void font::init(lua_State* L)
{
  const int Top = lua_gettop(L);
  if (!lua_checkstack(L, INIT_STACK_NEED)) {
    log_init_error("no room on the Lua stack");
    return;
  }
  lua_pushcfunction(L, init_protected);
  lua_pushlightuserdata(L, this);
  if (Top > 0)
    lua_pushvalue(L, Top);
  else
    lua_pushnil(L);
  std::string Error;
  if (!luahelp_pcall(L, 2, 0, Error)) log_init_error(Error);
  lua_settop(L, Top);
}

// [-0, +0] font (light userdata) and font table as arguments.
int font::init_protected(lua_State* L)
{
  font* Font = static_cast<font*>(lua_touserdata(L, 1));
  Font->read_table(L);
  return 0;
}

void font::read_table(lua_State* L)
{
  const std::string Texture = luahelp_table_getstring(L, "texture", "");
  face_t = texture_load(Texture, true);
  if (face_t.null()) {
    die_fatal({"font init fatal: couldn't load texture ``", Texture, "''"});
    return;
  }
  pixel_size = luahelp_table_getnumber(L, "pixelsize", 0);
  for (int Ascii = 0; Ascii < GLYPH_CODES; ++Ascii) read_glyph(L, Ascii);
}

// Reads field "glyph_<Ascii>" of the font table on top, when it is a table.
void font::read_glyph(lua_State* L, int Ascii)
{
  const std::string GlyphKey = "glyph_" + itostr(Ascii);
  lua_pushstring(L, GlyphKey.c_str());
  lua_gettable(L, -2);
  if (lua_istable(L, -1)) {
    glyph G;
    G.bearing[0] = luahelp_table_getnumber(L, "bearing_x", 0);
    G.bearing[1] = luahelp_table_getnumber(L, "bearing_y", 0);
    G.texcoord[0] = luahelp_table_getnumber(L, "texcoord_x", 0);
    G.texcoord[1] = luahelp_table_getnumber(L, "texcoord_y", 0);
    G.size[0] = luahelp_table_getnumber(L, "size_x", 0);
    G.size[1] = luahelp_table_getnumber(L, "size_y", 0);
    G.advance = luahelp_table_getnumber(L, "advance", 0);
    G.rendersize = G.size;
    glyphs[Ascii] = G;
  }
  lua_pop(L, 1);
}

void font::clear()
{
  glyphs.clear();
  face_t.clear();
}

double font::get_advance(int Ascii) const
{
  std::map<int, glyph>::const_iterator G = glyphs.find(Ascii);
  return G == glyphs.end() ? 0 : G->second.advance * pixel_size;
}

double font::get_length(const rpos& Scale, const std::string& Text) const
{
  double Length = 0;
  for (unsigned char Ascii : Text) Length += get_advance(Ascii) * Scale[0];
  return Length;
}

void font::render_string(const rpos& Position, const rpos& Scale, const std::string& Text, bool Italics)
{
  if (face_t.null()) return;
  glBindTexture(GL_TEXTURE_2D, face_t->id);
  glEnable(GL_TEXTURE_2D);
  glBegin(GL_QUADS);
  rpos Cursor = Position;
  for (unsigned char Ascii : Text) {
    render_char_quad(Cursor, Scale, Ascii, Italics);
    Cursor[0] += get_advance(Ascii) * Scale[0];
  }
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void font::render_char(const rpos& Center, const rpos& Scale, int Ascii, bool Italics)
{
  if (face_t.null()) return;
  glBindTexture(GL_TEXTURE_2D, face_t->id);
  glEnable(GL_TEXTURE_2D);
  glBegin(GL_QUADS);
  render_char_quad(Center, Scale, Ascii, Italics);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void font::render_char_quad(const rpos& Center, const rpos& Scale, int Ascii, bool Italics)
{
  std::map<int, glyph>::const_iterator Found = glyphs.find(Ascii);
  if (Found == glyphs.end()) return;
  const glyph& G = Found->second;
  const double p = pixel_size;
  const rloc Bearing = mkrloc(G.bearing[0] * Scale[0] * p, G.bearing[1] * Scale[1] * p);
  const rloc Size = mkrloc(G.rendersize[0] * Scale[0] * p, G.rendersize[1] * Scale[1] * p);
  // Corner1's edge (y = pen y - bearing) is drawn with atlas row texcoord.y.
  const rloc Corner0 = mkrloc(Center[0] + Bearing[0], Center[1] + Size[1] - Bearing[1]);
  const rloc Corner1 = mkrloc(Center[0] + Bearing[0] + Size[0], Center[1] - Bearing[1]);
  const rloc TexCoord0 = G.texcoord;
  const rloc TexCoord1 = G.texcoord + G.size;
  const double ItalicsOffset = Italics ? (Corner1[1] - Corner0[1]) * ITALICS_SHEAR : 0;
  glTexCoord2d(TexCoord0[0], TexCoord1[1]);
  glVertex3d(Corner0[0] + ItalicsOffset, Corner0[1], Center[2]);
  glTexCoord2d(TexCoord1[0], TexCoord1[1]);
  glVertex3d(Corner1[0] + ItalicsOffset, Corner0[1], Center[2]);
  glTexCoord2d(TexCoord1[0], TexCoord0[1]);
  glVertex3d(Corner1[0] - ItalicsOffset, Corner1[1], Center[2]);
  glTexCoord2d(TexCoord0[0], TexCoord0[1]);
  glVertex3d(Corner0[0] - ItalicsOffset, Corner1[1], Center[2]);
}

font* get_font(const std::string& Name)
{
  std::map<std::string, ref<font>>::iterator Found = registered_fonts.find(Name);
  return Found == registered_fonts.end() ? nullptr : Found->second.ptr();
}

void register_font(const std::string& Name, lua_State* L)
{
  ref<font> Font = mkref(new font());
  Font->init(L);
  registered_fonts[Name] = Font;
}
