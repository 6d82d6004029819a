-- Pandoc filter for the printed manual: a code block never wraps. Each block
-- gets the largest type (at most the body's code size) at which its longest
-- line fits the text width; a line still too long at the smallest size is cut
-- and ends in an arrow, so a copied command is visibly incomplete rather than
-- silently split.
--
-- The widths are those of manual.css: A4 with 18 mm margins, a monospaced
-- face whose advance is 0.6 em (Liberation Mono, DejaVu Sans Mono).

local text_width_pt = (210 - 2 * 18) / 25.4 * 72  -- 493.2
local padding_pt = 2 * 4                          -- pre's left and right padding
local advance_em = 0.6001
local largest_pt = 8.5
local smallest_pt = 6.0
local cut_marker = "→"

local usable_pt = text_width_pt - padding_pt
local most_columns = math.floor(usable_pt / (advance_em * smallest_pt))

local function columns(line)
  return utf8.len(line) or #line
end

function CodeBlock(block)
  local lines = {}
  local longest = 0
  for line in (block.text .. "\n"):gmatch("(.-)\n") do
    if columns(line) > most_columns then
      local cut = 0
      local at = 1
      for position, _ in utf8.codes(line) do
        cut = cut + 1
        if cut == most_columns then
          at = position
          break
        end
      end
      line = line:sub(1, at - 1) .. cut_marker
    end
    longest = math.max(longest, columns(line))
    table.insert(lines, line)
  end
  block.text = table.concat(lines, "\n")
  local size = largest_pt
  if longest > 0 then
    size = math.min(largest_pt, usable_pt / (advance_em * longest))
  end
  -- Rounded down to a tenth of a point, so rounding never makes it too wide.
  size = math.max(smallest_pt, math.floor(size * 10) / 10)
  block.attributes["style"] = string.format("font-size: %.1fpt", size)
  return block
end
