#include "main.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <lua.hpp>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gl_window.h"
#include "sdlkeynames.h"
#include "temp_dir.h"
#include "trace_capture.h"

namespace {

using lines_t = std::vector<std::string>;

// SDL_Quit destroys the window but leaves the globals pointing at it.
void reset_shell_globals()
{
  screen_window = nullptr;
  gl_context = nullptr;
  quit_flag = false;
  is_fullscreen = false;
}

void use_offscreen_video() { setenv("SDL_VIDEODRIVER", "offscreen", 0); }

lines_t screen_open_lines(const std::string& ModeLine, const std::string& ViewportLine)
{
  return {"- screen open: want BPP is 32", "- screen open: setting GL color sizes attributes",
          "- screen open: setting video mode", "- " + ModeLine, "- " + ViewportLine};
}

// A video subsystem of its own for every test that opens the window itself.
class ShellWindow : public testing::Test {
 protected:
  void SetUp() override
  {
    use_offscreen_video();
    reset_shell_globals();
    ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
  }
  void TearDown() override
  {
    SDL_Quit();
    reset_shell_globals();
  }
  void close_window()
  {
    SDL_GL_DeleteContext(gl_context);
    SDL_DestroyWindow(screen_window);
    reset_shell_globals();
  }
};

TEST_F(ShellWindow, ScreenOpenWritesFiveLinesAndOpensACentredWindowTitledLoading)
{
  trace_capture Trace;
  ASSERT_EQ(0, screen_open(800, 600, false, false));
  EXPECT_EQ(screen_open_lines("screen open: setting to windowed 800x600",
                              "refresh screen viewport: now 800x600, viewport 800x600"),
            Trace.lines());

  ASSERT_NE(nullptr, screen_window);
  EXPECT_STREQ("Loading...", SDL_GetWindowTitle(screen_window));
  int W = 0, H = 0, X = 0, Y = 0;
  SDL_GetWindowSize(screen_window, &W, &H);
  EXPECT_EQ(800, W);
  EXPECT_EQ(600, H);
  SDL_DisplayMode Desktop;
  ASSERT_EQ(0, SDL_GetCurrentDisplayMode(0, &Desktop));
  SDL_GetWindowPosition(screen_window, &X, &Y);
  EXPECT_EQ((Desktop.w - 800) / 2, X);
  EXPECT_EQ((Desktop.h - 600) / 2, Y);
  Uint32 Flags = SDL_GetWindowFlags(screen_window);
  EXPECT_TRUE(Flags & SDL_WINDOW_OPENGL);
  EXPECT_FALSE(Flags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_RESIZABLE));
  EXPECT_FALSE(is_fullscreen);
  EXPECT_NE(nullptr, gl_context);
  EXPECT_EQ(gl_context, SDL_GL_GetCurrentContext());
}

TEST_F(ShellWindow, ScreenOpenChoosesTheWindowModeFromSizeAndFullScreen)
{
  struct mode_case {
    int w, h;
    bool full, resizable;
    const char* line;
    Uint32 flags;  // of the bits below that the window must have
  } Cases[] = {
      {0, 600, false, false, "screen open: 0 for screen w or h, setting to default windowed resolution 800x600", 0},
      {640, 0, false, true, "screen open: 0 for screen w or h, setting to default windowed resolution 800x600",
       SDL_WINDOW_RESIZABLE},
      {640, 480, false, false, "screen open: setting to windowed 640x480", 0},
      {640, 480, true, false, "screen open: setting to fullscreen 640x480", SDL_WINDOW_FULLSCREEN},
      {0, 0, true, false, "screen open: setting to fullscreen desktop resolution", SDL_WINDOW_FULLSCREEN_DESKTOP},
  };
  const Uint32 Checked = SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_RESIZABLE;
  for (const mode_case& C : Cases) {
    SCOPED_TRACE(C.line);
    trace_capture Trace;
    ASSERT_EQ(0, screen_open(C.w, C.h, C.full, C.resizable));
    lines_t Lines = Trace.lines();
    ASSERT_EQ(5u, Lines.size());
    EXPECT_EQ(std::string("- ") + C.line, Lines[3]);
    EXPECT_EQ(C.flags, SDL_GetWindowFlags(screen_window) & Checked);
    EXPECT_EQ(C.full, is_fullscreen);
    if (!C.full) {
      int W = 0, H = 0;
      SDL_GetWindowSize(screen_window, &W, &H);
      EXPECT_EQ(C.w && C.h ? C.w : 800, W);
      EXPECT_EQ(C.w && C.h ? C.h : 600, H);
    }
    close_window();
  }
}

