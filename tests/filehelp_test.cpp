#include "filehelp.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <sstream>
#include <string>

#include "temp_dir.h"

// Every allocation of this program goes through here, so a test can see the
// largest single request made while it watches.
namespace {
bool Watching = false;
size_t LargestRequest = 0;
}  // namespace

void* operator new(std::size_t Size)
{
  if (Watching && Size > LargestRequest) LargestRequest = Size;
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }

namespace {

std::string bytes(std::initializer_list<int> Values)
{
  std::string Text;
  for (int V : Values) Text += static_cast<char>(V);
  return Text;
}

std::string read_string_watched(std::istream& Source)
{
  LargestRequest = 0;
  Watching = true;
  std::string Text = fget_string(Source);
  Watching = false;
  return Text;
}

size_t open_descriptors()
{
  size_t Count = 0;
  for (auto& Entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)Entry;
    ++Count;
  }
  return Count;
}

}  // namespace

TEST(FilehelpTest, WritersProduceExactLittleEndianBytes)
{
  std::ostringstream Out;
  fput_int(Out, 1);
  fput_int(Out, -2);
  fput_double(Out, 1.0);
  fput_string(Out, "abc");
  fput_string(Out, "");
  EXPECT_EQ(Out.str(), bytes({0x01, 0, 0, 0,                          //
                              0xfe, 0xff, 0xff, 0xff,                 //
                              0, 0, 0, 0, 0, 0, 0xf0, 0x3f,           //
                              0x03, 0, 0, 0, 'a', 'b', 'c',           //
                              0, 0, 0, 0}));
}

TEST(FilehelpTest, ValuesReadBackExactly)
{
  const int Ints[] = {0, INT_MIN, INT_MAX, -1, 0x12345678};
  const double Doubles[] = {-0.0, 0.1, -1e308, std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::infinity()};
  const std::string Text("bytes \xff\x80 and more");
  std::stringstream Stream;
  for (int I : Ints) fput_int(Stream, I);
  for (double D : Doubles) fput_double(Stream, D);
  fput_string(Stream, Text);
  for (int I : Ints) EXPECT_EQ(fget_int(Stream), I);
  for (double D : Doubles) {
    double Back = fget_double(Stream);
    EXPECT_EQ(std::memcmp(&Back, &D, sizeof D), 0) << D;
  }
  EXPECT_EQ(fget_string(Stream), Text);
  EXPECT_TRUE(Stream.good());
  EXPECT_EQ(fget_int(Stream), 0);  // nothing left
  EXPECT_TRUE(Stream.fail());
}

TEST(FilehelpTest, ShortReadsFillLowBytesAndFailTheStream)
{
  std::istringstream Two(bytes({0x34, 0x12}));
  EXPECT_EQ(fget_int(Two), 4660);
  EXPECT_TRUE(Two.eof());
  EXPECT_TRUE(Two.fail());
  EXPECT_EQ(fget_double(Two), 0.0);

  std::istringstream Three(bytes({0x01, 0x02, 0x03}));
  double Partial = fget_double(Three);
  uint64_t Bits;
  std::memcpy(&Bits, &Partial, sizeof Bits);
  EXPECT_EQ(Bits, 0x030201u);
}

TEST(FilehelpTest, EmbeddedNulEndsTheTextButKeepsTheStreamInStep)
{
  std::stringstream Stream;
  fput_string(Stream, std::string("a\0b", 3));
  fput_int(Stream, 77);
  EXPECT_EQ(Stream.str().substr(0, 7), bytes({3, 0, 0, 0, 'a', 0, 'b'}));
  EXPECT_EQ(fget_string(Stream), "a");
  EXPECT_EQ(fget_int(Stream), 77);
  EXPECT_TRUE(Stream.good());
}

TEST(FilehelpTest, CorruptStringCountsNeverAllocateBlindlyNorInventBytes)
{
  // Negative count: the empty text, and the stream stays usable.
  std::istringstream Negative(bytes({0xff, 0xff, 0xff, 0xff, 7, 0, 0, 0}));
  EXPECT_EQ(read_string_watched(Negative), "");
  EXPECT_EQ(fget_int(Negative), 7);

  // A count of almost 2 GiB over three bytes: those bytes, a failed stream,
  // and no allocation near the count.
  std::istringstream Huge(bytes({0xff, 0xff, 0xff, 0x7f, 'x', 'y', 'z'}));
  EXPECT_EQ(read_string_watched(Huge), "xyz");
  EXPECT_TRUE(Huge.fail());
  EXPECT_LT(LargestRequest, 1u << 20);

  // Ending early inside a long text: what arrived, up to its first NUL.
  std::string Body(150000, 'q');
  std::istringstream Short(bytes({0x40, 0x0d, 0x03, 0x00}) + Body);  // count 200000
  EXPECT_EQ(read_string_watched(Short), Body);
  EXPECT_TRUE(Short.fail());
  std::istringstream WithNul(bytes({100, 0, 0, 0, 'a', 'b', 0, 'c'}));
  EXPECT_EQ(fget_string(WithNul), "ab");
  EXPECT_TRUE(WithNul.fail());
}

TEST(FilehelpTest, LongStringsCrossReadChunksWhole)
{
  std::string Text;
  for (int i = 0; i < 300000; ++i) Text += static_cast<char>('a' + i % 26);
  std::stringstream Stream;
  fput_string(Stream, Text);
  fput_int(Stream, -5);
  EXPECT_EQ(fget_string(Stream), Text);
  EXPECT_EQ(fget_int(Stream), -5);
}

TEST(FilehelpTest, FexistOpensNothingItLeavesOpen)
{
  temp_dir Dir;
  write_file("notes.txt", "not a picture");
  size_t Before = open_descriptors();
  EXPECT_FALSE(fexist("missing.png"));
  EXPECT_FALSE(fexist("nowhere/missing.png"));
  EXPECT_TRUE(fexist("notes.txt"));
  EXPECT_TRUE(fexist(Dir.path() + "/notes.txt"));
  EXPECT_EQ(open_descriptors(), Before);
}
