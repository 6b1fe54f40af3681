// The render-list walk against the real GL context: feedback mode shows every
// primitive drawn, glGet the colour, line width and matrix left behind.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <lua.hpp>
#include <string>
#include <vector>

#include "game.h"
#include "gl_window.h"
#include "image.h"
#include "png_writer.h"
#include "rngen.h"
#include "temp_dir.h"
#include "texture.h"
#include "trace_capture.h"

namespace {

typedef std::vector<std::string> texts;
typedef std::array<double, 16> matrix;

const std::string NotATable = "* game render command fatal: command is not itself a table!";
const std::string EmptyTable = "* game render command fatal: empty table specified!";
const std::string TooDeep =
    "! game render command warning: render list nested deeper than 200 levels or inside itself; skipping the "
    "deeper part";

// A coordinate rounded to a thousandth: "-10", "2.5", never "-0".
std::string coord(double V)
{
  double Rounded = std::round(V * 1000) / 1000;
  if (Rounded == 0) Rounded = 0;
  char Text[32];
  std::snprintf(Text, sizeof Text, "%g", Rounded);
  return Text;
}

std::string point(const fb_vertex& V) { return "(" + coord(world_x(V)) + "," + coord(world_y(V)) + ")"; }

// Line primitives as "(x0,y0)-(x1,y1)" in world units.
texts lines_of(const std::vector<fb_primitive>& Drawn)
{
  texts Lines;
  for (const fb_primitive& P : Drawn) {
    EXPECT_TRUE(P.kind == fb_primitive::LINE || P.kind == fb_primitive::LINE_RESET);
    Lines.push_back(point(P.vertices[0]) + "-" + point(P.vertices[1]));
  }
  return Lines;
}

// Polygons (a quad arrives as two triangles) as their corners in world units.
texts polygons_of(const std::vector<fb_primitive>& Drawn)
{
  texts Polygons;
  for (const fb_primitive& P : Drawn) {
    EXPECT_EQ(fb_primitive::POLYGON, P.kind);
    std::string Text;
    for (const fb_vertex& V : P.vertices) Text += (Text.empty() ? "" : " ") + point(V);
    Polygons.push_back(Text);
  }
  return Polygons;
}

// Rectangles, each drawn as two triangles, as their bounding boxes.
texts boxes_of(const std::vector<fb_primitive>& Drawn)
{
  texts Boxes;
  EXPECT_EQ(0u, Drawn.size() % 2);
  for (size_t a = 0; a + 1 < Drawn.size(); a += 2) {
    double X0 = 1e9, Y0 = 1e9, X1 = -1e9, Y1 = -1e9;
    for (size_t b = a; b < a + 2; ++b) {
      EXPECT_EQ(fb_primitive::POLYGON, Drawn[b].kind);
      for (const fb_vertex& V : Drawn[b].vertices) {
        X0 = std::min(X0, world_x(V));
        Y0 = std::min(Y0, world_y(V));
        X1 = std::max(X1, world_x(V));
        Y1 = std::max(Y1, world_y(V));
      }
    }
    Boxes.push_back("(" + coord(X0) + "," + coord(Y0) + ")-(" + coord(X1) + "," + coord(Y1) + ")");
  }
  return Boxes;
}

matrix modelview()
{
  matrix M;
  glGetDoublev(GL_MODELVIEW_MATRIX, M.data());
  return M;
}

matrix identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

std::array<double, 4> current_color()
{
  std::array<double, 4> C;
  glGetDoublev(GL_CURRENT_COLOR, C.data());
  return C;
}

double line_width()
{
  GLfloat W = 0;
  glGetFloatv(GL_LINE_WIDTH, &W);
  return W;
}

class GameRender : public testing::Test {
 protected:
  game G;

  void SetUp() override
  {
    gl_test_window();
    G.L = luaL_newstate();
    luaL_openlibs(G.L);
    run("function nest(n, inner) local t = inner; for i = 1, n do t = {t} end; return t end");
  }
  void TearDown() override
  {
    lua_close(G.L);
    G.L = nullptr;
  }

  void run(const std::string& Chunk)
  {
    ASSERT_EQ(LUA_OK, luaL_dostring(G.L, Chunk.c_str())) << lua_tostring(G.L, -1);
  }

  // One frame through game::render in feedback mode, over a value of the
  // caller's that must stay where it is.
  std::vector<fb_primitive> frame()
  {
    lua_pushstring(G.L, "caller's value");
    const int Top = lua_gettop(G.L);
    std::vector<fb_primitive> Drawn = gl_feedback([this] { G.render(); });
    EXPECT_EQ(Top, lua_gettop(G.L));
    EXPECT_STREQ("caller's value", lua_tostring(G.L, -1));
    lua_pop(G.L, 1);
    return Drawn;
  }

  std::vector<fb_primitive> draw(const std::string& List)
  {
    run("render_list = " + List);
    return frame();
  }

  // The number of primitives one frame of List makes, counted by GL: Mesa
  // keeps buffers of large feedback batches that LeakSanitizer reports.
  GLuint count_primitives(const std::string& List)
  {
    run("render_list = " + List);
    GLuint Query = 0;
    GLuint Count = 0;
    glGenQueries(1, &Query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, Query);
    G.render();
    glEndQuery(GL_PRIMITIVES_GENERATED);
    glGetQueryObjectuiv(Query, GL_QUERY_RESULT, &Count);
    glDeleteQueries(1, &Query);
    return Count;
  }

