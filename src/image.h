// Pictures decoded into float RGBA pixels, cached by path, and the six-digit
// colour strings.
#pragma once

#include <string>
#include <vector>

#include "ref.h"
#include "rngen.h"
#include "vecco.h"

struct SDL_Surface;

// Pictures of more pixels are refused: one cached image of them would take
// more than 1 GiB of float colours. An 8192 x 8192 picture still loads.
const long long IMAGE_MAX_PIXELS = 1LL << 26;

class image {
 public:
  iloc size;                    // width, height in pixels
  std::vector<fcolor> pixels;   // row-major, top row first

  // Opaque white outside the picture.
  fcolor get_pixel(const iloc& L) const;
  // A pixel picked with one draw of RN; opaque white for an image without pixels.
  fcolor get_any_pixel(rngen& RN) const;
};

enum image_decode_result { image_decoded, image_unloadable, image_too_large };

// Decodes the picture file at Path with SDL_image; the caller frees the
// surface. Null, with Result telling why, for anything that is not a regular
// file, for SVG text whatever its name, for what SDL_image cannot decode,
// and for pictures of more than IMAGE_MAX_PIXELS pixels. Those are refused
// before their pixels are allocated: from their header where the format
// gives its size there (a JPEG or GIF whose header walk does not find it, or
// a text header without plain numbers, is refused as undecodable), and in
// every format by SDL's allocator, which refuses a block larger than such a
// picture's 32-bit surface or, where the header gave a size, larger than
// that size needs.
SDL_Surface* image_decode(const std::string& Path, image_decode_result& Result);

// The decoded picture at path Name (24 or 32 bits), or a null handle after
// logging. Successful loads are cached for the life of the process. A file
// whose content failed is not decoded again while it is unchanged (same size
// and times): a later request for it, by any path of the same type (a
// ".tga" path or another), logs the lines its failure logged and fails
// alike. A file that changes is decoded anew, and so is one whose decoding
// began less than 100 ms after its last change (a change within a tick of the
// file system's clock leaves its times as they were), or that failed for want
// of a descriptor, memory or a good read.
ref<image> image_load(const std::string& Name);

// The wall clock in nanoseconds since 1970, which image_load compares with a
// failed file's change time; tests set it.
extern long long (*image_clock_ns)();

// While one exists, a path that image_load failed to load is not even looked
// up again: a later request for it logs the lines its failure logged and
// fails alike. The render walk keeps one for each frame, within which a
// path's answer cannot change.
class image_failure_memo {
 public:
  image_failure_memo();
  ~image_failure_memo();
  image_failure_memo(const image_failure_memo&) = delete;
  image_failure_memo& operator=(const image_failure_memo&) = delete;
};

// "rrggbb" to (r, g, b, 1); "" gives (0, 0, 0, 0); other lengths warn and
// give (0, 0, 0, 0).
fcolor str2color(const std::string& CHex);
// (r, g, b) as "%02x%02x%02x" of each component times 255, truncated.
std::string color2str(const fcolor& Color);
