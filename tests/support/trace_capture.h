// Points the trace log at a file of its own and reads back what was logged
// since, so tests can assert exact lines. Standard output is captured too.
#pragma once

#include <string>
#include <vector>

class trace_capture {
 public:
  trace_capture();   // opens a fresh trace file and starts capturing stdout
  ~trace_capture();  // stops capturing stdout if still capturing

  // Everything written to the trace file so far.
  std::string text() const;
  // The lines of text(), without their line ends.
  std::vector<std::string> lines() const;
  // Stops capturing standard output and returns what it received.
  std::string stdout_text();

 private:
  std::string File;
  bool Capturing;
};
