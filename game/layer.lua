-- A part of the frame's render list that is refilled every frame: cleared,
-- then added to. Its table is kept, so the frame's list can hold it once
-- and for all, and it starts with a none command, so that even an empty
-- layer is a list the render walk accepts without complaint.
Layer = class()

local NOTHING = { "none" }

function Layer:init()
  self.list = { NOTHING }
  self.count = 1
end

function Layer:clear()
  for i = self.count, 2, -1 do self.list[i] = nil end
  self.count = 1
end

function Layer:add(command)
  self.count = self.count + 1
  self.list[self.count] = command
end
