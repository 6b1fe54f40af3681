#include "image.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "filehelp.h"
#include "png_writer.h"
#include "temp_dir.h"
#include "trace_capture.h"

// The image cache lives for the whole process and is keyed by path, so every
// test uses file names of its own.

namespace {

void expect_color(const fcolor& C, float R, float G, float B, float A)
{
  EXPECT_EQ(C[0], R);
  EXPECT_EQ(C[1], G);
  EXPECT_EQ(C[2], B);
  EXPECT_EQ(C[3], A);
}

// 3 x 2, 24 bits: row 0 = (10,20,30) (40,50,60) (70,80,90), row 1 = ... (250,251,252).
const std::vector<unsigned char> RGB_3X2 = {10, 20, 30, 40, 50, 60, 70, 80, 90,
                                            100, 110, 120, 130, 140, 150, 250, 251, 252};

// Counts the blocks SDL's allocator hands out once installed: opening a
// file through SDL takes one, so a file that is not read again takes none.
int sdl_blocks = 0;
SDL_malloc_func sdl_malloc_before = nullptr;
void* counted_malloc(size_t Bytes)
{
  ++sdl_blocks;
  return sdl_malloc_before(Bytes);
}

// The clock image_load compares with a failed file's change time, once a
// test installs it.
long long clock_at = 0;
long long test_clock() { return clock_at; }

long long changed_ns(const char* File)
{
  file_id Id{};
  fkind(File, Id);
  return Id.changed;
}

}  // namespace

TEST(Image, DecodesTwentyFourBitRowsAtTheirPitchWithOpaqueAlpha)
{
  temp_dir Dir;
  write_png("data/rgb3x2.png", 3, 2, 3, RGB_3X2);
  // An odd width pads SDL's 24-bit rows; make sure the picture has padding.
  SDL_Surface* Raw = IMG_Load("data/rgb3x2.png");
  ASSERT_NE(Raw, nullptr);
  ASSERT_EQ(Raw->format->BitsPerPixel, 24);
  ASSERT_GT(Raw->pitch, 9);
  SDL_FreeSurface(Raw);

  trace_capture Trace;
  ref<image> I = image_load("data/rgb3x2.png");
  ASSERT_FALSE(I.null());
  EXPECT_EQ(Trace.lines(), std::vector<std::string>{"- image load: loading data/rgb3x2.png"});
  EXPECT_EQ(I->size, mkiloc(3, 2));
  ASSERT_EQ(I->pixels.size(), 6u);
  for (size_t i = 0; i < 6; ++i)
    expect_color(I->pixels[i], RGB_3X2[3 * i] / 255.0f, RGB_3X2[3 * i + 1] / 255.0f, RGB_3X2[3 * i + 2] / 255.0f,
                 1.0f);
  EXPECT_EQ(color2str(I->pixels[5]), "fafbfc");
  EXPECT_EQ(color2str(I->pixels[0]), "0a141e");
}

TEST(Image, DecodesThirtyTwoBitAlphaBytesOver255)
{
  temp_dir Dir;
  write_png("data/rgba2x1.png", 2, 1, 4, {255, 0, 128, 128, 1, 2, 3, 0});
  ref<image> I = image_load("data/rgba2x1.png");
  ASSERT_FALSE(I.null());
  ASSERT_EQ(I->pixels.size(), 2u);
  expect_color(I->pixels[0], 1.0f, 0.0f, 0.50196081f, 0.50196081f);
  expect_color(I->pixels[1], 1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 0.0f);
}

