// The per-landblock output: `0xXXYY.scenery.jsonl`, one JSON object per
// placement, and `0xXXYY.scenery.jsonl.sha256` beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "apps/strewmill/error.h"
#include "apps/strewmill/id_map.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/dat_database.h"
#include "lib/engine/placement.h"

namespace strewmill::app {

// Object data id -> default script id (0 for none), filled on first use and
// kept for the whole run.
class DefaultScriptCache {
 public:
  // Only setup models (high byte 0x02) are fetched from `portal` and
  // decoded; a failed fetch or decode, a setup without a script and every
  // other kind of id give 0. Misses are remembered like hits.
  std::uint32_t lookup(const dat::DatDatabase& portal, std::uint32_t obj_id);

  bool contains(std::uint32_t obj_id) const { return map_.contains(obj_id); }
  std::size_t size() const { return map_.size(); }

 private:
  IdMap<std::uint32_t> map_;
};

// Upper bound of one placement line, line feed included.
inline constexpr std::size_t kPlacementLineMax = 640;

// Writes one placement line (ending in a line feed) at `out`, which must have
// kPlacementLineMax bytes of room, and returns one past its end.
char* append_placement_line(char* out, const engine::Placement& p,
                            std::uint32_t default_script_id);

// "0x{lb:04X}.scenery.jsonl"
std::filesystem::path placement_file_name(std::uint16_t lb);

// Writes the placement file of landblock `lb` into `out_dir` (truncating an
// existing one), then its digest file, and returns the placement file's path.
//
// Errors: "create {path}" with the OS error as cause when a file cannot be
// created; "sha256 {path}" over the digest error; a failed write is the OS
// error alone. Files written before a failure stay as they are.
AppResult<std::filesystem::path> write_placement_output(
    std::uint16_t lb, const std::filesystem::path& out_dir,
    std::span<const engine::Placement> placements, const dat::DatDatabase& portal,
    DefaultScriptCache& cache, Sha256Hasher& hasher);

}  // namespace strewmill::app
