-- Colour helpers over the host's six-digit colour strings ("rrggbb").
-- Wherever a colour string is taken, the name of a colour given to
-- color.define does as well.
color = { named = {}, entries = 0 }

-- Names a colour and gives it the next entry of the host's palette.
function color.define(name, hex)
  color.named[name] = hex
  set_palette(color.entries, color.rgb(hex))
  color.entries = color.entries + 1
end

-- The red, green and blue of a colour, each from 0 to 1.
function color.rgb(hex)
  local c = str2color(color.named[hex] or hex)
  return c[1], c[2], c[3]
end

function color.hex(r, g, b)
  return color2str(r, g, b)
end

-- The colour string a fraction t of the way from hex1 to hex2.
function color.mix(hex1, hex2, t)
  local r1, g1, b1 = color.rgb(hex1)
  local r2, g2, b2 = color.rgb(hex2)
  return color2str(r1 + (r2 - r1) * t, g1 + (g2 - g1) * t, b1 + (b2 - b1) * t)
end

-- A render-list command that sets a colour.
function color.rgba(hex, alpha)
  return color.set({ "rgba" }, hex, alpha)
end

-- Changes an rgba command in place, so a list built once can change colour
-- from frame to frame; returns the command.
function color.set(command, hex, alpha)
  command[2], command[3], command[4] = color.rgb(hex)
  command[5] = alpha or 1
  return command
end
