// The pictures the demo game loads, each drawn into its file.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"

void draw_ship(const std::string& File);
void draw_flame(const std::string& File);
void draw_crystal(const std::string& File);
void draw_pad(const std::string& File);
void draw_swatch(const std::string& File, const std::vector<const char*>& Colours, unsigned Seed);

// The cave levels: cave1.png, cave2.png, ... in Folder.
void draw_caves(const std::string& Folder);
