#include "main.h"

// TODO(helper): the shell.
bool quit_flag = false;
lua_State* script_state = nullptr;
SDL_Window* screen_window = nullptr;
bool is_fullscreen = false;
SDL_GLContext gl_context = nullptr;
fcolor clear_color;
Uint32 (*main_get_ticks)() = SDL_GetTicks;
void (*main_delay)(Uint32) = SDL_Delay;

int SDL_main(int, char*[]) { return 0; }

#ifndef VELDT_NO_PROCESS_ENTRY
int main(int ArgC, char* ArgV[]) { return SDL_main(ArgC, ArgV); }
#endif