  // game::render_command on the value of Expression pushed by the test; the
  // value stays on top afterwards.
  std::vector<fb_primitive> draw_command(const std::string& Expression)
  {
    run("command = " + Expression);
    lua_getglobal(G.L, "command");
    const int Top = lua_gettop(G.L);
    std::vector<fb_primitive> Drawn = gl_feedback([this] { G.render_command(); });
    EXPECT_EQ(Top, lua_gettop(G.L));
    lua_getglobal(G.L, "command");
    EXPECT_TRUE(lua_rawequal(G.L, -1, -2));
    lua_pop(G.L, 2);
    return Drawn;
  }
};

TEST_F(GameRender, SingleCommandsAndNestedListsAreDrawn)
{
  trace_capture Trace;
  EXPECT_TRUE(draw("{'rgba', 1, 0, 0.25, 1}").empty());
  EXPECT_EQ((std::array<double, 4>{1, 0, 0.25, 1}), current_color());

  std::vector<fb_primitive> Drawn =
      draw("{{'rgba', 0, 1, 0, 0.5}, {{{'rect', 0, 0, 10, 10}}, {'rect', 50, 60, 1, 2}}, {'tri', 0, 0, 10, 0, 0, 10}}");
  ASSERT_EQ(5u, Drawn.size());
  EXPECT_EQ((texts{"(-10,-10)-(10,10)", "(49,58)-(51,62)"}), boxes_of({Drawn.begin(), Drawn.begin() + 4}));
  EXPECT_EQ((texts{"(0,0) (10,0) (0,10)"}), polygons_of({Drawn[4]}));
  EXPECT_DOUBLE_EQ(1.0, Drawn[0].vertices[0].g);
  EXPECT_DOUBLE_EQ(0.5, Drawn[0].vertices[0].a);

  EXPECT_EQ((texts{"(1,2) (3,4) (5,6)", "(3,4) (7,8) (5,6)"}), polygons_of(draw("{'quad', 1, 2, 3, 4, 7, 8, 5, 6}")));
  EXPECT_EQ((texts{"(-5,-5)-(5,5)"}), boxes_of(draw_command("{'rect', 0, 0, 5, 5}")));
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRender, MissingEmptyAndNonTableRenderListsAreLoggedEveryFrame)
{
  trace_capture Trace;
  EXPECT_TRUE(frame().empty());
  EXPECT_TRUE(frame().empty());
  EXPECT_TRUE(draw("{}").empty());
  EXPECT_TRUE(frame().empty());
  EXPECT_TRUE(draw("false").empty());
  EXPECT_TRUE(draw("5").empty());
  EXPECT_TRUE(draw("'rect'").empty());
  EXPECT_TRUE(draw_command("nil").empty());
  const std::string Missing = "* game render fatal: couldn't find the global render table";
  EXPECT_EQ((texts{Missing, Missing, EmptyTable, EmptyTable, NotATable, NotATable, NotATable, NotATable}),
            Trace.lines());
}

TEST_F(GameRender, BadListElementsAreReportedOrSkippedAndTheListGoesOn)
{
  trace_capture Trace;
  std::vector<fb_primitive> Drawn =
      draw("{{'rgba', 1, 1, 1, 1}, 'line', {'rect', 0, 0, 10, 10}, {}, {true, 1, 2}, {print, 3}, {'rect', 50, 0, 1, 1}}");
  EXPECT_EQ((texts{"(-10,-10)-(10,10)", "(49,-1)-(51,1)"}), boxes_of(Drawn));
  EXPECT_EQ((texts{NotATable, EmptyTable}), Trace.lines());
}

TEST_F(GameRender, AFrameWritesAHundredLinesThenOneNoticeAndCutsTheScriptTextsTheyQuote)
{
  trace_capture Trace;
  run("list = {{'none'}} for i = 2, 151 do list[i] = true end list[152] = {'rect', 0, 0, 10, 10}");
  texts Frame(100, NotATable);
  Frame.push_back("! game render warning: more than 100 lines in one frame; leaving out the rest of its render lines");
  // Drawing goes on, and the next frame has a hundred lines of its own.
  EXPECT_EQ((texts{"(-10,-10)-(10,10)"}), boxes_of(draw("list")));
  EXPECT_EQ((texts{"(-10,-10)-(10,10)"}), boxes_of(frame()));
  draw("{{string.rep('k', 300)}}");
  texts Expected = Frame;
  Expected.insert(Expected.end(), Frame.begin(), Frame.end());
  Expected.push_back("! game render command warning: unrecognized command ``" + std::string(256, 'k') +
                     "[...]''; skipping");
  EXPECT_EQ(Expected, Trace.lines());
}

TEST_F(GameRender, ArgumentsAreReadInTraversalOrderAsNumbers)
{
  trace_capture Trace;
  EXPECT_TRUE(draw("{'rect', 0, 0, 10}").empty());
  EXPECT_EQ((texts{"(-10,-10)-(10,10)"}), boxes_of(draw("{'rect', 0, 0, 10, 10, 99, 'x', name = 4}")));
  EXPECT_EQ((texts{"(-10,-10)-(10,10)"}), boxes_of(draw("{'rect', 'a', 0, 10, 10}")));
  EXPECT_EQ((texts{"(-5,-10)-(15,10)"}), boxes_of(draw("{'rect', '5', 0, 10, 10}")));
  EXPECT_EQ((texts{"(15,-1)-(17,1)"}), boxes_of(draw("{'rect', '0x10', {}, 1, ' 1 '}")));
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(draw("{'rect', true, print, 1, 1}")));
  EXPECT_TRUE(draw("{'rect', 0, nil, 10, 10}").empty());
  EXPECT_EQ((texts{"(-10,0)-(10,20)"}), boxes_of(draw("{'rect', 0, nil, 10, 10, 10}")));

