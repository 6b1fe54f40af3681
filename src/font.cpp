#include "font.h"

// TODO(helper): fonts.
font::glyph::glyph() : advance(0) {}
font::font() : pixel_size(0) {}
void font::init(lua_State*) {}
void font::clear() {}
void font::render_char(const rpos&, const rpos&, int, bool) {}
void font::render_string(const rpos&, const rpos&, const std::string&, bool) {}
double font::get_advance(int) const { return 0; }
double font::get_length(const rpos&, const std::string&) const { return 0; }
void font::render_char_quad(const rpos&, const rpos&, int, bool) {}
font* get_font(const std::string&) { return nullptr; }
void register_font(const std::string&, lua_State*) {}
