// The game object: owns the Lua state, offers the host functions, runs the
// scripts' update and keypress and draws their render_list.
#pragma once

#include <string>

#include "font.h"
#include "ref.h"

struct lua_State;

class game {
 public:
  lua_State* L;  // the game's Lua state; created by init, never closed
  ref<font> F;   // the game font; built by init

  game();
  virtual ~game();
  void init();
  void update(double T);
  void render();
  void keypress(int Scancode);
  // Interprets the value on top of L's stack as a command or a list; the
  // stack is left as found.
  void render_command();
  void include(const std::string& ScriptName);
  void lib(const std::string& LibName);

 private:
  int render_depth;            // nesting level of the walk in progress
  bool render_depth_reported;  // the too-deep warning was logged this frame
  int render_commands_left = 0;  // values the walk may still interpret this frame
  int render_matrix_room = 0;    // modelview stack levels free for the walk's transforms
};