  // A command abandoned for a missing argument makes no GL call at all.
  EXPECT_EQ((texts{"(0,0)-(10,10)"}), lines_of(draw("{{'rgba', 0, 0, 1, 1}, {'line', 0, 0, 10, 10, 3}}")));
  EXPECT_DOUBLE_EQ(3.0, line_width());
  EXPECT_TRUE(draw("{{'rgba', 1, 1, 1}, {'line', 0, 0, 10, 10}}").empty());
  EXPECT_DOUBLE_EQ(3.0, line_width());
  EXPECT_EQ((std::array<double, 4>{0, 0, 1, 1}), current_color());
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRender, UnrecognizedKeywordsAreWarnedAsWrittenAndDrained)
{
  trace_capture Trace;
  std::vector<fb_primitive> Drawn =
      draw("{{'RGBA', 0, 0, 0, 1}, {7, 1, 2}, {1.5}, {-1e300}, {''}, {'bad\\0tail', 3}, {'rect\\0junk', 0, 0, 1, 1}}");
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(Drawn));
  EXPECT_EQ((std::array<double, 4>{1, 1, 1, 1}), current_color());
  const std::string Warning = "! game render command warning: unrecognized command ``";
  EXPECT_EQ((texts{Warning + "RGBA''; skipping", Warning + "7''; skipping", Warning + "1.5''; skipping",
                   Warning + "-1e+300''; skipping", Warning + "''; skipping", Warning + "bad''; skipping"}),
            Trace.lines());
}

