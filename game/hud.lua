-- The heads-up display, drawn under a camera of its own at the world's
-- centre, so its coordinates are the screen's: x from -400 to 400, y from
-- -300 at the top to 300 at the bottom. Score, ships left, crystals, fuel,
-- the cave's number, the landing gauge, banner messages and the title and
-- end screens.
Hud = class()

local SHIP_TEXTURE = texture_load("ship")
local BAR_LEFT, BAR_HALF = 244, 74 -- the fuel bar: left end, half length
local BANNER_Y = -170
local BANNER_MARGIN = 18 -- between a banner's text and its panel's ends
local SMALL, MEDIUM = 0.55, 0.7 -- text sizes

-- A line of text in a colour: kind is "text", "righttext" or "centertext".
local function label(kind, x, y, size, hex, text)
  local tint = color.rgba(hex or "text")
  local words = { kind, x, y, size, text or "" }
  return { tint = tint, words = words, draw = { tint, words } }
end

local function panel(x, y, half_w, half_h, alpha)
  return { color.rgba("panel", alpha), { "rect", x, y, half_w, half_h } }
end

function Hud:init()
  self.bar = panel(0, -284, 400, 16, 0.55)
  self.score = label("text", -388, -277, MEDIUM)
  self.crystals = label("centertext", 0, -277, MEDIUM, "crystal")
  self.fuel = label("righttext", BAR_LEFT - 8, -277, MEDIUM, "text", "FUEL")
  self.fuel_back = panel(BAR_LEFT + BAR_HALF, -284, BAR_HALF, 7, 0.8)
  self.fuel_tint = color.rgba("good")
  self.fuel_fill = { "rect", BAR_LEFT, -284, 0, 5 }
  self.cave = label("righttext", 388, 290, SMALL, "dim")
  self.gauges = { label("text", -388, 290, SMALL), label("text", -300, 290, SMALL), label("text", -212, 290, SMALL) }
  self.lives = {}
  for k = 1, 5 do
    self.lives[k] = { "translate", -196 + 20 * k, -284, { "scale", 0.5, 0.5, { "picture", SHIP_TEXTURE } } }
  end
  self.white = color.rgba("ffffff")
  self.banner = label("centertext", 0, BANNER_Y, 1)
  self.banner_panel = panel(0, BANNER_Y - 7, 0, 22, 0.55)
  self.message_time = 0
  self.title = {
    panel(0, -10, 300, 140, 0.75),
    label("centertext", 0, -80, 2.2, "home_pad", "CAVERN DRIFT").draw,
    label("centertext", 0, -40, 0.65, "dim", "Fly down, gather every crystal, bring it home.").draw,
    label("centertext", 0, 14, SMALL, "text", "Left / Right turn      Up thrust      Land gently on a pad to refuel").draw,
    label("centertext", 0, 40, SMALL, "text", "P pause      Esc quit      F11 full screen").draw,
  }
  self.prompt = label("centertext", 0, 100, 0.8, "text")
  self.big = label("centertext", 0, -60, 1.8, "home_pad")
  self.small = label("centertext", 0, -20, MEDIUM)
end

-- Shows a message in the banner for the given seconds (nil: until the
-- next message).
function Hud:say(text, seconds, hex)
  self.banner.words[5] = text
  color.set(self.banner.tint, hex or "text")
  self.message_time = seconds or math.huge
  local half = text_len(self.banner.words[4], text) / 2 + BANNER_MARGIN
  self.banner_panel[2][4] = half
end

function Hud:quiet()
  self.message_time = 0
end

function Hud:update(dt)
  self.message_time = self.message_time - dt
end

function Hud:draw_banner(layer)
  if self.message_time > 0 then
    layer:add(self.banner_panel)
    layer:add(self.banner.draw)
  end
end

-- The bar along the top and the cave's number: g is the game's state (score,
-- lives, level, cave, ship).
function Hud:draw(layer, g)
  layer:add(self.bar)
  self.score.words[5] = string.format("SCORE %06d", g.score)
  layer:add(self.score.draw)
  layer:add(self.white)
  for k = 1, math.min(g.lives, #self.lives) do layer:add(self.lives[k]) end
  local total = #g.cave.crystals
  self.crystals.words[5] = string.format("CRYSTALS %d/%d", total - g.cave:crystals_left(), total)
  layer:add(self.crystals.draw)
  layer:add(self.fuel.draw)
  layer:add(self.fuel_back)
  local share = g.ship and g.ship:fuel_share() or 1
  color.set(self.fuel_tint, color.mix("bad", "good", share))
  self.fuel_fill[2], self.fuel_fill[4] = BAR_LEFT + BAR_HALF * share, BAR_HALF * share
  layer:add(self.fuel_tint)
  layer:add(self.fuel_fill)
  self.cave.words[5] = "CAVE " .. g.level
  layer:add(self.cave.draw)
  if g.ship and not g.ship.landed and g.state == "play" then self:draw_gauges(layer, g.ship) end
  self:draw_banner(layer)
end

-- Fall, drift and tilt, each green while a landing would be safe.
function Hud:draw_gauges(layer, ship)
  local fall, drift, tilt = ship:landing_state()
  local values = {
    { "FALL %d", math.max(0, ship.vy), fall },
    { "DRIFT %d", math.abs(ship.vx), drift },
    { "TILT %d", math.abs(math.deg(ship.angle)), tilt },
  }
  for k, v in ipairs(values) do
    local g = self.gauges[k]
    g.words[5] = string.format(v[1], v[2])
    color.set(g.tint, v[3] and "good" or "bad")
    layer:add(g.draw)
  end
end

-- The title screen over the drifting cave; the prompt blinks with clock t.
function Hud:draw_title(layer, t)
  for _, part in ipairs(self.title) do layer:add(part) end
  self.prompt.words[5] = "Press Space to launch"
  self.prompt.tint[5] = 0.6 + 0.4 * math.sin(t * 4)
  layer:add(self.prompt.draw)
end

-- An end screen: a large heading, a line under it and the blinking prompt.
function Hud:draw_end(layer, t, heading, line, prompt)
  layer:add(self.title[1])
  self.big.words[5], self.small.words[5] = heading, line
  layer:add(self.big.draw)
  layer:add(self.small.draw)
  self.prompt.words[5] = prompt
  self.prompt.tint[5] = 0.6 + 0.4 * math.sin(t * 4)
  layer:add(self.prompt.draw)
end
