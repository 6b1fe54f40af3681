// The built program as a user runs it: on an X display of its own, driven by
// real key events, watched through its trace and screen grabs.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "end_to_end.h"
#include "png_writer.h"
#include "temp_dir.h"

namespace {

const lines_t START_UP_LINES = {
    "- veldt: game by Brindlewick for Marrowfest #13",
    "- main: initializing SDL",
    "- screen open: want BPP is 32",
    "- screen open: setting GL color sizes attributes",
    "- screen open: setting video mode",
    "- screen open: setting to windowed 800x600",
    "- refresh screen viewport: now 800x600, viewport 800x600",
};

// Reports every update with its step, every key that enters or leaves
// keys_down and every key press by name.
const char* const KEY_REPORTING_GAME = R"(
local frame, held = 0, {}
function update(dt)
  frame = frame + 1
  WARN("update " .. frame .. " " .. dt)
  for name in pairs(keys_down) do
    if not held[name] then WARN("down " .. name) end
  end
  for name in pairs(held) do
    if not keys_down[name] then WARN("up " .. name) end
  end
  held = keys_down
end
function keypress(name) WARN("keypress " .. name) end
render_list = {"none"}
)";

lines_t first_lines(const lines_t& Lines, size_t Count)
{
  return lines_t(Lines.begin(), Lines.begin() + std::min(Count, Lines.size()));
}

TEST_F(EndToEnd, StartsWithItsLinesTitlesTheWindowVeldtAndEndsOnF12WithResult0)
{
  write_file("game/main.lua", KEY_REPORTING_GAME);
  start_and_focus();
  const size_t First = Run->wait_for_line("! update 1 0.02", LINE_TIMEOUT);
  report("time from start to the first update", Run->seen(First) - Run->started());

  lines_t Expected = START_UP_LINES;
  Expected.push_back("! update 1 0.02");
  EXPECT_EQ(Expected, first_lines(Run->lines(), Expected.size()));
  EXPECT_EQ("Veldt", X.window_name(Window));

  quit_with_f12();
  EXPECT_EQ(read_file("trace.txt"), Run->stdout_text());
}

TEST_F(EndToEnd, KeysReachTheScriptsByNameWhileF11TogglesFullScreenAndF12Quits)
{
  write_file("game/main.lua", KEY_REPORTING_GAME);
  start_and_focus();
  Run->wait_for_line("! update 1 0.02", LINE_TIMEOUT);

  X.key_down("s");
  size_t At = Run->wait_for_line("! down S", LINE_TIMEOUT);
  X.key_up("s");
  At = Run->wait_for_line("! up S", LINE_TIMEOUT, At);
  X.key("a");
  Run->wait_for_line("! keypress A", LINE_TIMEOUT, At);

  // The viewport line of a toggle follows its toggle line at once; the
  // window size it reports is whatever SDL says the switch gave.
  const std::regex Viewport("- refresh screen viewport: now (\\d+)x(\\d+), viewport (\\d+)x(\\d+)");
  for (const char* Mode : {"fullscreen", "windowed"}) {
    X.key("F11");
    At = Run->wait_for_line(std::string("- toggle fullscreen: now ") + Mode, LINE_TIMEOUT, At);
    const std::string Next = Run->line_after(At, LINE_TIMEOUT);
    std::smatch Size;
    ASSERT_TRUE(std::regex_match(Next, Size, Viewport)) << Next;
    const int W = std::stoi(Size[1]), H = std::stoi(Size[2]);
    const int ViewW = 3 * W <= 4 * H ? W : 4 * H / 3;
    const int ViewH = 3 * W <= 4 * H ? 3 * W / 4 : H;
    EXPECT_EQ(std::to_string(ViewW) + "x" + std::to_string(ViewH), Size[3].str() + "x" + Size[4].str()) << Next;
  }

  quit_with_f12();
  const lines_t& Lines = Run->lines();
  EXPECT_TRUE(contains(Lines, "! keypress S"));
  EXPECT_FALSE(contains(Lines, "! keypress F11"));
  EXPECT_FALSE(contains(Lines, "! keypress F12"));
}

