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

std::vector<std::string> trace_capture::lines() const { return split_lines(text()); }

std::string trace_capture::stdout_text()
{
  if (!Capturing) return std::string();
  Capturing = false;
  return testing::internal::GetCapturedStdout();
}
