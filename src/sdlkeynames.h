// SDL scancodes to the upper-case key names the scripts see, and back.
#pragma once

#include <map>
#include <string>

extern std::map<std::string, int> sdl_key_name_scancodes;
extern std::map<int, std::string> sdl_scancode_key_names;

// Fills both tables (89 keys); later calls do nothing.
void sdl_key_names_init();
