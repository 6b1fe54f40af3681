// A virtual X display of its own for one test, with the X tools that drive
// and watch the program on it: xdotool for windows and keys, xwd for
// screen grabs, and on request a window manager.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

// A grabbed window's pixels, top row first.
struct screen_grab {
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB

  uint32_t at(int X, int Y) const { return pixels.at(static_cast<size_t>(Y) * w + X); }
};

// Reads an X window dump (the format xwd writes) of a true- or direct-colour
// window; throws on anything else.
screen_grab parse_xwd(const std::string& Bytes);

class x_session {
 public:
  // Starts Xvfb with one 1024 x 768 screen on a display number it picks
  // itself, so parallel tests never share a display.
  x_session();
  ~x_session();
  x_session(const x_session&) = delete;
  x_session& operator=(const x_session&) = delete;

  // Starts openbox on the display and waits until it manages windows.
  void start_window_manager();

  // DISPLAY=:N, the variable that puts a client on this display.
  const std::string& display_variable() const { return Display; }

  // The id of the window titled exactly Title, waiting for it up to
  // Timeout while Program runs; throws when it does not appear.
  std::string find_window(const std::string& Title, child_process& Program, milliseconds Timeout);
  std::string window_name(const std::string& Window);
  // Gives Window the keyboard focus and waits until it has it.
  void focus(const std::string& Window);
  // Presses and releases, presses, or releases a key by its X name
  // ("a", "F11") on the focused window.
  void key(const std::string& Name);
  void key_down(const std::string& Name);
  void key_up(const std::string& Name);
  screen_grab grab(const std::string& Window);

 private:
  std::string xdotool(const std::vector<std::string>& Args);
  std::vector<std::string> tool_env() const;

  std::unique_ptr<child_process> Server;
  std::unique_ptr<child_process> WindowManager;
  std::string Display;
};
