// A small RGBA canvas for drawing the demo's pictures: shapes are given as
// inside-tests, painted with 4 x 4 samples per pixel for smooth edges, and
// the result is written as a 32-bit PNG.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct rgba {
  float r = 0, g = 0, b = 0, a = 0;
};

// "rrggbb" with an optional alpha.
rgba hex(const char* Text, float Alpha = 1);
rgba mix(const rgba& A, const rgba& B, float T);
rgba scaled(const rgba& C, float Factor);  // colour times Factor, alpha kept

struct point {
  float x, y;
};

// Whether a point (in pixel units, y down) lies inside a shape.
using shape = std::function<bool(float X, float Y)>;
// The colour to paint at a point.
using paint = std::function<rgba(float X, float Y)>;

shape polygon(std::vector<point> Points);
shape ellipse(float Cx, float Cy, float Rx, float Ry);
shape box(float X0, float Y0, float X1, float Y1);
// Points within HalfWidth of the segment from A to B.
shape stroke(point A, point B, float HalfWidth);

class canvas {
 public:
  canvas(int W, int H);
  int w() const { return W; }
  int h() const { return H; }
  rgba& at(int X, int Y) { return Pixels[static_cast<size_t>(Y) * W + X]; }
  const rgba& at(int X, int Y) const { return Pixels[static_cast<size_t>(Y) * W + X]; }

  // Paints the shape over what is there, each pixel weighted by how much of
  // it the shape covers.
  void fill(const shape& Shape, const paint& Paint);
  void fill(const shape& Shape, const rgba& Colour);
  // Darkens opaque pixels that touch a clear one, for a crisp edge.
  void outline(float Factor);
  // Writes the canvas as a 32-bit PNG; stops the program on failure.
  void save(const std::string& File) const;

 private:
  int W, H;
  std::vector<rgba> Pixels;
};

[[noreturn]] void fail(const std::string& Message);
