// The scene record: the object descriptors evaluated around one terrain
// vertex, in list order (the position is the descriptor's object index).
#pragma once

#include <cstdint>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cursor.h"

namespace strewmill::dat {

struct ObjectDesc {
  std::uint32_t obj_id = 0;  // GfxObj (0x01......) or SetupModel (0x02......)
  common::Frame base_frame;  // offset from the vertex; only origin x/y matter
  float frequency = 0;
  float displace_x = 0;
  float displace_y = 0;
  float min_scale = 0;
  float max_scale = 0;
  float max_rotation = 0;  // degrees
  float min_slope = 0;
  float max_slope = 0;
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::uint32_t exclude = 0;  // nonzero: never placed
  bool operator==(const ObjectDesc&) const = default;

  // Size of one descriptor on disk.
  static constexpr std::uint64_t kSize = 76;

  static DecodeResult<ObjectDesc> unpack(Cursor& cur);
};

struct Scene {
  std::uint32_t id = 0;
  std::vector<ObjectDesc> objects;
  bool operator==(const Scene&) const = default;

  // Decodes from the record's first byte; bytes after the last descriptor
  // are ignored.
  static DecodeResult<Scene> unpack(Cursor& cur);
};

}  // namespace strewmill::dat