const uint32_t RED = 0xff0000, YELLOW = 0xffff00, GREEN = 0x00ff00, BLUE = 0x0000ff,
               MAGENTA = 0xff00ff, CYAN = 0x00ffff;

// A 40 x 20 picture: its top rows green and blue, its bottom rows magenta
// and cyan, left and right.
void write_quadrant_picture()
{
  std::vector<unsigned char> Bytes;
  for (int Y = 0; Y < 20; ++Y)
    for (int X = 0; X < 40; ++X) {
      const uint32_t Colour = Y < 10 ? (X < 20 ? GREEN : BLUE) : (X < 20 ? MAGENTA : CYAN);
      Bytes.insert(Bytes.end(), {static_cast<unsigned char>(Colour >> 16), static_cast<unsigned char>(Colour >> 8),
                                 static_cast<unsigned char>(Colour), 255});
    }
  write_png("data/quadrants.png", 40, 20, 4, Bytes);
}

// The same scene without and, after the key C, with a camera on the origin.
const char* const SCENE_GAME = R"(
local quadrants = texture_load("quadrants")
local function scene(view)
  return { view,
    { "rgba", 1, 0, 0, 1 }, { "rect", -200, 150, 40, 30 },
    { "rgba", 1, 1, 1, 1 }, { "translate", 150, 100, { "picture", quadrants } },
    { "rgba", 1, 1, 0, 1 }, { "text", -300, -100, 1, "AA" }, { "righttext", 300, -100, 1, "A" } }
end
render_list = scene({ "none" })
local frame, camera_from = 0, nil
function update()
  frame = frame + 1
  if frame == 3 then WARN("scene on screen") end
  if camera_from and frame == camera_from + 3 then WARN("camera scene on screen") end
end
function keypress(name)
  if name == "C" then
    render_list, camera_from = scene({ "camera", 0, 0 }), frame
  end
end
)";

std::string hex(uint32_t Colour)
{
  char Text[8];
  std::snprintf(Text, sizeof Text, "%06x", Colour);
  return Text;
}

// Window pixels [x0, x1) x [y0, y1) of one colour.
struct box {
  int x0, y0, x1, y1;
  uint32_t colour;
};

// World (x, y) is window pixel (x + 400, 300 - y) without a camera and
// (x + 400, y + 300) with one. The picture is 40 x 20 about (150, 100), its
// first row at world y 90; the glyph squares reach 16 below the pen.
const std::vector<box> PLAIN_SCENE = {
    {160, 120, 240, 180, RED},     {530, 190, 550, 200, MAGENTA}, {550, 190, 570, 200, CYAN},
    {530, 200, 550, 210, GREEN},   {550, 200, 570, 210, BLUE},    {100, 400, 116, 416, YELLOW},
    {124, 400, 140, 416, YELLOW},  {676, 400, 692, 416, YELLOW},
};
const std::vector<box> CAMERA_SCENE = {
    {160, 420, 240, 480, RED},     {530, 390, 550, 400, GREEN},   {550, 390, 570, 400, BLUE},
    {530, 400, 550, 410, MAGENTA}, {550, 400, 570, 410, CYAN},    {100, 184, 116, 200, YELLOW},
    {124, 184, 140, 200, YELLOW},  {676, 184, 692, 200, YELLOW},
};

// Calls Probe(X, Y, Colour, Inside) for each box's corners and centre
// (inside: in its colour) and the pixels just outside the middle of each of
// its edges (outside: in another).
template <class probe>
void probe_scene(const std::vector<box>& Scene, probe Probe)
{
  for (const box& B : Scene) {
    const int MidX = (B.x0 + B.x1) / 2, MidY = (B.y0 + B.y1) / 2;
    for (auto [X, Y] : {std::pair{B.x0, B.y0}, {B.x1 - 1, B.y0}, {B.x0, B.y1 - 1}, {B.x1 - 1, B.y1 - 1}, {MidX, MidY}})
      Probe(X, Y, B.colour, true);
    for (auto [X, Y] : {std::pair{B.x0 - 1, MidY}, {B.x1, MidY}, {MidX, B.y0 - 1}, {MidX, B.y1}})
      Probe(X, Y, B.colour, false);
  }
}