TEST_F(ShellWindow, AContextThatCannotBeMadeFailsTheOpenAndLeavesNoWindow)
{
  // No driver makes a GL 99 context; screen_open leaves the version alone.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 99);
  lines_t Lines;
  int Result = 0;
  {
    trace_capture Trace;
    Result = screen_open(800, 600, false, false);
    Lines = Trace.lines();
  }
  std::string Error = SDL_GetError();
  SDL_GL_ResetAttributes();

  EXPECT_EQ(-1, Result);
  ASSERT_FALSE(Lines.empty());
  EXPECT_EQ("* screen open: couldn't set GL mode; " + Error, Lines.back());
  EXPECT_FALSE(Error.empty());
  EXPECT_EQ(nullptr, screen_window);
  EXPECT_EQ(nullptr, gl_context);
  EXPECT_EQ(nullptr, SDL_GL_GetCurrentWindow());
}

GLint gl_int(GLenum Name)
{
  GLint Value = -1;
  glGetIntegerv(Name, &Value);
  return Value;
}

TEST_F(ShellWindow, ScreenOpenSetsTheFixedGlState)
{
  trace_capture Trace;
  ASSERT_EQ(0, screen_open(800, 600, false, false));

  EXPECT_EQ(GL_SRC_ALPHA, gl_int(GL_BLEND_SRC));
  EXPECT_EQ(GL_ONE_MINUS_SRC_ALPHA, gl_int(GL_BLEND_DST));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(GL_MODELVIEW, gl_int(GL_MATRIX_MODE));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(GL_LEQUAL, gl_int(GL_DEPTH_FUNC));
  EXPECT_EQ(GL_SMOOTH, gl_int(GL_SHADE_MODEL));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_EQ(GL_GREATER, gl_int(GL_ALPHA_TEST_FUNC));
  GLfloat Ref = -1;
  glGetFloatv(GL_ALPHA_TEST_REF, &Ref);
  EXPECT_EQ(0.0f, Ref);

  GLdouble Projection[16], Expected[16], Modelview[16];
  glGetDoublev(GL_PROJECTION_MATRIX, Projection);
  glGetDoublev(GL_MODELVIEW_MATRIX, Modelview);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  gluOrtho2D(-400, 400, -300, 300);
  glGetDoublev(GL_PROJECTION_MATRIX, Expected);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(Expected[i], Projection[i]) << "projection element " << i;
    EXPECT_EQ(i % 5 == 0 ? 1.0 : 0.0, Modelview[i]) << "modelview element " << i;
  }
  EXPECT_NEAR(1.0 / 400, Projection[0], 1e-9);

  // What the state does to pixels: a fully transparent shape in front
  // writes neither colour nor depth; at equal depth the later shape wins;
  // half alpha blends over what is there.
  auto square = [](double X, double Y, double Z) {
    glBegin(GL_QUADS);
    glVertex3d(X - 5, Y - 5, Z);
    glVertex3d(X + 5, Y - 5, Z);
    glVertex3d(X + 5, Y + 5, Z);
    glVertex3d(X - 5, Y + 5, Z);
    glEnd();
  };
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glColor4d(1, 0, 0, 0);
  square(0, 0, 0.5);  // nearest
  glColor4d(0, 1, 0, 1);
  square(0, 0, -0.5);
  glColor4d(0, 0, 1, 1);
  square(100, 0, 0);
  glColor4d(1, 1, 1, 1);
  square(100, 0, 0);
  glColor4d(1, 0, 0, 0.5);
  square(-100, 0, 0);
  pixel_rgba Behind = gl_read_pixel(400, 300);
  EXPECT_EQ(0, Behind.r);
  EXPECT_EQ(255, Behind.g);
  pixel_rgba Later = gl_read_pixel(500, 300);
  EXPECT_EQ(255, Later.r);
  EXPECT_EQ(255, Later.b);
  pixel_rgba Blended = gl_read_pixel(300, 300);
  EXPECT_NEAR(128, Blended.r, 1);
  EXPECT_EQ(0, Blended.g);
}

