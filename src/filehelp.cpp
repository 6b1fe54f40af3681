#include "filehelp.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

file_kind fkind(const std::string& File, file_id& Id)
{
  struct stat Info;
  if (stat(File.c_str(), &Info) != 0) return file_absent;
  const auto Nanoseconds = [](const timespec& T) { return static_cast<long long>(T.tv_sec) * 1000000000LL + T.tv_nsec; };
  Id = file_id{static_cast<unsigned long long>(Info.st_dev), static_cast<unsigned long long>(Info.st_ino),
               static_cast<long long>(Info.st_size), Nanoseconds(Info.st_mtim), Nanoseconds(Info.st_ctim)};
  return S_ISREG(Info.st_mode) ? file_regular : file_other;
}

file_kind fkind(const std::string& File)
{
  file_id Ignored;
  return fkind(File, Ignored);
}

bool fexist(const std::string& File)
{
  if (fkind(File) != file_regular) return false;
  FILE* F = std::fopen(File.c_str(), "rb");
  if (!F) return false;
  std::fclose(F);
  return true;
}

namespace {

// The byte forms are little-endian whatever the host; these spell the bytes
// out so the format never depends on the machine.
void put_le(std::ostream& Dest, uint64_t Bits, int Bytes)
{
  char Buffer[8];
  for (int i = 0; i < Bytes; ++i) Buffer[i] = static_cast<char>((Bits >> (8 * i)) & 0xff);
  Dest.write(Buffer, Bytes);
}

uint64_t get_le(std::istream& Source, int Bytes)
{
  unsigned char Buffer[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  Source.read(reinterpret_cast<char*>(Buffer), Bytes);
  uint64_t Bits = 0;
  for (int i = 0; i < Bytes; ++i) Bits |= static_cast<uint64_t>(Buffer[i]) << (8 * i);
  return Bits;
}

// Large counts are read piece by piece, so a corrupt count never allocates
// more than the stream really holds plus one chunk.
const std::streamsize STRING_CHUNK = 64 * 1024;

}  // namespace

void fput_int(std::ostream& Dest, int Value)
{
  put_le(Dest, static_cast<uint32_t>(Value), 4);
}

int fget_int(std::istream& Source)
{
  return static_cast<int32_t>(static_cast<uint32_t>(get_le(Source, 4)));
}

void fput_double(std::ostream& Dest, double Value)
{
  uint64_t Bits;
  std::memcpy(&Bits, &Value, sizeof Bits);
  put_le(Dest, Bits, 8);
}

double fget_double(std::istream& Source)
{
  uint64_t Bits = get_le(Source, 8);
  double Value;
  std::memcpy(&Value, &Bits, sizeof Value);
  return Value;
}

void fput_string(std::ostream& Dest, const std::string& Value)
{
  // Texts beyond the int count's range are cut so the count stays true.
  int Len = Value.size() > INT32_MAX ? INT32_MAX : static_cast<int>(Value.size());
  fput_int(Dest, Len);
  Dest.write(Value.data(), Len);
}

std::string fget_string(std::istream& Source) { return fget_string_bytes(Source, fget_int(Source)); }

std::string fget_string_bytes(std::istream& Source, int Len)
{
  std::string Text;
  std::streamsize Left = Len > 0 ? Len : 0;
  while (Left > 0) {
    std::streamsize Want = Left < STRING_CHUNK ? Left : STRING_CHUNK;
    size_t Old = Text.size();
    Text.resize(Old + static_cast<size_t>(Want));
    Source.read(&Text[Old], Want);
    std::streamsize Got = Source.gcount();
    Text.resize(Old + static_cast<size_t>(Got));
    if (Got < Want) break;
    Left -= Got;
  }
  size_t Nul = Text.find('\0');
  if (Nul != std::string::npos) Text.resize(Nul);
  return Text;
}