TEST(Image, GetPixelAnswersOpaqueWhiteOutsideEachBound)
{
  temp_dir Dir;
  write_png("data/bounds.png", 3, 2, 3, RGB_3X2);
  ref<image> I = image_load("data/bounds.png");
  ASSERT_FALSE(I.null());
  expect_color(I->get_pixel(mkiloc(2, 1)), 250 / 255.0f, 251 / 255.0f, 252 / 255.0f, 1.0f);
  expect_color(I->get_pixel(mkiloc(0, 1)), 100 / 255.0f, 110 / 255.0f, 120 / 255.0f, 1.0f);
  // (3, 0) would be element 3 if the column wrapped into the next row.
  for (const iloc& Outside : {mkiloc(3, 0), mkiloc(0, 2), mkiloc(-1, 0), mkiloc(0, -1)})
    expect_color(I->get_pixel(Outside), 1, 1, 1, 1);
}

TEST(Image, LoadsAreCachedByTheExactPathString)
{
  temp_dir Dir;
  write_png("data/cached.png", 1, 1, 3, {1, 2, 3});
  ref<image> First = image_load("data/cached.png");
  ASSERT_FALSE(First.null());

  trace_capture Trace;
  std::remove("data/cached.png");
  ref<image> Again = image_load("data/cached.png");
  EXPECT_EQ(Again.ptr(), First.ptr());
  EXPECT_EQ(Trace.text(), "");

  write_png("data/cached.png", 1, 1, 3, {1, 2, 3});
  ref<image> OtherPath = image_load("data//cached.png");
  ASSERT_FALSE(OtherPath.null());
  EXPECT_NE(OtherPath.ptr(), First.ptr());
  EXPECT_EQ(OtherPath->pixels[0], First->pixels[0]);
  EXPECT_EQ(Trace.lines(), std::vector<std::string>{"- image load: loading data//cached.png"});
}

TEST(Image, FailedLoadsAreNotCachedAndLogAgainButAFailedFileIsReadAgainOnlyOnceChangedOrWhereItsFailurePasses)
{
  temp_dir Dir;
  write_png("data/grey.png", 2, 2, 1, {0, 64, 128, 255});
  write_bmp16("data/rgb565.bmp", 2, 2);
  trace_capture Trace;
  SDL_calloc_func Calloc;
  SDL_realloc_func Realloc;
  SDL_free_func Free;
  SDL_GetMemoryFunctions(&sdl_malloc_before, &Calloc, &Realloc, &Free);
  SDL_SetMemoryFunctions(counted_malloc, Calloc, Realloc, Free);
  // Within 100 ms of a change the file may change again with the same
  // times, so its failure is not remembered; a second later it is.
  long long (*Clock)() = image_clock_ns;
  image_clock_ns = test_clock;
  for (int Round = 0; Round < 3; ++Round) {
    clock_at = changed_ns("data/grey.png") + (Round == 0 ? 50000000 : 1000000000);
    sdl_blocks = 0;
    EXPECT_TRUE(image_load("data/missing.png").null());
    EXPECT_TRUE(image_load("data/grey.png").null());
    EXPECT_TRUE(image_load("data/rgb565.bmp").null());
    EXPECT_EQ(sdl_blocks > 0, Round < 2);
  }
  SDL_SetMemoryFunctions(sdl_malloc_before, Calloc, Realloc, Free);
  const std::vector<std::string> Once = {
      "- image load: loading data/missing.png",
      "* image load fatal: couldn't load image file ``data/missing.png''",
      "- image load: loading data/grey.png",
      "* image load fatal: unsupported BPP 8",
      "- image load: loading data/rgb565.bmp",
      "* image load fatal: unsupported BPP 16",
  };
  std::vector<std::string> Thrice;
  for (int Round = 0; Round < 3; ++Round) Thrice.insert(Thrice.end(), Once.begin(), Once.end());
  EXPECT_EQ(Trace.lines(), Thrice);
  EXPECT_EQ(Trace.stdout_text(), Trace.text());

  // Mended while a memo lasts, the file keeps its answer under a path that
  // failed in the memo, which is not looked up again; under another path it
  // is read anew, and so it is once the memo ends.
  trace_capture Memo;
  {
    image_failure_memo Failures;
    EXPECT_TRUE(image_load("data/grey.png").null());
    write_png("data/grey.png", 3, 2, 3, RGB_3X2);
    EXPECT_TRUE(image_load("data/grey.png").null());
    EXPECT_FALSE(image_load("data//grey.png").null());
  }
  EXPECT_FALSE(image_load("data/grey.png").null());
  EXPECT_EQ(Memo.lines(), (std::vector<std::string>{"- image load: loading data/grey.png",
                                                    "* image load fatal: unsupported BPP 8",
                                                    "- image load: loading data/grey.png",
                                                    "* image load fatal: unsupported BPP 8",
                                                    "- image load: loading data//grey.png",
                                                    "- image load: loading data/grey.png"}));

  // A failure for want of a descriptor passes with it. SDL_image takes a
  // TGA only by its name: a ".png" path to one fails, its ".tga" path loads.
  write_png("data/later.png", 1, 1, 3, {1, 2, 3});
  write_file("data/t.tga", std::string("\0\0\x02\0\0\0\0\0\0\0\0\0\x01\0\x01\0\x18\0\x01\x02\x03", 21));
  std::filesystem::create_symlink("t.tga", "data/t.png");
  clock_at = changed_ns("data/t.tga") + 1000000000;
  rlimit Limit;
  getrlimit(RLIMIT_NOFILE, &Limit);
  const rlimit None = {0, Limit.rlim_max};  // no descriptor can be opened
  setrlimit(RLIMIT_NOFILE, &None);
  EXPECT_TRUE(image_load("data/later.png").null());
  setrlimit(RLIMIT_NOFILE, &Limit);
  EXPECT_FALSE(image_load("data/later.png").null());
  EXPECT_TRUE(image_load("data/t.png").null());
  EXPECT_FALSE(image_load("data/t.tga").null());
  image_clock_ns = Clock;
}

