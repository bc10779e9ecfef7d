#include "lib/dat/setup_model.h"

#include <fmt/format.h>

#include <array>
#include <new>
#include <stdexcept>

#include "lib/dat/geometry_read.h"

namespace strewmill::dat {

using common::Frame;
using common::Sphere;
using common::Vector3;

namespace {

// On-disk sizes used to bound reservations by the bytes left.
constexpr std::uint64_t kFrameSize = 28;
constexpr std::uint64_t kHookMinSize = 8;
constexpr std::uint64_t kCylSphereSize = 20;
constexpr std::uint64_t kSphereSize = 16;
constexpr std::uint64_t kVector3Size = 12;

constexpr std::uint32_t kMaxHookType = 26;

// Payload bytes by hook type; type 5 is variable and handled apart.
constexpr std::array<std::uint8_t, kMaxHookType + 1> kHookPayloadSize = {
    0,   // 0
    4,   // 1
    4,   // 2
    28,  // 3
    0,   // 4
    0,   // 5 (variable)
    4,   // 6
    16,  // 7
    12,  // 8
    16,  // 9
    12,  // 10
    16,  // 11
    8,   // 12
    40,  // 13
    4,   // 14
    4,   // 15
    4,   // 16
    0,   // 17
    4,   // 18
    8,   // 19
    12,  // 20
    16,  // 21
    12,  // 22
    8,   // 23
    12,  // 24
    4,   // 25
    40,  // 26
};

// Reserves room for `count` elements only when the remaining bytes could
// hold them; a longer count is left to fail on the reads themselves, which
// keeps the exact error (and its field context) of the element that runs
// out. Memory is therefore bounded by the record's size.
template <class Container>
common::Result<void, DecodeError> reserve_within(Container& c, const Cursor& cur,
                                                 std::uint64_t count,
                                                 std::uint64_t min_element_size) {
  if (!cur.can_hold(count, min_element_size)) return {};
  try {
    c.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return common::fail(DecodeError::custom(
        fmt::format("cannot reserve storage for {} elements", count), cur.position()));
  } catch (const std::length_error&) {
    return common::fail(DecodeError::custom(
        fmt::format("cannot reserve storage for {} elements", count), cur.position()));
  }
  return {};
}

// A list of plain 32-bit words: nothing here carries a field context, so a
// count the bytes cannot hold fails at once with the same end of data.
DecodeResult<std::vector<std::uint32_t>> read_words(Cursor& cur, std::uint32_t count) {
  if (!cur.can_hold(count, 4)) return common::fail(DecodeError::end_of_data());
  std::vector<std::uint32_t> words;
  TRY(reserve_within(words, cur, count, 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const std::uint32_t w, cur.u32());
    words.push_back(w);
  }
  return words;
}

common::Result<void, DecodeError> append_bytes(Cursor& cur, std::uint64_t n,
                                               std::vector<std::uint8_t>& out) {
  TRY_ASSIGN(const auto bytes, cur.bytes(n));
  out.insert(out.end(), bytes.begin(), bytes.end());
  return {};
}

DecodeResult<AnimationHook> read_hook(Cursor& cur) {
  const std::uint64_t start = cur.position();
  AnimationHook hook;
  TRY_ASSIGN(hook.hook_type, cur.u32());
  TRY_ASSIGN(hook.hook_param, cur.u32());
  if (hook.hook_type > kMaxHookType) {
    return common::fail(DecodeError::custom(
        fmt::format("Unsupported AnimationHook type: 0x{:08X}", hook.hook_type), cur.position()));
  }
  if (hook.hook_type == 5) {
    // One byte and a 16-bit word; a negative word brings a second one.
    TRY(append_bytes(cur, 3, hook.payload));
    if ((hook.payload[2] & 0x80) != 0) TRY(append_bytes(cur, 2, hook.payload));
  } else {
    TRY(append_bytes(cur, kHookPayloadSize[hook.hook_type], hook.payload));
  }
  // Pad the hook to a multiple of 4 from its start; the padding is kept.
  TRY(append_bytes(cur, (start - cur.position()) % 4, hook.payload));
  return hook;
}

// locations_1 and locations_2: a count, then key and LocationType pairs.
DecodeResult<std::unordered_map<std::uint32_t, LocationType>> read_locations(Cursor& cur) {
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  std::unordered_map<std::uint32_t, LocationType> map;
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const std::uint32_t key, cur.u32());
    TRY_ASSIGN(LocationType loc, LocationType::read(cur));
    map.insert_or_assign(key, loc);
  }
  return map;
}

}  // namespace

DecodeResult<CylSphere> CylSphere::read(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const Vector3 origin, cur, start, read_vector3(cur), "origin", "CylSphere");
  DAT_FIELD(const float radius, cur, start, cur.f32(), "radius", "CylSphere");
  DAT_FIELD(const float height, cur, start, cur.f32(), "height", "CylSphere");
  return CylSphere{origin, radius, height};
}

DecodeResult<LightInfo> LightInfo::read(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const Frame location, cur, start, read_frame(cur), "viewer_space_location",
            "LightInfo");
  DAT_FIELD(const std::uint32_t color, cur, start, cur.u32(), "color", "LightInfo");
  DAT_FIELD(const float intensity, cur, start, cur.f32(), "intensity", "LightInfo");
  DAT_FIELD(const float falloff, cur, start, cur.f32(), "falloff", "LightInfo");
  DAT_FIELD(const float cone_angle, cur, start, cur.f32(), "cone_angle", "LightInfo");
  return LightInfo{location, color, intensity, falloff, cone_angle};
}

