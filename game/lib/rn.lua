-- Random helpers over the host's generator RN, so that one RN_seed replays
-- every draw of a game.
rn = {}

-- A number from lo to hi.
function rn.range(lo, hi)
  return lo + (hi - lo) * RN()
end

-- A whole number from lo to hi, both included.
function rn.int(lo, hi)
  local n = math.floor(lo + (hi - lo + 1) * RN())
  -- RN() can return exactly 1.
  if n > hi then n = hi end
  return n
end

-- True with probability p.
function rn.chance(p)
  return RN() < p
end

-- One element of a list, or nil for an empty one.
function rn.pick(list)
  if #list == 0 then return nil end
  return list[rn.int(1, #list)]
end

-- Shuffles a list in place (Fisher-Yates) and returns it.
function rn.shuffle(list)
  for i = #list, 2, -1 do
    local j = rn.int(1, i)
    list[i], list[j] = list[j], list[i]
  end
  return list
end