// Pictures whose headers their walks once misread: comments longer than a
// walk's steps or ended by a carriage return, and decoders that take more
// than the declared pixels need (a HAM picture's rows padded to 16 pixels
// of 24 bits, an XPM's table of 24 bytes a colour).
TEST(Image, LongCommentsCarriageReturnsPaddedRowsAndColourTablesStillDecode)
{
  temp_dir Dir;
  const std::string Grey(64 * 48, '\n');
  write_file("long.pgm", "P5\n#" + std::string(70000, 'x') + "\n64 48\n255\n" + Grey);
  write_file("cr.pgm", "P5\r# made elsewhere\r64 48\r255\r" + Grey);
  const std::string Header("BMHD\0\0\0\x14\0\x01\x9c\x40\0\0\0\0\x06\0\0\0\0\0\x01\x01\0\0\0\0"
                           "CAMG\0\0\0\x04\0\0\x08\0BODY\0\x07\x53\0", 48);
  const std::string Body(40000 * 6 * 2, '\0');  // 40000 rows of 6 planes of 2 bytes
  write_file("ham.iff", "FORM" + std::string("\0\x07\x53\x34ILBM", 8) + Header + Body);
  std::string Xpm = "/* XPM */\nstatic char *x[] = {\n\"1 1 160000 3\",\n";
  for (int i = 0; i < 160000; ++i)
    Xpm += std::string("\"") + char('#' + i % 90) + char('#' + i / 90 % 90) + char('#' + i / 8100) + " c #000000\",\n";
  write_file("colours.xpm", Xpm + "\"###\"};\n");
  for (const char* File : {"long.pgm", "cr.pgm", "ham.iff", "colours.xpm"}) {
    image_decode_result Result = image_unloadable;
    SDL_Surface* Surface = image_decode(File, Result);
    EXPECT_TRUE(Surface != nullptr && Result == image_decoded) << File << ": " << SDL_GetError();
    SDL_FreeSurface(Surface);
  }
}