TEST(Viewport, IsTheLargestCentredFourToThreeRectangleInsideTheWindow)
{
  struct view_case {
    int screen_w, screen_h, x, y, w, h;
  } Cases[] = {
      {800, 600, 0, 0, 800, 600},    {1280, 800, 107, 0, 1066, 800}, {1920, 1080, 240, 0, 1440, 1080},
      {1280, 1024, 0, 32, 1280, 960}, {640, 800, 0, 160, 640, 480},
  };
  for (const view_case& C : Cases) {
    viewport_rect V = fit_viewport(C.screen_w, C.screen_h);
    EXPECT_EQ(C.x, V.x) << C.screen_w << "x" << C.screen_h;
    EXPECT_EQ(C.y, V.y) << C.screen_w << "x" << C.screen_h;
    EXPECT_EQ(C.w, V.w) << C.screen_w << "x" << C.screen_h;
    EXPECT_EQ(C.h, V.h) << C.screen_w << "x" << C.screen_h;
  }
  // Every size: inside the window, touching two opposite edges, 4:3 up to
  // the dropped remainder.
  for (int W = 0; W <= 700; W += 7) {
    for (int H = 0; H <= 700; H += 3) {
      viewport_rect V = fit_viewport(W, H);
      ASSERT_TRUE(V.x >= 0 && V.y >= 0 && V.x + V.w <= W && V.y + V.h <= H) << W << "x" << H;
      ASSERT_TRUE(V.w == W || V.h == H) << W << "x" << H;
      ASSERT_LE(std::abs(3 * V.w - 4 * V.h), 4) << W << "x" << H;
    }
  }
  // Sizes near the int limit must not overflow on the way.
  viewport_rect Huge = fit_viewport(INT32_MAX, INT32_MAX);
  EXPECT_EQ(INT32_MAX, Huge.w);
  EXPECT_EQ(static_cast<int>(3LL * INT32_MAX / 4), Huge.h);
  EXPECT_LE(static_cast<int64_t>(Huge.y) + Huge.h, INT32_MAX);
}

TEST_F(ShellWindow, ViewportFollowsTheWindowSizeWhenRefreshed)
{
  ASSERT_EQ(0, screen_open(800, 600, false, false));
  struct size_case {
    int w, h;
    const char* line;
  } Cases[] = {
      {1280, 800, "- refresh screen viewport: now 1280x800, viewport 1066x800"},
      {1920, 1080, "- refresh screen viewport: now 1920x1080, viewport 1440x1080"},
      {1280, 1024, "- refresh screen viewport: now 1280x1024, viewport 1280x960"},
      {640, 800, "- refresh screen viewport: now 640x800, viewport 640x480"},
      {800, 600, "- refresh screen viewport: now 800x600, viewport 800x600"},
  };
  for (const size_case& C : Cases) {
    SCOPED_TRACE(C.line);
    SDL_SetWindowSize(screen_window, C.w, C.h);
    trace_capture Trace;
    refresh_gl_viewport_from_window_size();
    EXPECT_EQ(lines_t{C.line}, Trace.lines());
    viewport_rect Want = fit_viewport(C.w, C.h);
    GLint View[4];
    glGetIntegerv(GL_VIEWPORT, View);
    EXPECT_EQ(Want.x, View[0]);
    EXPECT_EQ(Want.y, View[1]);
    EXPECT_EQ(Want.w, View[2]);
    EXPECT_EQ(Want.h, View[3]);
    // World (0, 0) at the viewport's centre, (-400, -300) at its corner.
    std::vector<fb_primitive> Points = gl_feedback([] {
      glBegin(GL_POINTS);
      glVertex2d(0, 0);
      glVertex2d(-400, -300);
      glEnd();
    });
    ASSERT_EQ(2u, Points.size());
    EXPECT_NEAR(Want.x + Want.w / 2.0, Points[0].vertices[0].x, 1e-3);
    EXPECT_NEAR(Want.y + Want.h / 2.0, Points[0].vertices[0].y, 1e-3);
    EXPECT_NEAR(Want.x, Points[1].vertices[0].x, 1e-3);
    EXPECT_NEAR(Want.y, Points[1].vertices[0].y, 1e-3);
  }
}

