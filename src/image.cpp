#include "image.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <tuple>
#include <unordered_map>

#include "die.h"
#include "filehelp.h"
#include "itostr.h"

namespace {

// Every image decoded so far, by the exact path it was asked for.
std::map<std::string, ref<image>> loaded;

// Bytes, markers and blocks a header walk looks through for a picture's
// size, which follows a handful of tables and notes in most files. A JPEG,
// GIF or IFF walk that ends before it refuses the file; a text header's walk
// leaves it to the general bound, since long comments are common there.
const int MAX_HEADER_STEPS = 1 << 16;

// Every picture is measured by SDL's allocator: SDL_image's decoders take
// their pixel buffers from it before reading any pixel, and a block larger
// than a 32-bit surface of IMAGE_MAX_PIXELS (with room for row alignment)
// is refused. That lets through pictures of fewer bytes a pixel, and the
// PNG and JPEG libraries allocate on their own, so where a format's header
// gives its size it is read first.
const size_t SDL_BLOCK_MAX_BYTES = static_cast<size_t>(IMAGE_MAX_PIXELS) * 4 + 4096;

// A decoder may read a header differently from its walk here (a later
// header, another comment syntax, a sign), so while a file whose header gave
// its size decodes, no block may exceed what that size needs: 8 bytes a
// pixel (16-bit channels), the whole file (some decoders read it in one
// piece) and room for tables.
const uint64_t DECLARED_BLOCK_SLACK_BYTES = 1 << 20;
// SDL_image's XPM decoder keeps a colour table of 24 bytes a declared colour
// (key, colour and chain link), which may outgrow the picture by far.
const uint64_t XPM_BYTES_A_COLOUR = 24;

SDL_malloc_func sdl_malloc = nullptr;
SDL_calloc_func sdl_calloc = nullptr;
SDL_realloc_func sdl_realloc = nullptr;
SDL_free_func sdl_free = nullptr;
// Set when a block was refused; other threads of SDL may allocate too.
std::atomic<bool> sdl_block_refused(false);
// Set when the system had no memory for a block the bound allowed.
std::atomic<bool> sdl_memory_ran_out(false);
// The largest block allowed at present.
std::atomic<size_t> sdl_block_max_bytes(SDL_BLOCK_MAX_BYTES);

bool refuse_block(bool TooLarge)
{
  if (TooLarge) sdl_block_refused = true;
  return TooLarge;
}

void* allocated(void* Block)
{
  if (!Block) sdl_memory_ran_out = true;
  return Block;
}

void* bounded_malloc(size_t Bytes)
{
  return refuse_block(Bytes > sdl_block_max_bytes) ? nullptr : allocated(sdl_malloc(Bytes));
}

void* bounded_calloc(size_t Count, size_t Bytes)
{
  return refuse_block(Bytes != 0 && Count > sdl_block_max_bytes / Bytes) ? nullptr : allocated(sdl_calloc(Count, Bytes));
}

void* bounded_realloc(void* Block, size_t Bytes)
{
  return refuse_block(Bytes > sdl_block_max_bytes) ? nullptr : allocated(sdl_realloc(Block, Bytes));
}

// Installed during static initialisation, before SDL starts. The bounded
// functions hand every block they allow to the allocator they replace, so
// blocks from before and after mix freely.
struct sdl_allocation_bound {
  sdl_allocation_bound()
  {
    SDL_GetMemoryFunctions(&sdl_malloc, &sdl_calloc, &sdl_realloc, &sdl_free);
    SDL_SetMemoryFunctions(bounded_malloc, bounded_calloc, bounded_realloc, sdl_free);
  }
} const bound_sdl_allocations;

struct surface_free {
  void operator()(SDL_Surface* S) const { SDL_FreeSurface(S); }
};
typedef std::unique_ptr<SDL_Surface, surface_free> surface_ptr;

uint64_t big_endian(const unsigned char* Bytes, int Count)
{
  uint64_t Value = 0;
  for (int i = 0; i < Count; ++i) Value = Value << 8 | Bytes[i];
  return Value;
}

uint64_t little_endian(const unsigned char* Bytes, int Count)
{
  uint64_t Value = 0;
  for (int i = Count - 1; i >= 0; --i) Value = Value << 8 | Bytes[i];
  return Value;
}

// A BMP's width or height: signed 32 bits, a negative height for rows
// stored top first.
uint64_t bmp_extent(const unsigned char* Bytes)
{
  const int64_t V = static_cast<int32_t>(little_endian(Bytes, 4));
  return static_cast<uint64_t>(V < 0 ? -V : V);
}

// A PCX window's extent from its signed 16-bit bounds; 0 when empty.
uint64_t pcx_extent(const unsigned char* Min, const unsigned char* Max)
{
  const int64_t E = int64_t(static_cast<int16_t>(little_endian(Max, 2))) - static_cast<int16_t>(little_endian(Min, 2)) + 1;
  return E > 0 ? static_cast<uint64_t>(E) : 0;
}

// What a file's header tells of its size.
enum header_size { header_silent, header_sized, header_unreadable };

// The pixel count of a WEBP's lossy, lossless or extended header.
header_size webp_pixels(const unsigned char* Head, size_t Size, uint64_t& Pixels)
{
  if (Size < 30 || std::memcmp(Head, "RIFF", 4) != 0 || std::memcmp(Head + 8, "WEBP", 4) != 0) return header_silent;
  const unsigned char* Chunk = Head + 12;
  if (std::memcmp(Chunk, "VP8 ", 4) == 0) {
    Pixels = (little_endian(Head + 26, 2) & 0x3fff) * (little_endian(Head + 28, 2) & 0x3fff);
  } else if (std::memcmp(Chunk, "VP8L", 4) == 0) {
    const uint64_t Bits = little_endian(Head + 21, 4);
    Pixels = ((Bits & 0x3fff) + 1) * ((Bits >> 14 & 0x3fff) + 1);
  } else if (std::memcmp(Chunk, "VP8X", 4) == 0) {
    Pixels = (little_endian(Head + 24, 3) + 1) * (little_endian(Head + 27, 3) + 1);
  } else {
    return header_silent;
  }
  return header_sized;
}

// The pixel count a picture declares at fixed places of its first bytes:
// PNG, BMP, PCX, WEBP, a GIF's screen, and a TGA (which has no signature, so
// SDL_image takes it by the path's extension before any other format).
// Silent for other formats.
header_size fixed_header_pixels(const unsigned char* Head, size_t Size, bool Tga, uint64_t& Pixels)
{
  static const unsigned char PNG[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (Tga) {
    if (Size < 16) return header_silent;
    Pixels = little_endian(Head + 12, 2) * little_endian(Head + 14, 2);
  } else if (Size >= 24 && std::memcmp(Head, PNG, sizeof PNG) == 0) {
    Pixels = big_endian(Head + 16, 4) * big_endian(Head + 20, 4);
  } else if (Size >= 10 && (std::memcmp(Head, "GIF87a", 6) == 0 || std::memcmp(Head, "GIF89a", 6) == 0)) {
    Pixels = little_endian(Head + 6, 2) * little_endian(Head + 8, 2);
  } else if (Size >= 26 && Head[0] == 'B' && Head[1] == 'M') {
    const bool Core = little_endian(Head + 14, 4) == 12;  // the oldest header: unsigned 16-bit sizes
    Pixels = Core ? little_endian(Head + 18, 2) * little_endian(Head + 20, 2) : bmp_extent(Head + 18) * bmp_extent(Head + 22);
  } else if (Size >= 12 && Head[0] == 0x0A && Head[2] == 1) {
    Pixels = pcx_extent(Head + 4, Head + 8) * pcx_extent(Head + 6, Head + 10);
  } else {
    return webp_pixels(Head, Size, Pixels);
  }
  return header_sized;
}

// Reads one byte where File stands, counting it as a step of a header walk;
// false at the file's end or past the walk's steps.
bool walk_byte(SDL_RWops* File, int& Steps, unsigned char& Byte)
{
  return ++Steps < MAX_HEADER_STEPS && SDL_RWread(File, &Byte, 1, 1) == 1;
}

// The type of the next JPEG marker where File stands, after any 0xFF fill
// bytes before it; -1 when no marker stands there.
int next_jpeg_marker(SDL_RWops* File, int& Steps)
{
  unsigned char Byte = 0;
  if (!walk_byte(File, Steps, Byte) || Byte != 0xFF) return -1;
  while (walk_byte(File, Steps, Byte))
    if (Byte != 0xFF) return Byte;
  return -1;
}

// The pixel count in a JPEG's frame header, walking the segments that follow
// its start marker, where File stands. A walk that ends without one leaves
// the file unreadable: the decoder would allocate unchecked.
header_size jpeg_pixels(SDL_RWops* File, uint64_t& Pixels)
{
  int Steps = 0;
  while (Steps < MAX_HEADER_STEPS) {
    const int Type = next_jpeg_marker(File, Steps);
    if (Type < 0) return header_unreadable;
    if (Type == 0x01 || (Type >= 0xD0 && Type <= 0xD7)) continue;  // markers without a segment
    unsigned char Head[7];  // length, and a frame header's precision, height, width
    if (SDL_RWread(File, Head, 1, 2) != 2) return header_unreadable;
    const bool Frame = Type >= 0xC0 && Type <= 0xCF && Type != 0xC4 && Type != 0xC8 && Type != 0xCC;
    if (Frame) {
      if (SDL_RWread(File, Head + 2, 1, 5) != 5) return header_unreadable;
      Pixels = big_endian(Head + 3, 2) * big_endian(Head + 5, 2);
      return header_sized;
    }
    const int64_t Length = static_cast<int64_t>(big_endian(Head, 2));
    if (Length < 2 || SDL_RWseek(File, Length - 2, RW_SEEK_CUR) < 0) return header_unreadable;
  }
  return header_unreadable;
}

// The pixel count of a GIF's first picture, walking the blocks after its
// screen and colour table: SDL_image sizes the surface from the picture,
// which may be larger than the screen. Extensions are skipped, and so is any
// other byte, as the decoder skips them. A file that ends first has no
// picture to decode.
header_size gif_picture_pixels(SDL_RWops* File, unsigned char Flags, uint64_t& Pixels)
{
  const int64_t Table = Flags & 0x80 ? 3 << ((Flags & 7) + 1) : 0;
  if (SDL_RWseek(File, 13 + Table, RW_SEEK_SET) < 0) return header_unreadable;
  int Steps = 0;
  unsigned char Byte = 0;
  while (walk_byte(File, Steps, Byte)) {
    if (Byte == ',') {
      unsigned char Place[8];  // left, top, width, height
      if (SDL_RWread(File, Place, 1, 8) != 8) return header_silent;
      Pixels = little_endian(Place + 4, 2) * little_endian(Place + 6, 2);
      return header_sized;
    }
    if (Byte != '!' || !walk_byte(File, Steps, Byte)) continue;  // an extension's label
    while (walk_byte(File, Steps, Byte) && Byte != 0) SDL_RWseek(File, Byte, RW_SEEK_CUR);
  }
  return Steps < MAX_HEADER_STEPS ? header_silent : header_unreadable;
}

// The pixel count of the surface an IFF picture's (ILBM or PBM) bitmap
// header declares, walking the chunks after its form header: SDL_image pads
// its rows to 16 pixels. A file whose body comes first has no size to decode.
header_size lbm_pixels(SDL_RWops* File, uint64_t& Pixels)
{
  if (SDL_RWseek(File, 12, RW_SEEK_SET) != 12) return header_unreadable;
  for (int Steps = 0; Steps < MAX_HEADER_STEPS; ++Steps) {
    unsigned char Chunk[12];  // name, length, and a bitmap header's width and height
    if (SDL_RWread(File, Chunk, 1, 8) != 8 || std::memcmp(Chunk, "BODY", 4) == 0) return header_silent;
    if (std::memcmp(Chunk, "BMHD", 4) == 0) {
      if (SDL_RWread(File, Chunk + 8, 1, 4) != 4) return header_silent;
      Pixels = (big_endian(Chunk + 8, 2) + 15) / 16 * 16 * big_endian(Chunk + 10, 2);
      return header_sized;
    }
    const uint64_t Length = big_endian(Chunk + 4, 4);
    if (SDL_RWseek(File, static_cast<int64_t>(Length + (Length & 1)), RW_SEEK_CUR) < 0) return header_unreadable;
  }
  return header_unreadable;
}

// The next whole number of a text header where File stands, past blanks
// and '#' comments, as PNM and XV headers write it; false when none comes.
// A comment ends at a line feed, and in a PNM (CrEnds) at a carriage return
// too, where each decoder ends it.
bool text_number(SDL_RWops* File, bool CrEnds, int& Steps, uint64_t& Number)
{
  unsigned char C = ' ';
  while (std::isspace(C) || C == '#') {
    if (C == '#')
      while (C != '\n' && !(CrEnds && C == '\r') && walk_byte(File, Steps, C)) {}
    if (!walk_byte(File, Steps, C)) return false;
  }
  if (!std::isdigit(C)) return false;
  Number = 0;
  do
    Number = Number * 10 + (C - '0');
  while (Number < (1ULL << 40) && walk_byte(File, Steps, C) && std::isdigit(C));
  return true;
}

// The pixel count of a PNM, XV thumbnail or XPM header, whose width and
// height are the first numbers after its signature (in an XPM, inside its
// first string, followed by its colour count, whose table is TableBytes);
// unreadable when they are not plain numbers, silent when the walk runs out
// of steps first.
header_size text_header_pixels(SDL_RWops* File, const unsigned char* Head, size_t Size, uint64_t& Pixels,
                               uint64_t& TableBytes)
{
  int64_t Start = 0;
  if (Size >= 6 && std::memcmp(Head, "P7 332", 6) == 0) Start = 6;
  else if (Size >= 2 && Head[0] == 'P' && Head[1] >= '1' && Head[1] <= '6') Start = 2;
  else if (Size >= 9 && std::memcmp(Head, "/* XPM */", 9) == 0) Start = 9;
  else return header_silent;
  const bool Xpm = Start == 9, Pnm = Start == 2;
  int Steps = 0;
  unsigned char C = 0;
  uint64_t W = 0, H = 0, Colours = 0;
  if (SDL_RWseek(File, Start, RW_SEEK_SET) != Start) return header_unreadable;
  while (Xpm && C != '"' && walk_byte(File, Steps, C)) {}
  const bool Read = (!Xpm || C == '"') && text_number(File, Pnm, Steps, W) && text_number(File, Pnm, Steps, H) &&
                    (!Xpm || text_number(File, Pnm, Steps, Colours));
  if (!Read) return Steps >= MAX_HEADER_STEPS ? header_silent : header_unreadable;
  Pixels = W * H;
  TableBytes = Colours * XPM_BYTES_A_COLOUR;
  return header_sized;
}

// What File's header tells of its pixel count and of the bytes of the tables
// its decoder keeps beside the pixels (Tga: its path names a TGA); File is
// back at its start afterwards.
header_size declared_pixels(SDL_RWops* File, bool Tga, uint64_t& Pixels, uint64_t& TableBytes)
{
  unsigned char Head[32];
  const size_t Size = SDL_RWread(File, Head, 1, sizeof Head);
  header_size Known = fixed_header_pixels(Head, Size, Tga, Pixels);
  uint64_t Picture = 0;
  if (Known == header_silent && Size >= 2 && Head[0] == 0xFF && Head[1] == 0xD8)
    Known = SDL_RWseek(File, 2, RW_SEEK_SET) == 2 ? jpeg_pixels(File, Pixels) : header_unreadable;
  else if (!Tga && Known == header_sized && Head[0] == 'G' && Size >= 13)
    Known = gif_picture_pixels(File, Head[10], Picture) == header_unreadable ? header_unreadable : header_sized;
  else if (Known == header_silent && Size >= 12 && std::memcmp(Head, "FORM", 4) == 0 &&
           (std::memcmp(Head + 8, "ILBM", 4) == 0 || std::memcmp(Head + 8, "PBM ", 4) == 0))
    Known = lbm_pixels(File, Pixels);
  else if (Known == header_silent)
    Known = text_header_pixels(File, Head, Size, Pixels, TableBytes);
  Pixels = std::max(Pixels, Picture);
  SDL_RWseek(File, 0, RW_SEEK_SET);
  return Known;
}

// What SDL_image's own loading by path takes as the hint for formats that
// have no signature: the text after the path's last dot.
const char* type_hint(const std::string& Path)
{
  const char* Dot = std::strrchr(Path.c_str(), '.');
  return Dot ? Dot + 1 : nullptr;
}

// Whether SDL_image takes the file at Path as a TGA, a format it knows only
// by that hint.
bool tga_hint(const std::string& Path)
{
  const char* Hint = type_hint(Path);
  return Hint && SDL_strcasecmp(Hint, "tga") == 0;
}

// The largest block the decoder of File may take for a picture of the
// declared Pixels with tables of TableBytes.
size_t declared_block_max(SDL_RWops* File, uint64_t Pixels, uint64_t TableBytes)
{
  const uint64_t Most = SDL_BLOCK_MAX_BYTES;
  const uint64_t FileBytes = static_cast<uint64_t>(std::max<int64_t>(SDL_RWsize(File), 0));
  const uint64_t Bytes = std::min(Pixels, static_cast<uint64_t>(IMAGE_MAX_PIXELS)) * 8 + std::min(TableBytes, Most) +
                         FileBytes + DECLARED_BLOCK_SLACK_BYTES;
  return static_cast<size_t>(std::min(Bytes, Most));
}

// The decoded surface of File, no block of SDL's larger than BlockMax; too
// large when the decoder was refused one.
SDL_Surface* decode_bounded(SDL_RWops* File, const std::string& Path, size_t BlockMax, image_decode_result& Result)
{
  sdl_block_refused = false;
  sdl_block_max_bytes = BlockMax;
  SDL_Surface* Surface = IMG_LoadTyped_RW(File, 0, type_hint(Path));
  sdl_block_max_bytes = SDL_BLOCK_MAX_BYTES;
  if (!Surface && sdl_block_refused) Result = image_too_large;
  return Surface;
}

// The surface of File unless it is SVG text, declares too many pixels or
// hides its size.
SDL_Surface* decode_file(SDL_RWops* File, const std::string& Path, image_decode_result& Result)
{
  uint64_t Pixels = 0, TableBytes = 0;
  const header_size Header = declared_pixels(File, tga_hint(Path), Pixels, TableBytes);
  if (Header == header_sized && Pixels > static_cast<uint64_t>(IMAGE_MAX_PIXELS)) {
    Result = image_too_large;
    return nullptr;
  }
  if (Header == header_unreadable || IMG_isSVG(File)) return nullptr;
  const size_t BlockMax = Header == header_sized ? declared_block_max(File, Pixels, TableBytes) : SDL_BLOCK_MAX_BYTES;
  return decode_bounded(File, Path, BlockMax, Result);
}

// Sizes Pixels for Count colours; false when memory runs out.
bool allocate_pixels(std::vector<fcolor>& Pixels, long long Count)
{
  try {
    Pixels.resize(static_cast<size_t>(Count));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Bytes in memory order R, G, B (, A) at the surface's pitch, whatever its
// channel masks say; 24-bit pixels get alpha 1.
void convert_pixels(const SDL_Surface* Surface, int BytesPP, image& Image)
{
  const int W = Image.size[0];
  const unsigned char* Bytes = static_cast<const unsigned char*>(Surface->pixels);
  for (int y = 0; y < Image.size[1]; ++y) {
    const unsigned char* Row = Bytes + static_cast<size_t>(y) * Surface->pitch;
    fcolor* Dest = &Image.pixels[static_cast<size_t>(y) * W];
    for (int x = 0; x < W; ++x) {
      const unsigned char* P = Row + static_cast<size_t>(x) * BytesPP;
      for (int c = 0; c < 3; ++c) Dest[x][c] = P[c] / 255.0f;
      Dest[x][3] = BytesPP == 4 ? P[3] / 255.0f : 1.0f;
    }
  }
}

// Why a picture did not load: what decoding gave, and for a decoded
// picture the depth it was refused for.
struct load_failure {
  image_decode_result result;
  int bpp;
};

// Logs the failure line and gives the null handle of a failed load.
ref<image> log_failure(const std::string& Name, const load_failure& Failure)
{
  if (Failure.result == image_decoded)
    die_fatal({"image load fatal: unsupported BPP ", itostr(Failure.bpp)});
  else if (Failure.result == image_too_large)
    die_fatal({"image load fatal: image too large ``", Name, "''"});
  else
    die_fatal({"image load fatal: couldn't load image file ``", Name, "''"});
  return ref<image>();
}

// The image of a decoded surface, or a null handle with the reason.
ref<image> image_from_surface(const SDL_Surface* Surface, load_failure& Failure)
{
  const int BPP = Surface->format->BitsPerPixel;
  Failure = load_failure{image_decoded, BPP};
  if (BPP != 24 && BPP != 32) return ref<image>();
  ref<image> Image = mkref(new image());
  Image->size = mkiloc(Surface->w, Surface->h);
  const long long Count = static_cast<long long>(Surface->w) * Surface->h;
  if (!allocate_pixels(Image->pixels, Count)) {
    Failure.result = image_too_large;
    return ref<image>();
  }
  if (Count > 0) convert_pixels(Surface, BPP / 8, *Image.ptr());
  return Image;
}

// Path opened for SDL, with the stdio stream it reads and closes, where a
// read error shows apart from the file's end; null when it cannot be opened.
SDL_RWops* open_file(const std::string& Path, FILE*& Stream)
{
  Stream = std::fopen(Path.c_str(), "rb");
  SDL_RWops* File = Stream ? SDL_RWFromFP(Stream, SDL_TRUE) : nullptr;
  if (!File && Stream) std::fclose(Stream);
  return File;
}

// image_decode of a path already known to name a regular file. Lasting
// tells whether a failure is the file's own, which the same file gives
// again: not a failure to open or read it, nor memory the system lacked.
SDL_Surface* decode_regular_file(const std::string& Path, image_decode_result& Result, bool& Lasting)
{
  Lasting = false;
  FILE* Stream = nullptr;
  SDL_RWops* File = open_file(Path, Stream);
  if (!File) return nullptr;
  sdl_memory_ran_out = false;
  SDL_Surface* Surface = decode_file(File, Path, Result);
  Lasting = !std::ferror(Stream) && !sdl_memory_ran_out;
  SDL_RWclose(File);
  if (!Surface) return nullptr;
  // A picture of fewer bytes a pixel can pass the allocator's bound.
  if (static_cast<uint64_t>(Surface->w) * static_cast<uint64_t>(Surface->h) > static_cast<uint64_t>(IMAGE_MAX_PIXELS)) {
    SDL_FreeSurface(Surface);
    Result = image_too_large;
    return nullptr;
  }
  Result = image_decoded;
  return Surface;
}

// The image of the regular file Name, decoded, or a null handle with the
// reason and whether it lasts, as decode_regular_file tells.
ref<image> decode_image(const std::string& Name, load_failure& Failure, bool& Lasting)
{
  image_decode_result Result = image_unloadable;
  surface_ptr Surface(decode_regular_file(Name, Result, Lasting));
  Failure = load_failure{Result, 0};
  if (!Surface) return ref<image>();
  ref<image> Image = image_from_surface(Surface.get(), Failure);
  // Float pixels there was no memory for may fit later.
  if (Image.null() && Failure.result == image_too_large) Lasting = false;
  return Image;
}

// What failed to load. By path while memos last, so that a path asked for
// again is not even looked up (a long path takes the file system tens of
// microseconds). By file for the whole run, so that a damaged file is not
// decoded again, by any path that SDL_image takes alike, while it is
// unchanged: a large one takes seconds to fail. Past their caps failures are
// tried again on every request.
const size_t MAX_REMEMBERED_PATH_BYTES = 1 << 20;
const size_t MAX_REMEMBERED_FILES = 4096;
struct path_failures {
  std::unordered_map<std::string, load_failure> by_path;
  size_t path_bytes = 0;
};
path_failures failed_paths;
int failure_memos = 0;  // how many memos last
struct file_failure {
  file_id version;  // the file as it was when it failed
  load_failure failure;
};
// Device, inode and whether the path makes it a TGA.
typedef std::tuple<unsigned long long, unsigned long long, bool> file_key;
std::map<file_key, file_failure> failed_files;

file_key key_of(const file_id& Id, const std::string& Name) { return file_key(Id.device, Id.inode, tga_hint(Name)); }

// File times are stamped from a coarse clock: a file changed again within
// its tick keeps its times. So a failure is remembered only for a file whose
// last change came more than this long (ample for any tick) before its
// decoding began.
const long long FILE_TIME_TICK_NS = 100000000;

const load_failure* remembered(const std::string& Name)
{
  auto Failed = failed_paths.by_path.find(Name);
  return Failed == failed_paths.by_path.end() ? nullptr : &Failed->second;
}

// The failure of the file Id names, if it failed as it is now, by a path
// of Name's type.
const load_failure* remembered(const file_id& Id, const std::string& Name)
{
  auto Failed = failed_files.find(key_of(Id, Name));
  if (Failed == failed_files.end()) return nullptr;
  const file_id& Then = Failed->second.version;
  const bool Unchanged = Then.size == Id.size && Then.modified == Id.modified && Then.changed == Id.changed;
  return Unchanged ? &Failed->second.failure : nullptr;
}

// Remembers the failure of Name while a memo lasts and, when Id is the
// regular file it names and the failure lasts, that file's; then logs it and
// gives the null handle.
ref<image> failed(const std::string& Name, const file_id* Id, const load_failure& Failure)
{
  if (failure_memos > 0 && failed_paths.path_bytes + Name.size() <= MAX_REMEMBERED_PATH_BYTES) {
    failed_paths.by_path[Name] = Failure;
    failed_paths.path_bytes += Name.size();
  }
  if (Id) {
    const file_key Key = key_of(*Id, Name);
    if (failed_files.size() < MAX_REMEMBERED_FILES || failed_files.count(Key)) failed_files[Key] = file_failure{*Id, Failure};
  }
  return log_failure(Name, Failure);
}

// The wall clock, as file times are stamped.
long long clock_now_ns()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

long long (*image_clock_ns)() = clock_now_ns;

SDL_Surface* image_decode(const std::string& Path, image_decode_result& Result)
{
  Result = image_unloadable;
  bool Lasting = false;
  return fkind(Path) == file_regular ? decode_regular_file(Path, Result, Lasting) : nullptr;
}

ref<image> image_load(const std::string& Name)
{
  std::map<std::string, ref<image>>::iterator Cached = loaded.find(Name);
  if (Cached != loaded.end()) return Cached->second;
  die_progress({"image load: loading ", Name});
  if (const load_failure* Known = failure_memos > 0 ? remembered(Name) : nullptr) return log_failure(Name, *Known);
  // What is not a regular file is refused without being opened.
  file_id Id;
  load_failure Failure = {image_unloadable, 0};
  if (fkind(Name, Id) != file_regular) return failed(Name, nullptr, Failure);
  if (const load_failure* Known = remembered(Id, Name)) return failed(Name, nullptr, *Known);
  const long long Started = image_clock_ns();
  bool Lasting = false;
  ref<image> Image = decode_image(Name, Failure, Lasting);
  if (Image.null()) return failed(Name, Lasting && Started - Id.changed > FILE_TIME_TICK_NS ? &Id : nullptr, Failure);
  failed_files.erase(key_of(Id, Name));  // mended: its room goes to others
  loaded[Name] = Image;
  return Image;
}

image_failure_memo::image_failure_memo() { ++failure_memos; }

image_failure_memo::~image_failure_memo()
{
  if (--failure_memos == 0) failed_paths = path_failures();
}

fcolor image::get_pixel(const iloc& L) const
{
  if (L[0] < 0 || L[0] >= size[0] || L[1] < 0 || L[1] >= size[1]) return fcolor(1.0f);
  return pixels[static_cast<size_t>(L[0]) + static_cast<size_t>(size[0]) * L[1]];
}

fcolor image::get_any_pixel(rngen& RN) const
{
  // One draw even without pixels, so the generator's sequence stays in step.
  int ID = RN.get_index(static_cast<int>(pixels.size()));
  if (ID < 0 || static_cast<size_t>(ID) >= pixels.size()) return fcolor(1.0f);
  return pixels[ID];
}

namespace {

// Any byte that is not a hexadecimal digit counts as 0.
int hex_to_int(char H)
{
  if (H >= '0' && H <= '9') return H - '0';
  if (H >= 'a' && H <= 'f') return H - 'a' + 10;
  if (H >= 'A' && H <= 'F') return H - 'A' + 10;
  return 0;
}

int hex_to_int(char MSH, char LSH) { return 16 * hex_to_int(MSH) + hex_to_int(LSH); }

// (int)(C * 255.0) where it is defined; NaN and products outside the int
// range give INT_MIN, which prints as 80000000.
int color_byte(float C)
{
  double Product = static_cast<double>(C) * 255.0;
  if (!(Product > -2147483649.0 && Product < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(Product);
}

}  // namespace

fcolor str2color(const std::string& CHex)
{
  fcolor Color(0.0f);
  if (CHex.size() == 6) {
    for (int c = 0; c < 3; ++c) Color[c] = static_cast<float>(hex_to_int(CHex[2 * c], CHex[2 * c + 1]) / 255.0);
    Color[3] = 1.0f;
  } else if (!CHex.empty()) {
    die_warning({"str2color fatal: bad color string ``", CHex, "''"});
  }
  return Color;
}

std::string color2str(const fcolor& Color)
{
  char Buffer[255];
  std::snprintf(Buffer, sizeof Buffer, "%02x%02x%02x", static_cast<unsigned>(color_byte(Color[0])),
                static_cast<unsigned>(color_byte(Color[1])), static_cast<unsigned>(color_byte(Color[2])));
  return Buffer;
}
