-- The game's colours by name; each takes an entry of the host's palette.
local COLOURS = {
  { "air_top", "2b3550" }, { "air_deep", "07080d" },
  { "wall_top", "a08a6a" }, { "wall_deep", "7a4a80" },
  { "glow", "b8ffd8" },
  { "home_pad", "ffc870" }, { "fuel_pad", "80ffa0" },
  { "crystal", "7ff0ff" }, { "radar", "80d0ff" }, { "trail", "9fc8ff" },
  { "flame_hot", "fff0b0" }, { "flame_cool", "ff4010" },
  { "hull", "d8dee9" }, { "hull_dark", "4c566a" }, { "stripe", "e07a3a" },
  { "text", "e8eef8" }, { "dim", "8a98b0" }, { "good", "70ff90" }, { "bad", "ff7050" },
  { "panel", "000000" },
}

for _, c in ipairs(COLOURS) do color.define(c[1], c[2]) end