TEST_F(ShellWindow, TwoFullScreenTogglesLogTheirLinesAndEndWindowed)
{
  ASSERT_EQ(0, screen_open(800, 600, false, false));
  trace_capture Trace;
  toggle_fullscreen();
  EXPECT_TRUE(is_fullscreen);
  EXPECT_TRUE(SDL_GetWindowFlags(screen_window) & SDL_WINDOW_FULLSCREEN);
  toggle_fullscreen();
  EXPECT_FALSE(is_fullscreen);
  EXPECT_FALSE(SDL_GetWindowFlags(screen_window) & SDL_WINDOW_FULLSCREEN);
  EXPECT_EQ((lines_t{"- toggle fullscreen: now fullscreen", "- refresh screen viewport: now 800x600, viewport 800x600",
                     "- toggle fullscreen: now windowed", "- refresh screen viewport: now 800x600, viewport 800x600"}),
            Trace.lines());
}

// The whole program in-process. The clock is fake: each reading first
// adds the work of the pass before it, each wait adds its length. Reading 0
// is taken just before the loop, reading N at the top of pass N; the
// hooks of a reading run when it is taken.
struct fake_clock {
  Uint32 now = 1000;
  Uint32 work = 5;                 // ms each pass's work takes...
  std::map<int, Uint32> work_of;   // ...unless given here by pass number
  std::vector<Uint32> starts;      // by reading: when the work after it begins
  std::vector<Uint32> waits;
  std::map<int, std::vector<std::function<void()>>> hooks;
};

fake_clock* Clock = nullptr;
// Far more passes than any test asks for: a loop that never ends fails.
const int MAX_READINGS = 1000;

Uint32 fake_ticks()
{
  int Reading = static_cast<int>(Clock->starts.size());
  if (Reading > 0) {
    auto Work = Clock->work_of.find(Reading - 1);
    Clock->now += Work == Clock->work_of.end() ? Clock->work : Work->second;
  }
  Clock->starts.push_back(Clock->now);
  for (auto& Hook : Clock->hooks[Reading]) Hook();
  if (Reading == MAX_READINGS) {
    ADD_FAILURE() << "the main loop did not end";
    quit_flag = true;
  }
  return Clock->now;
}

void fake_delay(Uint32 Ms)
{
  Clock->now += Ms;
  Clock->waits.push_back(Ms);
  Clock->starts.back() = Clock->now;
}

SDL_Event key_event(Uint32 Type, SDL_Keycode Sym, SDL_Scancode Code, bool Repeat = false)
{
  SDL_Event E{};
  E.type = Type;
  E.key.state = Type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
  E.key.repeat = Repeat;
  E.key.keysym.sym = Sym;
  E.key.keysym.scancode = Code;
  return E;
}

SDL_Event event_of_type(Uint32 Type)
{
  SDL_Event E{};
  E.type = Type;
  return E;
}

size_t find_line(const lines_t& Lines, const std::string& Line)
{
  for (size_t i = 0; i < Lines.size(); ++i)
    if (Lines[i] == Line) return i;
  return Lines.size();
}

lines_t start_up_lines()
{
  lines_t Lines = {"- veldt: game by Brindlewick for Marrowfest #13", "- main: initializing SDL"};
  for (const std::string& Line : screen_open_lines("screen open: setting to windowed 800x600",
                                                   "refresh screen viewport: now 800x600, viewport 800x600"))
    Lines.push_back(Line);
  return Lines;
}
const lines_t START_UP_LINES = start_up_lines();
const lines_t SHUT_DOWN_LINES = {"- main: closing world", "- main: quitting SDL"};

class Program : public testing::Test {
 protected:
  temp_dir Dir;
  fake_clock Clock;

  void SetUp() override { use_offscreen_video(); }

  void at(int Reading, std::function<void()> Hook) { Clock.hooks[Reading].push_back(std::move(Hook)); }
  void push_at(int Reading, SDL_Event E)
  {
    at(Reading, [E]() mutable { ASSERT_EQ(1, SDL_PushEvent(&E)) << SDL_GetError(); });
  }
  void quit_at(int Pass) { push_at(Pass, event_of_type(SDL_QUIT)); }