TEST(Image, GetAnyPixelConsumesOneDrawPerCall)
{
  temp_dir Dir;
  write_png("data/single.png", 1, 1, 4, {9, 8, 7, 6});
  write_png("data/many.png", 3, 2, 3, RGB_3X2);
  ref<image> Single = image_load("data/single.png");
  ref<image> Many = image_load("data/many.png");
  ASSERT_FALSE(Single.null());
  ASSERT_FALSE(Many.null());

  rngen RN, Shadow;
  RN.seed(77);
  Shadow.seed(77);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Single->get_any_pixel(RN), Single->pixels[0]);
    Shadow.get();
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Many->get_any_pixel(RN), Many->pixels[Shadow.get_index(6)]);
  EXPECT_EQ(RN.get(), Shadow.get());
}

TEST(Image, PictureWithoutPixelsIsCachedAndAnswersWhiteEverywhere)
{
  temp_dir Dir;
  write_empty_tga("data/empty24.tga", 3);
  write_empty_tga("data/empty32.tga", 4);
  for (const char* Path : {"data/empty24.tga", "data/empty32.tga"}) {
    ref<image> I = image_load(Path);
    ASSERT_FALSE(I.null()) << Path;
    EXPECT_EQ(I->size, mkiloc(0, 0));
    EXPECT_TRUE(I->pixels.empty());
    expect_color(I->get_pixel(mkiloc(0, 0)), 1, 1, 1, 1);
    rngen RN, Shadow;
    expect_color(I->get_any_pixel(RN), 1, 1, 1, 1);
    Shadow.get();
    EXPECT_EQ(RN.get(), Shadow.get());
    EXPECT_EQ(image_load(Path).ptr(), I.ptr());
  }
}

TEST(ColorString, Str2colorReadsSixDigitsAndCountsOtherBytesAsZero)
{
  trace_capture Trace;
  expect_color(str2color("FF8000"), 1.0f, 0.50196081f, 0.0f, 1.0f);
  expect_color(str2color("ff8000"), 1.0f, 0.50196081f, 0.0f, 1.0f);
  expect_color(str2color("#ff800"), 15 / 255.0f, 248 / 255.0f, 0.0f, 1.0f);
  expect_color(str2color("zz\xff\x80gg"), 0, 0, 0, 1);
  expect_color(str2color(""), 0, 0, 0, 0);
  EXPECT_EQ(Trace.text(), "");

  expect_color(str2color("#ff8000"), 0, 0, 0, 0);
  expect_color(str2color("fff"), 0, 0, 0, 0);
  EXPECT_EQ(Trace.lines(), (std::vector<std::string>{"! str2color fatal: bad color string ``#ff8000''",
                                                     "! str2color fatal: bad color string ``fff''"}));
}

TEST(ColorString, EverySixDigitStringRoundTripsInLowerCase)
{
  char Hex[8];
  for (int k = 0; k < 256; ++k) {
    std::snprintf(Hex, sizeof Hex, "%02X%02X%02X", k, 255 - k, k);
    std::string Lower = Hex;
    for (char& C : Lower) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    EXPECT_EQ(color2str(str2color(Hex)), Lower);
  }
}

TEST(ColorString, Color2strTruncatesIgnoresAlphaAndNeverClamps)
{
  EXPECT_EQ(color2str(mkfcolor(1, 1, 1, 0)), "ffffff");
  EXPECT_EQ(color2str(mkfcolor(0.5f, 0.999f, 0, 1)), "7ffe00");
  EXPECT_EQ(color2str(mkfcolor(2, 0, 0, 1)), "1fe0000");
  EXPECT_EQ(color2str(mkfcolor(1.5f, 0, 0, 1)), "17e0000");
  EXPECT_EQ(color2str(mkfcolor(-0.5f, -0.001f, 0, 1)), "ffffff810000");
  EXPECT_EQ(color2str(mkfcolor(NAN, 1e10f, -1e10f, 1)), "800000008000000080000000");
}
