#include "game_files.h"

#include <vector>

#include "png_writer.h"
#include "temp_dir.h"

void write_start_up_scripts(const std::string& FontScript)
{
  for (const char* Lib : {"std", "rn", "debug", "class", "matrix", "color"})
    write_file(std::string("game/lib/") + Lib + ".lua", "");
  write_file("game/font.lua", FontScript);
}

void write_square_font()
{
  write_png("data/glyphs.png", 8, 8, 4, std::vector<unsigned char>(8 * 8 * 4, 255));
  write_start_up_scripts(R"(
font = { texture = "data/glyphs.png", pixelsize = 16,
  glyph_65 = { bearing_x = 0, bearing_y = 1, texcoord_x = 0, texcoord_y = 0, size_x = 1, size_y = 1, advance = 1.5 } }
)");
}