  int run()
  {
    reset_shell_globals();
    ::Clock = &Clock;
    main_get_ticks = fake_ticks;
    main_delay = fake_delay;
    char Name[] = "veldt";
    char* Args[] = {Name, nullptr};
    int Result = SDL_main(1, Args);
    main_get_ticks = SDL_GetTicks;
    main_delay = SDL_Delay;
    ::Clock = nullptr;
    return Result;
  }
  // A run whose standard output goes to Probe, which sees each line as the
  // program writes it.
  int run_watching(std::streambuf& Probe)
  {
    std::streambuf* Stdout = std::cout.rdbuf(&Probe);
    int Result = run();
    std::cout.rdbuf(Stdout);
    return Result;
  }
  // A fresh clock and queue of hooks for another run.
  void reset_clock() { Clock = fake_clock(); }

  int passes() const { return Clock.starts.empty() ? 0 : static_cast<int>(Clock.starts.size()) - 1; }
  lines_t lines() const { return split_lines(read_file("trace.txt")); }
};

TEST_F(Program, StartUpAndShutDownWriteTheirLinesInOrder)
{
  quit_at(1);
  EXPECT_EQ(0, run());
  EXPECT_EQ(1, passes());
  lines_t Lines = lines();
  ASSERT_GE(Lines.size(), START_UP_LINES.size() + SHUT_DOWN_LINES.size());
  EXPECT_EQ(START_UP_LINES, lines_t(Lines.begin(), Lines.begin() + START_UP_LINES.size()));
  EXPECT_EQ(SHUT_DOWN_LINES, lines_t(Lines.end() - 2, Lines.end()));
  EXPECT_EQ(Lines.size() - 2, find_line(Lines, "- main: closing world"));

  EXPECT_EQ(89u, sdl_scancode_key_names.size());
  ASSERT_NE(nullptr, script_state);
  lua_getglobal(script_state, "string");
  EXPECT_TRUE(lua_istable(script_state, -1));
  lua_pop(script_state, 1);
}

// Records the window's title at every line the trace log writes to
// standard output; the text itself is the trace file's business.
class title_probe : public std::streambuf {
 public:
  std::vector<std::string> titles;

 protected:
  int overflow(int C) override { return traits_type::not_eof(C); }
  std::streamsize xsputn(const char*, std::streamsize N) override { return N; }
  int sync() override
  {
    titles.push_back(screen_window ? SDL_GetWindowTitle(screen_window) : "");
    return 0;
  }
};

TEST_F(Program, TheWindowIsTitledLoadingUntilStartUpEndsThenVeldt)
{
  size_t LinesBeforeLoop = 0;
  std::string TitleInLoop;
  title_probe Probe;
  at(0, [&] { LinesBeforeLoop = Probe.titles.size(); });
  at(1, [&] { TitleInLoop = SDL_GetWindowTitle(screen_window); });
  quit_at(1);
  EXPECT_EQ(0, run_watching(Probe));

  lines_t Lines = lines();
  ASSERT_EQ(Lines.size(), Probe.titles.size());
  size_t Opened = find_line(Lines, START_UP_LINES.back());
  ASSERT_LT(Opened, LinesBeforeLoop);
  for (size_t i = Opened; i < LinesBeforeLoop; ++i) EXPECT_EQ("Loading...", Probe.titles[i]) << Lines[i];
  for (size_t i = LinesBeforeLoop; i < Lines.size(); ++i) EXPECT_EQ("Veldt", Probe.titles[i]) << Lines[i];
  EXPECT_EQ("Veldt", TitleInLoop);
}

TEST_F(Program, SdlThatCannotStartEndsTheProgramWithMinusOneAndItsFatalLine)
{
  setenv("SDL_VIDEODRIVER", "nonexistent", 1);
  int Result = run();
  std::string Error = SDL_GetError();
  setenv("SDL_VIDEODRIVER", "offscreen", 1);

  EXPECT_EQ(-1, Result);
  EXPECT_FALSE(Error.empty());
  EXPECT_EQ((lines_t{START_UP_LINES[0], START_UP_LINES[1], "* main fatal: can't initialize SDL: " + Error}), lines());
  EXPECT_EQ(0, passes());
  EXPECT_EQ(nullptr, screen_window);
}

