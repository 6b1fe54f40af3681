-- A tiny class system. class(parent) makes a class; Class.new(...) makes an
-- instance and runs its init(...). Methods are looked up in the class, then
-- in its parent and so on up.
function class(parent)
  local c = { super = parent }
  c.__index = c
  if parent then setmetatable(c, { __index = parent }) end
  function c.new(...)
    local o = setmetatable({}, c)
    if o.init then o:init(...) end
    return o
  end
  return c
end

-- True when o is an instance of k or of a class derived from it.
function is_a(o, k)
  local c = getmetatable(o)
  while c do
    if c == k then return true end
    c = c.super
  end
  return false
end