TEST_F(GameRender, ReadingTheListLeavesItUnchanged)
{
  run("render_list = {{7, 1}, {'rect', 1, '2', 3, 4}, {'translate', 1, 2, {'rect', 0, 0, 1, 1}}}");
  frame();
  run(R"(
    assert(type(render_list[1][1]) == 'number' and render_list[1][1] == 7)
    assert(type(render_list[2][2]) == 'number' and type(render_list[2][3]) == 'string')
    local n = 0
    for k, v in pairs(render_list) do n = n + 1 end
    assert(n == 3 and #render_list[2] == 5 and #render_list[3] == 4)
  )");
}

TEST_F(GameRender, TransformsDrawOnlyTheirFirstSubCommandAndRestoreTheMatrix)
{
  trace_capture Trace;
  EXPECT_EQ((texts{"(5,15)-(15,25)"}),
            boxes_of(draw("{'translate', 10, 20, {'rect', 0, 0, 5, 5}, {'rect', 100, 0, 5, 5}}")));
  EXPECT_EQ((texts{"(5,15)-(15,25)", "(105,15)-(115,25)"}),
            boxes_of(draw("{'translate', 10, 20, {{'rect', 0, 0, 5, 5}, {'rect', 100, 0, 5, 5}}}")));
  EXPECT_EQ((texts{"(18,27)-(22,33)", "(9,9)-(11,11)"}),
            boxes_of(draw("{{'scale', 2, 3, {'rect', 10, 10, 1, 1}}, {'rect', 10, 10, 1, 1}}")));
  EXPECT_EQ((texts{"(0,10)-(0,20)", "(-10,0)-(-20,0)"}),
            lines_of(draw("{{'rotate', 1.5707963267948966, {'line', 10, 0, 20, 0, 1}},"
                          " {'rotate', 3.141592653589793, {'line', 10, 0, 20, 0, 1}}}")));
  EXPECT_EQ(identity(), modelview());

  // Without a sub-command (or its numbers) a transform leaves no trace.
  EXPECT_EQ((texts{"(9,-1)-(11,1)"}),
            boxes_of(draw("{{'rotate', 1.5707963267948966}, {'translate', 5}, {'rect', 10, 0, 1, 1}}")));
  EXPECT_EQ(identity(), modelview());
  EXPECT_TRUE(Trace.lines().empty());

  EXPECT_TRUE(draw("{'translate', 5, 5, 'oops'}").empty());
  EXPECT_EQ((texts{NotATable}), Trace.lines());
  EXPECT_EQ(identity(), modelview());
}

TEST_F(GameRender, ZoffsLastsUntilItsTransformEndsOrACamera)
{
  // Window depth under the fixed projection: z 0 gives 0.5, z 0.5 gives 0.25.
  std::vector<fb_primitive> Drawn =
      draw("{{'translate', 0, 0, {{'zoffs', 0.5}, {'rect', 0, 0, 1, 1}}}, {'rect', 0, 0, 1, 1},"
           " {'zoffs', 0.5}, {'rect', 0, 0, 1, 1}}");
  ASSERT_EQ(6u, Drawn.size());
  EXPECT_DOUBLE_EQ(0.25, Drawn[0].vertices[0].z);
  EXPECT_DOUBLE_EQ(0.5, Drawn[2].vertices[0].z);
  EXPECT_DOUBLE_EQ(0.25, Drawn[4].vertices[0].z);
  EXPECT_DOUBLE_EQ(0.5, modelview()[14]);

  // A top-level offset carries into the next frame until a camera.
  Drawn = draw("{{'rect', 0, 0, 1, 1}, {'camera', 0, 0}, {'rect', 0, 0, 1, 1}}");
  ASSERT_EQ(4u, Drawn.size());
  EXPECT_DOUBLE_EQ(0.25, Drawn[0].vertices[0].z);
  EXPECT_DOUBLE_EQ(0.5, Drawn[2].vertices[0].z);
  EXPECT_DOUBLE_EQ(0.0, modelview()[14]);
}

TEST_F(GameRender, CameraCentresItsPointWithYDownwards)
{
  EXPECT_EQ((texts{"(-1,-11)-(1,-9)"}), boxes_of(draw("{{'camera', 100, 50, 'extra', 3}, {'rect', 100, 60, 1, 1}}")));
  const matrix Camera = modelview();
  EXPECT_TRUE(draw("{'camera', 7}").empty());
  EXPECT_EQ(Camera, modelview());
}

TEST_F(GameRender, DashlineDrawsWholePeriodsFromItsStart)
{
  EXPECT_EQ((texts{"(0,0)-(10,0)", "(15,0)-(25,0)", "(30,0)-(40,0)", "(45,0)-(55,0)", "(60,0)-(70,0)",
                   "(75,0)-(85,0)", "(90,0)-(100,0)"}),
            lines_of(draw("{'dashline', 0, 0, 100, 0, 1, 10, 5}")));
  EXPECT_EQ((texts{"(0,0)-(30,0)", "(35,0)-(65,0)", "(70,0)-(100,0)"}),
            lines_of(draw("{'dashline', 0, 0, 100, 0, 1, 30, 5}")));
  EXPECT_EQ((texts{"(0,0)-(40,0)", "(80,0)-(120,0)"}), lines_of(draw("{'dashline', 0, 0, 100, 0, 2, 40, 40}")));
  EXPECT_DOUBLE_EQ(2.0, line_width());
  EXPECT_EQ((texts{"(0,0)-(0,-3)", "(0,-5)-(0,-8)"}), lines_of(draw("{'dashline', 0, 0, 0, -10, 1, 3, 2}")));
  EXPECT_TRUE(draw("{'dashline', 5, 5, 5, 5, 1, 3, 2}").empty());
}

TEST_F(GameRender, DashlineEndsOnEveryPeriodAndLength)
{
  // Periods that are zero or negative, and lines of infinite length, would
  // never finish: they draw nothing.
  EXPECT_TRUE(draw("{{'dashline', 0, 0, 100, 0, 1, 0, 0}, {'dashline', 0, 0, 100, 0, 1, 5, -10},"
                   " {'dashline', 0, 0, 100, 0, 1, 5, -1/0}, {'dashline', 0, 0, 1/0, 0, 1, 10, 5},"
                   " {'dashline', -1/0, 0, 0, 0, 1, 10, 5}}")
                  .empty());
  // An infinite or NaN period leaves no length after the first dash.
  EXPECT_EQ((texts{"(0,0)-(10,0)", "(0,0)-(10,0)"}),
            lines_of(draw("{{'dashline', 0, 0, 100, 0, 1, 10, 1/0}, {'dashline', 0, 0, 100, 0, 1, 10, 0/0}}")));
  // A period too small to shorten a line of 1e20: cut by the frame's budget
  // of 131072 vertices.
  EXPECT_EQ(65536u, count_primitives("{'dashline', 0, 0, 1e20, 0, 1, 0.002, 0.001}"));
  EXPECT_EQ(7u, count_primitives("{'dashline', 0, 0, 100, 0, 1, 10, 5}"));
}

TEST_F(GameRender, CircarcDrawsOneSegmentPer25UnitsOfArc)
{
  std::vector<fb_primitive> Drawn = draw("{'circarc', 0, 0, 100, 0, 6.283185307179586, 2}");
  ASSERT_EQ(25u, Drawn.size());
  EXPECT_EQ("(100,0)-(96.858,24.869)", lines_of({Drawn.front()})[0]);
  EXPECT_EQ("(96.858,-24.869)-(100,0)", lines_of({Drawn.back()})[0]);
  EXPECT_DOUBLE_EQ(2.0, line_width());
  EXPECT_EQ((texts{"(10,20)-(-10,20)"}), lines_of(draw("{'circarc', 0, 20, 10, 0, 3.141592653589793, 1}")));
  EXPECT_TRUE(draw("{'circarc', 0, 0, 10, 0, 1, 1}").empty());
  EXPECT_TRUE(draw("{'circarc', 0, 0, 100, 6.283185307179586, 0, 1}").empty());
}

TEST_F(GameRender, CircarcSegmentCountIsBounded)
{
  // Counts that are not a number, beyond the int range or infinite: nothing.
  EXPECT_TRUE(draw("{{'circarc', 0, 0, 0/0, 0, 1, 1}, {'circarc', 0, 0, 100, 0, 0/0, 1},"
                   " {'circarc', 0, 0, 1e300, 0, 1, 1}, {'circarc', 0, 0, 100, 0, 1/0, 1}}")
                  .empty());
  // 4000000 segments asked for: the arc is drawn whole in 100000.
  EXPECT_EQ(100000u, count_primitives("{'circarc', 0, 0, 100, 0, 1000000, 1}"));
}

TEST_F(GameRender, NonFiniteArgumentsDrawWithoutHarm)
{
  draw("{{'rgba', 0/0, 1/0, -1/0, 1}, {'line', 0/0, 0, 1/0, 0, 0/0}, {'rect', 1/0, -1/0, 0/0, 1e300},"
       " {'tri', 1e300, 0, 0, 1e300, 0, 0}, {'scale', 0/0, 1/0, {'rect', 0, 0, 1, 1}}, {'rgba', 1, 1, 1, 1}}");
  EXPECT_EQ(identity(), modelview());
  EXPECT_EQ((std::array<double, 4>{1, 1, 1, 1}), current_color());
}

TEST_F(GameRender, NestingBeyondTheDepthCapIsSkippedWithOneWarningPerFrame)
{
  trace_capture Trace;
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(draw("nest(199, {'rect', 0, 0, 1, 1})")));
  EXPECT_TRUE(Trace.lines().empty());

  run("render_list = {nest(200, {'rect', 0, 0, 1, 1}), nest(300, {'rect', 0, 0, 1, 1}), {'rect', 5, 0, 1, 1}}");
  EXPECT_EQ((texts{"(4,-1)-(6,1)"}), boxes_of(frame()));
  EXPECT_EQ((texts{"(4,-1)-(6,1)"}), boxes_of(frame()));
  EXPECT_EQ((texts{TooDeep, TooDeep}), Trace.lines());

  // Deeper than the Lua stack would go without reserving room.
  EXPECT_TRUE(draw("nest(100000, {'rect', 0, 0, 1, 1})").empty());
  EXPECT_TRUE(draw_command("nest(100000, {'rect', 0, 0, 1, 1})").empty());
  EXPECT_EQ((texts{TooDeep, TooDeep, TooDeep, TooDeep}), Trace.lines());
}

