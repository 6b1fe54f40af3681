-- A cave level, read from its map picture (data/caveN.png, drawn by
-- tools/pictures): one pixel per cell of the cave, opaque for rock, clear
-- for open cave, and half-clear for a marker in an open cell: ff0000 the
-- home pad, 00ff00 a fuel pad, 00ffff a crystal. A pad marker sits in the
-- open cell just above the pad's floor.
--
-- The cave is drawn in three parts: rock strata with terrain behind
-- everything, the open cave over them, and glowing specks on the walls. The
-- walls follow the rock map softened: each cell centre carries the share of
-- rock around it, and the walls run where that share is one half (marching
-- squares), so they come out rounded rather than stepped.
Cave = class()

CELL = 16 -- world units per map cell

local MARKERS = { ff0000 = "home", ["00ff00"] = "fuel", ["00ffff"] = "crystal" }
-- The rock strata come in bands of this height, each with its own terrain
-- seed, so that only the bands in view are drawn.
local BAND = 192
-- Swatch pictures by depth: down to this fraction of the cave, this swatch.
local STRATA = { { 0.34, "data/soil.png" }, { 0.67, "data/rock.png" }, { 1, "data/deep.png" } }
local GLOW_CHANCE = 0.06 -- per stretch of wall
local WALL_WIDTH = 2
-- Half the view's height in world units, with a cell to spare.
local VIEW_H = 300 + CELL

local PAD_TEXTURE = texture_load("pad")
local CRYSTAL_TEXTURE = texture_load("crystal")
local PAD_W, PAD_H = image_size("pad")
local WHITE = color.rgba("ffffff")
local NOTHING = { "none" }

-- The map name of level n, or nil when the game has no such level.
function Cave.find(n)
  local name = "cave" .. n
  if image_exists(name) then return name end
end

-- Seed makes the strata and the specks; the same seed, the same cave.
function Cave:init(name, seed)
  self.name = name
  self.w, self.h = image_size(name)
  self.width, self.height = self.w * CELL, self.h * CELL
  self.rock, self.pads, self.crystals = {}, {}, {}
  self:read_map()
  self:soften()
  RN_seed(seed)
  self:build_strata()
  self:build_rows()
end

-- False when the map has no pad to start from.
function Cave:playable()
  return self.home ~= nil
end

function Cave:read_map()
  local w, h = self.w, self.h
  local alpha = image_load_submask(self.name, 0, 0, w, h)
  local rgb = image_load_subpixels(self.name, 0, 0, w, h)
  for j = 0, h - 1 do
    for i = 0, w - 1 do
      local k = j * w + i + 1
      if alpha[k] > 0.75 then
        self.rock[k] = true
      elseif alpha[k] > 0.25 then
        self:add_marker(color2str(rgb[3 * k - 2], rgb[3 * k - 1], rgb[3 * k]), i, j)
      end
    end
  end
  if not self.home then
    WARN("cave " .. self.name .. ": no home pad (ff0000); the first pad serves")
    self.home = self.pads[1]
  end
end

