#include "image.h"

#include <cstdio>

#include "die.h"

// TODO(helper): image_load and the image cache.
ref<image> image_load(const std::string&) { return ref<image>(); }

fcolor image::get_pixel(const iloc&) const { return fcolor(1.0f); }
fcolor image::get_any_pixel(rngen&) const { return fcolor(1.0f); }

namespace {

// Any byte that is not a hexadecimal digit counts as 0.
int hex_to_int(char H)
{
  if (H >= '0' && H <= '9') return H - '0';
  if (H >= 'a' && H <= 'f') return H - 'a' + 10;
  if (H >= 'A' && H <= 'F') return H - 'A' + 10;
  return 0;
}

int hex_to_int(char MSH, char LSH) { return 16 * hex_to_int(MSH) + hex_to_int(LSH); }

// (int)(C * 255.0) where it is defined; NaN and products outside the int
// range give INT_MIN, which prints as 80000000.
int color_byte(float C)
{
  double Product = static_cast<double>(C) * 255.0;
  if (!(Product > -2147483649.0 && Product < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(Product);
}

}  // namespace

fcolor str2color(const std::string& CHex)
{
  fcolor Color(0.0f);
  if (CHex.size() == 6) {
    for (int c = 0; c < 3; ++c) Color[c] = static_cast<float>(hex_to_int(CHex[2 * c], CHex[2 * c + 1]) / 255.0);
    Color[3] = 1.0f;
  } else if (!CHex.empty()) {
    die_warning("str2color fatal: bad color string ``" + CHex + "''");
  }
  return Color;
}

std::string color2str(const fcolor& Color)
{
  char Buffer[255];
  std::snprintf(Buffer, sizeof Buffer, "%02x%02x%02x", static_cast<unsigned>(color_byte(Color[0])),
                static_cast<unsigned>(color_byte(Color[1])), static_cast<unsigned>(color_byte(Color[2])));
  return Buffer;
}
