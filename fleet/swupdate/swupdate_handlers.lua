-- SPDX-License-Identifier: MIT
-- SWUpdate loads this module at start-up from Lua's package path: it
-- registers romflash's image handler. A board that has its own
-- swupdate_handlers.lua adds the line below to it instead.
require("romflash_handler")
