-- Cavern Drift, the demo game: fly a small ship down through caves, pick up
-- every crystal and bring them all home to the pad you started from. Land
-- gently on a pad to refuel; fuel runs out, and rock is hard. Left and Right
-- turn, Up thrusts, Space starts, P pauses, Escape quits.
include("palette")
include("layer")
include("cave")
include("ship")
include("effects")
include("hud")

local LIVES = 3
local CRYSTAL_SCORE = 100
local CLEAR_SCORE = 500
local FUEL_SCORE = 5 -- per unit of fuel left when a cave is cleared
local PICKUP = 22 -- distance at which the ship takes a crystal
local WRECK_TIME = 2.5 -- seconds from a crash to the next ship
local CLEARED_TIME = 4 -- seconds from a cleared cave to the next
local LOOK_AHEAD = 0.6 -- seconds of flight the camera looks ahead
local FOLLOW = 4 -- how fast the camera closes on what it looks at, per second
local LEVEL_SEED = 7919 -- cave n's strata and specks come from seed n times this
local EXHAUST = 3 -- sparks per step of thrust
local SPARKS = 160

local g = { state = "title", clock = 0, score = 0, lives = LIVES, level = 1, cam_x = 0, cam_y = 0 }
local hud = Hud.new()
local sparks = Sparks.new(SPARKS)
local back, things, front, overlay = Layer.new(), Layer.new(), Layer.new(), Layer.new()
local view = { "camera", 0, 0 }
local targets = {}

-- The rock is pushed back, the pads, crystals, trail and sparks sit in
-- front of it and the ship in front of them; the display comes last under
-- a camera of its own, nearer still. The layers are refilled every frame.
render_list = {
  view, { "zoffs", 0.5 }, back.list,
  { "zoffs", -0.4 }, things.list,
  { "zoffs", -0.1 }, front.list,
  { "camera", 0, 0 }, { "zoffs", -0.5 }, overlay.list,
}

-- Loads cave n; false when the game has no such cave or it cannot be played.
local function load_level(n)
  local name = Cave.find(n)
  if not name then return false end
  g.level, g.cave = n, Cave.new(name, n * LEVEL_SEED)
  return g.cave:playable()
end

local function spawn()
  g.ship, g.wreck = Ship.new(0, 0), nil
  g.ship:land(g.checkpoint)
  g.state = "play"
end