TEST_F(Program, AWindowThatCannotBeMadeEndsTheProgramWithMinusOne)
{
  // No GL library: SDL cannot make an OpenGL window. The offscreen driver
  // loads its GL through EGL, the desktop drivers load libGL directly.
  setenv("SDL_VIDEO_GL_DRIVER", "/nonexistent/libGL.so", 1);
  setenv("SDL_VIDEO_EGL_DRIVER", "/nonexistent/libEGL.so", 1);
  int Result = run();
  unsetenv("SDL_VIDEO_GL_DRIVER");
  unsetenv("SDL_VIDEO_EGL_DRIVER");

  EXPECT_EQ(-1, Result);
  lines_t Lines = lines();
  ASSERT_EQ(START_UP_LINES.size(), Lines.size());
  EXPECT_EQ(lines_t(START_UP_LINES.begin(), START_UP_LINES.end() - 1), lines_t(Lines.begin(), Lines.end() - 1));
  const std::string Fatal = "* screen open: couldn't set GL mode; ";
  EXPECT_EQ(Fatal, Lines.back().substr(0, Fatal.size()));
  EXPECT_GT(Lines.back().size(), Fatal.size());
  EXPECT_EQ(nullptr, screen_window);
  EXPECT_EQ(0, passes());
  EXPECT_EQ(0u, SDL_WasInit(0)) << "SDL is shut down";
}

TEST_F(Program, PassesStartTwentyMillisecondsApartFiftyTimesASecond)
{
  quit_at(60);
  EXPECT_EQ(0, run());
  ASSERT_EQ(60, passes());
  EXPECT_EQ(std::vector<Uint32>(60, 15), Clock.waits);
  for (int Pass = 1; Pass <= 60; ++Pass) EXPECT_EQ(1000u + 20 * Pass, Clock.starts[Pass]) << "pass " << Pass;
  int InOneSecond = 0;
  for (int Pass = 1; Pass <= 60; ++Pass) InOneSecond += Clock.starts[Pass] < Clock.starts[1] + 1000;
  EXPECT_EQ(50, InOneSecond);
}

TEST_F(Program, ALatePassIsFollowedAtOnceAndTheNextKeepsTheBeat)
{
  Clock.work_of[3] = 30;
  Clock.work_of[5] = 20;  // exactly one period: no wait at all
  quit_at(7);
  EXPECT_EQ(0, run());
  ASSERT_EQ(7, passes());
  const std::vector<Uint32>& S = Clock.starts;
  EXPECT_EQ(S[3] + 30, S[4]) << "pass 4 starts when pass 3's work ends";
  EXPECT_EQ(S[4] + 20, S[5]);
  EXPECT_EQ(S[5] + 20, S[6]);
  EXPECT_EQ(S[6] + 20, S[7]);
  EXPECT_EQ((std::vector<Uint32>{15, 15, 15, 15, 15}), Clock.waits) << "passes 4 and 6 do not wait";
}

TEST_F(Program, PacingKeepsItsBeatAcrossTheClockWrapAndAfterAClockJump)
{
  Clock.now = UINT32_MAX - 30;
  quit_at(6);
  EXPECT_EQ(0, run());
  ASSERT_EQ(6, passes());
  for (int Pass = 1; Pass <= 6; ++Pass) EXPECT_EQ(Clock.starts[0] + 20u * Pass, Clock.starts[Pass]);
  EXPECT_LT(Clock.starts[6], Clock.starts[0]) << "the counter wrapped";
  EXPECT_EQ(std::vector<Uint32>(6, 15), Clock.waits);

  // A reading half the counter's range away reads as one in the past: the
  // pass waits one period, not weeks.
  reset_clock();
  Clock.work_of[2] = 0x80000000u;
  quit_at(4);
  EXPECT_EQ(0, run());
  ASSERT_EQ(4, passes());
  EXPECT_EQ((std::vector<Uint32>{15, 15, 20, 15}), Clock.waits);
}

TEST_F(Program, AQuitEventOrF12EndsTheProgramAfterItsPassWithZero)
{
  quit_at(2);
  EXPECT_EQ(0, run());
  EXPECT_EQ(2, passes());
  EXPECT_EQ(SHUT_DOWN_LINES.back(), lines().back());

  reset_clock();
  push_at(3, key_event(SDL_KEYDOWN, SDLK_F12, SDL_SCANCODE_F12));
  EXPECT_EQ(0, run());
  EXPECT_EQ(3, passes());

  // F12 is known by its key code, whatever the physical key.
  reset_clock();
  push_at(1, key_event(SDL_KEYDOWN, SDLK_F12, SDL_SCANCODE_A));
  EXPECT_EQ(0, run());
  EXPECT_EQ(1, passes());
}

