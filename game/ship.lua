-- The player's ship: its flight, the outline it collides with, and how it
-- is drawn with its flame, its trail and its radar ring. Under the camera
-- world y grows downwards, so gravity is +y and the nose points to -y at
-- angle 0; a positive angle turns the nose clockwise on the screen.
Ship = class()

local GRAVITY = 30 -- world units per second per second
local THRUST = 75
local TURN = 3.2 -- radians per second
local DRAG = 0.12 -- share of the speed lost per second
local FUEL = 100
local BURN = 6 -- fuel per second of thrust
local REFUEL = 40 -- fuel per second on a pad
-- A landing is safe below these speeds (world units per second) and tilt.
local SAFE_FALL, SAFE_DRIFT, SAFE_TILT = 50, 32, 0.32
-- How far below a deck the ship's feet may be and still count as touching it.
local DECK_DEPTH = 12
local TRAIL_POINTS = 24
local TRAIL_EVERY = 0.08 -- seconds between trail points
local RADAR_RADIUS = 64
local BLIP_HALF = 0.45 -- half a radar blip's angle
local RADAR_RANGE = 1600 -- blips fade out towards this distance

local TEXTURE = texture_load("ship")
local FLAME_TEXTURE = texture_load("flame")
local W, H = image_size("ship")
local _, FLAME_H = image_size("flame")
local NOZZLE = 12 -- the nozzle's bottom edge, below the picture's centre
local WHITE = color.rgba("ffffff")
local NOTHING = { "none" }

