-- Table and number helpers shared by the game scripts.
std = {}

-- A new table with the same fields as t (nested tables are shared).
function std.copy(t)
  local c = {}
  for k, v in pairs(t) do c[k] = v end
  return c
end

-- A copy of t with nested tables copied too; a table met twice becomes one
-- copy, so cycles are kept as cycles.
function std.deepcopy(t, seen)
  if type(t) ~= "table" then return t end
  seen = seen or {}
  if seen[t] then return seen[t] end
  local c = {}
  seen[t] = c
  for k, v in pairs(t) do c[std.deepcopy(k, seen)] = std.deepcopy(v, seen) end
  return setmetatable(c, getmetatable(t))
end

-- The keys of t as a list, sorted by their text so the order is stable.
function std.keys(t)
  local list = {}
  for k in pairs(t) do list[#list + 1] = k end
  table.sort(list, function(a, b) return tostring(a) < tostring(b) end)
  return list
end

-- The number of fields of t, named fields included.
function std.count(t)
  local n = 0
  for _ in pairs(t) do n = n + 1 end
  return n
end

function std.contains(list, value)
  for _, v in ipairs(list) do
    if v == value then return true end
  end
  return false
end

function std.map(list, f)
  local out = {}
  for i, v in ipairs(list) do out[i] = f(v) end
  return out
end

function std.filter(list, keep)
  local out = {}
  for _, v in ipairs(list) do
    if keep(v) then out[#out + 1] = v end
  end
  return out
end

-- Copies the fields of src into dst and returns dst.
function std.merge(dst, src)
  for k, v in pairs(src) do dst[k] = v end
  return dst
end

function std.clamp(x, lo, hi)
  if x < lo then return lo end
  if x > hi then return hi end
  return x
end

function std.lerp(a, b, t)
  return a + (b - a) * t
end

-- The angle a in radians brought into -pi .. pi.
function std.angle(a)
  return (a + math.pi) % (2 * math.pi) - math.pi
end