TEST_F(GameRender, TablesInsideThemselvesEndTheWalkThere)
{
  trace_capture Trace;
  run(R"(
    local t = {}
    t[1] = t; t[2] = t; t[3] = {'rect', 0, 0, 1, 1}
    local a, b = {}, {}
    a[1] = b; a[2] = b; b[1] = a; b[2] = a; b[3] = {'rect', 5, 0, 1, 1}
    local sub = {'translate', 100, 0}
    sub[4] = sub
    render_list = {t, a, sub, {'rect', 10, 0, 1, 1}}
  )");
  // b is reached twice through a, so its rectangle is drawn twice.
  EXPECT_EQ((texts{"(-1,-1)-(1,1)", "(4,-1)-(6,1)", "(4,-1)-(6,1)", "(9,-1)-(11,1)"}), boxes_of(frame()));
  EXPECT_EQ((texts{TooDeep}), Trace.lines());
  EXPECT_EQ(identity(), modelview());
}

TEST_F(GameRender, CommandsBeyondTheFrameAllowanceAreSkipped)
{
  trace_capture Trace;
  const std::string TooMany =
      "! game render command warning: more than 1048576 commands in one frame; skipping the rest";
  // The list itself counts, so 1048575 of its offsets are applied.
  run("local z = {'zoffs', 1}; render_list = {}; for i = 1, 1048600 do render_list[i] = z end");
  G.render();
  EXPECT_DOUBLE_EQ(1048575.0, modelview()[14]);
  EXPECT_EQ((texts{TooMany}), Trace.lines());

  // Shared tables naming 2^40 commands: the frame still ends.
  run("local d = {'none'}; for i = 1, 40 do d = {d, d} end; render_list = d");
  G.render();
  EXPECT_EQ((texts{TooMany, TooMany}), Trace.lines());
}

TEST_F(GameRender, VerticesBeyondTheFrameBudgetAreSkippedWithOneWarningPerFrame)
{
  trace_capture Trace;
  const std::string TooMany =
      "! game render command warning: more than 131072 vertices in one frame; skipping the rest";
  // A rectangle, then 2^20 lines of 100000 dashes each: the first line draws
  // the 65534 dashes that fit beside the rectangle's four vertices, and
  // nothing after that is done, not even a change of colour.
  const std::string List = "{{'rgba', 1, 0, 0, 1}, {'rect', 0, 0, 1, 1},"
                           " nest_pairs(20, {'dashline', -400, 0, 1e9, 0, 1, 0.001, 0.001}), {'rgba', 0, 1, 0, 1}}";
  run("function nest_pairs(n, t) for i = 1, n do t = {t, t} end return t end");
  EXPECT_EQ(65535u, count_primitives(List));
  EXPECT_EQ((std::array<double, 4>{1, 0, 0, 1}), current_color());
  EXPECT_EQ((texts{TooMany}), Trace.lines());
  EXPECT_EQ(65535u, count_primitives(List));
  EXPECT_EQ((texts{TooMany, TooMany}), Trace.lines());
}

TEST_F(GameRender, DeepTransformNestsRestoreTheMatrixExactly)
{
  GLint MaxStack = 0;
  glGetIntegerv(GL_MAX_MODELVIEW_STACK_DEPTH, &MaxStack);
  ASSERT_LT(MaxStack, 100);
  glTranslated(1.5, -2.25, 0.125);
  glRotated(30, 0, 0, 1);
  const matrix Before = modelview();
  run(R"(
    function translates(n, inner)
      local t = inner
      for i = 1, n do t = {'translate', 1, 2, t} end
      return t
    end
  )");
  std::vector<fb_primitive> Drawn = draw(
      "{translates(100, {{'rotate', 0}, {'camera', 3, 4}, {'rect', 0, 0, 1, 1}}), {'rect', 0, 0, 1, 1},"
      " translates(100, {'rotate', 1}), translates(50, {'scale', 2}), translates(100, {'rect', 0, 0, 1, 1})}");
  EXPECT_EQ(Before, modelview());
  GLint Depth = 0;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &Depth);
  EXPECT_EQ(1, Depth);
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());

  glLoadIdentity();
  Drawn = draw("{translates(100, {'rect', 0, 0, 1, 1}), {'rect', 0, 0, 1, 1}}");
  EXPECT_EQ((texts{"(99,199)-(101,201)", "(-1,-1)-(1,1)"}), boxes_of(Drawn));
  EXPECT_EQ(identity(), modelview());
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

TEST_F(GameRender, ErrorsFetchingTheListAreLoggedAndTheFrameGoesOn)
{
  trace_capture Trace;
  run("setmetatable(_G, {__index = function(t, k) if k == 'render_list' then error('no list here', 0) end end})");
  EXPECT_TRUE(frame().empty());
  run("setmetatable(_G, {__index = function(t, k) if k == 'render_list' then error({}) end end})");
  EXPECT_TRUE(frame().empty());
  const std::string Warning = "! game render warning: error reading the global render table";
  EXPECT_EQ((texts{Warning, "! --- no list here", Warning, "! --- (error object is a table value)"}),
            Trace.lines());

  run("setmetatable(_G, {__index = function(t, k) if k == 'render_list' then return {'rect', 0, 0, 1, 1} end end})");
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(frame()));
}

// The asset commands, over pictures, a swatch and a font atlas written into
// a temporary working directory. The image cache and the texture registry
// live as long as the process, so every file is written with the same bytes
// in every test and textures are named by the indices their loads return.
class GameRenderAssets : public GameRender {
 protected:
  temp_dir Dir;
  ref<texture> Wide;    // 4 x 2, opaque white
  ref<texture> Tall;    // 2 x 6, opaque white
  ref<texture> Banded;  // 4 x 4: two red rows over two blue rows
  ref<image> Swatch;    // 2 x 2: four colours, one half transparent

