#include "image.h"

#include <SDL.h>
#include <SDL_image.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <new>

#include "die.h"
#include "itostr.h"

namespace {

// Every image decoded so far, by the exact path it was asked for.
std::map<std::string, ref<image>> loaded;

// Pixel counts and element indices are ints: bigger pictures are refused.
const long long MAX_PIXELS = INT_MAX;

struct surface_free {
  void operator()(SDL_Surface* S) const { SDL_FreeSurface(S); }
};
typedef std::unique_ptr<SDL_Surface, surface_free> surface_ptr;

// The pixel count of a W x H picture, or -1 when it is out of range.
long long pixel_count(int W, int H)
{
  long long Count = static_cast<long long>(W) * H;
  if (W < 0 || H < 0 || Count > MAX_PIXELS) return -1;
  return Count;
}

// Sizes Pixels for Count colours; false when memory runs out.
bool allocate_pixels(std::vector<fcolor>& Pixels, long long Count)
{
  try {
    Pixels.resize(static_cast<size_t>(Count));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Bytes in memory order R, G, B (, A) at the surface's pitch, whatever its
// channel masks say; 24-bit pixels get alpha 1.
void convert_pixels(const SDL_Surface* Surface, int BytesPP, image& Image)
{
  const int W = Image.size[0];
  const unsigned char* Bytes = static_cast<const unsigned char*>(Surface->pixels);
  for (int y = 0; y < Image.size[1]; ++y) {
    const unsigned char* Row = Bytes + static_cast<size_t>(y) * Surface->pitch;
    fcolor* Dest = &Image.pixels[static_cast<size_t>(y) * W];
    for (int x = 0; x < W; ++x) {
      const unsigned char* P = Row + static_cast<size_t>(x) * BytesPP;
      for (int c = 0; c < 3; ++c) Dest[x][c] = P[c] / 255.0f;
      Dest[x][3] = BytesPP == 4 ? P[3] / 255.0f : 1.0f;
    }
  }
}

// The image of a decoded surface, or a null handle after logging.
ref<image> image_from_surface(const SDL_Surface* Surface, const std::string& Name)
{
  int BPP = Surface->format->BitsPerPixel;
  if (BPP != 24 && BPP != 32) {
    die_fatal("image load fatal: unsupported BPP " + itostr(BPP));
    return ref<image>();
  }
  ref<image> Image = mkref(new image());
  Image->size = mkiloc(Surface->w, Surface->h);
  long long Count = pixel_count(Surface->w, Surface->h);
  if (Count < 0 || !allocate_pixels(Image->pixels, Count)) {
    die_fatal("image load fatal: image too large ``" + Name + "''");
    return ref<image>();
  }
  if (Count > 0) convert_pixels(Surface, BPP / 8, *Image.ptr());
  return Image;
}

}  // namespace

ref<image> image_load(const std::string& Name)
{
  std::map<std::string, ref<image>>::iterator Cached = loaded.find(Name);
  if (Cached != loaded.end()) return Cached->second;
  die_progress("image load: loading " + Name);
  surface_ptr Surface(IMG_Load(Name.c_str()));
  if (!Surface) {
    die_fatal("image load fatal: couldn't load image file ``" + Name + "''");
    return ref<image>();
  }
  ref<image> Image = image_from_surface(Surface.get(), Name);
  if (!Image.null()) loaded[Name] = Image;
  return Image;
}

fcolor image::get_pixel(const iloc& L) const
{
  if (L[0] < 0 || L[0] >= size[0] || L[1] < 0 || L[1] >= size[1]) return fcolor(1.0f);
  return pixels[static_cast<size_t>(L[0]) + static_cast<size_t>(size[0]) * L[1]];
}

fcolor image::get_any_pixel(rngen& RN) const
{
  // One draw even without pixels, so the generator's sequence stays in step.
  int ID = RN.get_index(static_cast<int>(pixels.size()));
  if (ID < 0 || static_cast<size_t>(ID) >= pixels.size()) return fcolor(1.0f);
  return pixels[ID];
}

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
