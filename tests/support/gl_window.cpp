#include "gl_window.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <GL/glu.h>

#include <cstdlib>
#include <stdexcept>

namespace {

SDL_Window* Window = nullptr;

void set_fixed_state()
{
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(-400, 400, -300, 300);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0);
  glViewport(0, 0, 800, 600);
  glColor4d(1, 1, 1, 1);
  glLineWidth(1);
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

}  // namespace

SDL_Window* gl_test_window()
{
  if (!Window) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) throw std::runtime_error(SDL_GetError());
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    Window = SDL_CreateWindow("test", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 800, 600,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!Window) throw std::runtime_error(SDL_GetError());
    if (!SDL_GL_CreateContext(Window)) throw std::runtime_error(SDL_GetError());
  }
  set_fixed_state();
  return Window;
}

std::vector<fb_primitive> gl_feedback(const std::function<void()>& Draw)
{
  std::vector<GLfloat> Buffer(1 << 22);
  glFeedbackBuffer(static_cast<GLsizei>(Buffer.size()), GL_4D_COLOR_TEXTURE, Buffer.data());
  glRenderMode(GL_FEEDBACK);
  Draw();
  GLint Count = glRenderMode(GL_RENDER);
  if (Count < 0) throw std::runtime_error("feedback buffer overflow");

  std::vector<fb_primitive> Primitives;
  // GL_4D_COLOR_TEXTURE: x y z w, r g b a, s t r q per vertex.
  const int VertexSize = 12;
  auto read_vertex = [&](GLint& At) {
    fb_vertex V;
    V.x = Buffer[At];
    V.y = Buffer[At + 1];
    V.z = Buffer[At + 2];
    V.r = Buffer[At + 4];
    V.g = Buffer[At + 5];
    V.b = Buffer[At + 6];
    V.a = Buffer[At + 7];
    V.s = Buffer[At + 8];
    V.t = Buffer[At + 9];
    At += VertexSize;
    return V;
  };
  GLint At = 0;
  while (At < Count) {
    GLint Token = static_cast<GLint>(Buffer[At++]);
    fb_primitive P;
    int Vertices = 0;
    switch (Token) {
      case GL_POINT_TOKEN: P.kind = fb_primitive::POINT; Vertices = 1; break;
      case GL_LINE_TOKEN: P.kind = fb_primitive::LINE; Vertices = 2; break;
      case GL_LINE_RESET_TOKEN: P.kind = fb_primitive::LINE_RESET; Vertices = 2; break;
      case GL_POLYGON_TOKEN: P.kind = fb_primitive::POLYGON; Vertices = static_cast<int>(Buffer[At++]); break;
      case GL_BITMAP_TOKEN: P.kind = fb_primitive::BITMAP; Vertices = 1; break;
      case GL_DRAW_PIXEL_TOKEN: P.kind = fb_primitive::DRAW_PIXEL; Vertices = 1; break;
      case GL_COPY_PIXEL_TOKEN: P.kind = fb_primitive::COPY_PIXEL; Vertices = 1; break;
      case GL_PASS_THROUGH_TOKEN: P.kind = fb_primitive::PASS_THROUGH; At += 1; break;
      default: throw std::runtime_error("unknown feedback token");
    }
    for (int i = 0; i < Vertices; ++i) P.vertices.push_back(read_vertex(At));
    Primitives.push_back(P);
  }
  return Primitives;
}

std::vector<fb_vertex> fb_quad_corners(const std::vector<fb_primitive>& Primitives)
{
  std::vector<fb_vertex> Corners;
  for (size_t i = 0; i < Primitives.size(); ++i) {
    const std::vector<fb_vertex>& V = Primitives[i].vertices;
    EXPECT_EQ(Primitives[i].kind, fb_primitive::POLYGON);
    if (V.size() == 4) {
      Corners.insert(Corners.end(), V.begin(), V.end());
      continue;
    }
    EXPECT_EQ(V.size(), 3u);
    EXPECT_LT(i + 1, Primitives.size());
    if (V.size() != 3 || i + 1 >= Primitives.size()) break;
    const std::vector<fb_vertex>& Second = Primitives[++i].vertices;
    EXPECT_EQ(Second.size(), 3u);
    if (Second.size() != 3) break;
    Corners.insert(Corners.end(), {V[0], V[1], Second[1], V[2]});
  }
  return Corners;
}

double world_x(const fb_vertex& V) { return V.x - 400.0; }
double world_y(const fb_vertex& V) { return V.y - 300.0; }

pixel_rgba gl_read_pixel(int X, int Y)
{
  pixel_rgba P;
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(X, Y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &P);
  return P;
}