TEST_F(Program, KeyReleasesMouseJoystickAndWindowEventsChangeNothing)
{
  push_at(1, key_event(SDL_KEYUP, SDLK_F12, SDL_SCANCODE_F12));
  push_at(1, key_event(SDL_KEYUP, SDLK_F11, SDL_SCANCODE_F11));
  for (Uint32 Type : {SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN, SDL_MOUSEWHEEL, SDL_JOYAXISMOTION, SDL_JOYBUTTONDOWN,
                      SDL_WINDOWEVENT, SDL_TEXTINPUT})
    push_at(2, event_of_type(Type));
  quit_at(4);
  EXPECT_EQ(0, run());
  EXPECT_EQ(4, passes());
  EXPECT_FALSE(is_fullscreen);
  for (const std::string& Line : lines()) EXPECT_EQ(std::string::npos, Line.find("toggle fullscreen")) << Line;
}

TEST_F(Program, F11TogglesFullScreenAndEventsAfterAQuitAreStillHandled)
{
  push_at(1, key_event(SDL_KEYDOWN, SDLK_F11, SDL_SCANCODE_F11));
  push_at(1, key_event(SDL_KEYDOWN, SDLK_F11, SDL_SCANCODE_F11, true));
  push_at(2, key_event(SDL_KEYDOWN, SDLK_F12, SDL_SCANCODE_F12));
  push_at(2, key_event(SDL_KEYDOWN, SDLK_F11, SDL_SCANCODE_F11));
  EXPECT_EQ(0, run());
  EXPECT_EQ(2, passes());
  EXPECT_TRUE(is_fullscreen);

  // The shell's own lines after start-up; the game's lines may come between.
  lines_t Shell;
  lines_t Lines = lines();
  for (size_t i = START_UP_LINES.size(); i < Lines.size(); ++i)
    for (const char* Prefix : {"- toggle fullscreen: ", "- refresh screen viewport: ", "- main: "})
      if (Lines[i].rfind(Prefix, 0) == 0) Shell.push_back(Lines[i]);
  const std::string Viewport = "- refresh screen viewport: now 800x600, viewport 800x600";
  EXPECT_EQ((lines_t{"- toggle fullscreen: now fullscreen", Viewport, "- toggle fullscreen: now windowed", Viewport,
                     "- toggle fullscreen: now fullscreen", Viewport, SHUT_DOWN_LINES[0], SHUT_DOWN_LINES[1]}),
            Shell);
}

TEST_F(Program, EachPassClearsColourAndDepthToBlackAfterTheSwap)
{
  struct snapshot {
    pixel_rgba centre, corner;
    GLfloat depth;
    GLfloat clear[4];
  };
  std::map<int, snapshot> Seen;
  auto paint = [](GLfloat R, GLfloat G, GLfloat B) {
    glClearColor(R, G, B, 1);
    glClearDepth(0.25);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1);  // the clear colour is left for the loop to set
  };
  auto look = [&Seen](int Reading) {
    snapshot& S = Seen[Reading];
    S.centre = gl_read_pixel(400, 300);
    S.corner = gl_read_pixel(0, 0);
    glReadPixels(0, 0, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &S.depth);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, S.clear);
  };
  at(0, [&] { paint(1, 0, 0); });
  at(1, [&] { look(1); });
  at(2, [&] {
    look(2);
    paint(0, 0, 1);
  });
  at(3, [&] { look(3); });
  quit_at(3);
  EXPECT_EQ(0, run());

  // Nothing is cleared before the first pass draws.
  EXPECT_EQ(255, Seen[1].centre.r);
  EXPECT_NEAR(0.25, Seen[1].depth, 1e-3);  // a 16-bit depth buffer
  for (int Reading : {2, 3}) {
    const snapshot& S = Seen[Reading];
    SCOPED_TRACE(Reading);
    for (pixel_rgba P : {S.centre, S.corner}) {
      EXPECT_EQ(0, P.r);
      EXPECT_EQ(0, P.g);
      EXPECT_EQ(0, P.b);
    }
    EXPECT_FLOAT_EQ(1.0f, S.depth);
    for (GLfloat C : S.clear) EXPECT_EQ(0.0f, C);
  }
}

}  // namespace
// The whole program with real scripts: these need the game host to run
// game/main.lua. They use the harness of tests/main_test.cpp (the Program
// fixture, the fake clock, title_probe); append this file to it.

