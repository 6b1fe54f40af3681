// The demo's sprites and the colour swatches of its rock strata.
#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

float clamp01(float V) { return std::clamp(V, 0.0f, 1.0f); }

// Both shapes at once.
shape both(const shape& A, const shape& B)
{
  return [A, B](float X, float Y) { return A(X, Y) && B(X, Y); };
}

}  // namespace

// Nose up, 32 x 32: a dart-shaped hull on two landing legs, the nozzle at
// the bottom centre. The game takes its collision outline from the alpha.
void draw_ship(const std::string& File)
{
  canvas C(32, 32);
  const rgba Leg = hex("8a93a3");
  C.fill(stroke({10.5f, 21}, {6.5f, 29.5f}, 1.1f), Leg);
  C.fill(stroke({21.5f, 21}, {25.5f, 29.5f}, 1.1f), Leg);
  C.fill(box(3.5f, 29.3f, 9.5f, 31.5f), hex("c8ced8"));
  C.fill(box(22.5f, 29.3f, 28.5f, 31.5f), hex("c8ced8"));
  C.fill(polygon({{12.5f, 23}, {19.5f, 23}, {21, 28.5f}, {11, 28.5f}}),
         [](float, float Y) { return mix(hex("59627a"), hex("2b303b"), clamp01((Y - 23) / 6)); });
  const shape Hull = polygon({{16, 1.2f}, {24.5f, 18}, {28, 25}, {20, 23.5f}, {12, 23.5f}, {4, 25}, {7.5f, 18}});
  // Light from the upper left.
  C.fill(Hull, [](float X, float Y) {
    return mix(hex("eceff4"), hex("4c566a"), clamp01((X - 5) / 23 * 0.75f + Y / 32 * 0.35f));
  });
  C.fill(both(Hull, box(0, 18.2f, 32, 20.6f)), [](float X, float) {
    return mix(hex("f39c5a"), hex("b4542a"), clamp01((X - 4) / 24));
  });
  C.fill(ellipse(16, 11.5f, 3.2f, 5), [](float, float Y) {
    return mix(hex("a8ecff"), hex("1d5a86"), clamp01((Y - 7) / 9));
  });
  C.fill(ellipse(15, 9.3f, 1, 1.6f), hex("ffffff", 0.85f));
  C.outline(0.55f);
  C.save(File);
}

// 16 x 32, hanging from its top edge: a tapering flame, white at the core.
void draw_flame(const std::string& File)
{
  canvas C(16, 32);
  auto HalfWidth = [](float Y) { return 6.8f * std::pow(clamp01(1 - Y / 30), 0.75f) + 0.2f; };
  C.fill([&](float X, float Y) { return Y < 30 && std::fabs(X - 8) <= HalfWidth(Y); },
         [&](float X, float Y) {
           const float T = clamp01(Y / 30);
           const float D = clamp01(std::fabs(X - 8) / HalfWidth(Y));
           rgba Core = mix(hex("fffbe6"), hex("ffd060"), T);
           rgba Edge = mix(hex("ff8a30"), hex("c0280e"), T);
           rgba Col = mix(Core, Edge, D);
           Col.a = std::pow(1 - T, 0.7f) * (1 - 0.55f * D);
           return Col;
         });
  C.save(File);
}

// 32 x 32: a cut gem in a soft halo.
void draw_crystal(const std::string& File)
{
  canvas C(32, 32);
  C.fill(ellipse(16, 16, 15.5f, 15.5f), [](float X, float Y) {
    const float R = std::hypot(X - 16, Y - 16) / 15.5f;
    return hex("7ff0ff", 0.45f * (1 - R) * (1 - R));
  });
  C.fill(polygon({{12, 6}, {16, 6}, {16, 12}, {8, 12}}), hex("e8ffff"));
  C.fill(polygon({{16, 6}, {20, 6}, {24, 12}, {16, 12}}), hex("9ff3ff"));
  C.fill(polygon({{8, 12}, {16, 12}, {16, 27}}), hex("4fd8f0"));
  C.fill(polygon({{16, 12}, {24, 12}, {16, 27}}), hex("1f9ec0"));
  C.outline(0.6f);
  C.fill(both(ellipse(12.5f, 8.5f, 2.2f, 2.2f), [](float X, float Y) {
           return std::fabs(X - 12.5f) < 0.45f || std::fabs(Y - 8.5f) < 0.45f;
         }),
         hex("ffffff"));
  C.save(File);
}

// 64 x 16: a landing deck with a light at each end, on two struts. Grey,
// so that the game's colour tints it.
void draw_pad(const std::string& File)
{
  canvas C(64, 16);
  const rgba Strut = hex("8c8c8c");
  C.fill(polygon({{9, 4}, {16, 4}, {13, 16}, {5, 16}}), Strut);
  C.fill(polygon({{48, 4}, {55, 4}, {59, 16}, {51, 16}}), Strut);
  C.fill(box(11, 8, 53, 10), hex("6e6e6e"));
  C.fill(box(0.5f, 0, 63.5f, 4.5f), [](float, float Y) { return mix(hex("f4f4f4"), hex("9a9a9a"), Y / 4.5f); });
  for (float X = 10; X < 56; X += 8) C.fill(box(X, 3, X + 4, 4.5f), hex("505050"));
  C.fill(ellipse(4, 2.2f, 2.2f, 2.2f), hex("ffffff"));
  C.fill(ellipse(60, 2.2f, 2.2f, 2.2f), hex("ffffff"));
  C.save(File);
}

// A 16 x 4 swatch of colours picked at random from Colours, for the rock
// strata that the game draws with terrain.
void draw_swatch(const std::string& File, const std::vector<const char*>& Colours, unsigned Seed)
{
  std::mt19937 Random(Seed);
  canvas C(16, 4);
  for (int Y = 0; Y < C.h(); ++Y)
    for (int X = 0; X < C.w(); ++X) C.at(X, Y) = hex(Colours[Random() % Colours.size()]);
  C.save(File);
}
