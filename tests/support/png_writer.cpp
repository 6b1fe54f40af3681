#include "png_writer.h"

#include <SDL.h>
#include <SDL_image.h>

#include <filesystem>
#include <fstream>
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

namespace {

void put_le(std::string& Bytes, unsigned long Value, int Count)
{
  for (int i = 0; i < Count; ++i) Bytes += static_cast<char>((Value >> (8 * i)) & 0xff);
}

void write_bytes(const std::string& File, const std::string& Bytes)
{
  make_parent(File);
  std::ofstream Out(File, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  if (!Out) throw std::runtime_error("couldn't write " + File);
}

}  // namespace

// Written by hand: SDL_SaveBMP converts 16-bit surfaces to 24 bits.
void write_bmp16(const std::string& File, int W, int H)
{
  const unsigned long RowBytes = (static_cast<unsigned long>(W) * 2 + 3) / 4 * 4;
  const unsigned long DataBytes = RowBytes * H;
  const unsigned long Offset = 14 + 40 + 12;  // file header, info header, three channel masks
  std::string Bytes = "BM";
  put_le(Bytes, Offset + DataBytes, 4);
  put_le(Bytes, 0, 4);
  put_le(Bytes, Offset, 4);
  put_le(Bytes, 40, 4);
  put_le(Bytes, W, 4);
  put_le(Bytes, H, 4);
  put_le(Bytes, 1, 2);   // planes
  put_le(Bytes, 16, 2);  // bits per pixel
  put_le(Bytes, 3, 4);   // BI_BITFIELDS: the masks below make it RGB565
  put_le(Bytes, DataBytes, 4);
  put_le(Bytes, 2835, 4);
  put_le(Bytes, 2835, 4);
  put_le(Bytes, 0, 8);
  put_le(Bytes, 0xF800, 4);
  put_le(Bytes, 0x07E0, 4);
  put_le(Bytes, 0x001F, 4);
  Bytes.append(DataBytes, '\x7f');
  write_bytes(File, Bytes);
}

void write_empty_tga(const std::string& File, int BytesPP)
{
  // Header: no id, no colour map, type 2 (true colour), origin and size 0,
  // depth, descriptor (alpha bits for 32-bit, top-left origin).
  unsigned char Header[18] = {0, 0, 2};
  Header[16] = static_cast<unsigned char>(BytesPP * 8);
  Header[17] = BytesPP == 4 ? 0x28 : 0x20;
  write_bytes(File, std::string(reinterpret_cast<const char*>(Header), sizeof Header));
}
