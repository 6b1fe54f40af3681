#include "die.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iostream>

std::ofstream TRACE_FILE;

namespace {

// Whether the trace file has taken its last line.
bool trace_file_full = false;

// The trace file opened a second time, to cut it back to its last whole
// line when a write fails part-way; -1 when it is not open.
int trace_file_fd = -1;

// The innermost cap in force, if any.
die_line_cap* line_cap = nullptr;

// Opens /dev/null onto each of standard input, output and error that is
// closed. A descriptor opened later would otherwise take its number: the
// trace file as descriptor 1 gets every line twice, and its second
// descriptor there gets standard output's copies past the file's limit.
void open_closed_standard_descriptors()
{
  for (int Fd = 0; Fd <= 2; ++Fd)
    if (fcntl(Fd, F_GETFD) < 0 && errno == EBADF) {
      // Open gives the lowest free descriptor, which is Fd.
      const int Null = open("/dev/null", O_RDWR);
      if (Null >= 0 && Null != Fd) close(Null);
    }
}

}  // namespace

void die_init(const std::string& TraceFile)
{
  open_closed_standard_descriptors();
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
  if (trace_file_fd >= 0) close(trace_file_fd);
  trace_file_fd = -1;
  if (TRACE_FILE.is_open()) {
    TRACE_FILE.clear();
    trace_file_fd = open(TraceFile.c_str(), O_WRONLY | O_CLOEXEC);
  }
  trace_file_full = false;
}

namespace {

// Lines up to this long are put together first and written in one piece,
// one system call on the unbuffered trace file; longer lines are written
// piece by piece.
const size_t WHOLE_LINE_BYTES = 4096;

const char CUT_MARK[] = "[...]";
const char TRACE_FILE_FULL[] = "trace warning: the trace file is full at 256 MiB; later lines go to standard output only";

// Calls Emit with every piece of Message in turn; a piece longer than Limit
// bytes is given cut there and followed by the cut mark.
template <class Emitter>
void for_each_chunk(die_pieces Message, size_t Limit, Emitter Emit)
{
  for (std::string_view Piece : Message) {
    if (Piece.size() <= Limit) {
      Emit(Piece);
    } else {
      Emit(Piece.substr(0, Limit));
      Emit(CUT_MARK);
    }
  }
}

// The bytes of the line: marker, blank, message and line end.
size_t line_length(die_pieces Message, size_t Limit)
{
  size_t Length = 3;
  for_each_chunk(Message, Limit, [&Length](std::string_view Chunk) { Length += Chunk.size(); });
  return Length;
}

// Writes the line of Length bytes (line_length of Message and Limit).
void write_line(std::ostream& Out, char Marker, die_pieces Message, size_t Limit, size_t Length)
{
  // A failed earlier line must not silence this one.
  Out.clear();
  if (Length > WHOLE_LINE_BYTES) {
    Out.put(Marker);
    Out.put(' ');
    for_each_chunk(Message, Limit, [&Out](std::string_view Chunk) {
      Out.write(Chunk.data(), static_cast<std::streamsize>(Chunk.size()));
    });
    Out.put('\n');
  } else {
    char Line[WHOLE_LINE_BYTES];
    char* End = Line;
    *End++ = Marker;
    *End++ = ' ';
    for_each_chunk(Message, Limit, [&End](std::string_view Chunk) {
      if (Chunk.empty()) return;  // an empty view may have no data at all
      std::memcpy(End, Chunk.data(), Chunk.size());
      End += Chunk.size();
    });
    *End++ = '\n';
    Out.write(Line, static_cast<std::streamsize>(Length));
  }
  Out.flush();
}

// Writes the line to the trace file, which ends at End. A write that fails
// part-way (a full disk) is undone by cutting the file back to End, so the
// file always ends with a whole line and its size is where the stream stands.
void write_trace_line(char Marker, die_pieces Message, size_t Limit, size_t Length, std::streamoff End)
{
  write_line(TRACE_FILE, Marker, Message, Limit, Length);
  if (TRACE_FILE.good() || End < 0 || trace_file_fd < 0) return;
  if (ftruncate(trace_file_fd, End) == 0) {
    TRACE_FILE.clear();
    TRACE_FILE.seekp(End);
  }
}

// Writes the line to the trace file if it stays within the file's limit.
// The first line that would pass it is replaced there by the notice that the
// file is full, which keeps room for itself; no line is ever cut.
void write_to_trace_file(char Marker, die_pieces Message, size_t Limit, size_t Length)
{
  if (trace_file_full) return;
  TRACE_FILE.clear();
  const std::streamoff End = TRACE_FILE.tellp();  // -1 when the file is not open
  const size_t NoticeBytes = sizeof TRACE_FILE_FULL + 2;  // marker, blank, text, line end
  if (End + static_cast<long long>(Length) <= TRACE_FILE_MAX_BYTES - static_cast<long long>(NoticeBytes))
    return write_trace_line(Marker, Message, Limit, Length, End);
  trace_file_full = true;
  write_trace_line('!', {TRACE_FILE_FULL}, SIZE_MAX, NoticeBytes, End);
  write_line(std::cout, '!', {TRACE_FILE_FULL}, SIZE_MAX, NoticeBytes);
}

void write_everywhere(char Marker, die_pieces Message, size_t Limit)
{
  const size_t Length = line_length(Message, Limit);
  write_to_trace_file(Marker, Message, Limit, Length);
  write_line(std::cout, Marker, Message, Limit, Length);
}

}  // namespace

void die_line(char Marker, die_pieces Message)
{
  if (!line_cap) return write_everywhere(Marker, Message, SIZE_MAX);
  die_line_cap& Cap = *line_cap;
  if (Cap.LinesLeft > 0) {
    --Cap.LinesLeft;
    write_everywhere(Marker, Message, CAPPED_PIECE_BYTES);
  } else if (Cap.LinesLeft == 0) {
    --Cap.LinesLeft;
    write_everywhere('!', {Cap.Notice}, SIZE_MAX);
  }
}

void die_line(char Marker, std::string_view Message) { die_line(Marker, {Message}); }

void die_progress(std::string_view Message) { die_line('-', Message); }
void die_progress(die_pieces Message) { die_line('-', Message); }
void die_warning(std::string_view Message) { die_line('!', Message); }
void die_warning(die_pieces Message) { die_line('!', Message); }
void die_fatal(std::string_view Message) { die_line('*', Message); }
void die_fatal(die_pieces Message) { die_line('*', Message); }

die_line_cap::die_line_cap(int MaxLines, std::string_view Notice) : Outer(line_cap), LinesLeft(MaxLines), Notice(Notice)
{
  line_cap = this;
}

die_line_cap::~die_line_cap() { line_cap = Outer; }
