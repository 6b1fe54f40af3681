// The costliest frames a script can ask for. Each is ended by the frame's
// vertex budget, its command allowance or its allowance of trace lines;
// glFinish makes every run pay for the software renderer's drawing too.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <iostream>
#include <lua.hpp>
#include <streambuf>
#include <string>

#include "die.h"
#include "game.h"
#include "game_files.h"
#include "gl_window.h"
#include "png_writer.h"
#include "temp_dir.h"

namespace {

// Swallows the trace lines the frames write to standard output.
class null_buf : public std::streambuf {
 protected:
  int_type overflow(int_type C) override { return traits_type::not_eof(C); }
  std::streamsize xsputn(const char*, std::streamsize N) override { return N; }
};

// A game of its own folder: empty libraries, a one-glyph font ("A"), a
// 32 x 32 picture whose index is the global pic, and a grey 1024 x 1024
// picture, a depth images refuse.
class worst_game {
 public:
  worst_game()
  {
    gl_test_window();
    write_square_font();
    write_png("data/pic.png", 32, 32, 4, std::vector<unsigned char>(32 * 32 * 4, 255));
    write_png("data/grey.png", 1024, 1024, 1, std::vector<unsigned char>(1024 * 1024, 128));
    write_file("game/main.lua", "pic = texture_load('pic')"
                                " function nest_pairs(n, t) for i = 1, n do t = {t, t} end return t end"
                                " function list_of(n, make) local l = {} for i = 1, n do l[i] = make(i) end return l end");
    die_init("trace.txt");
    G.init();
  }
  void set_list(const std::string& Chunk) { luaL_dostring(G.L, ("render_list = " + Chunk).c_str()); }

  temp_dir Dir;
  game G;
};

void run_frames(benchmark::State& State, const std::string& List)
{
  null_buf Null;
  std::streambuf* Stdout = std::cout.rdbuf(&Null);
  {
    worst_game W;
    W.set_list(List);
    W.G.render();
    glFinish();
    for (auto _ : State) {
      W.G.render();
      glFinish();
    }
  }
  std::cout.rdbuf(Stdout);
}

// 2^20 lines of 100000 dashes each.
void BM_NestedDashlines(benchmark::State& S)
{
  run_frames(S, "nest_pairs(20, {'dashline', -400, 0, 1e9, 0, 1, 0.001, 0.001})");
}
// Three texts of ten million characters.
void BM_LongTexts(benchmark::State& S)
{
  run_frames(S, "list_of(3, function(i) return {'text', -400, 20 * (i - 1), 0.001, string.rep('A', 1e7)} end)");
}
// Texture changes and a transform for every four vertices.
void BM_TinyPicturesUnderScale(benchmark::State& S)
{
  run_frames(S, "nest_pairs(19, {'scale', 0.001, 0.001, {'picture', pic}})");
}
void BM_TinyTexts(benchmark::State& S) { run_frames(S, "nest_pairs(20, {'text', 0, 0, 0.0001, 'A'})"); }
// A transform for every vertex.
void BM_PointArcsUnderTranslate(benchmark::State& S)
{
  run_frames(S, "nest_pairs(19, {'translate', 0, 0, {'circarc', 0, 0, 0, 0, 0, 1}})");
}
// Commands that draw no vertex, up to the command allowance.
void BM_TransformsOfNothing(benchmark::State& S) { run_frames(S, "nest_pairs(19, {'translate', 0, 0, {'none'}})"); }
void BM_EmptyTexts(benchmark::State& S) { run_frames(S, "nest_pairs(20, {'text', 0, 0, 1, ''})"); }
void BM_BandsWithoutStrips(benchmark::State& S)
{
  run_frames(S, "nest_pairs(20, {'terrain', 0, 400, 0, 'data/pic.png', 7})");
}

// Commands whose extra elements the walk leaves unread.
void BM_LongCommands(benchmark::State& S)
{
  run_frames(S, "nest_pairs(20, list_of(10000, function(i) return i == 1 and 'none' or i - 1 end))");
}
// Elements that each fail with a line, up to the command allowance; the
// missing swatch's path takes the file system some 2000 steps to look up.
void BM_FailingElements(benchmark::State& S)
{
  run_frames(S, "nest_pairs(18, {{}, {'nope'}, {'picture', -1},"
                " {'terrain', 0, 400, 100, string.rep('./', 2000) .. 'missing.png', 7}})");
}
// Keywords of a megabyte each.
void BM_LongKeywords(benchmark::State& S)
{
  run_frames(S, "list_of(1000, function() return {string.rep('k', 1e6)} end)");
}
// Bands whose swatch decodes to a depth images refuse.
void BM_RefusedSwatches(benchmark::State& S)
{
  run_frames(S, "list_of(1000, function(i) return {'terrain', 0, 400, 100, 'data/grey.png', i} end)");
}

BENCHMARK(BM_NestedDashlines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TinyPicturesUnderScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TinyTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointArcsUnderTranslate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransformsOfNothing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BandsWithoutStrips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongCommands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FailingElements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongKeywords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefusedSwatches)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
