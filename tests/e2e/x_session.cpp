#include "x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace {

const milliseconds SERVER_START_TIMEOUT(20000);
// Between two looks for a window or a window manager that is not there yet.
const milliseconds WINDOW_POLL_PERIOD(20);

// The X window dump's header: 25 big-endian 32-bit fields.
enum xwd_field {
  xwd_header_size = 0,
  xwd_pixmap_format = 2,
  xwd_pixmap_width = 4,
  xwd_pixmap_height = 5,
  xwd_byte_order = 7,
  xwd_bits_per_pixel = 11,
  xwd_bytes_per_line = 12,
  xwd_visual_class = 13,
  xwd_red_mask = 14,
  xwd_green_mask = 15,
  xwd_blue_mask = 16,
  xwd_ncolors = 19,
  xwd_field_count = 25
};
const uint32_t XWD_ZPIXMAP = 2;
const uint32_t XWD_LSB_FIRST = 0;
const uint32_t TRUE_COLOR = 4;
const uint32_t DIRECT_COLOR = 5;
const size_t XWD_COLOR_SIZE = 12;  // pixel (32 bits), red, green, blue (16 bits each), flags, pad

uint32_t big_endian(const std::string& Bytes, size_t At, int Count)
{
  if (At + Count > Bytes.size()) throw std::runtime_error("xwd: file too short");
  uint32_t Value = 0;
  for (int i = 0; i < Count; ++i) Value = Value << 8 | static_cast<unsigned char>(Bytes[At + i]);
  return Value;
}

int lowest_bit(uint32_t Mask)
{
  int Shift = 0;
  while (Mask && !(Mask >> Shift & 1)) ++Shift;
  return Shift;
}

// One colour channel of a pixel: through the dumped colour map for a
// direct-colour window, straight from the bits for a true-colour one.
uint32_t channel(uint32_t Pixel, uint32_t Mask, int ColourOffset, uint32_t VisualClass,
                 const std::string& Bytes, size_t Colours, uint32_t NColours)
{
  const uint32_t Index = (Pixel & Mask) >> lowest_bit(Mask);
  if (VisualClass == DIRECT_COLOR) {
    if (Index >= NColours) throw std::runtime_error("xwd: pixel outside the colour map");
    return big_endian(Bytes, Colours + Index * XWD_COLOR_SIZE + ColourOffset, 2) >> 8;
  }
  const uint32_t Max = Mask >> lowest_bit(Mask);
  return Max == 255 ? Index : Index * 255 / Max;
}

}  // namespace

screen_grab parse_xwd(const std::string& Bytes)
{
  uint32_t Header[xwd_field_count];
  for (int i = 0; i < xwd_field_count; ++i) Header[i] = big_endian(Bytes, 4 * i, 4);
  const uint32_t VisualClass = Header[xwd_visual_class];
  if (Header[xwd_pixmap_format] != XWD_ZPIXMAP || Header[xwd_bits_per_pixel] != 32 ||
      (VisualClass != TRUE_COLOR && VisualClass != DIRECT_COLOR))
    throw std::runtime_error("xwd: not a 32-bit true- or direct-colour dump");

  screen_grab Grab;
  Grab.w = static_cast<int>(Header[xwd_pixmap_width]);
  Grab.h = static_cast<int>(Header[xwd_pixmap_height]);
  const size_t Colours = Header[xwd_header_size];
  const uint32_t NColours = Header[xwd_ncolors];
  const size_t Pixels = Colours + NColours * XWD_COLOR_SIZE;
  const bool LsbFirst = Header[xwd_byte_order] == XWD_LSB_FIRST;
  Grab.pixels.reserve(static_cast<size_t>(Grab.w) * Grab.h);
  for (int Y = 0; Y < Grab.h; ++Y)
    for (int X = 0; X < Grab.w; ++X) {
      const size_t At = Pixels + static_cast<size_t>(Y) * Header[xwd_bytes_per_line] + 4 * X;
      uint32_t Pixel = big_endian(Bytes, At, 4);
      if (LsbFirst) Pixel = __builtin_bswap32(Pixel);
      Grab.pixels.push_back(channel(Pixel, Header[xwd_red_mask], 4, VisualClass, Bytes, Colours, NColours) << 16 |
                            channel(Pixel, Header[xwd_green_mask], 6, VisualClass, Bytes, Colours, NColours) << 8 |
                            channel(Pixel, Header[xwd_blue_mask], 8, VisualClass, Bytes, Colours, NColours));
    }
  return Grab;
}

