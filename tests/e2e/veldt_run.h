// One run of the built program in the test's working directory, whose
// trace.txt is followed line by line as it grows.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "game_files.h"

using seen_time = std::chrono::steady_clock::time_point;

class veldt_run {
 public:
  // Starts the program with Env (DISPLAY, or what a test puts in its place)
  // added to the environment every run gets, in place of a default of the
  // same name.
  explicit veldt_run(const std::vector<std::string>& Env);

  child_process& process() { return *Program; }
  seen_time started() const { return Start; }

  // The complete lines of trace.txt so far, without their line ends.
  const std::vector<std::string>& lines();
  // When line Index was first seen.
  seen_time seen(size_t Index) const { return Seen.at(Index); }
  // Waits for a line equal to Line at index From or later and returns its
  // index; throws, with the trace's last lines, when the program ends or
  // Timeout passes first.
  size_t wait_for_line(const std::string& Line, milliseconds Timeout, size_t From = 0);
  // Line Index + 1, waiting for it as wait_for_line does.
  const std::string& line_after(size_t Index, milliseconds Timeout);
  // The wait status once the program has ended within Timeout; throws
  // otherwise.
  int wait_for_exit(milliseconds Timeout);

  std::string stdout_text() const;
  std::string stderr_text() const;

 private:
  void read_new_lines();
  // The index of the first line from From on for which Found holds.
  size_t wait_for(const std::function<bool(size_t)>& Found, const std::string& What, milliseconds Timeout,
                  size_t From);
  std::string failure(const std::string& What);

  std::unique_ptr<child_process> Program;
  seen_time Start;
  std::vector<std::string> Lines;
  std::vector<seen_time> Seen;
  std::string Partial;  // the last line while it is still being written
  long Offset = 0;
};