  void SetUp() override
  {
    GameRender::SetUp();
    write_png("data/render_wide.png", 4, 2, 4, std::vector<unsigned char>(4 * 2 * 4, 255));
    write_png("data/render_tall.png", 2, 6, 4, std::vector<unsigned char>(2 * 6 * 4, 255));
    std::vector<unsigned char> Bands;
    for (int Pixel = 0; Pixel < 16; ++Pixel)
      Bands.insert(Bands.end(), {static_cast<unsigned char>(Pixel < 8 ? 255 : 0), 0,
                                 static_cast<unsigned char>(Pixel < 8 ? 0 : 255), 255});
    write_png("data/render_banded.png", 4, 4, 4, Bands);
    write_png("swatch.png", 2, 2, 4, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 128, 255, 255, 0, 255});
    Wide = texture_load("data/render_wide.png", false);
    Tall = texture_load("data/render_tall.png", false);
    Banded = texture_load("data/render_banded.png", false);
    Swatch = image_load("swatch.png");
    ASSERT_FALSE(Wide.null() || Tall.null() || Banded.null() || Swatch.null());
  }

  // The global id is the texture's registry index.
  void set_id(const ref<texture>& T)
  {
    lua_pushnumber(G.L, T.c_ptr()->get_id);
    lua_setglobal(G.L, "id");
  }
  std::vector<fb_primitive> draw_with_id(const std::string& List, const ref<texture>& T)
  {
    set_id(T);
    return draw(List);
  }

  // One real frame of List on a black back buffer.
  void render_pixels(const std::string& List)
  {
    run("render_list = " + List);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    G.render();
  }

  // The game font: pixel size 10; "h" 0.5 wide with advance 0.6, "i" 0.2
  // wide with advance 0.3, both 1 high with their top at the pen; "4" and
  // "2" like "i".
  void make_font()
  {
    write_png("data/render_font.png", 2, 2, 4, std::vector<unsigned char>(16, 255));
    run("font = { texture = 'data/render_font.png', pixelsize = 10,"
        "  glyph_104 = { bearing_x = 0.1, bearing_y = 1, size_x = 0.5, size_y = 1, advance = 0.6 },"
        "  glyph_105 = { bearing_y = 1, texcoord_x = 0.5, size_x = 0.2, size_y = 1, advance = 0.3 } }"
        "font.glyph_52 = font.glyph_105 font.glyph_50 = font.glyph_105");
    G.F = mkref(new font());
    lua_getglobal(G.L, "font");
    G.F->init(G.L);
    lua_pop(G.L, 1);
  }
};

// A corner as "(x,y)" in world units with its texture coordinate "s,t".
std::string textured_point(const fb_vertex& V) { return point(V) + coord(V.s) + "," + coord(V.t); }

std::array<double, 3> current_normal()
{
  std::array<double, 3> N;
  GLfloat Values[3];
  glGetFloatv(GL_CURRENT_NORMAL, Values);
  for (int a = 0; a < 3; ++a) N[a] = Values[a];
  return N;
}

GLint bound_texture()
{
  GLint Name = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &Name);
  return Name;
}

std::string rgb(const pixel_rgba& P)
{
  return std::to_string(P.r) + " " + std::to_string(P.g) + " " + std::to_string(P.b);
}

TEST_F(GameRenderAssets, PictureDrawsItsTextureAtOneUnitPerTexelAroundTheOrigin)
{
  trace_capture Trace;
  texts Corners;
  for (const fb_vertex& V : fb_quad_corners(draw_with_id("{'picture', id, 'extra', {}}", Wide)))
    Corners.push_back(textured_point(V));
  EXPECT_EQ((texts{"(-2,-1)0,0", "(2,-1)1,0", "(2,1)1,1", "(-2,1)0,1"}), Corners);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(Wide->id, bound_texture());
  EXPECT_EQ((std::array<double, 3>{0, 0, -1}), current_normal());
  std::array<GLfloat, 4> TexCoord;
  glGetFloatv(GL_CURRENT_TEXTURE_COORDS, TexCoord.data());
  EXPECT_EQ((std::array<GLfloat, 4>{0, 1, 0, 1}), TexCoord);

  EXPECT_EQ((texts{"(9,17)-(11,23)"}), boxes_of(draw_with_id("{'translate', 10, 20, {'picture', id}}", Tall)));
  // Indices truncate toward zero.
  EXPECT_EQ((texts{"(-1,-3)-(1,3)"}), boxes_of(draw_with_id("{'picture', id + 0.9}", Tall)));
  EXPECT_EQ(Tall->id, bound_texture());
  const ref<texture> First = texture_get(0);
  const double HalfW = First->size_in_pixels[0] / 2, HalfH = First->size_in_pixels[1] / 2;
  EXPECT_EQ((texts{"(" + coord(-HalfW) + "," + coord(-HalfH) + ")-(" + coord(HalfW) + "," + coord(HalfH) + ")"}),
            boxes_of(draw("{'picture', -0.5}")));
  EXPECT_EQ(First->id, bound_texture());
  EXPECT_TRUE(draw("{'picture'}").empty());
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRenderAssets, PictureOutsideTheRegistryDrawsNothingAndTheListGoesOn)
{
  trace_capture Trace;
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}),
            boxes_of(draw("{{'picture', -1}, {'picture', 0/0}, {'picture', 3e9}, {'picture', 2147483647},"
                          " {'rect', 0, 0, 1, 1}}")));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ((texts{"* texture get fatal: texture -1 out of range",
                   "* texture get fatal: texture -2147483648 out of range",
                   "* texture get fatal: texture -2147483648 out of range",
                   "* texture get fatal: texture 2147483647 out of range"}),
            Trace.lines());
}

