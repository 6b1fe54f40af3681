-- The demo game: a square that the arrow keys move over a small scene.
-- Escape quits; Space brings the square back to the middle.

local Player = class()

function Player:init(x, y)
  self.x, self.y = x, y
  self.speed = 200 -- world units a second
end

function Player:move(dx, dy, dt)
  self.x = std.clamp(self.x + dx * self.speed * dt, -380, 380)
  self.y = std.clamp(self.y + dy * self.speed * dt, -280, 280)
end

local player = Player.new(0, 0)
local clock = 0

-- A few stars drawn from a fixed seed, so the scene is the same every run.
RN_seed(7)
local stars = {}
for i = 1, 12 do
  stars[i] = { rn.range(-390, 390), rn.range(-290, 290) }
end

-- A triangle turning about the point (250, -150).
local function spinner()
  local m = matrix.mul(matrix.translate(250, -150), matrix.rotate(clock))
  local x1, y1 = matrix.apply(m, 0, -40)
  local x2, y2 = matrix.apply(m, 35, 20)
  local x3, y3 = matrix.apply(m, -35, 20)
  return { "tri", x1, y1, x2, y2, x3, y3 }
end

local function scene()
  local list = { { "camera", 0, 0 }, color.rgba("203040"), { "rect", 0, 250, 400, 50 } }
  list[#list + 1] = color.rgba("ffffc0")
  for _, s in ipairs(stars) do
    list[#list + 1] = { "rect", s[1], s[2], 2, 2 }
  end
  list[#list + 1] = color.rgba(color.mix("ff8000", "ffff00", (math.sin(clock * 2) + 1) / 2))
  list[#list + 1] = spinner()
  list[#list + 1] = color.rgba("40c060")
  list[#list + 1] = { "line", -400, 200, 400, 200, 2 }
  list[#list + 1] = color.rgba("3060c0")
  list[#list + 1] = { "rect", player.x, player.y, 20, 20 }
  return list
end

-- World y grows downwards under the camera, so Up lowers y.
function update(dt)
  clock = clock + dt
  local dx, dy = 0, 0
  if keys_down.LEFT then dx = dx - 1 end
  if keys_down.RIGHT then dx = dx + 1 end
  if keys_down.UP then dy = dy - 1 end
  if keys_down.DOWN then dy = dy + 1 end
  player:move(dx, dy, dt)
  render_list = scene()
end

function keypress(key)
  if key == "ESCAPE" then game_quit() end
  if key == "SPACE" then player.x, player.y = 0, 0 end
end

render_list = scene()
