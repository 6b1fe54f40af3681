// OpenGL textures made from image files, kept for the life of the process in
// a registry by path and by dense index.
#pragma once

#include <string>
#include <vector>

#include "ref.h"
#include "vecco.h"

class texture {
 public:
  int id;                  // OpenGL texture name
  int get_id;              // index in the registry; the number scripts use
  rpos size_in_pixels;     // (w, h, 0)
  std::vector<bool> mask;  // w * h bits, row-major: alpha byte not 0 (32-bit images only)
  int w;
  int h;

  // False outside the image.
  bool check_mask(int X, int Y) const;
};

// The texture for the image file at Name, loaded on first use (needs a
// current GL context); a null handle after logging on failure. Interp: smooth
// mipmapped filtering, else nearest.
ref<texture> texture_load(const std::string& Name, bool Interp);
// The texture at registry index GetID, or a null handle after logging.
ref<texture> texture_get(int GetID);
