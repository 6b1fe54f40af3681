#include "texture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include "gl_window.h"
#include "png_writer.h"
#include "temp_dir.h"
#include "trace_capture.h"

// The texture registry lives for the whole process: every test uses file
// names of its own and computes indices from the first texture it loads.

namespace {

class Texture : public testing::Test {
 protected:
  void SetUp() override { gl_test_window(); }
  temp_dir Dir;
};

GLint tex_parameter(const ref<texture>& T, GLenum Name)
{
  GLint Value = -1;
  glBindTexture(GL_TEXTURE_2D, T->id);
  glGetTexParameteriv(GL_TEXTURE_2D, Name, &Value);
  return Value;
}

GLint level_parameter(const ref<texture>& T, int Level, GLenum Name)
{
  GLint Value = -1;
  glBindTexture(GL_TEXTURE_2D, T->id);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, Level, Name, &Value);
  return Value;
}

std::vector<unsigned char> level_bytes(const ref<texture>& T, int Level, GLenum Format, int BytesPP)
{
  int W = level_parameter(T, Level, GL_TEXTURE_WIDTH), H = level_parameter(T, Level, GL_TEXTURE_HEIGHT);
  std::vector<unsigned char> Bytes(static_cast<size_t>(W) * H * BytesPP);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, Level, Format, GL_UNSIGNED_BYTE, Bytes.data());
  return Bytes;
}

// A W x W 24-bit picture whose pixel (x, y) is (x, y, x ^ y): every 2 x 2
// block differs, so averaging would show.
std::vector<unsigned char> coordinate_picture(int W)
{
  std::vector<unsigned char> Bytes;
  for (int y = 0; y < W; ++y)
    for (int x = 0; x < W; ++x) Bytes.insert(Bytes.end(), {(unsigned char)x, (unsigned char)y, (unsigned char)(x ^ y)});
  return Bytes;
}

}  // namespace

