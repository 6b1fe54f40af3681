// Writes test pictures: PNG through SDL_image, BMP through SDL.
#pragma once

#include <string>
#include <vector>

// Bytes: rows of W * BytesPP bytes, tightly packed, top row first, channels
// in memory order R, G, B (, A). BytesPP 1 writes an 8-bit grey picture
// (a paletted PNG with a grey ramp), 3 a 24-bit RGB one, 4 a 32-bit RGBA one.
void write_png(const std::string& File, int W, int H, int BytesPP, const std::vector<unsigned char>& Bytes);
// A 16-bit (RGB565) BMP, a depth the loaders refuse.
void write_bmp16(const std::string& File, int W, int H);
// An uncompressed TGA of 0 x 0 pixels at BytesPP 3 or 4, which SDL_image
// decodes into a surface without pixels. The name should end in ".tga".
void write_empty_tga(const std::string& File, int BytesPP);
