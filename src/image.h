// Pictures decoded into float RGBA pixels, cached by path, and the six-digit
// colour strings.
#pragma once

#include <string>
#include <vector>

#include "ref.h"
#include "rngen.h"
#include "vecco.h"

class image {
 public:
  iloc size;                    // width, height in pixels
  std::vector<fcolor> pixels;   // row-major, top row first

  // Opaque white outside the picture.
  fcolor get_pixel(const iloc& L) const;
  // A pixel picked with one draw of RN; opaque white for an image without pixels.
  fcolor get_any_pixel(rngen& RN) const;
};

// The decoded picture at path Name (24 or 32 bits), or a null handle after
// logging. Successful loads are cached for the life of the process.
ref<image> image_load(const std::string& Name);

// "rrggbb" to (r, g, b, 1); "" gives (0, 0, 0, 0); other lengths warn and
// give (0, 0, 0, 0).
fcolor str2color(const std::string& CHex);
// (r, g, b) as "%02x%02x%02x" of each component times 255, truncated.
std::string color2str(const fcolor& Color);
