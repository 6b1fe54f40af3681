// A game's native Lua module, loaded with require from the game's working
// directory, runs on the Lua API that the program itself provides.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end.h"

namespace {

TEST_F(EndToEnd, NativeLuaModuleLoadsWithRequireAndRunsOnTheProgramsLuaApi)
{
  std::filesystem::copy_file(VELDT_NATIVE_MODULE, "veldtnative.so");
  write_file("game/main.lua", R"(
local native = require("veldtnative")
WARN("twice 21 is " .. native.twice(21))
local ok, message = pcall(function() return native.twice("x") end)
WARN(tostring(ok) .. ": " .. message)
game_quit()
)");
  start();
  EXPECT_EQ("exit 0", describe_status(Run->wait_for_exit(EXIT_TIMEOUT)));
  const std::vector<std::string>& Lines = Run->lines();
  ASSERT_EQ(11u, Lines.size());
  EXPECT_EQ("! twice 21 is 42", Lines[7]);
  EXPECT_EQ("! false: game/main.lua:4: bad argument #1 to 'twice' (number expected, got string)", Lines[8]);
  expect_no_sanitizer_report(*Run);
}

}  // namespace
