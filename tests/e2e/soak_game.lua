-- A soak of the host: thousands of commands every pass, next to scripts and
-- arguments that do everything wrong. The render-list fetch, which the host
-- makes once a pass through the globals' metatable, counts the passes and
-- reports "pass N" at the passes the test times, with the resident size and
-- the main thread's processor time at passes 100, 800 and 1500.

local picture = texture_load("picture")

local function resident_kb()
  local status = io.open("/proc/self/status")
  local kb = status:read("*a"):match("VmRSS:%s*(%d+) kB")
  status:close()
  return kb
end

-- The processor time the main thread has taken, user and system: fields 14
-- and 15 of its stat, in ticks of 10 ms.
local function main_thread_ms()
  local stat = io.open("/proc/thread-self/stat")
  local user, system = stat:read("*a"):match("%) %S+" .. (" %S+"):rep(10) .. " (%d+) (%d+)")
  stat:close()
  return (user + system) * 10
end

-- Thousands of ordinary commands.
local function busy_list()
  local list = {}
  for i = 0, 1999 do
    local x, y = i % 50 * 16 - 392, math.floor(i / 50) * 15 - 294
    local kind = i % 10
    if kind == 0 then
      list[#list + 1] = { "rgba", i % 7 / 7, i % 5 / 5, i % 3 / 3, 0.8 }
    elseif kind == 1 then
      list[#list + 1] = { "rect", x, y, 3, 4 }
    elseif kind == 2 then
      list[#list + 1] = { "line", x, y, x + 6, y + 8, 1 }
    elseif kind == 3 then
      list[#list + 1] = { "tri", x, y, x + 6, y, x + 3, y + 8 }
    elseif kind == 4 then
      list[#list + 1] = { "quad", x, y, x + 6, y, x + 6, y + 8, x, y + 8 }
    elseif kind == 5 then
      list[#list + 1] = { "translate", x, y, { "rotate", i / 100, { "scale", 0.1, 0.1, { "picture", picture } } } }
    elseif kind == 6 then
      list[#list + 1] = { "text", x, y, 0.25, "AAA" }
    elseif kind == 7 then
      list[#list + 1] = { "dashline", x, y, x + 6, y + 8, 1, 2, 1 }
    elseif kind == 8 then
      list[#list + 1] = { "circarc", x, y, 50, 0, 1, 1 }
    else
      list[#list + 1] = { "centertext", x, y, 0.25, "A" }
    end
  end
  return list
end

local inf, nan = 1 / 0, 0 / 0

-- Render lists that are malformed, cyclic or very deep, drawn every pass.
local function malformed_list()
  local cycle = { "translate", 1, 1 }
  cycle[4] = cycle
  local inside_itself = {}
  inside_itself[1] = inside_itself
  local deep_list, deep_transform = { "none" }, { "rect", 0, 0, 1, 1 }
  for _ = 1, 10000 do
    deep_list = { deep_list }
    deep_transform = { "translate", 0, 0, deep_transform }
  end
  return {
    cycle, inside_itself, deep_list, deep_transform,
    {}, { {} }, { false }, { true, 1, 2 }, false, 7, "rect", { print }, { "RECT", 1, 2, 3, 4 }, { 7, 1, 2 },
    { "rect", {}, true, print, "x" }, { "rect", 0, nil, 10, 10 }, { "rect", 1 }, { "rotate", 1 },
    { "terrain", 0, 400, 100, "data/missing.png", 7 }, { "terrain", 0, 400, 100, {}, 7 },
    { "picture", 1e10 }, { "picture", -1 }, { "picture", nan }, { "picture", {} },
    { "righttext", inf, nan, -inf, "AA" }, { "centertext", 0, 0, 1, {} }, { "text", 0, 0, 1, print },
    { "camera", nan, inf }, { "zoffs", inf }, { "zoffs", -inf }, { "camera", 0, 0 },
  }
end

-- Commands with absurd sizes, one of them drawn on every tenth pass: the
-- host bounds each, but a bounded one can still take a whole pass.
local huge_commands = {
  { "dashline", 0, 0, 1e300, 0, 1, 1e-300, 0 }, { "dashline", 0, 0, inf, 0, 1, 10, 10 },
  { "dashline", 0, 0, 100, 0, 1, 0, 0 }, { "dashline", 0, 0, 100, 0, 1, -5, 1 },
  { "dashline", nan, nan, nan, nan, nan, nan, nan },
  { "circarc", 0, 0, 1e12, 0, 6.3, 1 }, { "circarc", 0, 0, inf, 0, 1, 1 }, { "circarc", nan, 0, 10, nan, 1, 1 },
  { "circarc", 0, 0, 1e300, -1e300, 1e300, 1 },
  { "terrain", 0, 400, 1e12, "data/swatch.png", 7 }, { "terrain", 0, 400, inf, "data/swatch.png", 7 },
  { "terrain", 1e300, 400, 100, "data/swatch.png", 7 }, { "terrain", -1e300, 400, 1e300, "data/swatch.png", 7 },
  { "terrain", nan, nan, nan, "data/swatch.png", nan },
  { "text", 0, 0, 1e30, ("A"):rep(10000) },
}

-- Values of every wrong kind, one of them handed to the host functions on
-- each pass.
local odd_values = {
  {}, true, false, print, coroutine.create(print), 0 / 0, 1 / 0, -1 / 0, 1e300, -2 ^ 31 - 1, 2 ^ 53, "", "\0x",
  "12", ("x"):rep(1000), setmetatable({}, { __tostring = function() error("no text") end }),
}
local host_functions = {
  include, texture_load, image_load_submask, RN_seed, RN, set_palette, image_size, WARN, image_exists,
  image_load_subpixels, str2color, color2str, text_len,
}

local function abuse_host_functions(pass)
  local v = odd_values[pass % #odd_values + 1]
  for _, f in ipairs(host_functions) do pcall(f, v, v, v, v, v) end
  pcall(image_load_subpixels, "picture", v, v, v, v)
  pcall(image_load_submask, "picture", 0, 0, 1e5, 1e5)
  pcall(image_load_subpixels, "picture", 2 ^ 31 - 2, 2 ^ 31 - 2, 4, 4)
  pcall(set_palette, 2 ^ 31 - 1, v, v, v)
  pcall(include, "raises_a_table")
end

-- Error values that are no text.
local raised = { {}, setmetatable({}, { __tostring = function() return "table" end }), true, print }

local pass = 0
local busy, malformed = busy_list(), malformed_list()
local plain_list, huge_lists = { busy, malformed }, {}
for i, huge in ipairs(huge_commands) do huge_lists[i] = { busy, malformed, huge } end
local function real_update()
  abuse_host_functions(pass)
  error(raised[pass % #raised + 1])
end

-- update is there on every other pass only, and render_list missing on
-- every tenth: the host finds nothing to call or draw then.
setmetatable(_G, {
  __index = function(_, key)
    if key ~= "render_list" then return nil end
    pass = pass + 1
    if pass == 100 or pass == 800 or pass == 1500 then
      WARN("resident at pass " .. pass .. ": " .. resident_kb() .. " kB")
      WARN("main thread time at pass " .. pass .. ": " .. main_thread_ms() .. " ms")
    end
    if pass == 1 or pass % 100 == 0 then WARN("pass " .. pass) end
    rawset(_G, "update", pass % 2 == 0 and real_update or nil)
    if pass % 10 == 0 then return nil end
    if pass % 10 == 5 then return huge_lists[math.floor(pass / 10) % #huge_lists + 1] end
    return plain_list
  end,
})
