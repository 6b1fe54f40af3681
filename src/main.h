// The application shell: window, GL state, viewport, full screen and the
// paced main loop.
#pragma once

#include <SDL.h>

#include "vecco.h"

extern bool quit_flag;              // ends the main loop after the current pass
extern struct lua_State* script_state;
extern SDL_Window* screen_window;
extern bool is_fullscreen;
extern SDL_GLContext gl_context;
extern fcolor clear_color;

// The millisecond clock and the wait of the main loop; SDL_GetTicks and
// SDL_Delay unless a test drives them.
extern Uint32 (*main_get_ticks)();
extern void (*main_delay)(Uint32 Ms);

int SDL_main(int ArgC, char* ArgV[]);
int script_open();

// 0 when the window, its context and the fixed GL state are ready; -1 when
// the window or its context cannot be made, with no window left open.
int screen_open(int ScreenW, int ScreenH, bool IsFullscreen, bool IsResizable);
void refresh_gl_viewport_from_window_size();
void toggle_fullscreen();

// The largest 4:3 rectangle centred in a window of ScreenW x ScreenH, with
// its corner measured from the lower left.
struct viewport_rect {
  int x, y, w, h;
};
viewport_rect fit_viewport(int ScreenW, int ScreenH);
