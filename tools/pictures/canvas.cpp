#include "canvas.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Samples per pixel side: 16 samples give 17 levels of coverage.
const int SUBSAMPLES = 4;

float hex_digit(char C)
{
  if (C >= '0' && C <= '9') return float(C - '0');
  if (C >= 'a' && C <= 'f') return float(C - 'a' + 10);
  if (C >= 'A' && C <= 'F') return float(C - 'A' + 10);
  fail(std::string("bad colour digit ") + C);
}

float channel(const char* Pair) { return (hex_digit(Pair[0]) * 16 + hex_digit(Pair[1])) / 255.0f; }

unsigned char to_byte(float V) { return static_cast<unsigned char>(std::lround(std::clamp(V, 0.0f, 1.0f) * 255)); }

// Paints Top over Bottom.
rgba over(const rgba& Top, const rgba& Bottom)
{
  const float A = Top.a + Bottom.a * (1 - Top.a);
  if (A <= 0) return rgba{};
  auto Blend = [&](float T, float B) { return (T * Top.a + B * Bottom.a * (1 - Top.a)) / A; };
  return rgba{Blend(Top.r, Bottom.r), Blend(Top.g, Bottom.g), Blend(Top.b, Bottom.b), A};
}

}  // namespace

void fail(const std::string& Message)
{
  std::fprintf(stderr, "pictures: %s\n", Message.c_str());
  std::exit(1);
}

rgba hex(const char* Text, float Alpha)
{
  if (std::string(Text).size() != 6) fail(std::string("bad colour ") + Text);
  return rgba{channel(Text), channel(Text + 2), channel(Text + 4), Alpha};
}

rgba mix(const rgba& A, const rgba& B, float T)
{
  return rgba{A.r + (B.r - A.r) * T, A.g + (B.g - A.g) * T, A.b + (B.b - A.b) * T, A.a + (B.a - A.a) * T};
}

rgba scaled(const rgba& C, float Factor) { return rgba{C.r * Factor, C.g * Factor, C.b * Factor, C.a}; }

shape polygon(std::vector<point> Points)
{
  // Even-odd rule: a horizontal ray from the point crosses the edges.
  return [Points](float X, float Y) {
    bool Inside = false;
    for (size_t i = 0, j = Points.size() - 1; i < Points.size(); j = i++) {
      const point& A = Points[i];
      const point& B = Points[j];
      if ((A.y > Y) != (B.y > Y) && X < (B.x - A.x) * (Y - A.y) / (B.y - A.y) + A.x) Inside = !Inside;
    }
    return Inside;
  };
}

shape ellipse(float Cx, float Cy, float Rx, float Ry)
{
  return [=](float X, float Y) {
    const float Dx = (X - Cx) / Rx, Dy = (Y - Cy) / Ry;
    return Dx * Dx + Dy * Dy <= 1;
  };
}

shape box(float X0, float Y0, float X1, float Y1)
{
  return [=](float X, float Y) { return X >= X0 && X <= X1 && Y >= Y0 && Y <= Y1; };
}

shape stroke(point A, point B, float HalfWidth)
{
  return [=](float X, float Y) {
    const float Dx = B.x - A.x, Dy = B.y - A.y;
    const float LengthSq = Dx * Dx + Dy * Dy;
    float T = LengthSq > 0 ? ((X - A.x) * Dx + (Y - A.y) * Dy) / LengthSq : 0;
    T = std::clamp(T, 0.0f, 1.0f);
    const float Ex = A.x + Dx * T - X, Ey = A.y + Dy * T - Y;
    return Ex * Ex + Ey * Ey <= HalfWidth * HalfWidth;
  };
}

canvas::canvas(int W, int H) : W(W), H(H), Pixels(static_cast<size_t>(W) * H) {}

void canvas::fill(const shape& Shape, const paint& Paint)
{
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      int Hits = 0;
      for (int Sy = 0; Sy < SUBSAMPLES; ++Sy)
        for (int Sx = 0; Sx < SUBSAMPLES; ++Sx)
          Hits += Shape(X + (Sx + 0.5f) / SUBSAMPLES, Y + (Sy + 0.5f) / SUBSAMPLES);
      if (Hits == 0) continue;
      rgba C = Paint(X + 0.5f, Y + 0.5f);
      C.a *= float(Hits) / (SUBSAMPLES * SUBSAMPLES);
      at(X, Y) = over(C, at(X, Y));
    }
}

void canvas::fill(const shape& Shape, const rgba& Colour)
{
  fill(Shape, [Colour](float, float) { return Colour; });
}

void canvas::outline(float Factor)
{
  std::vector<rgba> Out = Pixels;
  auto Clear = [&](int X, int Y) { return X < 0 || Y < 0 || X >= W || Y >= H || at(X, Y).a < 0.5f; };
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X)
      if (!Clear(X, Y) && (Clear(X - 1, Y) || Clear(X + 1, Y) || Clear(X, Y - 1) || Clear(X, Y + 1)))
        Out[static_cast<size_t>(Y) * W + X] = scaled(at(X, Y), Factor);
  Pixels = Out;
}

void canvas::save(const std::string& File) const
{
  SDL_Surface* S = SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_RGBA32);
  if (!S) fail(SDL_GetError());
  for (int Y = 0; Y < H; ++Y) {
    unsigned char* Row = static_cast<unsigned char*>(S->pixels) + Y * S->pitch;
    for (int X = 0; X < W; ++X) {
      const rgba& C = at(X, Y);
      Row[4 * X] = to_byte(C.r);
      Row[4 * X + 1] = to_byte(C.g);
      Row[4 * X + 2] = to_byte(C.b);
      Row[4 * X + 3] = to_byte(C.a);
    }
  }
  if (IMG_SavePNG(S, File.c_str()) != 0) fail(IMG_GetError());
  SDL_FreeSurface(S);
}
