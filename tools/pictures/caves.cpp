// The cave levels. Each is a map picture, one pixel per cell of the cave:
//   opaque                rock
//   clear                 open cave
//   half-clear ff0000     the home pad: start, and the goal once every crystal is taken
//   half-clear 00ff00     a fuel pad
//   half-clear 00ffff     a crystal
// A pad marker sits in the open cell just above its floor. Caves are carved
// from rooms and tunnels with wavering walls, so they look hewn rather than
// drawn; the tool refuses a cave in which the ship cannot reach a marker.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <random>

#include "pictures.h"

namespace {

const float PI = 3.14159265f;
// Cells of rock kept all round a map.
const int BORDER = 2;
// Distance in cells from the centre of the nearest rock cell that the ship
// needs to fly through a cell: a 2-cell ship with half a cell to spare.
const float CLEARANCE = 2.5f;
// Distance in cells from a marker within which the ship must be able to fly.
const float MARKER_REACH = 3.5f;
// Markers keep this many cells free of stalactites.
const float MARKER_SPACE = 6;

enum marker_kind { HOME, FUEL, CRYSTAL };

struct marker {
  int x, y;
  marker_kind kind;
};

class cave {
 public:
  cave(int W, int H, unsigned Seed) : W(W), H(H), Rock(static_cast<size_t>(W) * H, true), Random(Seed) {}

  // An oval room whose wall wavers by up to a fifth of its radius.
  void room(float Cx, float Cy, float Rx, float Ry)
  {
    const float P = phase(), Q = phase();
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) {
        const float Dx = (X - Cx) / Rx, Dy = (Y - Cy) / Ry;
        const float Angle = std::atan2(Dy, Dx);
        const float Wall = 1 + 0.12f * std::sin(3 * Angle + P) + 0.08f * std::sin(5 * Angle + Q);
        if (Dx * Dx + Dy * Dy <= Wall * Wall) open(X, Y);
      }
  }

  // A tunnel along a path of cell positions, R cells in radius give or take
  // a quarter.
  void tunnel(const std::vector<point>& Path, float R)
  {
    const float P = phase(), Q = phase();
    float Travelled = 0;
    for (size_t i = 1; i < Path.size(); ++i) {
      const point A = Path[i - 1], B = Path[i];
      const float Length = std::hypot(B.x - A.x, B.y - A.y);
      for (float S = 0; S <= Length; S += 0.5f, Travelled += 0.5f) {
        const float T = Length > 0 ? S / Length : 0;
        const float Radius = R * (1 + 0.16f * std::sin(Travelled * 0.35f + P) + 0.09f * std::sin(Travelled * 0.9f + Q));
        disc(A.x + (B.x - A.x) * T, A.y + (B.y - A.y) * T, Radius);
      }
    }
  }

  // A pad whose deck sits on a flat ledge seven cells wide, open above.
  void pad(int X, int Y, bool Home)
  {
    for (int Dx = -3; Dx <= 3; ++Dx) {
      for (int Dy = -4; Dy <= 0; ++Dy) open(X + Dx, Y + Dy);
      set(X + Dx, Y + 1, true);
      set(X + Dx, Y + 2, true);
    }
    Markers.push_back({X, Y, Home ? HOME : FUEL});
  }

  void crystal(int X, int Y)
  {
    disc(float(X), float(Y), 2.2f);
    Markers.push_back({X, Y, CRYSTAL});
  }

  // Spikes of rock hanging from ceilings and, fewer, standing on floors;
  // a spike that would cut the ship off from a marker is left out.
  void stalactites(float Chance)
  {
    for (int Y = 1; Y + 4 < H; ++Y)
      for (int X = 0; X < W; ++X) {
        if (is_rock(X, Y) || near_marker(X, Y)) continue;
        const bool Ceiling = is_rock(X, Y - 1) && !is_rock(X, Y + 1) && !is_rock(X, Y + 2) && !is_rock(X, Y + 3);
        const bool Floor = is_rock(X, Y + 1) && !is_rock(X, Y - 1) && !is_rock(X, Y - 2);
        const bool Long = random01() < 0.4f;
        if (!(Ceiling && random01() < Chance) && !(Floor && random01() < Chance * 0.4f)) continue;
        set(X, Y, true);
        if (Ceiling && Long) set(X, Y + 1, true);
        if (unreachable().empty()) continue;
        open(X, Y);
        open(X, Y + (Ceiling && Long));
      }
  }

  // Stops the tool unless the ship can fly from the home pad to every marker.
  void check(const std::string& Name) const
  {
    const std::vector<const marker*> Lost = unreachable();
    if (Lost.empty()) return;
    print(flown());
    fail(Name + ": the ship cannot reach the marker at " + std::to_string(Lost[0]->x) + "," +
         std::to_string(Lost[0]->y));
  }

