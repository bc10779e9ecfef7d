// The bake run: the region once, then every landblock of the list in order,
// then the provenance file and the summary line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "apps/strewmill/error.h"
#include "apps/strewmill/preflight.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/landblock_info.h"
#include "lib/dat/region.h"
#include "lib/engine/bake_mode.h"
#include "lib/engine/placement.h"

namespace strewmill::app {

struct BakeSettings {
  std::uint32_t region_did = 0;
  std::span<const std::uint16_t> landblocks;
  engine::BakeMode mode = engine::BakeMode::AceCompat;
  std::uint64_t throttle_ms = 0;
  bool verbose = false;
  std::filesystem::path out;
};

class MeshCache;

// Data ids of a landblock's records in the cell archive.
constexpr std::uint32_t landblock_terrain_id(std::uint16_t lb) { return (std::uint32_t{lb} << 16) | 0xFFFFu; }
constexpr std::uint32_t landblock_info_id(std::uint16_t lb) { return (std::uint32_t{lb} << 16) | 0xFFFEu; }

// The region record, fetched and decoded. Errors: "fetch Region 0x{:08X}
// from portal.dat" or "parse Region 0x{:08X}" over the archive error.
AppResult<dat::Region> load_region(const dat::DatDatabase& portal, std::uint32_t region_did);

// The buildings of landblock `lb`: none when its info record cannot be
// fetched, the decode error when it does not decode.
dat::DatResult<std::vector<dat::BuildInfo>> landblock_buildings(const dat::DatDatabase& cell,
                                                                std::uint16_t lb);

// Footprint boxes of a landblock's buildings, in record order; a building
// whose model has no footprint mesh gets none.
std::vector<engine::Box> building_boxes(const dat::DatDatabase& portal, MeshCache& meshes,
                                        std::span<const dat::BuildInfo> buildings);

// Sleeps `ms` milliseconds (whole seconds, then the remainder), resuming
// after signal interruptions.
void throttle_sleep(std::uint64_t ms);

// Runs the whole bake over the archives the pre-flight opened. Writes every
// output file, the provenance file and the summary line on standard error.
AppResult<void> run_bake(const DatDirCheck& archives, const BakeSettings& settings,
                         Sha256Hasher& hasher);

}  // namespace strewmill::app
