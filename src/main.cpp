#include "main.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL_syswm.h>

#include <cassert>
#include <cstdint>
#include <lua.hpp>
#include <sstream>
#include <string>

#include "die.h"
#include "game.h"
#include "itostr.h"
#include "ref.h"
#include "sdlkeynames.h"

bool quit_flag = false;
lua_State* script_state = nullptr;
SDL_Window* screen_window = nullptr;
bool is_fullscreen = false;
SDL_GLContext gl_context = nullptr;
fcolor clear_color(0.0f);
Uint32 (*main_get_ticks)() = SDL_GetTicks;
void (*main_delay)(Uint32) = SDL_Delay;

namespace {

// The world's size in pixels of the default window.
const int DEFAULT_W = 800;
const int DEFAULT_H = 600;
const int FRAME_TICKS = 20;        // ms from the start of one pass to the next
const double FRAME_TIME = 0.02;    // s of game time per pass, whatever really passed

// The window size the viewport was last fitted to.
int fitted_w = 0, fitted_h = 0;

struct window_mode {
  int w, h;
  int position;  // for both coordinates
  Uint32 flags;
  std::string line;
};

window_mode choose_window_mode(int ScreenW, int ScreenH, bool IsFullscreen, bool IsResizable)
{
  bool Default = ScreenW == 0 || ScreenH == 0;
  window_mode M{ScreenW, ScreenH, SDL_WINDOWPOS_CENTERED, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN, ""};
  if (IsResizable) M.flags |= SDL_WINDOW_RESIZABLE;
  if (Default) {
    M.w = DEFAULT_W;
    M.h = DEFAULT_H;
  }
  std::string Size = itostr(M.w) + "x" + itostr(M.h);
  if (IsFullscreen) {
    M.position = SDL_WINDOWPOS_UNDEFINED;
    // The desktop kind takes the desktop's size whatever size is asked.
    M.flags |= Default ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_FULLSCREEN;
    M.line = Default ? "screen open: setting to fullscreen desktop resolution"
                     : "screen open: setting to fullscreen " + Size;
  } else {
    M.line = Default ? "screen open: 0 for screen w or h, setting to default windowed resolution " + Size
                     : "screen open: setting to windowed " + Size;
  }
  return M;
}

void set_gl_attributes()
{
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
}

// Set once; the render commands never touch any of it. The modelview
// matrix stays current and holds the identity of the fresh context.
void set_fixed_gl_state()
{
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(-DEFAULT_W / 2, DEFAULT_W / 2, -DEFAULT_H / 2, DEFAULT_H / 2);
  glMatrixMode(GL_MODELVIEW);
  // Of two shapes at one depth the later one wins.
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glShadeModel(GL_SMOOTH);
  // Fully transparent fragments write neither colour nor depth.
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0);
}

// True when Driver is one of the comma-separated names in Wanted, in any
// letter case, the way SDL reads its video driver setting.
bool driver_is_wanted(const char* Wanted, const char* Driver)
{
  if (!Wanted) return false;
  std::istringstream List(Wanted);
  std::string Name;
  while (std::getline(List, Name, ','))
    if (SDL_strcasecmp(Name.c_str(), Driver) == 0) return true;
  return false;
}

// True for SDL's video drivers that show nothing.
bool video_driver_is_screenless(const char* Driver)
{
  return Driver && (SDL_strcasecmp(Driver, "offscreen") == 0 || SDL_strcasecmp(Driver, "dummy") == 0);
}

// Without a display SDL falls back to a video driver that shows nothing,
// and the program would run unseen for ever; such a driver is used only
// when asked for by name, to run without a screen on purpose.
bool video_driver_shows_nothing_unasked()
{
  const char* Driver = SDL_GetCurrentVideoDriver();
  return video_driver_is_screenless(Driver) && !driver_is_wanted(SDL_GetHint(SDL_HINT_VIDEODRIVER), Driver);
}

// Later - Earlier on the wrapping 32-bit millisecond counter.
int ticks_between(Uint32 Earlier, Uint32 Later) { return static_cast<int32_t>(Later - Earlier); }

