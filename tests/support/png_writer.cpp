#include "png_writer.h"

#include <SDL.h>
#include <SDL_image.h>

#include <filesystem>
#include <stdexcept>

namespace {

Uint32 format_for(int BytesPP)
{
  switch (BytesPP) {
    case 1: return SDL_PIXELFORMAT_INDEX8;
    case 3: return SDL_PIXELFORMAT_RGB24;
    case 4: return SDL_PIXELFORMAT_ABGR8888;  // bytes R, G, B, A on little-endian
    default: throw std::runtime_error("unsupported test picture depth");
  }
}

void make_parent(const std::string& File)
{
  std::filesystem::path P(File);
  if (P.has_parent_path()) std::filesystem::create_directories(P.parent_path());
}

}  // namespace

void write_png(const std::string& File, int W, int H, int BytesPP, const std::vector<unsigned char>& Bytes)
{
  if (Bytes.size() != static_cast<size_t>(W) * H * BytesPP) throw std::runtime_error("picture size mismatch");
  SDL_Surface* S = SDL_CreateRGBSurfaceWithFormat(0, W, H, BytesPP * 8, format_for(BytesPP));
  if (!S) throw std::runtime_error(SDL_GetError());
  if (BytesPP == 1) {
    SDL_Color Grey[256];
    for (int i = 0; i < 256; ++i) Grey[i] = SDL_Color{Uint8(i), Uint8(i), Uint8(i), 255};
    SDL_SetPaletteColors(S->format->palette, Grey, 0, 256);
  }
  for (int y = 0; y < H; ++y)
    SDL_memcpy(static_cast<Uint8*>(S->pixels) + y * S->pitch, Bytes.data() + static_cast<size_t>(y) * W * BytesPP,
               static_cast<size_t>(W) * BytesPP);
  make_parent(File);
  int Result = IMG_SavePNG(S, File.c_str());
  SDL_FreeSurface(S);
  if (Result != 0) throw std::runtime_error(IMG_GetError());
}

void write_bmp16(const std::string& File, int W, int H)
{
  SDL_Surface* S = SDL_CreateRGBSurfaceWithFormat(0, W, H, 16, SDL_PIXELFORMAT_RGB565);
  if (!S) throw std::runtime_error(SDL_GetError());
  SDL_memset(S->pixels, 0x7f, static_cast<size_t>(S->pitch) * H);
  make_parent(File);
  int Result = SDL_SaveBMP(S, File.c_str());
  SDL_FreeSurface(S);
  if (Result != 0) throw std::runtime_error(SDL_GetError());
}