void expect_scene(const screen_grab& Grab, const std::vector<box>& Scene)
{
  ASSERT_EQ(800, Grab.w);
  ASSERT_EQ(600, Grab.h);
  probe_scene(Scene, [&](int X, int Y, uint32_t Colour, bool Inside) {
    if (Inside)
      EXPECT_EQ(hex(Colour), hex(Grab.at(X, Y))) << "inside, at (" << X << ", " << Y << ")";
    else
      EXPECT_NE(hex(Colour), hex(Grab.at(X, Y))) << "outside, at (" << X << ", " << Y << ")";
  });
}

// True when every box of Scene shows as expect_scene wants it.
bool shows_scene(const screen_grab& Grab, const std::vector<box>& Scene)
{
  if (Grab.w != 800 || Grab.h != 600) return false;
  bool Shows = true;
  probe_scene(Scene, [&](int X, int Y, uint32_t Colour, bool Inside) {
    Shows = Shows && (Grab.at(X, Y) == Colour) == Inside;
  });
  return Shows;
}

// The window's picture once it shows Scene, or the last one grabbed when it
// does not within the timeout: a frame swapped by the program may reach the
// X server a little after its trace line.
screen_grab grab_scene(x_session& X, const std::string& Window, const std::vector<box>& Scene)
{
  const auto Deadline = std::chrono::steady_clock::now() + LINE_TIMEOUT;
  screen_grab Grab = X.grab(Window);
  while (!shows_scene(Grab, Scene) && std::chrono::steady_clock::now() < Deadline) Grab = X.grab(Window);
  return Grab;
}

TEST_F(EndToEnd, RectPictureAndTextLandOnTheWindowPixelsTheirWorldPlacesGive)
{
  write_quadrant_picture();
  write_square_font();
  write_file("game/main.lua", SCENE_GAME);
  start_and_focus();
  Run->wait_for_line("! scene on screen", LINE_TIMEOUT);
  expect_scene(grab_scene(X, Window, PLAIN_SCENE), PLAIN_SCENE);

  X.key("c");
  Run->wait_for_line("! camera scene on screen", LINE_TIMEOUT);
  expect_scene(grab_scene(X, Window, CAMERA_SCENE), CAMERA_SCENE);

  quit_with_f12();
}

// "WxH", the window size of the last viewport refit in Lines.
std::string last_fitted_size(const lines_t& Lines)
{
  const std::regex Viewport("- refresh screen viewport: now (\\d+x\\d+), viewport \\d+x\\d+");
  std::smatch Size;
  for (auto Line = Lines.rbegin(); Line != Lines.rend(); ++Line)
    if (std::regex_match(*Line, Size, Viewport)) return Size[1].str();
  return "";
}

// On Xvfb's 1024 x 768 screen, without a window manager (false) and with
// openbox (true).
class FullScreenToggle : public EndToEnd, public testing::WithParamInterface<bool> {
 protected:
  // The window's real size, as "WxH".
  std::string window_size()
  {
    const screen_grab Grab = X.grab(Window);
    return std::to_string(Grab.w) + "x" + std::to_string(Grab.h);
  }
  // Waits until the window really is Size and the last refit was to that
  // size; then checks both. The viewport of a size is checked on its own.
  void expect_fitted_window(const std::string& Size)
  {
    const auto Deadline = std::chrono::steady_clock::now() + LINE_TIMEOUT;
    while ((window_size() != Size || last_fitted_size(Run->lines()) != Size) &&
           std::chrono::steady_clock::now() < Deadline) {
    }
    EXPECT_EQ(Size, window_size()) << "the window's real size";
    EXPECT_EQ(Size, last_fitted_size(Run->lines())) << "the last refit";
  }
};

