#include "die.h"

#include <csignal>
#include <cstring>
#include <iostream>

std::ofstream TRACE_FILE;

void die_init(const std::string& TraceFile)
{
  // Standard output may be a pipe whose reader has gone away, and the trace
  // file may meet a file-size limit; their lines are then dropped instead of
  // the signal ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  if (TRACE_FILE.is_open()) TRACE_FILE.close();
  TRACE_FILE.clear();
  // Unbuffered, so that a line whose write fails leaves no bytes behind in
  // the stream to be written again with a later line or at exit.
  TRACE_FILE.rdbuf()->pubsetbuf(nullptr, 0);
  TRACE_FILE.open(TraceFile.c_str(), std::ios::out | std::ios::trunc);
  if (TRACE_FILE.is_open()) TRACE_FILE.clear();
}

namespace {

// Lines up to this long are put together first and written in one piece, so
// a failed write cannot leave half of one in the file; longer lines are
// written piece by piece.
const size_t WHOLE_LINE_BYTES = 4096;

void write_pieces(std::ostream& Out, char Marker, die_pieces Message)
{
  Out.put(Marker);
  Out.put(' ');
  for (std::string_view Piece : Message) Out.write(Piece.data(), static_cast<std::streamsize>(Piece.size()));
  Out.put('\n');
}

void write_line(std::ostream& Out, char Marker, die_pieces Message)
{
  // A failed earlier line must not silence this one.
  Out.clear();
  size_t Length = 3;
  for (std::string_view Piece : Message) Length += Piece.size();
  if (Length > WHOLE_LINE_BYTES) {
    write_pieces(Out, Marker, Message);
  } else {
    char Line[WHOLE_LINE_BYTES];
    char* End = Line;
    *End++ = Marker;
    *End++ = ' ';
    for (std::string_view Piece : Message) {
      if (Piece.empty()) continue;  // an empty view may have no data at all
      std::memcpy(End, Piece.data(), Piece.size());
      End += Piece.size();
    }
    *End++ = '\n';
    Out.write(Line, static_cast<std::streamsize>(Length));
  }
  Out.flush();
}

}  // namespace

void die_line(char Marker, die_pieces Message)
{
  write_line(TRACE_FILE, Marker, Message);
  write_line(std::cout, Marker, Message);
}

void die_line(char Marker, std::string_view Message) { die_line(Marker, {Message}); }

void die_progress(std::string_view Message) { die_line('-', Message); }
void die_progress(die_pieces Message) { die_line('-', Message); }
void die_warning(std::string_view Message) { die_line('!', Message); }
void die_warning(die_pieces Message) { die_line('!', Message); }
void die_fatal(std::string_view Message) { die_line('*', Message); }
void die_fatal(die_pieces Message) { die_line('*', Message); }