TEST_F(GameRenderAssets, PictureShowsItsTopRowBelowTheOriginTintedByTheCurrentColour)
{
  // Window rows 298 and 299 show texture rows 0 and 1 (world y -2 to 0).
  set_id(Banded);
  render_pixels("{{'rgba', 1, 1, 1, 1}, {'picture', id}}");
  EXPECT_EQ("255 0 0", rgb(gl_read_pixel(400, 298)));
  EXPECT_EQ("255 0 0", rgb(gl_read_pixel(398, 299)));
  EXPECT_EQ("0 0 255", rgb(gl_read_pixel(401, 301)));
  EXPECT_EQ("0 0 0", rgb(gl_read_pixel(400, 302)));
  EXPECT_EQ("0 0 0", rgb(gl_read_pixel(402, 300)));
  EXPECT_EQ("0 0 0", rgb(gl_read_pixel(397, 300)));

  render_pixels("{{'rgba', 0, 1, 1, 1}, {'picture', id}}");
  EXPECT_EQ("0 0 0", rgb(gl_read_pixel(400, 298)));
  EXPECT_EQ("0 0 255", rgb(gl_read_pixel(400, 301)));

  // Half opacity over black.
  render_pixels("{{'rgba', 1, 1, 1, 0.5}, {'picture', id}}");
  const pixel_rgba Half = gl_read_pixel(400, 298);
  EXPECT_NEAR(128, Half.r, 1);
  EXPECT_EQ(0, Half.g);
  EXPECT_EQ(0, Half.b);
}

struct strip {
  double y0, y1;      // world y of the strip's bottom and top
  double r, g, b, a;  // its one colour
};

// The strips of {'terrain', Y, W, H, 'swatch.png', Seed}, worked out here.
std::vector<strip> expected_strips(const image& Swatch, double Y, double H, unsigned long Seed)
{
  rngen RN;
  RN.seed(Seed);
  std::vector<strip> Strips;
  for (double CurY = Y; H + Y > CurY;) {
    const double NextY = (25 * RN.get() + CurY) + 10;
    const fcolor C = Swatch.get_any_pixel(RN);
    Strips.push_back({CurY, NextY, C[0], C[1], C[2], C[3]});
    CurY = NextY;
  }
  return Strips;
}

// The strips drawn, checking that each is a quad given as (-W, y0),
// (-W, y1), (W, y1), (W, y0) in one colour.
std::vector<strip> drawn_strips(const std::vector<fb_primitive>& Drawn, double W)
{
  std::vector<strip> Strips;
  const std::vector<fb_vertex> Corners = fb_quad_corners(Drawn);
  for (size_t a = 0; a + 3 < Corners.size(); a += 4) {
    const fb_vertex* Q = &Corners[a];
    const double Xs[4] = {-W, -W, W, W};
    for (int b = 0; b < 4; ++b) {
      EXPECT_NEAR(Xs[b], world_x(Q[b]), 1e-3);
      EXPECT_TRUE(Q[b].r == Q[0].r && Q[b].g == Q[0].g && Q[b].b == Q[0].b && Q[b].a == Q[0].a);
    }
    EXPECT_NEAR(world_y(Q[0]), world_y(Q[3]), 1e-3);
    EXPECT_NEAR(world_y(Q[1]), world_y(Q[2]), 1e-3);
    Strips.push_back({world_y(Q[0]), world_y(Q[1]), Q[0].r, Q[0].g, Q[0].b, Q[0].a});
  }
  return Strips;
}

void expect_strips(const std::vector<strip>& Want, const std::vector<strip>& Got)
{
  ASSERT_EQ(Want.size(), Got.size());
  for (size_t a = 0; a < Want.size(); ++a) {
    EXPECT_NEAR(Want[a].y0, Got[a].y0, 1e-3) << "strip " << a;
    EXPECT_NEAR(Want[a].y1, Got[a].y1, 1e-3) << "strip " << a;
    EXPECT_EQ((std::array<double, 4>{Want[a].r, Want[a].g, Want[a].b, Want[a].a}),
              (std::array<double, 4>{Got[a].r, Got[a].g, Got[a].b, Got[a].a}))
        << "strip " << a;
  }
}

TEST_F(GameRenderAssets, TerrainDrawsTheSameSeededStripsOfItsSwatchEveryFrame)
{
  trace_capture Trace;
  run("render_list = {{'rgba', 1, 0, 0, 1}, {'terrain', 0, 400, 100, 'swatch.png', 7, 'extra'}}");
  const std::vector<strip> Strips = drawn_strips(frame(), 400);
  expect_strips(expected_strips(*Swatch.ptr(), 0, 100, 7), Strips);
  ASSERT_GE(Strips.size(), 3u);
  ASSERT_LE(Strips.size(), 10u);
  EXPECT_NEAR(0, Strips.front().y0, 1e-9);
  EXPECT_GE(Strips.back().y1, 100);
  EXPECT_LE(Strips.back().y1, 135);
  for (size_t a = 0; a < Strips.size(); ++a) {
    EXPECT_GE(Strips[a].y1 - Strips[a].y0, 10 - 1e-3);
    EXPECT_LE(Strips[a].y1 - Strips[a].y0, 35 + 1e-3);
    if (a > 0) {
      EXPECT_EQ(Strips[a - 1].y1, Strips[a].y0);
    }
  }
  EXPECT_EQ((std::array<double, 4>{1, 1, 1, 1}), current_color());
  expect_strips(Strips, drawn_strips(frame(), 400));

  // Seed 0 counts as 1; another seed draws another band.
  expect_strips(drawn_strips(draw("{'terrain', -50, 30, 200, 'swatch.png', 1}"), 30),
                drawn_strips(draw("{'terrain', -50, 30, 200, 'swatch.png', 0}"), 30));
  expect_strips(expected_strips(*Swatch.ptr(), 0, 100, 8),
                drawn_strips(draw("{'terrain', 0, 400, 100, 'swatch.png', 8}"), 400));
  EXPECT_NE(expected_strips(*Swatch.ptr(), 0, 100, 8)[0].y1, expected_strips(*Swatch.ptr(), 0, 100, 7)[0].y1);
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRenderAssets, TerrainWithoutBandSwatchOrSeedDrawsNothing)
{
  trace_capture Trace;
  // An empty band still leaves opaque white.
  EXPECT_TRUE(draw("{{'rgba', 1, 0, 0, 1}, {'terrain', 0, 400, 0, 'swatch.png', 7}}").empty());
  EXPECT_EQ((std::array<double, 4>{1, 1, 1, 1}), current_color());
  EXPECT_TRUE(draw("{{'rgba', 1, 0, 0, 1}, {'terrain', 0, 400, 100, 'swatch.png'}, {'terrain', 0, 400, 100, 'none.png'}}")
                  .empty());
  EXPECT_TRUE(Trace.lines().empty());

  // The swatch path is used as it stands, tried again every frame.
  run("render_list = {{'rgba', 1, 0, 0, 1}, {'terrain', 0, 400, 100, 'none.png', 7}, {'terrain', 0, 400, 100, 'swatch', 7}}");
  EXPECT_TRUE(frame().empty());
  EXPECT_TRUE(frame().empty());
  EXPECT_EQ((std::array<double, 4>{1, 0, 0, 1}), current_color());
  const texts Failed = {"- image load: loading none.png", "* image load fatal: couldn't load image file ``none.png''",
                        "- image load: loading swatch", "* image load fatal: couldn't load image file ``swatch''"};
  texts Twice = Failed;
  Twice.insert(Twice.end(), Failed.begin(), Failed.end());
  EXPECT_EQ(Twice, Trace.lines());
}