TEST_P(FullScreenToggle, TheViewportIsRefittedToTheSizeTheWindowReallyHas)
{
  const bool WithWindowManager = GetParam();
  if (WithWindowManager) X.start_window_manager();
  write_file("game/main.lua", "render_list = { 'none' }");
  start_and_focus();
  expect_fitted_window("800x600");

  X.key("F11");
  const size_t At = Run->wait_for_line("- toggle fullscreen: now fullscreen", LINE_TIMEOUT);
  Run->line_after(At, LINE_TIMEOUT);  // the toggle's own refit
  // Full screen is the window manager's to give: without one the window
  // keeps its 800 x 600 on the screen, though SDL reports the screen's size.
  if (WithWindowManager)
    expect_fitted_window("1024x768");
  else
    expect_fitted_window("800x600");

  X.key("F11");
  Run->line_after(Run->wait_for_line("- toggle fullscreen: now windowed", LINE_TIMEOUT, At), LINE_TIMEOUT);
  expect_fitted_window("800x600");
  quit_with_f12();
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, FullScreenToggle, testing::Bool(), [](const testing::TestParamInfo<bool>& Info) {
  return Info.param ? "WithWindowManager" : "WithoutWindowManager";
});

TEST_F(EndToEnd, GameQuitAtStartUpLetsNoFrameRun)
{
  // Arguments of any kind are ignored.
  write_file("game/main.lua", R"(
function update() WARN("update") end
render_list = {"rect", 0, 0, 10, 10}
game_quit({}, true, 0/0, print)
)");
  start();
  EXPECT_EQ("exit 0", describe_status(Run->wait_for_exit(EXIT_TIMEOUT)));
  lines_t Expected = START_UP_LINES;
  Expected.insert(Expected.end(), SHUT_DOWN_LINES.begin(), SHUT_DOWN_LINES.end());
  EXPECT_EQ(Expected, Run->lines());
  expect_no_sanitizer_report(*Run);
}

TEST(EndToEndWithoutDisplay, EndsWithMinusOneAndSdlsTextWhenSdlCannotStart)
{
  temp_dir Dir;
  write_start_up_scripts();
  write_file("game/main.lua", "WARN('main ran')");
  veldt_run Run({"SDL_VIDEODRIVER=no-such-driver"});
  EXPECT_EQ("exit 255", describe_status(Run.wait_for_exit(EXIT_TIMEOUT)));

  // SDL's own text for the same failure, asked in this process.
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  ASSERT_GT(0, SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK));
  const std::string SdlText = SDL_GetError();
  SDL_Quit();
  unsetenv("SDL_VIDEODRIVER");

  EXPECT_EQ((lines_t{START_UP_LINES[0], START_UP_LINES[1], "* main fatal: can't initialize SDL: " + SdlText}),
            Run.lines());
  expect_no_sanitizer_report(Run);
}

TEST(EndToEndWithoutDisplay, EndsWithMinusOneWhenSdlFindsNoDisplayAndNoDriverWasAskedFor)
{
  temp_dir Dir;
  write_start_up_scripts();
  write_file("game/main.lua", "WARN('main ran')");
  // No DISPLAY, WAYLAND_DISPLAY or SDL_VIDEODRIVER: SDL falls back to its
  // offscreen driver, which shows nothing.
  veldt_run Run({});
  EXPECT_EQ("exit 255", describe_status(Run.wait_for_exit(EXIT_TIMEOUT)));
  EXPECT_EQ((lines_t{START_UP_LINES[0], START_UP_LINES[1],
                     "* main fatal: can't initialize SDL: no display to open a window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY leads to one)"}),
            Run.lines());
  expect_no_sanitizer_report(Run);
}

}  // namespace