  void save(const std::string& File)
  {
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X)
        if (X < BORDER || Y < BORDER || X >= W - BORDER || Y >= H - BORDER) set(X, Y, true);
    canvas C(W, H);
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X)
        if (is_rock(X, Y)) C.at(X, Y) = hex(random01() < 0.5f ? "5a5a64" : "66666f");
    for (const marker& M : Markers) {
      const char* Colour = M.kind == HOME ? "ff0000" : M.kind == FUEL ? "00ff00" : "00ffff";
      C.at(M.x, M.y) = hex(Colour, 128 / 255.0f);
    }
    check(File);
    C.save(File);
  }

 private:
  // The cells the ship can reach flying from the home pad.
  std::vector<bool> flown() const
  {
    std::vector<bool> Flyable(Rock.size());
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) Flyable[index(X, Y)] = clearance(X, Y) >= CLEARANCE;
    std::vector<bool> Reached(Rock.size());
    std::deque<int> Queue;
    auto Visit = [&](int X, int Y) {
      if (X < 0 || Y < 0 || X >= W || Y >= H || !Flyable[index(X, Y)] || Reached[index(X, Y)]) return;
      Reached[index(X, Y)] = true;
      Queue.push_back(int(index(X, Y)));
    };
    for (const marker& M : Markers)
      if (M.kind == HOME) for_near(M.x, M.y, MARKER_REACH, Visit);
    while (!Queue.empty()) {
      const int X = Queue.front() % W, Y = Queue.front() / W;
      Queue.pop_front();
      Visit(X - 1, Y);
      Visit(X + 1, Y);
      Visit(X, Y - 1);
      Visit(X, Y + 1);
    }
    return Reached;
  }

  // The markers the ship cannot reach from the home pad (all of them when
  // there is no home pad).
  std::vector<const marker*> unreachable() const
  {
    const std::vector<bool> Reached = flown();
    std::vector<const marker*> Lost;
    for (const marker& M : Markers) {
      bool Ok = false;
      for_near(M.x, M.y, MARKER_REACH, [&](int X, int Y) { Ok = Ok || Reached[index(X, Y)]; });
      if (!Ok) Lost.push_back(&M);
    }
    return Lost;
  }

  // The map on standard error: rock #, cells the ship reached ., other open
  // cells blank, markers H, F and C.
  void print(const std::vector<bool>& Reached) const
  {
    for (int Y = 0; Y < H; ++Y) {
      std::string Row;
      for (int X = 0; X < W; ++X) Row += is_rock(X, Y) ? '#' : Reached[index(X, Y)] ? '.' : ' ';
      for (const marker& M : Markers)
        if (M.y == Y) Row[M.x] = "HFC"[M.kind];
      std::fprintf(stderr, "%3d %s\n", Y, Row.c_str());
    }
  }

  size_t index(int X, int Y) const { return static_cast<size_t>(Y) * W + X; }
  bool is_rock(int X, int Y) const { return X < 0 || Y < 0 || X >= W || Y >= H || Rock[index(X, Y)]; }
  void set(int X, int Y, bool IsRock)
  {
    if (X >= 0 && Y >= 0 && X < W && Y < H) Rock[index(X, Y)] = IsRock;
  }
  void open(int X, int Y) { set(X, Y, false); }
  float random01() { return Random() / 4294967296.0f; }
  float phase() { return random01() * 2 * PI; }

  void disc(float Cx, float Cy, float R)
  {
    for (int Y = int(Cy - R) - 1; Y <= int(Cy + R) + 1; ++Y)
      for (int X = int(Cx - R) - 1; X <= int(Cx + R) + 1; ++X)
        if ((X - Cx) * (X - Cx) + (Y - Cy) * (Y - Cy) <= R * R) open(X, Y);
  }

  template <class F>
  void for_near(int Cx, int Cy, float R, F Visit) const
  {
    for (int Y = std::max(0, int(Cy - R)); Y <= std::min(H - 1, int(Cy + R)); ++Y)
      for (int X = std::max(0, int(Cx - R)); X <= std::min(W - 1, int(Cx + R)); ++X)
        if ((X - Cx) * (X - Cx) + (Y - Cy) * (Y - Cy) <= R * R) Visit(X, Y);
  }

  bool near_marker(int X, int Y) const
  {
    for (const marker& M : Markers)
      if (std::hypot(float(X - M.x), float(Y - M.y)) < MARKER_SPACE) return true;
    return false;
  }

  // Distance from the cell to the nearest rock cell, up to CLEARANCE + 1.
  float clearance(int X, int Y) const
  {
    const int Reach = int(CLEARANCE) + 1;
    float Best = float(Reach);
    for (int Dy = -Reach; Dy <= Reach; ++Dy)
      for (int Dx = -Reach; Dx <= Reach; ++Dx)
        if (is_rock(X + Dx, Y + Dy)) Best = std::min(Best, std::hypot(float(Dx), float(Dy)));
    return Best;
  }

  int W, H;
  std::vector<bool> Rock;
  std::vector<marker> Markers;
  std::mt19937 Random;
};