// Waits until FRAME_TICKS after the start of the previous pass's work and
// returns the moment this pass's work begins. A pass that starts late does
// not wait, and nothing is caught up later. A reading behind the previous
// start (a clock jump) waits one period, never longer.
Uint32 wait_for_pass(Uint32 Ticks)
{
  Uint32 NewTicks = main_get_ticks();
  int Elapsed = ticks_between(Ticks, NewTicks);
  if (Elapsed < 0) Elapsed = 0;
  int WaitTicks = FRAME_TICKS - Elapsed;
  if (WaitTicks <= 0) return NewTicks;
  main_delay(static_cast<Uint32>(WaitTicks));
  return NewTicks + static_cast<Uint32>(WaitTicks);
}

// F11 and F12 are recognised by key code; the scripts get the physical key.
void handle_key_down(game& G, const SDL_Keysym& Key)
{
  if (Key.sym == SDLK_F12)
    quit_flag = true;
  else if (Key.sym == SDLK_F11)
    toggle_fullscreen();
  else
    G.keypress(Key.scancode);
}

// The window's size as the window system has it. SDL reports the size it
// asked for; on X without a window manager full screen is asked for but
// never given, and SDL reports the screen's size for a window that kept its
// own. There the X server is asked.
void window_size(int& W, int& H)
{
  SDL_GetWindowSize(screen_window, &W, &H);
  SDL_SysWMinfo Info;
  SDL_VERSION(&Info.version);
  if (!SDL_GetWindowWMInfo(screen_window, &Info) || Info.subsystem != SDL_SYSWM_X11) return;
  XWindowAttributes Attributes;
  if (!XGetWindowAttributes(Info.info.x11.display, Info.info.x11.window, &Attributes)) return;
  W = Attributes.width;
  H = Attributes.height;
}

// Sets the 4:3 viewport for a window of ScreenW x ScreenH and logs it.
void fit_viewport_to(int ScreenW, int ScreenH)
{
  viewport_rect V = fit_viewport(ScreenW, ScreenH);
  glViewport(V.x, V.y, V.w, V.h);
  fitted_w = ScreenW;
  fitted_h = ScreenH;
  die_progress({"refresh screen viewport: now ", itostr(ScreenW), "x", itostr(ScreenH), ", viewport ", itostr(V.w),
                "x", itostr(V.h)});
}

// A window manager may resize the window after a toggle has refitted the
// viewport, and SDL reports sizes already fitted: only a size not yet
// fitted is refitted.
void handle_window_event(const SDL_WindowEvent& Event)
{
  if (Event.event != SDL_WINDOWEVENT_SIZE_CHANGED) return;
  int ScreenW = 0, ScreenH = 0;
  window_size(ScreenW, ScreenH);
  if (ScreenW != fitted_w || ScreenH != fitted_h) fit_viewport_to(ScreenW, ScreenH);
}

// Drains the whole queue, also after a quit request: key presses queued
// behind it still reach the game.
void dispatch_events(game& G)
{
  SDL_Event E;
  while (SDL_PollEvent(&E)) {
    if (E.type == SDL_QUIT)
      quit_flag = true;
    else if (E.type == SDL_KEYDOWN)
      handle_key_down(G, E.key.keysym);
    else if (E.type == SDL_WINDOWEVENT)
      handle_window_event(E.window);
  }
}

void run_pass(game& G, bool WaitForDrawing)
{
  G.update(FRAME_TIME);
  G.render();
  SDL_GL_SwapWindow(screen_window);
  if (WaitForDrawing) glFinish();
  // The next pass draws into a cleared buffer.
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  dispatch_events(G);
}

void main_loop(game& G)
{
  // A swap that no display paces returns before the drawing is done, and
  // the frames queued in the GL driver would grow without end.
  const bool WaitForDrawing = video_driver_is_screenless(SDL_GetCurrentVideoDriver());
  Uint32 Ticks = main_get_ticks();
  while (!quit_flag) {
    Ticks = wait_for_pass(Ticks);
    run_pass(G, WaitForDrawing);
  }
}

}  // namespace

