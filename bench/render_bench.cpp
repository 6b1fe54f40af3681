// The render-list walk against the same OpenGL calls made straight from C++,
// in the same GL context; glFinish makes both sides pay for the drawing.
// The interpreted runs also count heap allocations per frame (operator new
// and the Lua allocator), which the walk must not make.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua.hpp>
#include <vector>

#include "game.h"
#include "gl_window.h"
#include "new_probe.h"

namespace {

long LuaAllocCalls = 0;

const int Commands = 10000;

enum kind { rgba, line, rect, tri, translate };

// One command's numbers, shared by the Lua list and the direct drawing.
struct command {
  kind k;
  double a[6];
};

std::vector<command> make_commands(bool Mixed)
{
  std::vector<command> List(Commands);
  for (int i = 0; i < Commands; ++i) {
    const double X = (i % 100) * 8 - 400;
    const double Y = (i / 100) * 6 - 300;
    command& C = List[i];
    C.k = Mixed ? static_cast<kind>(i % 5) : rect;
    switch (C.k) {
      case rgba: C.a[0] = (i % 7) / 7.0, C.a[1] = (i % 3) / 3.0, C.a[2] = 0.5, C.a[3] = 1; break;
      case line: C.a[0] = X, C.a[1] = Y, C.a[2] = X + 5, C.a[3] = Y + 4, C.a[4] = 1; break;
      case rect: C.a[0] = X, C.a[1] = Y, C.a[2] = 3, C.a[3] = 2; break;
      case tri: C.a[0] = X, C.a[1] = Y, C.a[2] = X + 6, C.a[3] = Y, C.a[4] = X, C.a[5] = Y + 5; break;
      case translate: C.a[0] = X, C.a[1] = Y; break;
    }
  }
  return List;
}

void push_numbers(lua_State* L, const char* Keyword, const double* Numbers, int Count)
{
  lua_createtable(L, Count + 2, 0);
  lua_pushstring(L, Keyword);
  lua_rawseti(L, -2, 1);
  for (int a = 0; a < Count; ++a) {
    lua_pushnumber(L, Numbers[a]);
    lua_rawseti(L, -2, a + 2);
  }
}

// [-0, +1] the command as a render-list table.
void push_command(lua_State* L, const command& C)
{
  static const double SubRect[4] = {0, 0, 2, 2};
  switch (C.k) {
    case rgba: return push_numbers(L, "rgba", C.a, 4);
    case line: return push_numbers(L, "line", C.a, 5);
    case rect: return push_numbers(L, "rect", C.a, 4);
    case tri: return push_numbers(L, "tri", C.a, 6);
    case translate:
      push_numbers(L, "translate", C.a, 2);
      push_numbers(L, "rect", SubRect, 4);
      lua_rawseti(L, -2, 4);
      return;
  }
}

void vertex(double X, double Y) { glVertex3f(static_cast<float>(X), static_cast<float>(Y), 0.0f); }

void draw_rect(double X, double Y, double W, double H)
{
  glBegin(GL_QUADS);
  vertex(X - W, Y - H);
  vertex(X + W, Y - H);
  vertex(X + W, Y + H);
  vertex(X - W, Y + H);
  glEnd();
}

// The calls the walk makes for C, straight from C++.
void draw_direct(const command& C)
{
  const double* A = C.a;
  switch (C.k) {
    case rgba: glColor4d(A[0], A[1], A[2], A[3]); return;
    case line:
      glLineWidth(static_cast<float>(A[4]));
      glBegin(GL_LINES);
      vertex(A[0], A[1]);
      vertex(A[2], A[3]);
      glEnd();
      return;
    case rect: return draw_rect(A[0], A[1], A[2], A[3]);
    case tri:
      glBegin(GL_TRIANGLES);
      vertex(A[0], A[1]);
      vertex(A[2], A[3]);
      vertex(A[4], A[5]);
      glEnd();
      return;
    case translate:
      glPushMatrix();
      glTranslated(A[0], A[1], 0);
      draw_rect(0, 0, 2, 2);
      glPopMatrix();
      return;
  }
}

void* counting_lua_alloc(void* Ud, void* Ptr, size_t OldSize, size_t NewSize)
{
  ++LuaAllocCalls;
  (void)Ud;
  (void)OldSize;
  if (NewSize == 0) {
    std::free(Ptr);
    return nullptr;
  }
  return std::realloc(Ptr, NewSize);
}

// A game whose render_list holds the commands, over a counting allocator.
class bench_game {
 public:
  explicit bench_game(const std::vector<command>& List)
  {
    gl_test_window();
    G.L = lua_newstate(counting_lua_alloc, nullptr);
    luaL_openlibs(G.L);
    lua_createtable(G.L, Commands, 0);
    for (int i = 0; i < Commands; ++i) {
      push_command(G.L, List[i]);
      lua_rawseti(G.L, -2, i + 1);
    }
    lua_setglobal(G.L, "render_list");
    lua_gc(G.L, LUA_GCCOLLECT, 0);
  }
  ~bench_game()
  {
    lua_close(G.L);
    G.L = nullptr;
  }
  game G;
};

void run_interpreted(benchmark::State& State, bool Mixed)
{
  bench_game B(make_commands(Mixed));
  B.G.render();
  const long NewBefore = new_probe_calls;
  const long LuaBefore = LuaAllocCalls;
  for (auto _ : State) {
    B.G.render();
    glFinish();
  }
  State.counters["new_per_frame"] = double(new_probe_calls - NewBefore) / State.iterations();
  State.counters["lua_alloc_per_frame"] = double(LuaAllocCalls - LuaBefore) / State.iterations();
}

void run_direct(benchmark::State& State, bool Mixed)
{
  gl_test_window();
  const std::vector<command> List = make_commands(Mixed);
  for (auto _ : State) {
    for (const command& C : List) draw_direct(C);
    glFinish();
  }
}

void BM_RectsInterpreted(benchmark::State& State) { run_interpreted(State, false); }
void BM_RectsDirect(benchmark::State& State) { run_direct(State, false); }
void BM_MixedInterpreted(benchmark::State& State) { run_interpreted(State, true); }
void BM_MixedDirect(benchmark::State& State) { run_direct(State, true); }

BENCHMARK(BM_RectsInterpreted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RectsDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixedInterpreted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixedDirect)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
