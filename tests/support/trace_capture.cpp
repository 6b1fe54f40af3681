#include "trace_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "die.h"
#include "temp_dir.h"

namespace {
int NextCapture = 0;
}

trace_capture::trace_capture() : Capturing(true)
{
  File = (std::filesystem::temp_directory_path() /
          ("veldt-trace-" + std::to_string(getpid()) + "-" + std::to_string(NextCapture++) + ".txt"))
             .string();
  die_init(File);
  testing::internal::CaptureStdout();
}

trace_capture::~trace_capture()
{
  if (Capturing) testing::internal::GetCapturedStdout();
  std::error_code Ignored;
  std::filesystem::remove(File, Ignored);
}

std::string trace_capture::text() const { return read_file(File); }

std::vector<std::string> trace_capture::lines() const
{
  std::vector<std::string> Lines;
  std::string Text = text();
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Lines;
}

std::string trace_capture::stdout_text()
{
  if (!Capturing) return std::string();
  Capturing = false;
  return testing::internal::GetCapturedStdout();
}
