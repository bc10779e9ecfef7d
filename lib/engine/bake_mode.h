// The two bake modes and their textual names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/common/result.h"

namespace strewmill::engine {

// `AceCompat` reproduces the reference server's loader bit for bit;
// `Strict` uses bilinear heights and rejects objects on steep terrain.
enum class BakeMode : std::uint8_t { AceCompat = 0, Strict = 1 };

// The canonical name: "ace-compat" or "strict".
std::string_view to_string(BakeMode mode);

// Accepts exactly "ace-compat", "ace_compat", "acecompat" and "strict"
// (case-sensitive, no trimming).
common::Result<BakeMode, std::string> bake_mode_from_str(std::string_view text);

}  // namespace strewmill::engine
