-- Debug output for game scripts through the host's trace log: WARN writes
-- each message as a "!" line. Lua's own debug library is left alone.
dbg = { enabled = true, depth = 3 }

-- The text of a value; tables show their fields in key order, nested
-- tables down to dbg.depth levels.
function dbg.show(v, depth)
  if type(v) == "string" then return string.format("%q", v) end
  if type(v) ~= "table" then return tostring(v) end
  depth = depth or dbg.depth
  if depth <= 0 then return "{...}" end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  local parts = {}
  for i, k in ipairs(keys) do
    parts[i] = tostring(k) .. "=" .. dbg.show(v[k], depth - 1)
  end
  return "{" .. table.concat(parts, ", ") .. "}"
end

-- Writes its arguments, shown and separated by blanks, as one warning line.
function dbg.print(...)
  if not dbg.enabled then return end
  local parts = {}
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    parts[i] = type(v) == "string" and v or dbg.show(v)
  end
  WARN(table.concat(parts, " "))
end
