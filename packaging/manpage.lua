-- SPDX-License-Identifier: GPL-3.0-or-later
-- Makes a program's manual page out of README.md's section about it ("## PROGRAM: ..."), so the
-- manual is written once: the section's title becomes NAME, its subsections the page's sections,
-- its tables definition lists (terminal pages read better that way) and its links plain text.
-- The program is named by the metadata field "program" (corvex-render when not given); the
-- metadata field "seealso" (comma-separated page names) becomes the SEE ALSO section, each page
-- in section 1.
--
--   pandoc -f markdown-smart -t man -s --lua-filter packaging/manpage.lua -M program=corvex README.md
--
-- Fails when the section is missing, rather than writing an empty page.

local function definitions(tbl)
  local simple = pandoc.utils.to_simple_table(tbl)
  local items = {}
  for _, row in ipairs(simple.rows) do
    local term = pandoc.utils.blocks_to_inlines(row[1])
    local body = {}
    for i = 2, #row do
      for _, block in ipairs(row[i]) do table.insert(body, block) end
    end
    table.insert(items, {term, {body}})
  end
  return pandoc.DefinitionList(items)
end

local plain = {
  Link = function(link) return link.content end,
  -- A "|" inside a table's code is written "\|" in the README; the page has no table around it.
  Code = function(code)
    code.text = code.text:gsub("\\|", "|")
    return code
  end,
  Table = definitions,
}

function Pandoc(doc)
  local program = doc.meta.program and pandoc.utils.stringify(doc.meta.program) or "corvex-render"
  local heading = "^" .. program:gsub("%p", "%%%0") .. ": "
  local blocks = {}
  local inside = false
  for _, block in ipairs(doc.blocks) do
    if block.t == "Header" and block.level <= 2 then
      local text = pandoc.utils.stringify(block)
      if inside then break end
      if block.level == 2 and text:find(heading) then
        inside = true
        table.insert(blocks, pandoc.Header(1, "NAME"))
        table.insert(blocks, pandoc.Para(pandoc.Str(program .. " - " .. text:gsub(heading, ""))))
      end
    elseif inside then
      if block.t == "Header" then
        -- "### Synopsis" is a section of the page; anything deeper is a subsection.
        block.level = block.level - 2
        if block.level == 1 then
          block.content = {pandoc.Str(pandoc.utils.stringify(block):upper())}
        end
      end
      table.insert(blocks, block)
    end
  end
  if #blocks == 0 then
    error("README.md has no section headed \"" .. program .. ": ...\"")
  end
  local seealso = doc.meta.seealso and pandoc.utils.stringify(doc.meta.seealso) or ""
  if seealso ~= "" then
    local refs = {}
    for page in seealso:gmatch("[^,]+") do
      if #refs > 0 then table.insert(refs, pandoc.Str(", ")) end
      table.insert(refs, pandoc.Strong(pandoc.Str(page)))
      table.insert(refs, pandoc.Str("(1)"))
    end
    table.insert(blocks, pandoc.Header(1, "SEE ALSO"))
    table.insert(blocks, pandoc.Para(refs))
  end
  return pandoc.Pandoc(pandoc.walk_block(pandoc.Div(blocks), plain).content, doc.meta)
end
