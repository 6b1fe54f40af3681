// The fixture of the end-to-end tests: a temporary working directory for
// the test game, an X display of its own, and the program run on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"
#include "veldt_run.h"
#include "x_session.h"

// Generous: the sanitizer build on a loaded machine starts in seconds.
const milliseconds START_TIMEOUT(60000);
const milliseconds LINE_TIMEOUT(30000);
const milliseconds EXIT_TIMEOUT(30000);

using lines_t = std::vector<std::string>;

const lines_t SHUT_DOWN_LINES = {"- main: closing world", "- main: quitting SDL"};

inline bool contains(const lines_t& Lines, const std::string& Line)
{
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

inline lines_t last_lines(const lines_t& Lines, size_t Count)
{
  return lines_t(Lines.end() - std::min(Count, Lines.size()), Lines.end());
}

// A measurement for the test's log.
inline void report(const std::string& What, double Value, const std::string& Unit)
{
  std::cout << "[ measure  ] " << What << ": " << Value << " " << Unit << std::endl;
}

inline void report(const std::string& What, std::chrono::steady_clock::duration Time)
{
  report(What, std::chrono::duration<double, std::milli>(Time).count(), "ms");
}

inline void expect_no_sanitizer_report(const veldt_run& Run)
{
  const std::string Errors = Run.stderr_text();
  EXPECT_EQ(std::string::npos, Errors.find("Sanitizer")) << Errors;
  EXPECT_EQ(std::string::npos, Errors.find("runtime error")) << Errors;
}

class EndToEnd : public testing::Test {
 protected:
  EndToEnd() { write_start_up_scripts(); }

  void start() { Run = std::make_unique<veldt_run>(std::vector<std::string>{X.display_variable()}); }
  // Starts the program and gives its window, once titled, the keyboard.
  void start_and_focus()
  {
    start();
    try {
      Window = X.find_window("Veldt", Run->process(), START_TIMEOUT);
    } catch (const std::runtime_error& Error) {
      // How the program ended, and why in its own words.
      std::string Text = Error.what();
      if (std::optional<int> Status = Run->process().wait_for_exit(milliseconds(0)))
        Text += " (" + describe_status(*Status) + ")";
      for (const std::string& Line : last_lines(Run->lines(), 8)) Text += "\n" + Line;
      throw std::runtime_error(Text + "\n" + Run->stderr_text());
    }
    X.focus(Window);
  }
  // Ends the program with F12: result 0 and the shut-down lines last.
  void quit_with_f12()
  {
    X.key("F12");
    EXPECT_EQ("exit 0", describe_status(Run->wait_for_exit(EXIT_TIMEOUT)));
    EXPECT_EQ(SHUT_DOWN_LINES, last_lines(Run->lines(), 2));
    expect_no_sanitizer_report(*Run);
  }

  temp_dir Dir;  // first made, last removed: the working directory of all
  x_session X;
  std::unique_ptr<veldt_run> Run;
  std::string Window;
};