viewport_rect fit_viewport(int ScreenW, int ScreenH)
{
  // 64-bit products: 3 x and 4 x a size near the int limit stay exact.
  int64_t W = ScreenW > 0 ? ScreenW : 0;
  int64_t H = ScreenH > 0 ? ScreenH : 0;
  if (3 * W <= 4 * H) {
    int64_t ViewH = 3 * W / 4;
    return viewport_rect{0, static_cast<int>((H - ViewH) / 2), static_cast<int>(W), static_cast<int>(ViewH)};
  }
  int64_t ViewW = 4 * H / 3;
  return viewport_rect{static_cast<int>((W - ViewW) / 2), 0, static_cast<int>(ViewW), static_cast<int>(H)};
}

void refresh_gl_viewport_from_window_size()
{
  int ScreenW = 0, ScreenH = 0;
  window_size(ScreenW, ScreenH);
  fit_viewport_to(ScreenW, ScreenH);
}

void toggle_fullscreen()
{
  is_fullscreen = !is_fullscreen;
  // The flag flips even when SDL refuses the switch.
  SDL_SetWindowFullscreen(screen_window, is_fullscreen ? SDL_WINDOW_FULLSCREEN : 0);
  // Without a window manager SDL goes on reporting the full-screen size
  // after leaving full screen, though the window has its windowed size;
  // that size is fixed, so it is set again.
  if (!is_fullscreen) SDL_SetWindowSize(screen_window, DEFAULT_W, DEFAULT_H);
  die_progress({"toggle fullscreen: now ", is_fullscreen ? "fullscreen" : "windowed"});
  refresh_gl_viewport_from_window_size();
}

int screen_open(int ScreenW, int ScreenH, bool IsFullscreen, bool IsResizable)
{
  assert(0 == screen_window);
  const int WantBPP = 32;
  die_progress({"screen open: want BPP is ", itostr(WantBPP)});
  die_progress("screen open: setting GL color sizes attributes");
  set_gl_attributes();
  die_progress("screen open: setting video mode");
  window_mode M = choose_window_mode(ScreenW, ScreenH, IsFullscreen, IsResizable);
  die_progress(M.line);
  screen_window = SDL_CreateWindow("Loading...", M.position, M.position, M.w, M.h, M.flags);
  gl_context = screen_window ? SDL_GL_CreateContext(screen_window) : nullptr;
  // A window without a context can draw nothing: as good as no window.
  if (!gl_context) {
    die_fatal({"screen open: couldn't set GL mode; ", SDL_GetError()});
    if (screen_window) SDL_DestroyWindow(screen_window);
    screen_window = nullptr;
    return -1;
  }
  is_fullscreen = IsFullscreen;
  set_fixed_gl_state();
  refresh_gl_viewport_from_window_size();
  return 0;
}

int script_open()
{
  script_state = luaL_newstate();
  if (script_state) luaL_openlibs(script_state);
  return 0;
}

int SDL_main(int, char*[])
{
  die_init("trace.txt");
  die_progress("veldt: game by Brindlewick for Marrowfest #13");
  die_progress("main: initializing SDL");
  if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
    die_fatal({"main fatal: can't initialize SDL: ", SDL_GetError()});
    return -1;
  }
  if (video_driver_shows_nothing_unasked()) {
    // Names what the user can set, not the fallback driver SDL chose.
    die_fatal("main fatal: can't initialize SDL: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY "
              "leads to one)");
    SDL_Quit();
    return -1;
  }
  sdl_key_names_init();
  // Without a window there is no context to draw with and no way to quit.
  if (screen_open(DEFAULT_W, DEFAULT_H, false, false) < 0) {
    SDL_Quit();
    return -1;
  }
  script_open();
  ref<game> G = mkref(new game());
  G->init();
  SDL_SetWindowTitle(screen_window, "Veldt");
  main_loop(*G.ptr());
  die_progress("main: closing world");
  die_progress("main: quitting SDL");
  // A software GL's drawing threads may still be on the last frame's
  // clear; closing the display under them can hang the process at exit.
  glFinish();
  SDL_Quit();
  return 0;
}

#ifndef VELDT_NO_PROCESS_ENTRY
int main(int ArgC, char* ArgV[]) { return SDL_main(ArgC, ArgV); }
#endif
