// The landblock info record: placed objects, buildings with their portals
// and an optional restriction table. The bake only reads the buildings.
// Landblock 0xXXYY's record is 0xXXYYFFFE in the cell archive, next to its
// terrain (0xXXYYFFFF); landblocks without buildings may have none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cursor.h"
#include "lib/dat/dat_error.h"

namespace strewmill::dat {

struct Stab {
  std::uint32_t id = 0;
  common::Frame frame;
  bool operator==(const Stab&) const = default;

  static DecodeResult<Stab> unpack(Cursor& cur);
};

struct PortalInternal {
  std::uint16_t flags = 0;
  std::uint16_t other_cell_id = 0;
  std::uint16_t other_portal_id = 0;
  std::uint16_t num_stabs = 0;
  std::vector<std::uint16_t> stab_list;
  bool operator==(const PortalInternal&) const = default;

  static DecodeResult<PortalInternal> unpack(Cursor& cur);
};

struct BuildInfo {
  std::uint32_t model_id = 0;  // SetupModel or GfxObj data id
  common::Frame frame;
  std::uint32_t num_leaves = 0;
  std::uint32_t num_portals = 0;
  std::vector<PortalInternal> portals;
  bool operator==(const BuildInfo&) const = default;

  static DecodeResult<BuildInfo> unpack(Cursor& cur);
};

struct RestrictionTable {
  std::uint16_t count = 0;
  std::uint16_t _bucket_size = 0;
  // Filled in stream order: a repeated key keeps the later value.
  std::unordered_map<std::uint32_t, std::uint32_t> tables;
  bool operator==(const RestrictionTable&) const = default;

  static DecodeResult<RestrictionTable> unpack(Cursor& cur);
};

// Bit of LandblockInfo::pack_mask that says a restriction table follows.
inline constexpr std::uint16_t kLandblockInfoHasRestrictions = 0x1;

struct LandblockInfo {
  std::uint32_t id = 0;  // as stored; not compared with the requested id
  std::uint32_t num_cells = 0;
  std::uint32_t num_objects = 0;
  std::vector<Stab> objects;
  std::uint16_t num_buildings = 0;
  std::uint16_t pack_mask = 0;
  std::vector<BuildInfo> buildings;
  std::optional<RestrictionTable> restriction_tables;  // pack_mask bit 0
  bool operator==(const LandblockInfo&) const = default;

  // Decodes the record's complete file data; fails with DatError::Decode.
  static DatResult<LandblockInfo> unpack(std::span<const std::uint8_t> bytes);
};

}  // namespace strewmill::dat
