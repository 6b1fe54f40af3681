#include "font.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <lua.hpp>

#include <filesystem>

#include "gl_window.h"
#include "png_writer.h"
#include "temp_dir.h"
#include "trace_capture.h"

namespace {

const char* const ATLAS = "data/font_test_atlas.png";

// Worked example: pixel size 64, one glyph for "A".
const char* const EXAMPLE_FONT =
    "font = { texture = 'data/font_test_atlas.png', pixelsize = 64,"
    "  glyph_65 = { bearing_x = 0.125, bearing_y = 0.25, texcoord_x = 0.25, texcoord_y = 0.5,"
    "               size_x = 0.0625, size_y = 0.125, advance = 0.1875 } }";

class Font : public testing::Test {
 protected:
  void SetUp() override
  {
    gl_test_window();
    write_png(ATLAS, 2, 2, 4, std::vector<unsigned char>(16, 255));
    // Loaded here once, so that no test sees the atlas's first-load line.
    Atlas = texture_load(ATLAS, true);
    ASSERT_FALSE(Atlas.null());
    L = luaL_newstate();
    luaL_openlibs(L);
  }
  void TearDown() override { lua_close(L); }

  // Runs Script, then pushes the global font.
  void push_font_table(const char* Script)
  {
    ASSERT_EQ(luaL_dostring(L, Script), LUA_OK) << lua_tostring(L, -1);
    lua_getglobal(L, "font");
  }
  // A font built from the global font that Script sets; the stack is restored.
  void init_from(font& F, const char* Script)
  {
    push_font_table(Script);
    F.init(L);
    lua_pop(L, 1);
  }

  temp_dir Dir;
  ref<texture> Atlas;
  lua_State* L = nullptr;
};

struct drawn_vertex {
  double x, y, s, t;
};

drawn_vertex world(const fb_vertex& V) { return {world_x(V), world_y(V), V.s, V.t}; }

// The corners of every quad Draw makes, in the order they were given, in
// world units.
std::vector<drawn_vertex> drawn(const std::function<void()>& Draw)
{
  std::vector<drawn_vertex> Corners;
  for (const fb_vertex& Corner : fb_quad_corners(gl_feedback(Draw))) Corners.push_back(world(Corner));
  return Corners;
}

void expect_vertices(const std::vector<drawn_vertex>& Got, const std::vector<drawn_vertex>& Want)
{
  ASSERT_EQ(Got.size(), Want.size());
  for (size_t i = 0; i < Want.size(); ++i) {
    EXPECT_NEAR(Got[i].x, Want[i].x, 1e-3) << "vertex " << i;
    EXPECT_NEAR(Got[i].y, Want[i].y, 1e-3) << "vertex " << i;
    EXPECT_DOUBLE_EQ(Got[i].s, Want[i].s) << "vertex " << i;
    EXPECT_DOUBLE_EQ(Got[i].t, Want[i].t) << "vertex " << i;
  }
}

GLint bound_texture()
{
  GLint Name = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &Name);
  return Name;
}

const rpos UNIT_SCALE = mkrpos(1, 1, 1);

}  // namespace

