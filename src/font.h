// Bitmap fonts over one texture atlas, described by a Lua table; one-line
// text measured and drawn as textured quads.
#pragma once

#include <map>
#include <string>

#include "ref.h"
#include "texture.h"
#include "vecco.h"

struct lua_State;

class font {
 public:
  font();

  // Fills the font from the font table at the top of L's stack; the stack is
  // left as found.
  void init(lua_State* L);
  void clear();
  void render_char(const rpos& Center, const rpos& Scale, int Ascii, bool Italics);
  void render_string(const rpos& Position, const rpos& Scale, const std::string& Text, bool Italics);
  double get_advance(int Ascii) const;
  double get_length(const rpos& Scale, const std::string& Text) const;

 private:
  class glyph {
   public:
    rloc bearing;
    rloc texcoord;
    rloc size;
    rloc rendersize;
    double advance;
    glyph();
  };

  double pixel_size;
  std::map<int, glyph> glyphs;
  ref<texture> face_t;

  // The four vertices of one glyph; only between glBegin(GL_QUADS) and glEnd.
  void render_char_quad(const rpos& Center, const rpos& Scale, int Ascii, bool Italics);

  // init's work, run as a protected call so that an error raised by the
  // table's metamethods cannot escape: the font as light userdata, then the
  // font table.
  static int init_protected(lua_State* L);
  void read_table(lua_State* L);
  void read_glyph(lua_State* L, int Ascii);
};

// The font registered under Name, or null.
font* get_font(const std::string& Name);
// Builds a font from the table at the top of L's stack and registers it
// under Name, replacing any font registered there before.
void register_font(const std::string& Name, lua_State* L);
