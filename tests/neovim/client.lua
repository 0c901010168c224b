-- Neovim's own LSP client against velda-lsp, set up by the Lua block of docs/editor.md:
-- a definition and a hover in examples/mines, and the diagnostics of a file with an
-- error. Run headless:
--   VELDA_LSP=<server> ORVO_ROOT=<source dir> SCRATCH=<folder> nvim --headless --clean -u client.lua
local root, scratch = os.getenv('ORVO_ROOT'), os.getenv('SCRATCH')
local failures = {}
local function check(ok, what)
  if not ok then table.insert(failures, what) end
end

local function guide_block()
  local page = io.open(root .. '/docs/editor.md'):read('*a')
  return page:match('```lua\n(.-)```')
end

-- The first client attached to the current buffer, once it is initialized.
local function attached()
  local client
  vim.wait(5000, function()
    for _, c in pairs(vim.lsp.buf_get_clients(0)) do client = c end
    return client ~= nil and client.initialized
  end)
  return client
end

local ok, err = pcall(function()
  assert(loadstring(guide_block()))()
  local mines = root .. '/examples/mines/mines.ova'
  vim.cmd('edit ' .. mines)
  check(vim.bo.filetype == 'velda', 'filetype of mines.ova')
  check(attached(), 'a client for mines.ova')
  -- Line 17 (1-based) is " & OnStart              ; 1 EVT_START".
  local at = { textDocument = { uri = vim.uri_from_fname(mines) }, position = { line = 16, character = 4 } }
  local got
  for _, r in pairs(vim.lsp.buf_request_sync(0, 'textDocument/definition', at, 5000) or {}) do
    got = r.result
  end
  check(got and got.uri == vim.uri_from_fname(mines) and got.range.start.line == 33, 'definition of OnStart')
  local text = ''
  for _, r in pairs(vim.lsp.buf_request_sync(0, 'textDocument/hover', at, 5000) or {}) do
    text = r.result and r.result.contents.value or ''
  end
  check(text:find('OnStart', 1, true) and text:find('code label', 1, true), 'hover of OnStart: ' .. text)

  -- A game of one file with a misspelled operand.
  local bad = scratch .. '/bad.ova'
  local f = io.open(bad, 'w')
  f:write('@code\n:Main\n d mov $1, $2 oops\n jmp =Main\n@seg_end\n')
  f:close()
  vim.cmd('edit ' .. bad)
  check(attached(), 'a client for bad.ova')
  local found
  vim.wait(5000, function()
    for _, d in ipairs(vim.diagnostic.get(0)) do
      if d.message == 'unexpected characters: oops' then found = d end
    end
    return found ~= nil
  end)
  check(found and found.lnum == 2 and found.col == 14 and found.severity == vim.diagnostic.severity.ERROR,
        'diagnostic of bad.ova')
end)
check(ok, 'script error: ' .. tostring(err))

if #failures > 0 then
  io.stderr:write('FAILED: ' .. table.concat(failures, '; ') .. '\n')
  vim.cmd('cquit 1')
end
io.stdout:write('neovim received what velda-lsp sent\n')
vim.cmd('qall!')