x_session::x_session()
{
  // Xvfb writes the number of the display it chose to descriptor 3 once
  // it accepts clients. Without -noreset it resets whenever its last client
  // leaves, cutting off a program whose own connection is still being made
  // as an xdotool poll disconnects.
  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  child_options Options;
  Options.env = {path_variable()};
  Options.pass_fd = Pipe[1];
  Server = std::make_unique<child_process>(
      std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
      Options);
  close(Pipe[1]);

  std::string Number;
  pollfd P{Pipe[0], POLLIN, 0};
  char C = 0;
  while (Number.empty() || Number.back() != '\n') {
    if (poll(&P, 1, static_cast<int>(SERVER_START_TIMEOUT.count())) <= 0 || read(Pipe[0], &C, 1) != 1) break;
    Number += C;
  }
  close(Pipe[0]);
  if (Number.size() < 2 || Number.back() != '\n') throw std::runtime_error("Xvfb did not start");
  Number.pop_back();
  Display = "DISPLAY=:" + Number;
}

x_session::~x_session()
{
  if (WindowManager) WindowManager->stop();
  Server->stop();
}

void x_session::start_window_manager()
{
  child_options Options;
  Options.env = tool_env();
  WindowManager = std::make_unique<child_process>(std::vector<std::string>{"openbox"}, Options);
  // The desktop number is the window manager's to set; xdotool fails to
  // read it until then.
  const auto Deadline = std::chrono::steady_clock::now() + SERVER_START_TIMEOUT;
  for (;;) {
    try {
      xdotool({"get_desktop"});
      return;
    } catch (const std::runtime_error&) {
    }
    if (!WindowManager->running()) throw std::runtime_error("openbox ended at its start");
    if (std::chrono::steady_clock::now() >= Deadline) throw std::runtime_error("openbox did not start");
    std::this_thread::sleep_for(WINDOW_POLL_PERIOD);
  }
}

std::vector<std::string> x_session::tool_env() const
{
  return {Display, path_variable()};
}

std::string x_session::xdotool(const std::vector<std::string>& Args)
{
  std::vector<std::string> Command{"xdotool"};
  Command.insert(Command.end(), Args.begin(), Args.end());
  return run_tool(Command, tool_env());
}

std::string x_session::find_window(const std::string& Title, child_process& Program, milliseconds Timeout)
{
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  std::vector<std::string> Search{"xdotool", "search", "--name", "^" + Title + "$"};
  for (;;) {
    // xdotool search ends with a failure while nothing matches.
    try {
      std::string Found = run_tool(Search, tool_env());
      return Found.substr(0, Found.find('\n'));
    } catch (const std::runtime_error&) {
    }
    if (!Program.running()) throw std::runtime_error("the program ended before its window was titled " + Title);
    if (std::chrono::steady_clock::now() >= Deadline) throw std::runtime_error("no window titled " + Title);
    std::this_thread::sleep_for(WINDOW_POLL_PERIOD);
  }
}

std::string x_session::window_name(const std::string& Window)
{
  std::string Name = xdotool({"getwindowname", Window});
  if (!Name.empty() && Name.back() == '\n') Name.pop_back();
  return Name;
}

void x_session::focus(const std::string& Window) { xdotool({"windowfocus", "--sync", Window}); }
void x_session::key(const std::string& Name) { xdotool({"key", Name}); }
void x_session::key_down(const std::string& Name) { xdotool({"keydown", Name}); }
void x_session::key_up(const std::string& Name) { xdotool({"keyup", Name}); }

screen_grab x_session::grab(const std::string& Window)
{
  return parse_xwd(run_tool({"xwd", "-silent", "-id", Window}, tool_env()));
}
