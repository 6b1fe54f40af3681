// The trace log: every line goes to "trace.txt" and then to standard output.
#pragma once

#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

// The trace file; closed by its own destructor when the process exits.
extern std::ofstream TRACE_FILE;

// Opens (truncates) the trace file. On failure the stream stays failed and
// only standard output receives lines. Writes nothing.
void die_init(const std::string& TraceFile);

// A message given as pieces that are written one after the other. Neither
// form of a message allocates, so a line can still be written when memory
// has run out.
using die_pieces = std::initializer_list<std::string_view>;

// Writes Marker, a blank, Message and a line end to the trace file, flushes,
// then the same to standard output, flushes. Each stream starts the line from
// a clean state; a line whose write fails is dropped, never written later.
void die_line(char Marker, std::string_view Message);
void die_line(char Marker, die_pieces Message);

void die_progress(std::string_view Message);  // marker '-'
void die_progress(die_pieces Message);
void die_warning(std::string_view Message);   // marker '!'
void die_warning(die_pieces Message);
void die_fatal(std::string_view Message);     // marker '*'; never ends the process
void die_fatal(die_pieces Message);

// The trace file takes lines up to this size; the line that would pass it is
// replaced there by a warning that later lines go to standard output only,
// which still receives every line. A script failing on every pass would
// otherwise fill the disk.
const long long TRACE_FILE_MAX_BYTES = 256LL << 20;

// While one exists, lines are bounded: after MaxLines lines, Notice takes
// the place of the next as a warning line, and nothing more is written until
// it ends. Any piece of a message longer than CAPPED_PIECE_BYTES is cut
// there and followed by "[...]": the pieces that long are texts of scripts.
const size_t CAPPED_PIECE_BYTES = 256;
class die_line_cap {
 public:
  die_line_cap(int MaxLines, std::string_view Notice);
  ~die_line_cap();
  die_line_cap(const die_line_cap&) = delete;
  die_line_cap& operator=(const die_line_cap&) = delete;

 private:
  friend void die_line(char Marker, die_pieces Message);
  die_line_cap* Outer;  // the cap in force before this one
  int LinesLeft;        // -1 once Notice is written
  std::string_view Notice;
};