TEST_F(Font, WorkedExampleGlyphIsDrawnWithAndWithoutItalics)
{
  font F;
  init_from(F, EXAMPLE_FONT);
  const rpos Pen = mkrpos(10, 20, 0);
  expect_vertices(drawn([&] { F.render_char(Pen, UNIT_SCALE, 'A', false); }),
                  {{18, 12, 0.25, 0.625}, {22, 12, 0.3125, 0.625}, {22, 4, 0.3125, 0.5}, {18, 4, 0.25, 0.5}});
  expect_vertices(drawn([&] { F.render_char(Pen, UNIT_SCALE, 'A', true); }),
                  {{17, 12, 0.25, 0.625}, {21, 12, 0.3125, 0.625}, {23, 4, 0.3125, 0.5}, {19, 4, 0.25, 0.5}});
  // The pen moves 12 after each glyph; a code without a glyph draws nothing
  // and does not move it.
  expect_vertices(drawn([&] { F.render_string(Pen, UNIT_SCALE, "AzA", false); }),
                  {{18, 12, 0.25, 0.625}, {22, 12, 0.3125, 0.625}, {22, 4, 0.3125, 0.5}, {18, 4, 0.25, 0.5},
                   {30, 12, 0.25, 0.625}, {34, 12, 0.3125, 0.625}, {34, 4, 0.3125, 0.5}, {30, 4, 0.25, 0.5}});
  // Scale multiplies x and y separately.
  expect_vertices(drawn([&] { F.render_char(mkrpos(0, 0, 0), mkrpos(2, 0.5, 1), 'A', false); }),
                  {{16, -4, 0.25, 0.625}, {24, -4, 0.3125, 0.625}, {24, -8, 0.3125, 0.5}, {16, -8, 0.25, 0.5}});

  // Drawing leaves the atlas bound and texturing off.
  EXPECT_EQ(bound_texture(), Atlas->id);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(Font, AdvanceAndLengthScaleByPixelSizeAndScaleX)
{
  font F;
  init_from(F, "font = { texture = 'data/font_test_atlas.png', pixelsize = '20',"
               "  glyph_65 = { advance = 0.5 }, glyph_66 = 5, glyph_200 = { advance = '0.25' } }");
  EXPECT_EQ(F.get_advance(65), 10);
  EXPECT_EQ(F.get_advance(66), 0);
  EXPECT_EQ(F.get_advance(200), 5);
  const rpos Scale = mkrpos(2, 2, 1);
  EXPECT_EQ(F.get_length(Scale, "AA"), 40);
  EXPECT_EQ(F.get_length(Scale, "AB"), 20);
  EXPECT_EQ(F.get_length(Scale, "A\xc8"), 30);
  EXPECT_EQ(F.get_length(Scale, ""), 0);

  // A second init replaces the glyphs its table defines and keeps the others.
  init_from(F, "font = { texture = 'data/font_test_atlas.png', pixelsize = 20, glyph_66 = { advance = 1 } }");
  EXPECT_EQ(F.get_advance(65), 10);
  EXPECT_EQ(F.get_advance(66), 20);
}

TEST_F(Font, GlyphWithOnlyASizeDrawsItAtThePen)
{
  font F;
  init_from(F, "font = { texture = 'data/font_test_atlas.png', pixelsize = 8, glyph_66 = { size_x = 0.5, size_y = 0.25 } }");
  expect_vertices(drawn([&] { F.render_char(mkrpos(0, 0, 0), UNIT_SCALE, 'B', false); }),
                  {{0, 2, 0, 0.25}, {4, 2, 0.5, 0.25}, {4, 0, 0.5, 0}, {0, 0, 0, 0}});
  EXPECT_EQ(F.get_advance('B'), 0);
}

TEST_F(Font, OnlyTheKnownFieldsAreReadInOrder)
{
  // Every field read goes through __index, which records the key.
  push_font_table(
      "asked = {}\n"
      "local fields = { texture = 'data/font_test_atlas.png', pixelsize = 1, glyph_0 = {}, glyph_255 = {},"
      "  ['glyph_-1'] = {}, glyph_256 = {} }\n"
      "font = setmetatable({}, { __index = function(t, k) asked[#asked + 1] = k; return fields[k] end })");
  font F;
  F.init(L);
  lua_pop(L, 1);
  ASSERT_EQ(luaL_dostring(L, "return table.concat(asked, ',')"), LUA_OK);
  std::string Expected = "texture,pixelsize";
  for (int i = 0; i < 256; ++i) Expected += ",glyph_" + std::to_string(i);
  EXPECT_EQ(lua_tostring(L, -1), Expected);
}

TEST_F(Font, TableWithoutTextureLeavesAnEmptyFontThatDrawsNothing)
{
  font F;
  trace_capture Trace;
  init_from(F, "font = { pixelsize = 10, glyph_65 = { advance = 1, size_x = 1, size_y = 1 } }");
  EXPECT_EQ(Trace.lines(), (std::vector<std::string>{"- texture load: loading ",
                                                     "* texlib load texdata fatal: couldn't load image file ``''",
                                                     "* font init fatal: couldn't load texture ``''"}));
  EXPECT_EQ(F.get_advance(65), 0);
  EXPECT_EQ(F.get_length(UNIT_SCALE, "AAA"), 0);

  // No GL call at all: texturing stays on, the binding stays as it was.
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_TRUE(drawn([&] {
                F.render_string(mkrpos(0, 0, 0), UNIT_SCALE, "A", false);
                F.render_char(mkrpos(0, 0, 0), UNIT_SCALE, 'A', false);
              }).empty());
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(bound_texture(), 0);
}

TEST_F(Font, EmptyTextStillBindsEnablesAndDisablesTheAtlas)
{
  font F;
  init_from(F, EXAMPLE_FONT);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_TRUE(drawn([&] { F.render_string(mkrpos(0, 0, 0), UNIT_SCALE, "", false); }).empty());
  EXPECT_EQ(bound_texture(), Atlas->id);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(F.get_length(UNIT_SCALE, ""), 0);

  // clear() drops glyphs and atlas: nothing is drawn afterwards.
  F.clear();
  EXPECT_EQ(F.get_advance('A'), 0);
  glEnable(GL_TEXTURE_2D);
  EXPECT_TRUE(drawn([&] { F.render_string(mkrpos(0, 0, 0), UNIT_SCALE, "A", false); }).empty());
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(Font, InitLeavesTheStackAsFoundOnEveryPath)
{
  lua_pushinteger(L, 7);
  push_font_table(EXAMPLE_FONT);
  const int Top = lua_gettop(L);
  font F;
  F.init(L);
  EXPECT_EQ(lua_gettop(L), Top);
  lua_getglobal(L, "font");
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  EXPECT_EQ(lua_tointeger(L, -3), 7);
  lua_settop(L, 0);

  // A string can be indexed but has none of the fields.
  trace_capture Trace;
  lua_pushstring(L, "not a table");
  font FromString;
  FromString.init(L);
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_STREQ(lua_tostring(L, -1), "not a table");
  EXPECT_EQ(Trace.lines().back(), "* font init fatal: couldn't load texture ``''");
  lua_settop(L, 0);
}

TEST_F(Font, ErrorsRaisedByTheTableAreLoggedAndKeepWhatWasRead)
{
  push_font_table(
      "local fields = { texture = 'data/font_test_atlas.png', pixelsize = 1,"
      "  glyph_65 = { advance = 1 }, glyph_66 = { advance = 1 } }\n"
      "font = setmetatable({}, { __index = function(t, k)"
      "  if k == 'glyph_66' then error('no glyph here', 0) end; return fields[k] end })");
  const int Top = lua_gettop(L);
  trace_capture Trace;
  font F;
  F.init(L);
  EXPECT_EQ(lua_gettop(L), Top);
  EXPECT_EQ(Trace.lines(), (std::vector<std::string>{"! font init warning: error reading font table",
                                                     "! --- no glyph here"}));
  EXPECT_EQ(F.get_advance(65), 1);
  EXPECT_EQ(F.get_advance(66), 0);
  lua_settop(L, 0);

  // Nothing to index at all: an empty stack stays empty.
  font FromNothing;
  FromNothing.init(L);
  EXPECT_EQ(lua_gettop(L), 0);
  EXPECT_EQ(Trace.lines().size(), 4u);
  EXPECT_EQ(Trace.lines()[2], "! font init warning: error reading font table");
}

TEST_F(Font, RegisteringANameTwiceKeepsOnlyTheSecondFont)
{
  EXPECT_EQ(get_font("font_test_never_registered"), nullptr);
  push_font_table("font = { texture = 'data/font_test_atlas.png', pixelsize = 10, glyph_65 = { advance = 1 } }");
  register_font("font_test_twice", L);
  EXPECT_EQ(lua_gettop(L), 1);
  font* First = get_font("font_test_twice");
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(First->get_advance(65), 10);
  lua_settop(L, 0);

  push_font_table("font = { texture = 'data/font_test_atlas.png', pixelsize = 20, glyph_65 = { advance = 1 } }");
  register_font("font_test_twice", L);
  font* Second = get_font("font_test_twice");
  ASSERT_NE(Second, nullptr);
  EXPECT_EQ(Second->get_advance(65), 20);
  lua_settop(L, 0);

  // A table that raises still registers, without reaching the panic handler.
  trace_capture Trace;
  push_font_table("font = setmetatable({}, { __index = function() error('boom', 0) end })");
  register_font("font_test_raising", L);
  EXPECT_EQ(lua_gettop(L), 1);
  ASSERT_NE(get_font("font_test_raising"), nullptr);
  EXPECT_EQ(get_font("font_test_raising")->get_length(UNIT_SCALE, "A"), 0);
  EXPECT_EQ(Trace.lines(), (std::vector<std::string>{"! font init warning: error reading font table", "! --- boom"}));
}

namespace {

// The repository's root, where the demo's scripts and pictures lie.
std::string source_root()
{
  std::string File = __FILE__;
  return File.substr(0, File.rfind("/tests/"));
}

// Changes the working directory for the life of the object.
class working_dir {
 public:
  explicit working_dir(const std::string& Path) : Old(std::filesystem::current_path())
  {
    std::filesystem::current_path(Path);
  }
  ~working_dir() { std::filesystem::current_path(Old); }

 private:
  std::filesystem::path Old;
};

}  // namespace

TEST_F(Font, DemoFontDescribesEveryPrintableGlyphOfItsSquareAtlas)
{
  font F;
  ref<texture> DemoAtlas;
  {
    working_dir Root(source_root());
    ASSERT_EQ(luaL_dofile(L, "game/font.lua"), LUA_OK) << lua_tostring(L, -1);
    lua_getglobal(L, "font");
    F.init(L);
    DemoAtlas = texture_load("data/font.png", true);
  }
  ASSERT_FALSE(DemoAtlas.null());
  ASSERT_EQ(DemoAtlas->w, DemoAtlas->h);
  const int Side = DemoAtlas->w;
  lua_getfield(L, -1, "pixelsize");
  EXPECT_EQ(lua_tonumber(L, -1), Side);
  lua_pop(L, 1);
  GLint Format = 0;
  glBindTexture(GL_TEXTURE_2D, DemoAtlas->id);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &Format);
  EXPECT_EQ(Format, GL_ALPHA);
  std::vector<unsigned char> Coverage(static_cast<size_t>(Side) * Side);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_ALPHA, GL_UNSIGNED_BYTE, Coverage.data());

  // Each glyph's rectangle lies on whole texels inside the atlas and holds
  // ink, and the ring of texels around it is empty.
  for (int Code = 33; Code <= 126; ++Code) {
    lua_getfield(L, -1, ("glyph_" + std::to_string(Code)).c_str());
    ASSERT_TRUE(lua_istable(L, -1)) << Code;
    int Rect[4];
    const char* Keys[4] = {"texcoord_x", "texcoord_y", "size_x", "size_y"};
    for (int k = 0; k < 4; ++k) {
      lua_getfield(L, -1, Keys[k]);
      double Texels = lua_tonumber(L, -1) * Side;
      Rect[k] = static_cast<int>(Texels);
      EXPECT_EQ(Rect[k], Texels) << Code << " " << Keys[k];
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    const int X0 = Rect[0], Y0 = Rect[1], X1 = Rect[0] + Rect[2], Y1 = Rect[1] + Rect[3];
    ASSERT_TRUE(X0 >= 1 && Y0 >= 1 && X1 < Side && Y1 < Side && X1 > X0 && Y1 > Y0) << Code;
    int Ink = 0, Ring = 0;
    for (int y = Y0 - 1; y <= Y1; ++y)
      for (int x = X0 - 1; x <= X1; ++x) {
        const bool Inside = x >= X0 && x < X1 && y >= Y0 && y < Y1;
        (Inside ? Ink : Ring) += Coverage[static_cast<size_t>(y) * Side + x];
      }
    EXPECT_GT(Ink, 0) << Code;
    EXPECT_EQ(Ring, 0) << Code;
    EXPECT_GT(F.get_advance(Code), 0) << Code;
  }
  EXPECT_GT(F.get_advance(' '), 0);
  EXPECT_EQ(F.get_advance(127), 0);
  EXPECT_EQ(F.get_advance(31), 0);
}
