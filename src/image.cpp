#include "image.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "die.h"
#include "filehelp.h"
#include "itostr.h"

namespace {

// Every image decoded so far, by the exact path it was asked for.
std::map<std::string, ref<image>> loaded;

// Segments of a JPEG looked through for its frame header, which follows a
// handful of tables and notes in any real file.
const int MAX_JPEG_SEGMENTS = 64;

struct surface_free {
  void operator()(SDL_Surface* S) const { SDL_FreeSurface(S); }
};
typedef std::unique_ptr<SDL_Surface, surface_free> surface_ptr;

uint64_t big_endian(const unsigned char* Bytes, int Count)
{
  uint64_t Value = 0;
  for (int i = 0; i < Count; ++i) Value = Value << 8 | Bytes[i];
  return Value;
}

uint64_t little_endian16(const unsigned char* Bytes) { return Bytes[0] | Bytes[1] << 8; }

// The pixel count a PNG or GIF declares in its first bytes; false for other
// formats.
bool fixed_header_pixels(const unsigned char* Head, size_t Size, uint64_t& Pixels)
{
  static const unsigned char PNG[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (Size >= 24 && std::memcmp(Head, PNG, sizeof PNG) == 0) {
    Pixels = big_endian(Head + 16, 4) * big_endian(Head + 20, 4);
    return true;
  }
  if (Size >= 10 && (std::memcmp(Head, "GIF87a", 6) == 0 || std::memcmp(Head, "GIF89a", 6) == 0)) {
    Pixels = little_endian16(Head + 6) * little_endian16(Head + 8);
    return true;
  }
  return false;
}

// The pixel count in a JPEG's frame header, walking the segments that follow
// its start marker, where File stands; false when none is found.
bool jpeg_pixels(SDL_RWops* File, uint64_t& Pixels)
{
  for (int Segment = 0; Segment < MAX_JPEG_SEGMENTS; ++Segment) {
    unsigned char Head[9];  // marker, length, and a frame header's precision, height, width
    if (SDL_RWread(File, Head, 1, 4) != 4 || Head[0] != 0xFF) return false;
    const int Type = Head[1];
    const bool Frame = Type >= 0xC0 && Type <= 0xCF && Type != 0xC4 && Type != 0xC8 && Type != 0xCC;
    if (Frame) {
      if (SDL_RWread(File, Head + 4, 1, 5) != 5) return false;
      Pixels = big_endian(Head + 5, 2) * big_endian(Head + 7, 2);
      return true;
    }
    const int64_t Length = static_cast<int64_t>(big_endian(Head + 2, 2));
    if (Length < 2 || SDL_RWseek(File, Length - 2, RW_SEEK_CUR) < 0) return false;
  }
  return false;
}

// The pixel count File's header declares, when it is a PNG, GIF or JPEG;
// File is back at its start afterwards.
bool declared_pixels(SDL_RWops* File, uint64_t& Pixels)
{
  unsigned char Head[24];
  const size_t Size = SDL_RWread(File, Head, 1, sizeof Head);
  bool Known = fixed_header_pixels(Head, Size, Pixels);
  if (!Known && Size >= 2 && Head[0] == 0xFF && Head[1] == 0xD8 && SDL_RWseek(File, 2, RW_SEEK_SET) == 2)
    Known = jpeg_pixels(File, Pixels);
  SDL_RWseek(File, 0, RW_SEEK_SET);
  return Known;
}

// What SDL_image's own loading by path takes as the hint for formats that
// have no signature: the text after the path's last dot.
const char* type_hint(const std::string& Path)
{
  const char* Dot = std::strrchr(Path.c_str(), '.');
  return Dot ? Dot + 1 : nullptr;
}

// The surface of File, which it closes, unless it is SVG text or declares
// too many pixels.
SDL_Surface* decode_file(SDL_RWops* File, const std::string& Path, image_decode_result& Result)
{
  uint64_t Pixels = 0;
  SDL_Surface* Surface = nullptr;
  if (declared_pixels(File, Pixels) && Pixels > static_cast<uint64_t>(IMAGE_MAX_PIXELS))
    Result = image_too_large;
  else if (!IMG_isSVG(File))
    Surface = IMG_LoadTyped_RW(File, 0, type_hint(Path));
  SDL_RWclose(File);
  return Surface;
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

void log_too_large(const std::string& Name) { die_fatal({"image load fatal: image too large ``", Name, "''"}); }

// The image of a decoded surface, or a null handle after logging.
ref<image> image_from_surface(const SDL_Surface* Surface, const std::string& Name)
{
  int BPP = Surface->format->BitsPerPixel;
  if (BPP != 24 && BPP != 32) {
    die_fatal({"image load fatal: unsupported BPP ", itostr(BPP)});
    return ref<image>();
  }
  ref<image> Image = mkref(new image());
  Image->size = mkiloc(Surface->w, Surface->h);
  const long long Count = static_cast<long long>(Surface->w) * Surface->h;
  if (!allocate_pixels(Image->pixels, Count)) {
    log_too_large(Name);
    return ref<image>();
  }
  if (Count > 0) convert_pixels(Surface, BPP / 8, *Image.ptr());
  return Image;
}

}  // namespace

SDL_Surface* image_decode(const std::string& Path, image_decode_result& Result)
{
  Result = image_unloadable;
  SDL_RWops* File = fkind(Path) == file_regular ? SDL_RWFromFile(Path.c_str(), "rb") : nullptr;
  SDL_Surface* Surface = File ? decode_file(File, Path, Result) : nullptr;
  if (!Surface) return nullptr;
  // Formats whose header is not read are measured once decoded.
  if (static_cast<uint64_t>(Surface->w) * static_cast<uint64_t>(Surface->h) > static_cast<uint64_t>(IMAGE_MAX_PIXELS)) {
    SDL_FreeSurface(Surface);
    Result = image_too_large;
    return nullptr;
  }
  Result = image_decoded;
  return Surface;
}

ref<image> image_load(const std::string& Name)
{
  std::map<std::string, ref<image>>::iterator Cached = loaded.find(Name);
  if (Cached != loaded.end()) return Cached->second;
  die_progress({"image load: loading ", Name});
  image_decode_result Result;
  surface_ptr Surface(image_decode(Name, Result));
  if (Result == image_too_large) {
    log_too_large(Name);
    return ref<image>();
  }
  if (!Surface) {
    die_fatal({"image load fatal: couldn't load image file ``", Name, "''"});
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
    die_warning({"str2color fatal: bad color string ``", CHex, "''"});
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
