// File-existence test and raw little-endian value streams: int (4 bytes),
// double (8 bytes), string (int count, then the bytes).
#pragma once

#include <istream>
#include <ostream>
#include <string>

// True when File can be opened for reading ("rb"); it is closed at once.
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