// A first cave: one winding shaft with a fuel pad halfway and a few pockets.
void first_cave(const std::string& File)
{
  cave C(64, 96, 11);
  C.room(20, 8, 12, 7);
  C.tunnel({{20, 10}, {27, 18}, {32, 26}, {28, 34}, {30, 44}}, 4);
  C.tunnel({{30, 28}, {42, 27}, {50, 31}}, 3.5f);
  C.room(53, 32, 6, 4.5f);
  C.room(30, 46, 10, 5);
  C.tunnel({{24, 46}, {21, 56}, {20, 64}, {26, 72}, {38, 80}}, 4);
  C.tunnel({{21, 68}, {12, 76}, {9, 84}}, 3.5f);
  C.room(9, 86, 5.5f, 4.5f);
  C.room(42, 83, 12, 6);
  C.tunnel({{46, 80}, {54, 70}, {56, 60}}, 3.2f);
  C.room(56, 58, 4.5f, 4);
  C.pad(20, 13, true);
  C.pad(34, 50, false);
  C.crystal(29, 7);
  C.crystal(55, 32);
  C.crystal(20, 61);
  C.crystal(9, 86);
  C.crystal(49, 84);
  C.crystal(56, 57);
  C.stalactites(0.22f);
  C.save(File);
}

// Two shafts from the home hall that meet again at a fuel pad, and a deep
// floor below with two more halls.
void second_cave(const std::string& File)
{
  cave C(80, 112, 22);
  C.room(40, 7, 13, 6.5f);
  C.tunnel({{36, 10}, {20, 22}, {16, 38}, {22, 52}}, 4);
  C.tunnel({{44, 10}, {60, 24}, {64, 40}, {58, 54}}, 4);
  C.room(20, 40, 8, 7);
  C.room(64, 42, 8, 7);
  C.tunnel({{62, 38}, {69, 28}, {73, 21}}, 4);
  C.room(73, 20, 4.5f, 4);
  C.tunnel({{22, 52}, {40, 60}, {58, 54}}, 3.8f);
  C.room(40, 63, 9, 5);
  C.tunnel({{34, 62}, {30, 74}, {34, 88}, {48, 96}, {62, 90}}, 4);
  C.tunnel({{34, 90}, {20, 98}}, 3.5f);
  C.room(18, 99, 8, 6);
  C.room(64, 92, 9, 6);
  C.pad(40, 12, true);
  C.pad(45, 67, false);
  C.pad(62, 97, false);
  C.crystal(14, 42);
  C.crystal(70, 40);
  C.crystal(73, 19);
  C.crystal(30, 76);
  C.crystal(14, 100);
  C.crystal(70, 93);
  C.stalactites(0.25f);
  C.save(File);
}

// A long narrow zigzag down to a deep hall, for a steady hand.
void third_cave(const std::string& File)
{
  cave C(64, 128, 33);
  C.room(14, 7, 10, 6.5f);
  C.tunnel({{14, 10}, {40, 16}, {50, 26}, {30, 34}, {14, 44}, {24, 56}, {48, 62}, {52, 76}, {34, 84}, {16, 92},
            {22, 106}, {44, 114}},
           4);
  C.tunnel({{24, 56}, {9, 60}}, 3.8f);
  C.room(7, 61, 4.5f, 4);
  C.room(46, 63, 9, 5);
  C.room(13, 93, 8, 5);
  C.room(46, 114, 9, 6);
  C.pad(14, 12, true);
  C.pad(41, 67, false);
  C.pad(9, 97, false);
  C.crystal(52, 22);
  C.crystal(12, 45);
  C.crystal(7, 61);
  C.crystal(53, 77);
  C.crystal(30, 86);
  C.crystal(21, 107);
  C.crystal(51, 116);
  C.stalactites(0.25f);
  C.save(File);
}

}  // namespace

void draw_caves(const std::string& Folder)
{
  first_cave(Folder + "cave1.png");
  second_cave(Folder + "cave2.png");
  third_cave(Folder + "cave3.png");
}
