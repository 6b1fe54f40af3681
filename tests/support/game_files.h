// The files of a test game, written into the working directory.
#pragma once

#include <string>

// Writes the start-up scripts a test game needs besides game/main.lua: the
// six libraries, empty, and game/font.lua with FontScript.
void write_start_up_scripts(const std::string& FontScript = "");

// A game font of one glyph, "A": a 16 x 16 square under the pen's line with
// 24 units of advance, from an all-white atlas (data/glyphs.png).
void write_square_font();
