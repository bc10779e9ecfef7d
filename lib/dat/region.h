// The region record: the world's land height table and the mapping from a
// vertex's terrain and scene types to candidate scenes, plus the sky, sound,
// game-time and misc parts that are kept but not used by the bake.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/dat/cursor.h"

namespace strewmill::dat {

struct TimeOfDay {
  std::uint32_t scalar = 0;
  bool flag = false;  // stored as a 32-bit word, nonzero is true
  std::string name;
  bool operator==(const TimeOfDay&) const = default;
};

struct Season {
  std::uint32_t scalar = 0;
  std::string name;
  bool operator==(const Season&) const = default;

  static DecodeResult<Season> unpack(Cursor& cur);
};

struct GameTime {
  double value = 0;
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::uint32_t scalar_3 = 0;
  std::string name;
  std::vector<TimeOfDay> times_of_day;
  std::vector<std::string> names;
  std::vector<Season> seasons;
  bool operator==(const GameTime&) const = default;

  static DecodeResult<GameTime> unpack(Cursor& cur);
};

struct SkyTimeOfDay {
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::uint32_t scalar_3 = 0;
  std::uint32_t scalar_4 = 0;
  std::uint32_t scalar_5 = 0;
  std::uint32_t scalar_6 = 0;
  std::uint32_t scalar_7 = 0;
  std::uint32_t scalar_8 = 0;
  std::uint32_t scalar_9 = 0;
  std::uint32_t scalar_10 = 0;
  std::uint32_t scalar_11 = 0;
  std::vector<std::array<std::uint32_t, 6>> entries;
  bool operator==(const SkyTimeOfDay&) const = default;
};

struct DayGroup {
  std::uint32_t scalar = 0;
  std::string name;
  std::vector<std::array<std::uint32_t, 9>> sky_objects;
  std::vector<SkyTimeOfDay> times;
  bool operator==(const DayGroup&) const = default;
};

struct SkyDesc {
  double value_1 = 0;
  double value_2 = 0;
  std::vector<DayGroup> day_groups;
  bool operator==(const SkyDesc&) const = default;

  static DecodeResult<SkyDesc> unpack(Cursor& cur);
};

struct AmbientSTBDesc {
  std::uint32_t scalar = 0;
  std::vector<std::array<std::uint32_t, 5>> entries;
  bool operator==(const AmbientSTBDesc&) const = default;
};

struct SoundDesc {
  std::vector<AmbientSTBDesc> ambient;
  bool operator==(const SoundDesc&) const = default;

  static DecodeResult<SoundDesc> unpack(Cursor& cur);
};

struct SceneType {
  std::uint32_t scalar = 0;
  std::vector<std::uint32_t> scene_ids;  // Scene data ids in the portal archive
  bool operator==(const SceneType&) const = default;
};

struct SceneDesc {
  std::vector<SceneType> scene_types;
  bool operator==(const SceneDesc&) const = default;

  static DecodeResult<SceneDesc> unpack(Cursor& cur);
};

struct TerrainType {
  std::string name;
  std::uint32_t scalar = 0;
  // Indexed by a vertex's scene type; each entry indexes SceneDesc::scene_types.
  std::vector<std::uint32_t> scene_type_indices;
  bool operator==(const TerrainType&) const = default;
};

struct TerrainDesc {
  std::vector<TerrainType> terrain_types;  // indexed by a vertex's terrain type
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::vector<std::array<std::uint32_t, 2>> pairs_1;
  std::vector<std::array<std::uint32_t, 2>> pairs_2;
  std::vector<std::array<std::uint32_t, 2>> pairs_3;
  std::vector<std::array<std::uint32_t, 11>> word_records;
  bool operator==(const TerrainDesc&) const = default;

  static DecodeResult<TerrainDesc> unpack(Cursor& cur);
};

struct RegionMisc {
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::uint32_t scalar_3 = 0;
  std::uint32_t scalar_4 = 0;
  std::uint32_t scalar_5 = 0;
  std::uint32_t scalar_6 = 0;
  bool operator==(const RegionMisc&) const = default;

  static DecodeResult<RegionMisc> unpack(Cursor& cur);
};

// Bits of Region::parts_mask that select the optional parts.
inline constexpr std::uint32_t kRegionHasSound = 0x01;
inline constexpr std::uint32_t kRegionHasScene = 0x02;
inline constexpr std::uint32_t kRegionHasSky = 0x10;
inline constexpr std::uint32_t kRegionHasMisc = 0x200;

struct Region {
  std::uint32_t id = 0;  // as stored; not compared with the requested id
  std::uint32_t header_1 = 0;
  std::uint32_t header_2 = 0;
  std::string name;
  std::array<std::uint32_t, 8> params{};
  std::array<float, 256> land_height_table{};  // height for each height index
  GameTime game_time;
  std::uint32_t parts_mask = 0;
  std::optional<SkyDesc> sky;      // parts_mask & 0x10
  std::optional<SoundDesc> sound;  // parts_mask & 0x01
  std::optional<SceneDesc> scene;  // parts_mask & 0x02; absent: no scenery anywhere
  TerrainDesc terrain;
  std::optional<RegionMisc> misc;  // parts_mask & 0x200
  bool operator==(const Region&) const = default;

  // Decodes from the record's first byte; bytes after the last part are
  // ignored. Never yields a partial region.
  static DecodeResult<Region> unpack(Cursor& cur);
};

}  // namespace strewmill::dat