TEST_F(Texture, LoadingAPathTwiceReturnsTheFirstTextureAndLogsOnce)
{
  write_png("data/twice.png", 2, 2, 3, std::vector<unsigned char>(12, 7));
  trace_capture Trace;
  ref<texture> First = texture_load("data/twice.png", false);
  ASSERT_FALSE(First.null());
  std::remove("data/twice.png");
  ref<texture> Again = texture_load("data/twice.png", true);
  EXPECT_EQ(Again.ptr(), First.ptr());
  EXPECT_EQ(Again->id, First->id);
  EXPECT_EQ(Again->get_id, First->get_id);
  EXPECT_EQ(tex_parameter(Again, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
  EXPECT_EQ(Trace.lines(), std::vector<std::string>{"- texture load: loading data/twice.png"});
  EXPECT_EQ(texture_get(First->get_id).ptr(), First.ptr());
}

TEST_F(Texture, IndicesAreDenseOverSuccessfulLoadsAndFailuresLogEveryTime)
{
  write_png("data/dense0.png", 1, 1, 3, {1, 2, 3});
  write_png("data/dense1.png", 1, 1, 3, {1, 2, 3});
  write_png("data/dense2.png", 1, 1, 4, {1, 2, 3, 4});
  write_bmp16("data/deep16.bmp", 2, 2);
  trace_capture Trace;
  ref<texture> T0 = texture_load("data/dense0.png", false);
  ASSERT_FALSE(T0.null());
  const int Base = T0->get_id;
  for (int Round = 0; Round < 2; ++Round) {
    EXPECT_TRUE(texture_load("data/nothing.png", false).null());
    EXPECT_TRUE(texture_load("data/deep16.bmp", false).null());
  }
  ref<texture> T1 = texture_load("data/dense1.png", false);
  ref<texture> T2 = texture_load("data/dense2.png", true);
  ASSERT_FALSE(T1.null());
  ASSERT_FALSE(T2.null());
  EXPECT_EQ(T1->get_id, Base + 1);
  EXPECT_EQ(T2->get_id, Base + 2);
  EXPECT_EQ(texture_get(Base + 1).ptr(), T1.ptr());
  EXPECT_TRUE(texture_get(Base + 3).null());
  EXPECT_TRUE(texture_get(-1).null());

  const std::vector<std::string> Failures = {
      "- texture load: loading data/nothing.png",
      "* texlib load texdata fatal: couldn't load image file ``data/nothing.png''",
      "- texture load: loading data/deep16.bmp",
      "* load texture fatal: unsupported image bpp 16",
  };
  std::vector<std::string> Expected = {"- texture load: loading data/dense0.png"};
  Expected.insert(Expected.end(), Failures.begin(), Failures.end());
  Expected.insert(Expected.end(), Failures.begin(), Failures.end());
  Expected.push_back("- texture load: loading data/dense1.png");
  Expected.push_back("- texture load: loading data/dense2.png");
  Expected.push_back("* texture get fatal: texture " + std::to_string(Base + 3) + " out of range");
  Expected.push_back("* texture get fatal: texture -1 out of range");
  EXPECT_EQ(Trace.lines(), Expected);
}

TEST_F(Texture, MaskMarksThirtyTwoBitPixelsWhoseAlphaByteIsNotZero)
{
  // Alpha bytes: row 0 = 0, 1, 255; row 1 = 128, 0, 7.
  write_png("data/mask32.png", 3, 2, 4, {9, 9, 9, 0, 9, 9, 9, 1, 9, 9, 9, 255, 9, 9, 9, 128, 9, 9, 9, 0, 9, 9, 9, 7});
  write_png("data/mask24.png", 3, 2, 3, std::vector<unsigned char>(18, 0));
  write_png("data/mask8.png", 3, 2, 1, {255, 255, 255, 255, 255, 255});
  ref<texture> T32 = texture_load("data/mask32.png", false);
  ASSERT_FALSE(T32.null());
  const bool Set[2][3] = {{false, true, true}, {true, false, true}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(T32->check_mask(x, y), Set[y][x]) << x << "," << y;
  EXPECT_FALSE(T32->check_mask(3, 0));
  EXPECT_FALSE(T32->check_mask(0, 2));
  EXPECT_FALSE(T32->check_mask(-1, 1));
  EXPECT_FALSE(T32->check_mask(1, -1));
  EXPECT_EQ(T32->size_in_pixels, mkrpos(3, 2, 0));

  for (const char* Path : {"data/mask24.png", "data/mask8.png"}) {
    ref<texture> T = texture_load(Path, false);
    ASSERT_FALSE(T.null()) << Path;
    ASSERT_EQ(T->mask.size(), 6u);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_FALSE(T->check_mask(x, y)) << Path;
  }
}

TEST_F(Texture, PixelsAreUploadedTightlyInMemoryOrder)
{
  // Width 3: SDL pads the 24-bit rows, which must not shear the picture.
  const std::vector<unsigned char> RGB = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  const std::vector<unsigned char> RGBA = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::vector<unsigned char> Grey = {0, 50, 100, 150, 200, 255};
  write_png("data/order24.png", 3, 2, 3, RGB);
  write_png("data/order32.png", 2, 2, 4, RGBA);
  write_png("data/order8.png", 3, 2, 1, Grey);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);

  ref<texture> T24 = texture_load("data/order24.png", true);
  ASSERT_FALSE(T24.null());
  GLint Value = 0;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &Value);
  EXPECT_EQ(Value, 1);
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &Value);
  EXPECT_EQ(Value, GL_MODULATE);
  EXPECT_EQ(level_parameter(T24, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB);
  EXPECT_EQ(level_bytes(T24, 0, GL_RGB, 3), RGB);

  ref<texture> T32 = texture_load("data/order32.png", true);
  ASSERT_FALSE(T32.null());
  EXPECT_EQ(level_parameter(T32, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
  EXPECT_EQ(level_bytes(T32, 0, GL_RGBA, 4), RGBA);

  ref<texture> T8 = texture_load("data/order8.png", true);
  ASSERT_FALSE(T8.null());
  EXPECT_EQ(level_parameter(T8, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_ALPHA);
  EXPECT_EQ(level_bytes(T8, 0, GL_ALPHA, 1), Grey);
}

TEST_F(Texture, EightBitTextureGivesTheCurrentColourItsCoverage)
{
  // Left column coverage 255, right column 0 (which the alpha test drops).
  write_png("data/coverage.png", 2, 2, 1, {255, 0, 255, 0});
  ref<texture> T = texture_load("data/coverage.png", false);
  ASSERT_FALSE(T.null());
  glBindTexture(GL_TEXTURE_2D, T->id);
  glEnable(GL_TEXTURE_2D);
  glColor4d(1, 0, 0, 1);
  glBegin(GL_QUADS);
  glTexCoord2d(0, 0), glVertex3d(-100, -100, 0);
  glTexCoord2d(1, 0), glVertex3d(100, -100, 0);
  glTexCoord2d(1, 1), glVertex3d(100, 100, 0);
  glTexCoord2d(0, 1), glVertex3d(-100, 100, 0);
  glEnd();
  glDisable(GL_TEXTURE_2D);
  pixel_rgba Left = gl_read_pixel(350, 300), Right = gl_read_pixel(450, 300);
  EXPECT_EQ(Left.r, 255);
  EXPECT_EQ(Left.g, 0);
  EXPECT_EQ(Left.b, 0);
  EXPECT_EQ(Right.r, 0);
  EXPECT_EQ(Right.g, 0);
  EXPECT_EQ(Right.b, 0);
}

TEST_F(Texture, FiltersAndWrapFollowInterp)
{
  write_png("data/smooth.png", 4, 4, 3, coordinate_picture(4));
  write_png("data/sharp.png", 4, 2, 3, std::vector<unsigned char>(24, 1));
  ref<texture> Smooth = texture_load("data/smooth.png", true);
  ref<texture> Sharp = texture_load("data/sharp.png", false);
  ASSERT_FALSE(Smooth.null());
  ASSERT_FALSE(Sharp.null());
  EXPECT_EQ(tex_parameter(Smooth, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(tex_parameter(Smooth, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(tex_parameter(Sharp, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
  EXPECT_EQ(tex_parameter(Sharp, GL_TEXTURE_MIN_FILTER), GL_NEAREST);
  for (const ref<texture>& T : {Smooth, Sharp}) {
    EXPECT_EQ(tex_parameter(T, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(tex_parameter(T, GL_TEXTURE_WRAP_T), GL_REPEAT);
    // Smooth, and not square: the driver builds the smaller levels.
    EXPECT_EQ(tex_parameter(T, GL_GENERATE_MIPMAP), GL_TRUE);
  }
  EXPECT_EQ(level_parameter(Sharp, 1, GL_TEXTURE_WIDTH), 2);
  EXPECT_EQ(level_parameter(Sharp, 1, GL_TEXTURE_HEIGHT), 1);
}

TEST_F(Texture, SquareNearestTexturesGetAPointSampledChainDownToOnePixel)
{
  write_png("data/chain64.png", 64, 64, 3, coordinate_picture(64));
  write_png("data/chain6.png", 6, 6, 3, coordinate_picture(6));
  write_png("data/chain1.png", 1, 1, 3, {5, 6, 7});
  ref<texture> T64 = texture_load("data/chain64.png", false);
  ASSERT_FALSE(T64.null());
  EXPECT_EQ(tex_parameter(T64, GL_GENERATE_MIPMAP), GL_FALSE);
  for (int Level = 0; Level <= 6; ++Level) {
    EXPECT_EQ(level_parameter(T64, Level, GL_TEXTURE_WIDTH), 64 >> Level);
    EXPECT_EQ(level_parameter(T64, Level, GL_TEXTURE_HEIGHT), 64 >> Level);
  }
  EXPECT_EQ(level_parameter(T64, 7, GL_TEXTURE_WIDTH), 0);
  // Level 2 keeps the top-left pixel of every 4 x 4 block: (4x, 4y).
  std::vector<unsigned char> Level2 = level_bytes(T64, 2, GL_RGB, 3);
  ASSERT_EQ(Level2.size(), 16u * 16u * 3u);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const unsigned char* P = &Level2[(y * 16 + x) * 3];
      ASSERT_EQ(P[0], 4 * x);
      ASSERT_EQ(P[1], 4 * y);
      ASSERT_EQ(P[2], (4 * x) ^ (4 * y));
    }

  ref<texture> T6 = texture_load("data/chain6.png", false);
  ASSERT_FALSE(T6.null());
  EXPECT_EQ(level_parameter(T6, 1, GL_TEXTURE_WIDTH), 3);
  EXPECT_EQ(level_parameter(T6, 2, GL_TEXTURE_WIDTH), 1);
  EXPECT_EQ(level_parameter(T6, 3, GL_TEXTURE_WIDTH), 0);
  EXPECT_EQ(level_bytes(T6, 2, GL_RGB, 3), (std::vector<unsigned char>{0, 0, 0}));

  ref<texture> T1 = texture_load("data/chain1.png", false);
  ASSERT_FALSE(T1.null());
  EXPECT_EQ(level_parameter(T1, 0, GL_TEXTURE_WIDTH), 1);
  EXPECT_EQ(level_parameter(T1, 1, GL_TEXTURE_WIDTH), 0);
}

TEST_F(Texture, PicturesWithoutPixelsLoadAndEndTheirChain)
{
  write_empty_tga("data/empty24.tga", 3);
  write_empty_tga("data/empty32.tga", 4);
  for (const char* Path : {"data/empty24.tga", "data/empty32.tga"}) {
    ref<texture> T = texture_load(Path, false);
    ASSERT_FALSE(T.null()) << Path;
    EXPECT_EQ(T->w, 0);
    EXPECT_EQ(T->h, 0);
    EXPECT_TRUE(T->mask.empty());
    EXPECT_FALSE(T->check_mask(0, 0));
    EXPECT_EQ(texture_get(T->get_id).ptr(), T.ptr());
  }
}
