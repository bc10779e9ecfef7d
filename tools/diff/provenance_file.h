// A strict reader of a bake's provenance file (`bake-source.sha256`): seven
// "key\tvalue\n" lines with fixed keys in a fixed order.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "lib/common/result.h"
#include "tools/diff/placement_file.h"

namespace strewmill::tools {

inline constexpr std::size_t kProvenanceLines = 7;
inline constexpr std::array<std::string_view, kProvenanceLines> kProvenanceKeys = {
    "client_portal.dat", "client_cell_1.dat", "client_local_English.dat", "bake-tool-version",
    "region-did",        "bake-mode",         "landblocks"};

// What a line says about a bake: "input" (an archive digest), "version",
// "region", "mode" or "landblocks".
std::string_view provenance_category(std::size_t key_index);

struct Provenance {
  std::array<std::string, kProvenanceLines> values;  // in key order
};

// Checks each value's form: archive digests are 64 lower-case hexadecimal
// digits, the region "0x" and 8 upper-case hexadecimal digits, the mode a
// lower-case word, the landblocks line "N baked, M skipped"; the version is
// any text without control characters (a newer tool writes other ids).
common::Result<Provenance, ParseError> parse_provenance(std::string_view text);

}  // namespace strewmill::tools