function Cave:add_marker(hex, i, j)
  local kind = MARKERS[hex]
  local x, y = (i + 0.5) * CELL, (j + 0.5) * CELL
  if kind == "crystal" then
    local scale = { "scale", 1, 1, { "picture", CRYSTAL_TEXTURE } }
    self.crystals[#self.crystals + 1] = {
      x = x, y = y, phase = #self.crystals, scale = scale,
      draw = { "translate", x, y, { WHITE, scale } },
    }
  elseif kind then
    local floor = (j + 1) * CELL
    local pad = { x = x, deck = floor - PAD_H, half = PAD_W / 2, home = kind == "home" }
    pad.tint = color.rgba(pad.home and "home_pad" or "fuel_pad")
    pad.draw = { "translate", x, floor - PAD_H / 2, { pad.tint, { "picture", PAD_TEXTURE } } }
    self.pads[#self.pads + 1] = pad
    if pad.home and not self.home then self.home = pad end
  else
    WARN("cave " .. self.name .. ": unknown marker " .. dbg.show({ colour = hex, column = i, row = j }))
  end
end

function Cave:build_strata()
  self.bands = {}
  for b = 0, math.ceil(self.height / BAND) - 1 do
    local depth = (b + 0.5) * BAND / self.height
    local swatch = STRATA[#STRATA][2]
    for _, s in ipairs(STRATA) do
      if depth <= s[1] then swatch = s[2] break end
    end
    self.bands[b + 1] = { "translate", self.width / 2, 0,
      { "terrain", b * BAND, self.width / 2 + CELL, BAND, swatch, rn.int(1, 1000000) } }
  end
end

-- Cells outside the map are rock.
function Cave:is_rock(i, j)
  if i < 0 or j < 0 or i >= self.w or j >= self.h then return true end
  return self.rock[j * self.w + i + 1] == true
end

-- The share of rock round each cell centre: the cell and its eight
-- neighbours, weighted 4 for the cell, 2 for a side and 1 for a corner.
function Cave:soften()
  self.share = {}
  for j = 0, self.h - 1 do
    for i = 0, self.w - 1 do
      local sum = 0
      for dj = -1, 1 do
        for di = -1, 1 do
          if self:is_rock(i + di, j + dj) then sum = sum + (2 - math.abs(di)) * (2 - math.abs(dj)) end
        end
      end
      self.share[j * self.w + i + 1] = sum / 16
    end
  end
end

-- The share of rock at the centre of cell (i, j); 1 outside the map.
function Cave:share_at(i, j)
  if i < 0 or j < 0 or i >= self.w or j >= self.h then return 1 end
  return self.share[j * self.w + i + 1]
end

-- Whether the world point (x, y) lies in rock: the share blended between
-- the four nearest cell centres is one half or more.
function Cave:solid(x, y)
  local u, v = x / CELL - 0.5, y / CELL - 0.5
  local i, j = math.floor(u), math.floor(v)
  local fx, fy = u - i, v - j
  local top = self:share_at(i, j) * (1 - fx) + self:share_at(i + 1, j) * fx
  local bottom = self:share_at(i, j + 1) * (1 - fx) + self:share_at(i + 1, j + 1) * fx
  return top * (1 - fy) + bottom * fy >= 0.5
end

-- Row j of the mesh covers the squares between the centres of cell rows j
-- and j + 1: the open part of each square in the row's cave colour, then the
-- walls through it. A row without open cave is a none command. A corner of
-- a square is open where the share of rock is below one half.
function Cave:build_rows()
  self.rows, self.glows = {}, {}
  for j = 0, self.h - 2 do
    local depth = j / (self.h - 2)
    local shapes, walls, glows = {}, {}, {}
    local start -- first column of a run of open squares
    for i = 0, self.w - 2 do
      local a, b = self:share_at(i, j), self:share_at(i + 1, j)
      local c, d = self:share_at(i + 1, j + 1), self:share_at(i, j + 1)
      if math.max(a, b, c, d) < 0.5 then
        start = start or i
      else
        if start then self:add_run(shapes, start, i, j) start = nil end
        if math.min(a, b, c, d) < 0.5 then self:add_square(shapes, walls, glows, i, j, { a, b, c, d }) end
      end
    end
    if start then self:add_run(shapes, start, self.w - 1, j) end
    if #shapes == 0 then
      self.rows[j + 1] = NOTHING
    else
      table.insert(shapes, 1, color.rgba(color.mix("air_top", "air_deep", depth)))
      shapes[#shapes + 1] = color.rgba(color.mix("wall_top", "wall_deep", depth))
      for _, w in ipairs(walls) do shapes[#shapes + 1] = w end
      self.rows[j + 1] = shapes
    end
    self.glows[j + 1] = glows
  end
end

local function centre(i) return (i + 0.5) * CELL end

-- Open squares from column i0 to column i1 of row j as one quad.
function Cave:add_run(shapes, i0, i1, j)
  local x0, x1, y0, y1 = centre(i0), centre(i1), centre(j), centre(j + 1)
  shapes[#shapes + 1] = { "quad", x0, y0, x1, y0, x1, y1, x0, y1 }
end

-- A square that is partly open, given the shares of rock at its corners
-- (clockwise on the screen from the top left): its open polygon (the open
-- corners in order round the square, and the points of the edges between an
-- open and a rock corner where the share crosses one half) as a fan of
-- quads and triangles. Two crossings in a row bound a wall.
function Cave:add_square(shapes, walls, glows, i, j, share)
  local xs = { centre(i), centre(i + 1), centre(i + 1), centre(i) }
  local ys = { centre(j), centre(j), centre(j + 1), centre(j + 1) }
  local px, py, crossing = {}, {}, {}
  for k = 1, 4 do
    local n = k % 4 + 1
    local open, next_open = share[k] < 0.5, share[n] < 0.5
    if open then px[#px + 1], py[#py + 1] = xs[k], ys[k] end
    if open ~= next_open then
      local t = (0.5 - share[k]) / (share[n] - share[k])
      px[#px + 1], py[#py + 1] = std.lerp(xs[k], xs[n], t), std.lerp(ys[k], ys[n], t)
      crossing[#px] = true
    end
  end
  local m = #px
  if m == 3 then
    shapes[#shapes + 1] = { "tri", px[1], py[1], px[2], py[2], px[3], py[3] }
  else
    shapes[#shapes + 1] = { "quad", px[1], py[1], px[2], py[2], px[3], py[3], px[4], py[4] }
    if m == 5 then
      shapes[#shapes + 1] = { "tri", px[1], py[1], px[4], py[4], px[5], py[5] }
    elseif m == 6 then
      shapes[#shapes + 1] = { "quad", px[1], py[1], px[4], py[4], px[5], py[5], px[6], py[6] }
    end
  end
  for k = 1, m do
    local n = k % m + 1
    if crossing[k] and crossing[n] then
      walls[#walls + 1] = { "line", px[k], py[k], px[n], py[n], WALL_WIDTH }
      if rn.chance(GLOW_CHANCE) then self:add_glow(glows, (px[k] + px[n]) / 2, (py[k] + py[n]) / 2) end
    end
  end
end

function Cave:add_glow(glows, x, y)
  local tint = color.rgba("glow")
  glows[#glows + 1] = { tint = tint, phase = rn.range(0, 2 * math.pi), speed = rn.range(1, 3),
    draw = { tint, { "rect", x, y, 1.5, 1.5 } } }
end

-- Adds what is in view of a camera at (cx, cy) to the layer: the strata,
-- the open cave and the specks, which twinkle with the clock t.
function Cave:draw(layer, cx, cy, t)
  local top, bottom = cy - VIEW_H, cy + VIEW_H
  for b = math.max(0, math.floor(top / BAND)), math.min(#self.bands - 1, math.floor(bottom / BAND)) do
    layer:add(self.bands[b + 1])
  end
  local first = math.max(0, math.floor(top / CELL - 1.5))
  local last = math.min(self.h - 2, math.floor(bottom / CELL - 0.5))
  for j = first, last do layer:add(self.rows[j + 1]) end
  for j = first, last do
    for _, g in ipairs(self.glows[j + 1]) do
      g.tint[5] = 0.45 + 0.4 * math.sin(t * g.speed + g.phase)
      layer:add(g.draw)
    end
  end
end

-- Adds the pads and the crystals not yet taken; the home pad pulses while
-- it is the goal.
function Cave:draw_markers(layer, t, goal)
  for _, pad in ipairs(self.pads) do
    if pad.home then
      color.set(pad.tint, goal and color.mix("home_pad", "ffffff", 0.5 + 0.5 * math.sin(t * 6)) or "home_pad")
    end
    layer:add(pad.draw)
  end
  for _, c in ipairs(self.crystals) do
    if not c.taken then
      local s = 1 + 0.1 * math.sin(t * 4 + c.phase)
      c.scale[2], c.scale[3] = s, s
      layer:add(c.draw)
    end
  end
end

function Cave:crystals_left()
  local n = 0
  for _, c in ipairs(self.crystals) do
    if not c.taken then n = n + 1 end
  end
  return n
end

-- Where a camera can look without showing what lies beyond the map.
function Cave:clamp_view(x, y)
  local function clamp(v, half, size)
    if size <= 2 * half then return size / 2 end
    return std.clamp(v, half, size - half)
  end
  return clamp(x, 400, self.width), clamp(y, 300, self.height)
end