TEST_F(GameRenderAssets, TerrainEndsWhenItsBandCannotBeReached)
{
  // Strips that no longer raise the band's y, and bands that are not numbers.
  EXPECT_TRUE(draw("{{'terrain', 1e18, 400, 1000, 'swatch.png', 7}, {'terrain', -1e300, 400, 1e300, 'swatch.png', 7},"
                   " {'terrain', 0/0, 400, 100, 'swatch.png', 7}, {'terrain', 0, 400, 0/0, 'swatch.png', 7},"
                   " {'terrain', -1/0, 400, 1/0, 'swatch.png', 7}}")
                  .empty());
  // Infinite and huge bands end with the frame's budget of 131072 vertices,
  // before the band's own cap (GL counts a quad as one).
  EXPECT_EQ(32768u, count_primitives("{'terrain', 0, 400, 1/0, 'swatch.png', 7}"));
  EXPECT_EQ(32768u, count_primitives("{'terrain', 0, 400, 1e300, 'swatch.png', 7}"));
  EXPECT_EQ((std::array<double, 4>{1, 1, 1, 1}), current_color());
}

TEST_F(GameRenderAssets, TextStartsEndsOrIsCentredAtXInTheGameFont)
{
  make_font();
  trace_capture Trace;
  std::vector<fb_primitive> Drawn = draw("{{'rgba', 1, 0, 0.5, 1}, {'text', 10, 20, 2, 'hi'}}");
  EXPECT_EQ((texts{"(12,0)-(22,20)", "(22,0)-(26,20)"}), boxes_of(Drawn));
  ASSERT_FALSE(Drawn.empty());
  EXPECT_DOUBLE_EQ(1.0, Drawn[0].vertices[0].r);
  EXPECT_DOUBLE_EQ(0.5, Drawn[0].vertices[0].b);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  // "hi" at size 2 is 18 wide.
  EXPECT_EQ((texts{"(-6,0)-(4,20)", "(4,0)-(8,20)"}), boxes_of(draw("{'righttext', 10, 20, 2, 'hi'}")));
  EXPECT_EQ((texts{"(3,0)-(13,20)", "(13,0)-(17,20)"}), boxes_of(draw("{'centertext', 10, 20, 2, 'hi'}")));

  // A number is its text; a text ends at its first zero byte.
  const texts FortyTwo = {"(0,-10)-(2,0)", "(3,-10)-(5,0)"};
  EXPECT_EQ(FortyTwo, boxes_of(draw("{'text', 0, 0, 1, 42}")));
  EXPECT_EQ(FortyTwo, boxes_of(draw("{'text', 0, 0, 1, '42\\0h'}")));
  EXPECT_EQ(FortyTwo, boxes_of(draw("{'text', 0, 0, 1, nil, '42'}")));
  EXPECT_TRUE(draw("{{'text', 0, 0, 1}, {'centertext', 0, 0, 1, ''}, {'righttext', 0, 0, 1, 'xyz'}}").empty());
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRenderAssets, TextAndSwatchOfAnotherKindAbandonTheirCommandSilently)
{
  make_font();
  trace_capture Trace;
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}),
            boxes_of(draw("{{'text', 0, 0, 1, {}}, {'righttext', 0, 0, 1, true, 'hi'}, {'centertext', 0, 0, 1, print},"
                          " {'terrain', 0, 400, 100, {}, 7}, {'terrain', 0, 400, 100, false, 'swatch.png', 7},"
                          " {'rect', 0, 0, 1, 1}}")));
  EXPECT_TRUE(Trace.lines().empty());
}

TEST_F(GameRenderAssets, TextWithoutAGameFontDrawsNothing)
{
  trace_capture Trace;
  const std::string List = "{{'text', 0, 0, 1, 'hi'}, {'righttext', 0, 0, 1, 'hi'}, {'centertext', 0, 0, 1, 'hi'}, {'rect', 0, 0, 1, 1}}";
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(draw(List)));
  G.F = mkref(new font());
  EXPECT_EQ((texts{"(-1,-1)-(1,1)"}), boxes_of(draw(List)));
  EXPECT_TRUE(Trace.lines().empty());
}

}  // namespace
