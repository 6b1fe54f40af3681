#include <SDL.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sdlkeynames.h"

namespace {

// SDL's display names of the keys whose names in the table (the suffixes of
// the SDL_SCANCODE_ enumerators) are spelt otherwise; SDL looks names up
// without regard to case, so every other name of the table is SDL's own.
const std::map<std::string, std::string> SDL_DISPLAY_NAMES = {
    {"MINUS", "-"},          {"EQUALS", "="},       {"LEFTBRACKET", "["},   {"RIGHTBRACKET", "]"},
    {"BACKSLASH", "\\"},     {"NONUSHASH", "#"},    {"SEMICOLON", ";"},     {"APOSTROPHE", "'"},
    {"GRAVE", "`"},          {"COMMA", ","},        {"PERIOD", "."},        {"SLASH", "/"},
    {"LCTRL", "Left Ctrl"},  {"LSHIFT", "Left Shift"}, {"LALT", "Left Alt"},  {"LGUI", "Left GUI"},
    {"RCTRL", "Right Ctrl"}, {"RSHIFT", "Right Shift"}, {"RALT", "Right Alt"}, {"RGUI", "Right GUI"},
};

int sdl_scancode_of(const std::string& Name)
{
  auto Display = SDL_DISPLAY_NAMES.find(Name);
  return SDL_GetScancodeFromName(Display == SDL_DISPLAY_NAMES.end() ? Name.c_str() : Display->second.c_str());
}

}  // namespace

TEST(SdlKeyNames, TablesHold89PairsThatReadTheSameBothWays)
{
  sdl_key_names_init();
  ASSERT_EQ(sdl_scancode_key_names.size(), 89u);
  ASSERT_EQ(sdl_key_name_scancodes.size(), 89u);
  for (const auto& Pair : sdl_scancode_key_names) {
    auto Back = sdl_key_name_scancodes.find(Pair.second);
    ASSERT_NE(Back, sdl_key_name_scancodes.end()) << Pair.second;
    EXPECT_EQ(Back->second, Pair.first) << Pair.second;
  }
}

TEST(SdlKeyNames, EveryNameHoldsSdlsScancodeOfThatKey)
{
  sdl_key_names_init();
  for (const auto& Pair : sdl_key_name_scancodes) {
    EXPECT_NE(sdl_scancode_of(Pair.first), SDL_SCANCODE_UNKNOWN) << Pair.first;
    EXPECT_EQ(Pair.second, sdl_scancode_of(Pair.first)) << Pair.first;
  }
  for (char C = 'A'; C <= 'Z'; ++C) EXPECT_EQ(sdl_key_name_scancodes.count(std::string(1, C)), 1u) << C;
  for (char C = '0'; C <= '9'; ++C) EXPECT_EQ(sdl_key_name_scancodes.count(std::string(1, C)), 1u) << C;
  for (int F = 1; F <= 12; ++F) EXPECT_EQ(sdl_key_name_scancodes.count("F" + std::to_string(F)), 1u) << F;
  EXPECT_EQ(sdl_key_name_scancodes["A"], 4);
  EXPECT_EQ(sdl_scancode_key_names[30], "1");
  EXPECT_EQ(sdl_scancode_key_names[39], "0");
  EXPECT_EQ(sdl_key_name_scancodes["SPACE"], 44);
  EXPECT_EQ(sdl_scancode_key_names[44], "SPACE");
  EXPECT_EQ(sdl_key_name_scancodes["VOLUMEDOWN"], 129);
}

TEST(SdlKeyNames, KeypadNumLockAndHigherFunctionKeysHaveNoName)
{
  sdl_key_names_init();
  const int Unnamed[] = {SDL_SCANCODE_NUMLOCKCLEAR, SDL_SCANCODE_KP_1, SDL_SCANCODE_KP_ENTER,
                         SDL_SCANCODE_F13,          SDL_SCANCODE_F24,  SDL_SCANCODE_NONUSBACKSLASH,
                         SDL_SCANCODE_APPLICATION,  SDL_SCANCODE_MUTE, SDL_SCANCODE_AUDIONEXT,
                         0,                         -1,                512};
  for (int Scancode : Unnamed) EXPECT_EQ(sdl_scancode_key_names.count(Scancode), 0u) << Scancode;
  EXPECT_EQ(SDL_SCANCODE_NUMLOCKCLEAR, 83);
}

TEST(SdlKeyNames, SecondInitChangesNothing)
{
  sdl_key_names_init();
  auto ByScancode = sdl_scancode_key_names;
  auto ByName = sdl_key_name_scancodes;
  sdl_key_names_init();
  EXPECT_EQ(sdl_scancode_key_names, ByScancode);
  EXPECT_EQ(sdl_key_name_scancodes, ByName);
  EXPECT_EQ(sdl_scancode_key_names.size(), 89u);
}