local function start_level(n)
  if not load_level(n) then
    g.state, g.ship = "won", nil
    hud:quiet()
    return
  end
  g.checkpoint = g.cave.home
  spawn()
  g.cam_x, g.cam_y = g.cave:clamp_view(g.ship.x, g.ship.y)
  hud:say("CAVE " .. n .. ":  " .. #g.cave.crystals .. " CRYSTALS", 3)
end

local function new_game()
  g.score, g.lives = 0, LIVES
  start_level(1)
end

local function to_title()
  g.state, g.ship, g.wreck, g.paused = "title", nil, nil, false
  if not load_level(1) then WARN("cavern drift: no cave to fly in (data/cave1.png)") end
  hud:quiet()
end

local function crash()
  local ship = g.ship
  g.wreck = Wreck.new(ship.x, ship.y, ship.vx, ship.vy)
  sparks:burst(ship.x, ship.y, 40, 160, 1.2, "flame_hot", "flame_cool")
  g.ship = nil
  g.lives = g.lives - 1
  g.state, g.timer = "wrecked", WRECK_TIME
  hud:say(g.lives > 0 and "SHIP LOST" or "LAST SHIP LOST", WRECK_TIME, "bad")
end

local function landed(pad)
  g.checkpoint = pad
  if pad.home and g.cave:crystals_left() == 0 then
    local bonus = CLEAR_SCORE + math.floor(g.ship.fuel) * FUEL_SCORE
    g.score = g.score + bonus
    g.state, g.timer = "cleared", CLEARED_TIME
    hud:say("CAVE " .. g.level .. " CLEARED   +" .. bonus, CLEARED_TIME, "good")
  elseif not g.ship:full() then
    hud:say(pad.home and "HOME PAD: REFUELLING" or "FUEL PAD: REFUELLING", 2, "fuel_pad")
  end
end

local function take_crystals()
  local ship = g.ship
  for _, c in ipairs(g.cave.crystals) do
    local dx, dy = c.x - ship.x, c.y - ship.y
    if not c.taken and dx * dx + dy * dy < PICKUP * PICKUP then
      c.taken = true
      g.score = g.score + CRYSTAL_SCORE
      sparks:burst(c.x, c.y, 24, 90, 0.8, "ffffff", "crystal")
      if g.cave:crystals_left() == 0 then
        hud:say("ALL CRYSTALS: FLY HOME", 3, "home_pad")
      else
        hud:say("CRYSTAL  +" .. CRYSTAL_SCORE, 1.5, "crystal")
      end
    end
  end
end

local function exhaust(ship)
  local x, y, dx, dy = ship:nozzle()
  for _ = 1, EXHAUST do
    local speed, spread = rn.range(60, 130), rn.range(-25, 25)
    sparks:emit(x, y, ship.vx + dx * speed - dy * spread, ship.vy + dy * speed + dx * spread,
      rn.range(0.3, 0.6), "flame_hot", "flame_cool")
  end
end

-- One step of flight, steered by the keys held down.
local function fly(dt)
  local ship = g.ship
  local turn = 0
  if keys_down.LEFT or keys_down.A then turn = turn - 1 end
  if keys_down.RIGHT or keys_down.D then turn = turn + 1 end
  ship:fly(dt, turn, keys_down.UP or keys_down.W)
  if ship.thrusting then exhaust(ship) end
  for _, pad in ipairs(g.cave.pads) do
    local met = ship:meet(pad)
    if met == "landed" then landed(pad) end
    if met == "crashed" then crash() return end
  end
  if not ship.landed and ship:hits(g.cave) then crash() return end
  take_crystals()
end

-- Moves the camera part of the way towards (x, y), inside the cave.
local function follow(dt, x, y)
  local tx, ty = g.cave:clamp_view(x, y)
  local k = math.min(1, FOLLOW * dt)
  g.cam_x, g.cam_y = g.cam_x + (tx - g.cam_x) * k, g.cam_y + (ty - g.cam_y) * k
end

local function step(dt)
  hud:update(dt)
  sparks:update(dt)
  if g.state == "play" then
    fly(dt)
    if g.ship then follow(dt, g.ship.x + g.ship.vx * LOOK_AHEAD, g.ship.y + g.ship.vy * LOOK_AHEAD) end
  elseif g.state == "wrecked" then
    g.wreck:update(dt, g.cave)
    g.timer = g.timer - dt
    if g.timer <= 0 then
      if g.lives > 0 then spawn() else g.state = "over" end
    end
  elseif g.state == "cleared" then
    g.timer = g.timer - dt
    if g.timer <= 0 then start_level(g.level + 1) end
  elseif g.state == "title" and g.cave then
    local c = g.cave
    g.cam_x, g.cam_y = c:clamp_view(c.width * (0.5 + 0.5 * math.sin(g.clock * 0.11)),
      c.height * (0.5 + 0.5 * math.sin(g.clock * 0.05)))
  end
end

-- What the radar points at: the crystals left, or home once they are taken.
local function radar_targets(home)
  for k = #targets, 1, -1 do targets[k] = nil end
  if home then
    targets[1] = { x = g.cave.home.x, y = g.cave.home.deck }
  else
    for _, c in ipairs(g.cave.crystals) do
      if not c.taken then targets[#targets + 1] = c end
    end
  end
  return targets
end

local function draw()
  back:clear()
  things:clear()
  front:clear()
  overlay:clear()
  if g.cave then
    view[2], view[3] = g.cam_x, g.cam_y
    g.cave:draw(back, g.cam_x, g.cam_y, g.clock)
    local home = g.cave:crystals_left() == 0
    g.cave:draw_markers(things, g.clock, home)
    if g.ship then g.ship:draw_trail(things) end
    sparks:draw(things)
    if g.ship then
      g.ship:draw(front)
      if g.state == "play" then g.ship:draw_radar(front, radar_targets(home), home and "home_pad" or "crystal") end
    end
    if g.wreck then g.wreck:draw(front) end
  end
  if g.state == "title" then
    hud:draw_title(overlay, g.clock)
  elseif g.state == "over" then
    hud:draw_end(overlay, g.clock, "GAME OVER", "Score " .. g.score, "Press Space for the title")
  elseif g.state == "won" then
    hud:draw_end(overlay, g.clock, "ALL CAVES CLEARED", "Final score " .. g.score, "Press Space for the title")
  else
    hud:draw(overlay, g)
  end
end

function update(dt)
  g.clock = g.clock + dt
  if not g.paused then step(dt) end
  draw()
end

function keypress(key)
  -- A held key repeats through keypress; a press of a key that keys_down
  -- (built before this frame's update) already holds is such a repeat.
  local fresh = not (keys_down and keys_down[key])
  if key == "ESCAPE" then
    game_quit()
  elseif key == "SPACE" and fresh then
    if g.state == "title" and g.cave then
      new_game()
    elseif g.state == "over" or g.state == "won" then
      to_title()
    elseif g.state == "cleared" then
      start_level(g.level + 1)
    end
  elseif key == "P" and fresh and g.state == "play" then
    g.paused = not g.paused
    if g.paused then hud:say("PAUSED") else hud:quiet() end
  end
end

to_title()
draw()
