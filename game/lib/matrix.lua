-- 2-D affine matrices {a, b, c, d, e, f}: a point (x, y) maps to
-- (a x + c y + e, b x + d y + f). Angles are in radians, like the render
-- list's rotate.
matrix = {}

function matrix.identity()
  return { 1, 0, 0, 1, 0, 0 }
end

function matrix.translate(x, y)
  return { 1, 0, 0, 1, x, y }
end

function matrix.scale(sx, sy)
  return { sx, 0, 0, sy or sx, 0, 0 }
end

function matrix.rotate(theta)
  local c, s = math.cos(theta), math.sin(theta)
  return { c, s, -s, c, 0, 0 }
end

-- The matrix that applies n first, then m.
function matrix.mul(m, n)
  return {
    m[1] * n[1] + m[3] * n[2], m[2] * n[1] + m[4] * n[2],
    m[1] * n[3] + m[3] * n[4], m[2] * n[3] + m[4] * n[4],
    m[1] * n[5] + m[3] * n[6] + m[5], m[2] * n[5] + m[4] * n[6] + m[6],
  }
end

function matrix.apply(m, x, y)
  return m[1] * x + m[3] * y + m[5], m[2] * x + m[4] * y + m[6]
end

-- The inverse, or nil for a matrix that flattens the plane.
function matrix.invert(m)
  local det = m[1] * m[4] - m[2] * m[3]
  if det == 0 then return nil end
  local a, b, c, d = m[4] / det, -m[2] / det, -m[3] / det, m[1] / det
  return { a, b, c, d, -(a * m[5] + c * m[6]), -(b * m[5] + d * m[6]) }
end