-- The collision outline, from the picture's alpha: the outermost opaque
-- pixels of every third row, and of the first and last, in ship
-- coordinates (origin at the picture's centre). Also the lowest edge: the
-- feet, which stand on a deck.
local function outline()
  local mask = image_load_submask("ship", 0, 0, W, H)
  local rows = {}
  for row = 0, H - 1 do
    local left, right
    for col = 0, W - 1 do
      if mask[row * W + col + 1] > 0.5 then
        left = left or col
        right = col
      end
    end
    if left then rows[#rows + 1] = { row = row, left = left, right = right } end
  end
  local points = {}
  for k, r in ipairs(rows) do
    if k % 3 == 1 or k == #rows then
      local y = r.row + 0.5 - H / 2
      points[#points + 1] = { r.left + 0.5 - W / 2, y }
      points[#points + 1] = { r.right + 0.5 - W / 2, y }
    end
  end
  return points, rows[#rows].row + 1 - H / 2
end

local HULL, FEET = outline()

function Ship:init(x, y)
  self.x, self.y, self.vx, self.vy, self.angle = x, y, 0, 0, 0
  self.fuel = FUEL
  self.flame_size = { "scale", 1, 1, { "picture", FLAME_TEXTURE } }
  self.flame = { "translate", 0, NOZZLE + FLAME_H / 2, self.flame_size }
  -- The flame is listed after the hull but pushed behind it.
  self.body = { WHITE, { "picture", TEXTURE }, { "zoffs", 0.05 }, NOTHING }
  self.turn = { "rotate", 0, self.body }
  self.place = { "translate", x, y, self.turn }
  self.trail, self.trail_clock = {}, 0
  self.segments = {}
  for k = 1, TRAIL_POINTS - 1 do
    local tint = color.rgba("trail")
    local dash = { "dashline", 0, 0, 0, 0, 1.5, 3, 4 }
    self.segments[k] = { tint = tint, dash = dash, draw = { tint, dash } }
  end
  self.ring_tint = color.rgba("radar", 0.3)
  self.ring = { "circarc", 0, 0, RADAR_RADIUS, 0, 2 * math.pi, 1 }
  self.blips = {}
end

-- Sets the ship down on a pad's deck.
function Ship:land(pad)
  self.landed = pad
  self.x, self.y, self.vx, self.vy, self.angle = pad.x, pad.deck - FEET, 0, 0, 0
end

function Ship:full() return self.fuel >= FUEL end
function Ship:fuel_share() return self.fuel / FUEL end

-- One step of flight: turn is -1, 0 or 1, thrust true while the engine is
-- wanted. A landed ship refuels until it thrusts again.
function Ship:fly(dt, turn, thrust)
  self.thrusting = thrust and self.fuel > 0
  if self.landed then
    if not self.thrusting then
      self.fuel = math.min(FUEL, self.fuel + REFUEL * dt)
      return
    end
    self.landed = nil
  end
  self.angle = std.angle(self.angle + turn * TURN * dt)
  local ax, ay = 0, GRAVITY
  if self.thrusting then
    ax, ay = math.sin(self.angle) * THRUST, ay - math.cos(self.angle) * THRUST
    self.fuel = math.max(0, self.fuel - BURN * dt)
  end
  local keep = 1 - DRAG * dt
  self.vx, self.vy = (self.vx + ax * dt) * keep, (self.vy + ay * dt) * keep
  self.x, self.y = self.x + self.vx * dt, self.y + self.vy * dt
  self.trail_clock = self.trail_clock + dt
  if self.trail_clock >= TRAIL_EVERY then
    self.trail_clock = 0
    table.insert(self.trail, 1, { self.x, self.y })
    self.trail[TRAIL_POINTS + 1] = nil
  end
end

-- Ship coordinates to world coordinates.
function Ship:placement()
  return matrix.mul(matrix.translate(self.x, self.y), matrix.rotate(self.angle))
end

-- The world point and the direction (a unit vector) of the exhaust.
function Ship:nozzle()
  local m = self:placement()
  local x, y = matrix.apply(m, 0, NOZZLE)
  return x, y, -math.sin(self.angle), math.cos(self.angle)
end

-- What a descending ship does at a pad: "landed" when its feet reach the
-- deck slowly and upright over the middle, "crashed" when they reach it any
-- other way, nil when they are not at the deck.
function Ship:meet(pad)
  if self.landed or self.vy < 0 then return nil end
  local feet = self.y + FEET
  local off = math.abs(self.x - pad.x)
  if feet < pad.deck or feet > pad.deck + DECK_DEPTH or off > pad.half + W / 2 then return nil end
  if off <= pad.half - W / 4 and self.vy <= SAFE_FALL and math.abs(self.vx) <= SAFE_DRIFT
      and math.abs(self.angle) <= SAFE_TILT then
    self:land(pad)
    return "landed"
  end
  return "crashed"
end

-- Whether a landing now would be safe, speed by speed: fall, drift, tilt.
function Ship:landing_state()
  return self.vy <= SAFE_FALL, math.abs(self.vx) <= SAFE_DRIFT, math.abs(self.angle) <= SAFE_TILT
end

-- Whether any point of the outline is in the cave's rock.
function Ship:hits(cave)
  local m = self:placement()
  for _, p in ipairs(HULL) do
    if cave:solid(matrix.apply(m, p[1], p[2])) then return true end
  end
  return false
end

function Ship:draw(layer)
  self.place[2], self.place[3] = self.x, self.y
  self.turn[2] = self.angle
  if self.thrusting then
    local flicker = rn.range(0.7, 1.1)
    self.flame_size[3] = flicker
    self.flame[3] = NOZZLE + FLAME_H / 2 * flicker
    self.body[4] = self.flame
  else
    self.body[4] = NOTHING
  end
  layer:add(self.place)
end

-- The trail: dashes between the last positions, fading with age.
function Ship:draw_trail(layer)
  for k = 1, #self.trail - 1 do
    local s, a, b = self.segments[k], self.trail[k], self.trail[k + 1]
    s.dash[2], s.dash[3], s.dash[4], s.dash[5] = a[1], a[2], b[1], b[2]
    s.tint[5] = 0.5 * (1 - k / TRAIL_POINTS)
    layer:add(s.draw)
  end
end

-- The radar ring round the ship with a blip towards each target ({x, y}),
-- brighter the nearer it is, in the given colour.
function Ship:draw_radar(layer, targets, hex)
  self.ring[2], self.ring[3] = self.x, self.y
  layer:add(self.ring_tint)
  layer:add(self.ring)
  for k, target in ipairs(targets) do
    local blip = self.blips[k]
    if not blip then
      blip = { tint = color.rgba(hex), arc = { "circarc", 0, 0, RADAR_RADIUS, 0, 0, 3 } }
      blip.draw = { blip.tint, blip.arc }
      self.blips[k] = blip
    end
    local dx, dy = target.x - self.x, target.y - self.y
    local toward = math.atan2(dy, dx)
    color.set(blip.tint, hex, 1 - 0.85 * math.min(1, math.sqrt(dx * dx + dy * dy) / RADAR_RANGE))
    blip.arc[2], blip.arc[3] = self.x, self.y
    blip.arc[5], blip.arc[6] = toward - BLIP_HALF, toward + BLIP_HALF
    layer:add(blip.draw)
  end
end
