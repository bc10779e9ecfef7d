// The setup model record: a multi-part object made of graphics objects,
// with its locations, placements, collision shapes, lights and ids.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cursor.h"

namespace strewmill::dat {

struct AnimationHook {
  std::uint32_t hook_type = 0;  // 0 to 26
  std::uint32_t hook_param = 0;
  // Raw payload followed by its alignment bytes; a multiple of 4 long.
  std::vector<std::uint8_t> payload;
  bool operator==(const AnimationHook&) const = default;
};

struct PlacementType {
  std::vector<common::Frame> frames;  // one per part of the owning setup
  std::vector<AnimationHook> hooks;
  bool operator==(const PlacementType&) const = default;

  // `num_parts` fixes the number of frames (they carry no count).
  static DecodeResult<PlacementType> read(Cursor& cur, std::uint32_t num_parts);
};

struct CylSphere {
  common::Vector3 origin;
  float radius = 0;
  float height = 0;
  bool operator==(const CylSphere&) const = default;
  static DecodeResult<CylSphere> read(Cursor& cur);
};

struct LightInfo {
  common::Frame viewer_space_location;
  std::uint32_t color = 0;
  float intensity = 0;
  float falloff = 0;
  float cone_angle = 0;
  bool operator==(const LightInfo&) const = default;
  static DecodeResult<LightInfo> read(Cursor& cur);
};

struct LocationType {
  std::uint32_t part_id = 0;  // stored bits, never interpreted
  common::Frame frame;
  bool operator==(const LocationType&) const = default;
  static DecodeResult<LocationType> read(Cursor& cur);
};

struct SetupModel {
  std::uint32_t id = 0;
  std::uint32_t flags = 0;  // bit 0: part_values, bit 1: part_vectors
  std::vector<std::uint32_t> part_ids;
  std::vector<std::uint32_t> part_values;  // stored bits, never interpreted
  std::vector<common::Vector3> part_vectors;
  std::unordered_map<std::uint32_t, LocationType> locations_1;
  std::unordered_map<std::uint32_t, LocationType> locations_2;
  std::unordered_map<std::uint32_t, PlacementType> placements;
  std::vector<CylSphere> cyl_spheres;
  std::vector<common::Sphere> spheres;
  std::uint32_t scalar_1 = 0;  // the four scalars are stored bits only
  std::uint32_t scalar_2 = 0;
  std::uint32_t scalar_3 = 0;
  std::uint32_t scalar_4 = 0;
  common::Sphere sphere_1;
  common::Sphere sphere_2;
  std::unordered_map<std::uint32_t, LightInfo> lights;
  // Each absent when its stored word is 0.
  std::optional<std::uint32_t> optional_id_1;
  std::optional<std::uint32_t> default_script_id;
  std::optional<std::uint32_t> optional_id_3;
  std::optional<std::uint32_t> optional_id_4;
  std::optional<std::uint32_t> optional_id_5;

  bool operator==(const SetupModel&) const = default;

  static DecodeResult<SetupModel> unpack(Cursor& cur);
};

}  // namespace strewmill::dat
