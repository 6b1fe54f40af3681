-- Colour helpers over the host's six-digit colour strings ("rrggbb").
color = {}

-- The red, green and blue of a colour string, each from 0 to 1.
function color.rgb(hex)
  local c = str2color(hex)
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

-- A render-list command that sets the colour of a colour string.
function color.rgba(hex, alpha)
  local r, g, b = color.rgb(hex)
  return { "rgba", r, g, b, alpha or 1 }
end
