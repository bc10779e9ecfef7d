// Synthetic world generator: writes the three archives of a complete,
// realistic world (region, scenes, graphics objects, setup models, landblock
// terrain and info records) deterministically from a seed and a landblock
// rectangle. Used by the strewmill-worldgen tool, end-to-end tests,
// benchmarks and fuzz seed corpora.
//
// Same spec, same bytes: all randomness comes from a seeded xoshiro256**
// stream per record, never from std:: distributions, and every map the
// records hold is written in a fixed order. Each record depends only on the
// seed, its own index or landblock and the catalogue sizes, so a landblock
// looks the same in a small rectangle and in the full grid.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "lib/common/result.h"
#include "lib/dat/cell_landblock.h"
#include "lib/dat/dat_database.h"
#include "lib/dat/gfx_obj.h"
#include "lib/dat/landblock_info.h"
#include "lib/dat/region.h"
#include "lib/dat/scene.h"
#include "lib/dat/setup_model.h"

namespace strewmill::tools {

struct WorldSpec {
  std::uint64_t seed = 1;
  // Corners of the landblock rectangle, 0xXXYY each; lo must not exceed hi
  // in either byte. The default is 8 x 8 landblocks around 0xA9B4.
  std::uint16_t lb_lo = 0xA6B1;
  std::uint16_t lb_hi = 0xADB8;
  int scenes = 300;             // scene records in the portal archive
  int objects_per_scene = 12;   // typical descriptors per scene (varies per scene)
  std::uint32_t block_size = 1024;      // portal and local archives
  std::uint32_t cell_block_size = 256;  // cell archive
  // Grows every archive to at least this many MiB with filler records.
  std::uint64_t pad_mb = 0;
  // Per-archive targets that replace pad_mb for one archive (portal, cell,
  // local, in WorldArchive order), for retail-like size ratios.
  std::array<std::optional<std::uint64_t>, 3> archive_pad_mb{};
  // Extra small records in the cell archive (ids 0xXXYY01nn, like interior
  // cells), to reach large directories.
  std::uint64_t filler_entries = 0;
  // Written as the region's parts mask: 0x10 sky, 0x01 sound, 0x02 scene,
  // 0x200 misc; other bits are stored and select nothing.
  std::uint32_t region_parts_mask = 0x0317;
};

inline constexpr std::uint32_t kWorldRegionId = 0x13000000;

// Data ids of the generated catalogue, by index.
inline constexpr std::uint32_t world_scene_id(int k) { return 0x12001000u + static_cast<std::uint32_t>(k); }
inline constexpr std::uint32_t world_gfx_id(int k) { return 0x01001000u + static_cast<std::uint32_t>(k); }
inline constexpr std::uint32_t world_setup_id(int k) { return 0x02001000u + static_cast<std::uint32_t>(k); }

enum class WorldArchive { portal, cell, local };
inline constexpr WorldArchive kWorldArchives[] = {WorldArchive::portal, WorldArchive::cell,
                                                  WorldArchive::local};

// The size in MiB that padding grows `archive` to: its own target when
// set, otherwise pad_mb.
std::uint64_t world_pad_mb(const WorldSpec& spec, WorldArchive archive);

// "client_portal.dat", "client_cell_1.dat", "client_local_English.dat".
std::string_view world_file_name(WorldArchive archive);

// What a record's bytes decode to; monostate for records that are only
// bytes (local texts, fillers).
using WorldValue = std::variant<std::monostate, dat::Region, dat::Scene, dat::GfxObj,
                                dat::SetupModel, dat::CellLandblock, dat::LandblockInfo>;

struct WorldRecord {
  std::uint32_t id = 0;
  bool compress = false;            // stored compressed
  std::vector<std::uint8_t> bytes;  // the record as get_file returns it
  WorldValue value;                 // what the matching decoder yields for `bytes`
};

using WorldRecordVisitor = std::function<common::Result<void, std::string>(WorldRecord&)>;

// Checks the accepted ranges; generate_world and for_each_world_record call it.
common::Result<void, std::string> validate_world_spec(const WorldSpec& spec);

// The header fields an archive is written with (block_size included;
// root_offset and file_size are left to the writer).
dat::DatHeader world_header(const WorldSpec& spec, WorldArchive archive);

// Hands every record of one archive to `visit`, in write order, building
// one record at a time. Padding (pad_mb) is not included: it depends on
// the archive's size and is added by generate_world.
common::Result<void, std::string> for_each_world_record(const WorldSpec& spec, WorldArchive archive,
                                                        const WorldRecordVisitor& visit);

struct WorldArchiveStats {
  std::uint64_t records = 0;
  std::uint64_t bytes = 0;  // file size
};
struct WorldStats {
  WorldArchiveStats portal, cell, local;
};

// Writes the three archives into `out_dir` (created if missing), streaming
// each record to disk as it is made.
common::Result<void, std::string> generate_world(const WorldSpec& spec,
                                                 const std::filesystem::path& out_dir);
common::Result<void, std::string> generate_world(const WorldSpec& spec,
                                                 const std::filesystem::path& out_dir,
                                                 WorldStats& stats);

}  // namespace strewmill::tools