namespace {

// The scripts write every call that reaches them to calls.txt.
const std::string RECORDING_MAIN =
    "local function record(s) local f = io.open('calls.txt', 'a') f:write(s, ' ') f:close() end\n"
    "function update(t) record('U' .. t) end\n"
    "function keypress(k) record(k) end\n"
    "render_list = {}\n";

void write_quiet_start_up_scripts(const std::string& Main)
{
  for (const char* Lib : {"std", "rn", "debug", "class", "matrix", "color"})
    write_file(std::string("game/lib/") + Lib + ".lua", "");
  write_file("game/font.lua", "");
  write_file("game/main.lua", Main);
}

TEST_F(Program, GameQuitInAStartUpScriptLetsNoPassRun)
{
  write_quiet_start_up_scripts(RECORDING_MAIN + "game_quit()\n");
  EXPECT_EQ(0, run());
  EXPECT_EQ(0, passes());
  EXPECT_TRUE(Clock.waits.empty());
  EXPECT_EQ("", read_file("calls.txt"));
  lines_t Lines = lines();
  ASSERT_GE(Lines.size(), START_UP_LINES.size() + SHUT_DOWN_LINES.size());
  EXPECT_EQ(START_UP_LINES, lines_t(Lines.begin(), Lines.begin() + START_UP_LINES.size()));
  EXPECT_EQ(SHUT_DOWN_LINES, lines_t(Lines.end() - 2, Lines.end()));
  for (const std::string& Line : Lines) EXPECT_EQ(std::string::npos, Line.find("game update")) << Line;
}

TEST_F(Program, KeyPressesQueuedAroundF12StillReachTheScriptsAndNoUpdateFollows)
{
  write_quiet_start_up_scripts(RECORDING_MAIN);
  push_at(1, key_event(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A));
  push_at(1, key_event(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, true));
  push_at(1, key_event(SDL_KEYDOWN, SDLK_F11, SDL_SCANCODE_F11));
  push_at(1, key_event(SDL_KEYUP, SDLK_b, SDL_SCANCODE_B));
  push_at(2, key_event(SDL_KEYDOWN, SDLK_b, SDL_SCANCODE_B));
  push_at(2, key_event(SDL_KEYDOWN, SDLK_F12, SDL_SCANCODE_F12));
  push_at(2, key_event(SDL_KEYDOWN, SDLK_c, SDL_SCANCODE_C));
  EXPECT_EQ(0, run());
  EXPECT_EQ(2, passes());
  EXPECT_EQ("U0.02 A A U0.02 B C ", read_file("calls.txt"));
}

TEST_F(Program, UpdateRunsFiftyTimesASecondWithTheFixedStepEvenAfterALatePass)
{
  write_quiet_start_up_scripts(RECORDING_MAIN);
  Clock.work_of[20] = 30;
  quit_at(51);
  EXPECT_EQ(0, run());
  ASSERT_EQ(51, passes());
  std::string Fifty;
  for (int i = 0; i < 51; ++i) Fifty += "U0.02 ";
  EXPECT_EQ(Fifty, read_file("calls.txt"));
  int InOneSecond = 0;
  for (int Pass = 1; Pass <= 51; ++Pass) InOneSecond += Clock.starts[Pass] < Clock.starts[1] + 1000;
  EXPECT_EQ(50, InOneSecond);
}

TEST_F(Program, TheWindowIsTitledLoadingWhileTheScriptsRun)
{
  write_quiet_start_up_scripts(RECORDING_MAIN + "WARN('main script running')\n");
  title_probe Probe;
  quit_at(1);
  EXPECT_EQ(0, run_watching(Probe));
  lines_t Lines = lines();
  ASSERT_EQ(Lines.size(), Probe.titles.size());
  size_t Warned = find_line(Lines, "! main script running");
  ASSERT_LT(Warned, Lines.size());
  EXPECT_EQ("Loading...", Probe.titles[Warned]);
  EXPECT_EQ("Veldt", Probe.titles.back());
}

}  // namespace
