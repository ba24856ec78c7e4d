-- SPDX-License-Identifier: MIT
-- SWUpdate's "romflash" image handler: installs an image of a .swu into the
-- SPI NOR flash behind a spidev device with romflash-update, which refuses a
-- wrong chip or an image past the part before anything is erased, keeps what
-- lies around the image, journals and verifies. The image's attributes name
-- the device (device) and, as properties, the flash address (address), the
-- expected JEDEC ID (jedec), the journal directory (journal), the SPI
-- clock in kHz (khz) and, with keep = "true", that the blocks it replaces are
-- kept for romflash-update -R (rollback) or -C (commit) later. romflash-update's lines go to SWUpdate's log, its
-- errors as errors; any exit status but 0 fails the installation.
require("swupdate")

local M = {}

local function quote(text)
  return "'" .. string.gsub(text, "'", "'\\''") .. "'"
end

-- SWUpdate's log functions take a format: romflash's progress lines hold '%'.
local function log_file(path, log, pattern)
  local file = io.open(path, "r")
  if not file then
    return
  end
  for line in file:lines() do
    if string.find(line, pattern) then
      log("%s", line)
    end
  end
  file:close()
end

-- The romflash-update command line for an image as SWUpdate describes it, or
-- nil and the reason.
function M.command(image, path)
  local device = image.device or ""
  if device == "" then
    return nil, "image " .. image.filename .. " names no device (device = \"/dev/spi0\";)"
  end
  local words = { "romflash-update", "-d", device, "-f", path }
  local options = { address = "-a", jedec = "-j", journal = "-J", khz = "-s", keep = "-k" }
  local properties = image.properties or {}
  for key, value in pairs(properties) do
    if not options[key] then
      return nil, "image " .. image.filename .. ": unknown property " .. key ..
        " (known: address, jedec, journal, khz, keep)"
    end
    if type(value) ~= "string" then
      return nil, "image " .. image.filename .. ": property " .. key .. " is not one string"
    end
  end
  if properties.keep and properties.keep ~= "true" then
    return nil, "image " .. image.filename .. ": keep is \"true\" or absent"
  end
  if properties.keep then
    table.insert(words, "-k")
  end
  for _, key in ipairs({ "address", "jedec", "journal", "khz" }) do
    if properties[key] then
      table.insert(words, options[key])
      table.insert(words, properties[key])
    end
  end
  for i, word in ipairs(words) do
    words[i] = quote(word)
  end
  return table.concat(words, " ")
end

function M.install(image)
  local tmp = os.getenv("TMPDIR") or "/tmp"
  local path = tmp .. "/romflash-handler.image"
  local output = tmp .. "/romflash-handler.output"
  local errors = tmp .. "/romflash-handler.errors"
  local command, reason = M.command(image, path)
  if not command then
    swupdate.error("%s", "romflash: " .. reason .. "; nothing was written")
    return 1
  end
  -- The copy checks the image against the sha256 of sw-description.
  local err = image:copy2file(path)
  if err ~= 0 then
    os.remove(path)
    swupdate.error("%s", "romflash: could not copy " .. image.filename .. " to " .. path .. "; nothing was written")
    return 1
  end
  -- Nothing is logged while it runs, and only romflash-update's own lines
  -- after: SWUpdate 2022.12 run with -i can take log lines during an
  -- installation for its end, and exit while the handler still runs.
  local run = io.popen(command .. " >" .. quote(output) .. " 2>" .. quote(errors), "r")
  run:read("a")
  local ok, _, status = run:close()
  swupdate.info("%s", "romflash: " .. command)
  log_file(output, swupdate.info, "^romflash%-update: ")
  log_file(errors, swupdate.error, ".")
  os.remove(output)
  os.remove(errors)
  os.remove(path)
  if ok then
    return 0
  end
  swupdate.error("%s", "romflash: romflash-update failed with exit status " .. tostring(status) ..
    " (romflash-update(1)); " .. image.filename .. " is not installed")
  return 1
end

swupdate.register_handler("romflash", M.install, swupdate.HANDLER_MASK.IMAGE_HANDLER)

return M
