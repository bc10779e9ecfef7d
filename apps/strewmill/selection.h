// Hexadecimal ids and the --landblocks selection: one id, a rectangle
// "lo..hi" of the world grid, or "@path" naming a file of ids.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "apps/strewmill/error.h"

namespace strewmill::app {

// Strips Unicode White_Space (ASCII tab, LF, VT, FF, CR, space and the
// non-ASCII spaces such as U+00A0 and U+3000) from both ends of UTF-8 text.
std::string_view trim_white_space(std::string_view text);

// Trims, strips "0x" as often as it leads, then "0X" likewise, and reads the
// rest as base 16 with an optional "+". Errors are "parse hex u32 `{trimmed}`"
// with the reason as cause.
AppResult<std::uint32_t> parse_hex_u32(std::string_view text);

// Turns the --landblocks text into the ordered list of ids to bake. The list
// keeps duplicates and file order, and may be empty.
AppResult<std::vector<std::uint16_t>> select_landblocks(std::string_view spec);

}  // namespace strewmill::app
