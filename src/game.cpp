#include "game.h"

#include <cmath>
#include <cstdint>

namespace {

// A script number as a 32-bit int: truncated toward zero; NaN and values
// outside the int range give INT32_MIN.
[[maybe_unused]] int script_number_to_int(double D)
{
  if (!(D > -2147483649.0 && D < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(D);
}

}  // namespace

// TODO(gamehost): the game object, update, keypress, inclusion, host functions.
game::game() : L(nullptr), render_depth(0), render_depth_reported(false) {}
game::~game() {}
void game::init() {}
void game::update(double) {}
void game::keypress(int) {}
void game::include(const std::string&) {}
void game::lib(const std::string&) {}

// TODO(render): the render-list walk.
void game::render() {}
void game::render_command() {}
