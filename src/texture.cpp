#include "texture.h"

#include <GL/gl.h>
#include <SDL.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "die.h"
#include "image.h"
#include "itostr.h"

namespace {

// Every texture by the exact path it was loaded from, and by index (the
// number scripts use). Only grows; the index is destroyed first at exit.
std::map<std::string, ref<texture>> loaded;
std::vector<ref<texture>> loaded_index;

// The GL format for a surface depth; 0 for a depth that is refused.
GLenum format_for_depth(int Depth)
{
  switch (Depth) {
    case 8: return GL_ALPHA;  // the byte itself (grey level or palette index) as coverage
    case 24: return GL_RGB;
    case 32: return GL_RGBA;
    default: return 0;
  }
}

// Sizes the mask and Buffer for the texture's pixels (no more than
// IMAGE_MAX_PIXELS); false when memory runs out.
bool allocate_pixels(texture& Texture, int BytesPP, std::vector<unsigned char>& Buffer)
{
  const long long Count = static_cast<long long>(Texture.w) * Texture.h;
  try {
    Texture.mask.assign(static_cast<size_t>(Count), false);
    Buffer.resize(static_cast<size_t>(Count) * BytesPP);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Copies the surface's rows (at its pitch) tightly packed into Buffer, bytes
// in memory order, and sets the mask where a 32-bit pixel's alpha is not 0.
void convert_pixels(const SDL_Surface* Surface, int BytesPP, texture& Texture, std::vector<unsigned char>& Buffer)
{
  if (Buffer.empty()) return;
  const size_t RowBytes = static_cast<size_t>(Texture.w) * BytesPP;
  const unsigned char* Source = static_cast<const unsigned char*>(Surface->pixels);
  for (int y = 0; y < Texture.h; ++y)
    std::memcpy(&Buffer[y * RowBytes], Source + static_cast<size_t>(y) * Surface->pitch, RowBytes);
  if (BytesPP != 4) return;
  for (size_t i = 0; i < Texture.mask.size(); ++i) Texture.mask[i] = Buffer[4 * i + 3] != 0;
}

// Halves a tightly packed W x H buffer by keeping the top-left pixel of each
// 2 x 2 block. Returns a new[] buffer the caller frees, or null when memory
// runs out.
unsigned char* downsample_image_nearest(int BytesPP, unsigned char* Data, int W, int H, int& DestW, int& DestH)
{
  DestW = W / 2;
  DestH = H / 2;
  unsigned char* Dest = new (std::nothrow) unsigned char[static_cast<size_t>(DestW) * DestH * BytesPP];
  if (!Dest) return nullptr;
  for (int DestY = 0; DestY < DestH; ++DestY)
    for (int DestX = 0; DestX < DestW; ++DestX)
      std::memcpy(Dest + (static_cast<size_t>(DestY) * DestW + DestX) * BytesPP,
                  Data + (2 * static_cast<size_t>(DestY) * W + 2 * DestX) * BytesPP, BytesPP);
  return Dest;
}

// Uploads a square picture and its point-sampled smaller levels down to one
// pixel wide.
void upload_nearest_chain(GLenum Format, int BytesPP, unsigned char* Level0, int Size)
{
  std::unique_ptr<unsigned char[]> Owned;
  unsigned char* Data = Level0;
  for (int Level = 0;; ++Level) {
    glTexImage2D(GL_TEXTURE_2D, Level, Format, Size, Size, 0, Format, GL_UNSIGNED_BYTE, Data);
    // <= rather than ==: a picture without pixels would never reach width 1.
    if (Size <= 1) return;
    int DestW = 0, DestH = 0;
    Owned.reset(downsample_image_nearest(BytesPP, Data, Size, Size, DestW, DestH));
    if (!Owned) return;
    Data = Owned.get();
    Size = DestW;
  }
}

// Makes the GL texture for Texture and uploads Buffer by the mipmap rule.
void upload(texture& Texture, GLenum Format, int BytesPP, std::vector<unsigned char>& Buffer, bool Interp)
{
  GLuint Name = 0;
  glGenTextures(1, &Name);
  Texture.id = static_cast<int>(Name);
  glBindTexture(GL_TEXTURE_2D, Name);
  // Rows are tightly packed; the setting stays in force for later uploads.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Every textured draw is tinted by the current colour.
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, Interp ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, Interp ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  if (Interp || Texture.w != Texture.h) {
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexImage2D(GL_TEXTURE_2D, 0, Format, Texture.w, Texture.h, 0, Format, GL_UNSIGNED_BYTE, Buffer.data());
  } else {
    upload_nearest_chain(Format, BytesPP, Buffer.data(), Texture.w);
  }
}

// The texture of a decoded surface (which it frees), or a null handle after
// logging.
ref<texture> texture_from_surface(SDL_Surface* Surface, bool Interp)
{
  const int Depth = Surface->format->BitsPerPixel;
  const GLenum Format = format_for_depth(Depth);
  const int BytesPP = Depth / 8;
  ref<texture> Texture = mkref(new texture());
  texture& T = *Texture.ptr();
  T.w = Surface->w;
  T.h = Surface->h;
  T.size_in_pixels = mkrpos(T.w, T.h, 0);
  std::vector<unsigned char> Buffer;
  const bool Converted = Format != 0 && allocate_pixels(T, BytesPP, Buffer);
  if (Converted) convert_pixels(Surface, BytesPP, T, Buffer);
  SDL_FreeSurface(Surface);
  if (!Converted) {
    die_fatal({"load texture fatal: unsupported image bpp ", itostr(Depth)});
    return ref<texture>();
  }
  upload(T, Format, BytesPP, Buffer, Interp);
  return Texture;
}

}  // namespace

bool texture::check_mask(int X, int Y) const
{
  if (X < 0 || X >= w || Y < 0 || Y >= h) return false;
  return mask[static_cast<size_t>(w) * Y + X];
}

ref<texture> texture_load(const std::string& Name, bool Interp)
{
  std::map<std::string, ref<texture>>::iterator Cached = loaded.find(Name);
  if (Cached != loaded.end()) return Cached->second;
  die_progress({"texture load: loading ", Name});
  image_decode_result Result;
  SDL_Surface* Surface = image_decode(Name, Result);
  if (Result == image_too_large) {
    die_fatal({"texlib load texdata fatal: image too large ``", Name, "''"});
    return ref<texture>();
  }
  if (!Surface) {
    die_fatal({"texlib load texdata fatal: couldn't load image file ``", Name, "''"});
    return ref<texture>();
  }
  ref<texture> Texture = texture_from_surface(Surface, Interp);
  if (Texture.null()) return Texture;
  Texture->get_id = static_cast<int>(loaded_index.size());
  loaded[Name] = Texture;
  loaded_index.push_back(Texture);
  return Texture;
}

ref<texture> texture_get(int GetID)
{
  if (GetID >= 0 && static_cast<size_t>(GetID) < loaded_index.size()) return loaded_index[GetID];
  die_fatal({"texture get fatal: texture ", itostr(GetID), " out of range"});
  return ref<texture>();
}
