// File-existence test and raw little-endian value streams: int (4 bytes),
// double (8 bytes), string (int count, then the bytes).
#pragma once

#include <istream>
#include <ostream>
#include <string>

// What File names, after following links. The program opens only regular
// files: anything else (a named pipe, a folder, a device) counts as absent or
// unloadable, since opening a pipe can block for ever.
enum file_kind { file_absent, file_regular, file_other };
file_kind fkind(const std::string& File);
// Which file a path names, after following links: device and inode, the
// same for every path to one file; and which version of it: its size and the
// times of its last change of content and of any change (nanoseconds).
struct file_id {
  unsigned long long device, inode;
  long long size, modified, changed;
};
// As fkind, with Id set when File names anything.
file_kind fkind(const std::string& File, file_id& Id);
// True when File is a regular file that can be opened for reading ("rb"); it
// is closed at once.
bool fexist(const std::string& File);

void fput_int(std::ostream& Dest, int Value);
// Bytes that never arrive stay zero; the stream's own flags tell of it.
int fget_int(std::istream& Source);
void fput_double(std::ostream& Dest, double Value);
double fget_double(std::istream& Source);
void fput_string(std::ostream& Dest, const std::string& Value);
// The text up to its first NUL; all counted bytes are consumed. A negative
// count gives the empty string. A count beyond the stream's end gives the
// bytes actually read (up to a NUL) and leaves the stream failed.
std::string fget_string(std::istream& Source);
// The Len bytes of a string whose count has already been read, as
// fget_string reads them: bounded chunks, cut at the first NUL, fewer when
// the stream ends first (it is then failed); nothing for Len <= 0.
std::string fget_string_bytes(std::istream& Source, int Len);
