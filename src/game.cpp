#include "game.h"

// TODO(helper): the game object.
game::game() : L(nullptr), render_depth(0), render_depth_reported(false) {}
game::~game() {}
void game::init() {}
void game::update(double) {}
void game::render() {}
void game::keypress(int) {}
void game::render_command() {}
void game::include(const std::string&) {}
void game::lib(const std::string&) {}
