// Converts an X window dump (xwd's ZPixmap output of a true-colour window or
// screen) into a 24-bit PNG.
//
// xwd2png DUMP.xwd PICTURE.png
#include <SDL.h>
#include <SDL_image.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The start of a dump's header: 32-bit big-endian fields in this order.
struct xwd_header {
  uint32_t header_size, file_version, pixmap_format, pixmap_depth, width, height, xoffset, byte_order,
      bitmap_unit, bitmap_bit_order, bitmap_pad, bits_per_pixel, bytes_per_line, visual_class, red_mask,
      green_mask, blue_mask, bits_per_rgb, colormap_entries, ncolors;
};
const uint32_t XWD_VERSION = 7;
const uint32_t ZPIXMAP = 2;
const size_t COLOR_ENTRY_BYTES = 12;  // one colormap entry: pixel, r, g, b, flags, pad

[[noreturn]] void fail(const std::string& Message)
{
  std::fprintf(stderr, "xwd2png: %s\n", Message.c_str());
  std::exit(1);
}

uint32_t big_endian(const unsigned char* P) { return uint32_t(P[0]) << 24 | P[1] << 16 | P[2] << 8 | P[3]; }

xwd_header read_header(const std::vector<unsigned char>& Dump)
{
  xwd_header H;
  uint32_t* const Fields[] = {&H.header_size, &H.file_version, &H.pixmap_format, &H.pixmap_depth, &H.width,
                              &H.height, &H.xoffset, &H.byte_order, &H.bitmap_unit, &H.bitmap_bit_order,
                              &H.bitmap_pad, &H.bits_per_pixel, &H.bytes_per_line, &H.visual_class, &H.red_mask,
                              &H.green_mask, &H.blue_mask, &H.bits_per_rgb, &H.colormap_entries, &H.ncolors};
  const size_t Count = sizeof Fields / sizeof Fields[0];
  if (Dump.size() < 4 * Count) fail("not a window dump");
  for (size_t i = 0; i < Count; ++i) *Fields[i] = big_endian(&Dump[4 * i]);
  return H;
}

// The 8-bit value of the channel that Mask selects in Pixel.
unsigned char channel(uint32_t Pixel, uint32_t Mask)
{
  if (Mask == 0) return 0;
  int Shift = 0;
  while (!(Mask >> Shift & 1)) ++Shift;
  const uint32_t Max = Mask >> Shift;
  return static_cast<unsigned char>(((Pixel & Mask) >> Shift) * 255 / Max);
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3) fail("usage: xwd2png DUMP.xwd PICTURE.png");
  std::ifstream In(argv[1], std::ios::binary);
  const std::vector<unsigned char> Dump((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  const xwd_header H = read_header(Dump);
  if (H.file_version != XWD_VERSION || H.pixmap_format != ZPIXMAP) fail("only version 7 ZPixmap dumps are read");
  if (H.bits_per_pixel != 24 && H.bits_per_pixel != 32) fail("only 24- and 32-bit pixels are read");
  const uint32_t BytesPP = H.bits_per_pixel / 8;
  const int W = static_cast<int>(H.width), Ht = static_cast<int>(H.height);
  const size_t Pixels = H.header_size + size_t(H.ncolors) * COLOR_ENTRY_BYTES;
  if (W <= 0 || Ht <= 0 || Pixels + size_t(H.bytes_per_line) * Ht > Dump.size()) fail("the dump is cut short");

  SDL_Surface* S = SDL_CreateRGBSurfaceWithFormat(0, W, Ht, 24, SDL_PIXELFORMAT_RGB24);
  if (!S) fail(SDL_GetError());
  for (int Y = 0; Y < Ht; ++Y) {
    const unsigned char* Row = &Dump[Pixels + size_t(H.bytes_per_line) * Y];
    unsigned char* Out = static_cast<unsigned char*>(S->pixels) + Y * S->pitch;
    for (int X = 0; X < W; ++X) {
      const unsigned char* P = Row + size_t(X) * BytesPP;
      uint32_t Pixel = 0;
      for (uint32_t b = 0; b < BytesPP; ++b)
        Pixel |= uint32_t(P[b]) << (8 * (H.byte_order == 0 ? b : BytesPP - 1 - b));
      Out[3 * X] = channel(Pixel, H.red_mask);
      Out[3 * X + 1] = channel(Pixel, H.green_mask);
      Out[3 * X + 2] = channel(Pixel, H.blue_mask);
    }
  }
  if (IMG_SavePNG(S, argv[2]) != 0) fail(IMG_GetError());
  SDL_FreeSurface(S);
  return 0;
}
