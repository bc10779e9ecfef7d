// Small generated worlds for end-to-end tests, editable record by record
// before they are written: drop a record, replace its bytes or add one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/landblock_info.h"
#include "tools/writer/worldgen.h"

namespace strewmill::test_support {

struct StoredRecord {
  std::vector<std::uint8_t> bytes;  // as get_file returns them
  bool compress = false;
};

using RecordMap = std::map<std::uint32_t, StoredRecord>;

struct EditableWorld {
  tools::WorldSpec spec;
  RecordMap portal, cell, local;

  // Every record of the world `spec` describes. Throws on a bad spec.
  static EditableWorld generate(const tools::WorldSpec& spec);

  RecordMap& records(tools::WorldArchive archive);
  const RecordMap& records(tools::WorldArchive archive) const;

  // Writes the three archives into `dir` (created if missing). Throws on
  // failure.
  void write(const std::filesystem::path& dir) const;
};

// A world of the landblocks lo..hi with a small catalogue, quick to build.
tools::WorldSpec tiny_world_spec(std::uint16_t lb_lo, std::uint16_t lb_hi);

// Record ids of landblock `lb` in the cell archive.
constexpr std::uint32_t terrain_id(std::uint16_t lb) { return (std::uint32_t{lb} << 16) | 0xFFFFu; }
constexpr std::uint32_t info_id(std::uint16_t lb) { return (std::uint32_t{lb} << 16) | 0xFFFEu; }

// A graphics object whose vertex positions are `points`.
std::vector<std::uint8_t> gfx_with_points(std::uint32_t id, const std::vector<common::Vector3>& points);

// A building of `model_id` at `origin`, turned by `orientation` (w, x, y, z).
dat::BuildInfo building(std::uint32_t model_id, common::Vector3 origin,
                        common::Quaternion orientation = {1, 0, 0, 0});

// An info record that holds only `buildings`.
std::vector<std::uint8_t> info_with_buildings(std::uint32_t id, std::vector<dat::BuildInfo> buildings);

}  // namespace strewmill::test_support
