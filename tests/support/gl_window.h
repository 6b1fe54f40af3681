// A real SDL window with an OpenGL context on Mesa's software renderer
// (SDL_VIDEODRIVER=offscreen needs no display), set up with the program's
// fixed GL state: blending, depth test LEQUAL, alpha test > 0, smooth shading,
// the -400..400 x -300..300 orthographic world, modelview current and identity.
#pragma once

#include <SDL.h>

#include <functional>
#include <string>
#include <vector>

// Opens the shared test window once per process (800 x 600) and makes its
// context current; later calls only reset the GL state listed above, the
// current colour, line width and texture binding.
SDL_Window* gl_test_window();

// One primitive as feedback mode reports it: window coordinates (x, y, z),
// the colour and the texture coordinate (s, t) of every vertex.
struct fb_vertex {
  double x, y, z;
  double r, g, b, a;
  double s, t;
};
struct fb_primitive {
  enum kind_t { POINT, LINE, LINE_RESET, POLYGON, BITMAP, DRAW_PIXEL, COPY_PIXEL, PASS_THROUGH } kind;
  std::vector<fb_vertex> vertices;
};

// Runs Draw in GL_FEEDBACK mode and returns every primitive it produced.
// Window coordinates: pixels from the lower left of the 800 x 600 viewport.
std::vector<fb_primitive> gl_feedback(const std::function<void()>& Draw);

// The corners of every quad among Primitives, in the order they were given.
// Mesa reports a quad v1 v2 v3 v4 as the triangles (v1, v2, v4) and
// (v2, v3, v4); a quad reported whole is taken as it is. Anything else is a
// test failure.
std::vector<fb_vertex> fb_quad_corners(const std::vector<fb_primitive>& Primitives);

// World coordinates (-400..400, -300..300) of a feedback vertex under the
// fixed projection and the full 800 x 600 viewport.
double world_x(const fb_vertex& V);
double world_y(const fb_vertex& V);

// The RGBA bytes of one pixel of the back buffer (x, y from the lower left).
struct pixel_rgba {
  unsigned char r, g, b, a;
};
pixel_rgba gl_read_pixel(int X, int Y);
