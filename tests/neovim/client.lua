-- Neovim's own LSP client against velda-lsp: a definition and a hover in examples/mines,
-- and the diagnostics of a file with an error. Run headless:
--   VELDA_LSP=<server> ORVO_ROOT=<source dir> SCRATCH=<folder> nvim --headless --clean -u client.lua
local server, root, scratch = os.getenv('VELDA_LSP'), os.getenv('ORVO_ROOT'), os.getenv('SCRATCH')
local failures = {}
local function check(ok, what)
  if not ok then table.insert(failures, what) end
end

local function start(file)
  vim.cmd('edit ' .. file)
  vim.bo.filetype = 'velda'
  local id = vim.lsp.start_client({ name = 'velda', cmd = { server }, root_dir = root })
  vim.lsp.buf_attach_client(0, id)
  vim.wait(5000, function() return vim.lsp.get_client_by_id(id).initialized end)
  return id
end

local ok, err = pcall(function()
local mines = root .. '/examples/mines/mines.ova'
start(mines)
-- Line 17 (1-based) is " & OnStart              ; 1 EVT_START".
local at = { textDocument = { uri = vim.uri_from_fname(mines) }, position = { line = 16, character = 4 } }
local def = vim.lsp.buf_request_sync(0, 'textDocument/definition', at, 5000)
local got
for _, r in pairs(def or {}) do got = r.result end
check(got and got.uri == vim.uri_from_fname(mines) and got.range.start.line == 33, 'definition of OnStart')
local hover = vim.lsp.buf_request_sync(0, 'textDocument/hover', at, 5000)
local text = ''
for _, r in pairs(hover or {}) do text = r.result and r.result.contents.value or '' end
check(text:find('OnStart', 1, true) and text:find('code label', 1, true), 'hover of OnStart: ' .. text)

-- A game of one file with a misspelled operand.
local bad = scratch .. '/bad.ova'
local f = io.open(bad, 'w')
f:write('@code\n:Main\n d mov $1, $2 oops\n jmp =Main\n@seg_end\n')
f:close()
vim.cmd('edit ' .. bad)
vim.bo.filetype = 'velda'
local id = vim.lsp.start_client({ name = 'velda-bad', cmd = { server }, root_dir = scratch })
vim.lsp.buf_attach_client(0, id)
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