DecodeResult<LocationType> LocationType::read(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const std::uint32_t part_id, cur, start, cur.u32(), "part_id", "LocationType");
  DAT_FIELD(const Frame frame, cur, start, read_frame(cur), "frame", "LocationType");
  return LocationType{part_id, frame};
}

DecodeResult<PlacementType> PlacementType::read(Cursor& cur, std::uint32_t num_parts) {
  PlacementType p;
  TRY(reserve_within(p.frames, cur, num_parts, kFrameSize));
  for (std::uint32_t i = 0; i < num_parts; ++i) {
    TRY_ASSIGN(const Frame f, read_frame(cur));
    p.frames.push_back(f);
  }
  TRY_ASSIGN(const std::uint32_t hook_count, cur.u32());
  TRY(reserve_within(p.hooks, cur, hook_count, kHookMinSize));
  for (std::uint32_t i = 0; i < hook_count; ++i) {
    TRY_ASSIGN(AnimationHook hook, read_hook(cur));
    p.hooks.push_back(std::move(hook));
  }
  return p;
}

DecodeResult<SetupModel> SetupModel::unpack(Cursor& cur) {
  SetupModel m;
  TRY_ASSIGN(m.id, cur.u32());
  TRY_ASSIGN(m.flags, cur.u32());
  TRY_ASSIGN(const std::uint32_t num_parts, cur.u32());
  TRY_ASSIGN(m.part_ids, read_words(cur, num_parts));
  if ((m.flags & 1) != 0) {
    TRY_ASSIGN(m.part_values, read_words(cur, num_parts));
  }
  if ((m.flags & 2) != 0) {
    TRY(reserve_within(m.part_vectors, cur, num_parts, kVector3Size));
    for (std::uint32_t i = 0; i < num_parts; ++i) {
      TRY_ASSIGN(const Vector3 v, read_vector3(cur));
      m.part_vectors.push_back(v);
    }
  }
  TRY_ASSIGN(m.locations_1, read_locations(cur));
  TRY_ASSIGN(m.locations_2, read_locations(cur));

  TRY_ASSIGN(const std::int32_t placement_count, cur.i32());
  if (placement_count < 0) {
    return common::fail(DecodeError::custom(
        fmt::format("SetupModel 0x{:08X} declared negative placement count {}", m.id,
                    placement_count),
        cur.position()));
  }
  // Smallest entry: key, one frame per part, hook count.
  TRY(reserve_within(m.placements, cur, static_cast<std::uint32_t>(placement_count),
                     8 + kFrameSize * num_parts));
  for (std::int32_t i = 0; i < placement_count; ++i) {
    TRY_ASSIGN(const std::uint32_t key, cur.u32());
    TRY_ASSIGN(PlacementType p, PlacementType::read(cur, num_parts));
    m.placements.insert_or_assign(key, std::move(p));
  }

  TRY_ASSIGN(const std::uint32_t cyl_count, cur.u32());
  TRY(reserve_within(m.cyl_spheres, cur, cyl_count, kCylSphereSize));
  for (std::uint32_t i = 0; i < cyl_count; ++i) {
    TRY_ASSIGN(const CylSphere c, CylSphere::read(cur));
    m.cyl_spheres.push_back(c);
  }

  TRY_ASSIGN(const std::uint32_t sphere_count, cur.u32());
  TRY(reserve_within(m.spheres, cur, sphere_count, kSphereSize));
  for (std::uint32_t i = 0; i < sphere_count; ++i) {
    TRY_ASSIGN(const Sphere s, read_sphere(cur));
    m.spheres.push_back(s);
  }

  TRY_ASSIGN(m.scalar_1, cur.u32());
  TRY_ASSIGN(m.scalar_2, cur.u32());
  TRY_ASSIGN(m.scalar_3, cur.u32());
  TRY_ASSIGN(m.scalar_4, cur.u32());
  TRY_ASSIGN(m.sphere_1, read_sphere(cur));
  TRY_ASSIGN(m.sphere_2, read_sphere(cur));

  TRY_ASSIGN(const std::uint32_t light_count, cur.u32());
  for (std::uint32_t i = 0; i < light_count; ++i) {
    TRY_ASSIGN(const std::uint32_t key, cur.u32());
    TRY_ASSIGN(const LightInfo light, LightInfo::read(cur));
    m.lights.insert_or_assign(key, light);
  }

  // All five words are read before any is stored.
  std::array<std::uint32_t, 5> ids{};
  for (std::uint32_t& id : ids) {
    TRY_ASSIGN(id, cur.u32());
  }
  const auto present = [](std::uint32_t v) -> std::optional<std::uint32_t> {
    if (v == 0) return std::nullopt;
    return v;
  };
  m.optional_id_1 = present(ids[0]);
  m.default_script_id = present(ids[1]);
  m.optional_id_3 = present(ids[2]);
  m.optional_id_4 = present(ids[3]);
  m.optional_id_5 = present(ids[4]);
  return m;
}

}  // namespace strewmill::dat
