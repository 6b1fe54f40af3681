-- Short-lived effects: sparks (the engine's exhaust, the glints of a crystal
-- taken) from a pool of fixed size, and the wreck of a ship that hit rock.

Sparks = class()

local SPARK_GRAVITY = 12
local SPARK_SIZE = 1.6 -- half the side of a new spark

-- A pool of the given number of sparks; a new spark takes the place of the
-- oldest, so the pool never grows.
function Sparks:init(size)
  self.pool, self.next = {}, 1
  for k = 1, size do
    local tint, dot = { "rgba", 1, 1, 1, 0 }, { "rect", 0, 0, 0, 0 }
    self.pool[k] = { life = 0, age = 0, tint = tint, dot = dot, draw = { tint, dot } }
  end
end

-- A spark at (x, y) moving at (vx, vy) for life seconds, its colour going
-- from one colour to another as it ages.
function Sparks:emit(x, y, vx, vy, life, from, to)
  local s = self.pool[self.next]
  self.next = self.next % #self.pool + 1
  s.x, s.y, s.vx, s.vy, s.life, s.age = x, y, vx, vy, life, 0
  s.r0, s.g0, s.b0 = color.rgb(from)
  s.r1, s.g1, s.b1 = color.rgb(to)
end

-- n sparks flying out of (x, y) in all directions.
function Sparks:burst(x, y, n, speed, life, from, to)
  for _ = 1, n do
    local heading, v = rn.range(0, 2 * math.pi), rn.range(0.3, 1) * speed
    self:emit(x, y, math.cos(heading) * v, math.sin(heading) * v, rn.range(0.5, 1) * life, from, to)
  end
end

function Sparks:update(dt)
  for _, s in ipairs(self.pool) do
    if s.age < s.life then
      s.age = s.age + dt
      s.vy = s.vy + SPARK_GRAVITY * dt
      s.x, s.y = s.x + s.vx * dt, s.y + s.vy * dt
    end
  end
end

function Sparks:draw(layer)
  for _, s in ipairs(self.pool) do
    if s.age < s.life then
      local t = s.age / s.life
      local tint, dot = s.tint, s.dot
      tint[2], tint[3], tint[4] = std.lerp(s.r0, s.r1, t), std.lerp(s.g0, s.g1, t), std.lerp(s.b0, s.b1, t)
      tint[5] = 1 - t
      dot[2], dot[3] = s.x, s.y
      dot[4] = SPARK_SIZE * (1 - 0.5 * t)
      dot[5] = dot[4]
      layer:add(s.draw)
    end
  end
end

Wreck = class()

local PIECES = 14
local PIECE_GRAVITY = 30
local BLAST_SPEED = 220 -- of the shock ring, world units per second
local BLAST_FADE = 1.5 -- the ring's alpha lost per second

-- The pieces of a ship that broke up at (x, y) moving at (vx, vy).
function Wreck:init(x, y, vx, vy)
  self.age = 0
  self.pieces = {}
  for k = 1, PIECES do
    local size = rn.range(3, 7)
    local shape = { "tri", -size, size * 0.6, size, size * rn.range(0.2, 0.8), rn.range(-size, size), -size }
    local turn = { "rotate", 0, { color.rgba(rn.pick({ "hull", "hull", "hull_dark", "stripe" })), shape } }
    local heading, speed = rn.range(0, 2 * math.pi), rn.range(40, 160)
    self.pieces[k] = {
      x = x, y = y, angle = rn.range(0, 2 * math.pi), spin = rn.range(-9, 9),
      vx = vx * 0.3 + math.cos(heading) * speed, vy = vy * 0.3 + math.sin(heading) * speed,
      turn = turn, place = { "translate", x, y, turn },
    }
  end
  self.ring_tint = color.rgba("flame_hot")
  self.ring = { "circarc", x, y, 0, 0, 2 * math.pi, 3 }
end

-- Pieces fall and come to rest where they meet the cave's rock.
function Wreck:update(dt, cave)
  self.age = self.age + dt
  for _, p in ipairs(self.pieces) do
    if p.spin ~= 0 then
      p.vy = p.vy + PIECE_GRAVITY * dt
      local x, y = p.x + p.vx * dt, p.y + p.vy * dt
      if cave:solid(x, y) then
        p.vx, p.vy, p.spin = 0, 0, 0
      else
        p.x, p.y = x, y
        p.angle = p.angle + p.spin * dt
      end
    end
  end
  self.ring[4] = BLAST_SPEED * self.age
  self.ring_tint[5] = math.max(0, 1 - BLAST_FADE * self.age)
end

function Wreck:draw(layer)
  if self.ring_tint[5] > 0 then
    layer:add(self.ring_tint)
    layer:add(self.ring)
  end
  for _, p in ipairs(self.pieces) do
    p.place[2], p.place[3] = p.x, p.y
    p.turn[2] = p.angle
    layer:add(p.place)
  end
end
