// Draws the demo game's pictures into a folder (normally data/).
//
// pictures FOLDER
#include <SDL.h>

#include "pictures.h"

int main(int argc, char** argv)
{
  if (argc != 2) fail("usage: pictures FOLDER");
  const std::string Folder = std::string(argv[1]) + "/";
  draw_ship(Folder + "ship.png");
  draw_flame(Folder + "flame.png");
  draw_crystal(Folder + "crystal.png");
  draw_pad(Folder + "pad.png");
  draw_swatch(Folder + "soil.png", {"5a4030", "6b4a33", "7a5a3c", "4a3528", "8a6a48", "3d2b20"}, 1);
  draw_swatch(Folder + "rock.png", {"4a4f5a", "5a606c", "3c4049", "6a707c", "50505a", "434852"}, 2);
  draw_swatch(Folder + "deep.png", {"3a2a40", "4a3050", "2e2236", "5a2a3a", "6a3040", "3e2a44", "a04a30"}, 3);
  draw_caves(Folder);
  return 0;
}
