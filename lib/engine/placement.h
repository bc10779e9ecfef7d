// Scenery placement for one landblock: which objects of which scenes stand
// where, turned and scaled how. Deterministic and bit-exact: every float
// expression keeps the precision and grouping written here.
//
// The caller supplies the records and two look-ups over the portal archive
// (examples/embed has complete ones):
//
//   auto scenes = [&](std::uint32_t id) -> std::optional<dat::Scene> {...};
//   auto meshes = [&](std::uint32_t id) -> const std::vector<common::Vector3>* {...};
//   std::vector<engine::Box> buildings;  // engine::building_box(mesh, frame) each
//   std::vector<engine::Placement> placed = engine::bake_landblock_impl(
//       region, landblock, 0xA9B4u << 16, scenes, meshes, buildings,
//       engine::BakeMode::AceCompat);
//
// Most of this is inline and compiled in the caller's translation unit:
// build it with -ffp-contract=off (the strewmill::engine target adds it) and
// never with -ffast-math, or the results stop matching other bakes.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cell_landblock.h"
#include "lib/dat/region.h"
#include "lib/dat/scene.h"
#include "lib/engine/bake_mode.h"
#include "lib/engine/float_convert.h"
#include "lib/engine/hashes.h"
#include "lib/engine/height.h"

namespace strewmill::engine {

// One placed scenery object. The source fields name the vertex and the
// descriptor that produced it, not the cell it ends up in.
struct Placement {
  std::uint32_t obj_id = 0;
  float x = 0, y = 0, z = 0;
  float qw = 1, qx = 0, qy = 0, qz = 0;
  float scale = 1;
  std::uint32_t source_cell_x = 0;
  std::uint32_t source_cell_y = 0;
  std::uint32_t source_obj_idx = 0;
  bool operator==(const Placement&) const = default;
};

// Axis-aligned ground extent in landblock-local coordinates. A box whose
// minimum lies above its maximum is empty and overlaps nothing.
struct Box {
  float min_x = std::numeric_limits<float>::infinity();
  float min_y = std::numeric_limits<float>::infinity();
  float max_x = -std::numeric_limits<float>::infinity();
  float max_y = -std::numeric_limits<float>::infinity();

  // Grows the box to hold (x, y). Strict comparisons: NaN never gets in.
  void extend(float x, float y) {
    if (x < min_x) min_x = x;
    if (y < min_y) min_y = y;
    if (max_x < x) max_x = x;
    if (max_y < y) max_y = y;
  }
  bool operator==(const Box&) const = default;
};

// Boxes that only touch overlap.
constexpr bool overlaps(const Box& a, const Box& b) {
  return !(b.min_x > a.max_x || a.min_x > b.max_x || b.min_y > a.max_y || a.min_y > b.max_y);
}

// Footprint of a building: its mesh turned by the yaw of `frame` and moved to
// its origin. The pitch and roll of the orientation are ignored.
Box building_box(const std::vector<common::Vector3>& mesh, const common::Frame& frame);

// The steps of one descriptor, split out so each can be checked on its own.
namespace placement_steps {

// Per-vertex hash state, shared by every descriptor of the vertex's scene.
struct VertexHashes {
  std::uint32_t H;  // base hash
  std::uint32_t M;  // object multiplier
  double f;         // frequency threshold
  double q;         // quadrant value
};

inline VertexHashes vertex_hashes(std::uint32_t X, std::uint32_t Y) {
  const std::uint32_t H = base_hash(X, Y);
  return VertexHashes{H, object_multiplier(X, Y), fraction(frequency_hash(X, Y, H)),
                      fraction(quadrant_hash(X, Y))};
}

// Index into a list of `count` candidate scenes.
inline std::size_t scene_index(std::size_t count, std::uint32_t X, std::uint32_t Y) {
  const std::uint64_t i =
      saturating_to_u64(static_cast<double>(count) * fraction(scene_hash(X, Y)));
  return i < count ? static_cast<std::size_t>(i) : 0;
}

inline bool passes_frequency(const dat::ObjectDesc& d, const VertexHashes& v) {
  return static_cast<double>(d.frequency) > v.f;
}

// Base origin plus a random displacement of up to `displace` along one axis.
inline float displaced(float origin, float displace, std::uint32_t hash) {
  if (displace <= 0.0f) return origin;
  return static_cast<float>(static_cast<double>(origin) +
                            static_cast<double>(displace) * fraction(hash));
}

struct Offset {
  float u, v;
};

// Turns (dx, dy) about the vertex by 270, 180, 90 or 0 degrees.
inline Offset quadrant_turn(double q, float dx, float dy) {
  if (q >= 0.75) return Offset{dy, -dx};
  if (q >= 0.5) return Offset{-dx, -dy};
  if (q >= 0.25) return Offset{-dy, dx};
  return Offset{dx, dy};
}

// 0 and 192 are inside; NaN passes.
inline bool out_of_bounds(float px, float py) {
  return px > 192.0f || px < 0.0f || py < 0.0f || py > 192.0f;
}

// Reads entry cx * 8 + cy of the vertex-ordered terrain words. The stride
// of 8 (the grid's is 9) is deliberate: the reference loader tests this very
// entry and placements must agree with it object for object.
inline bool on_road(const std::array<std::uint16_t, 81>& terrain, float px, float py) {
  const std::int32_t cx = saturating_to_i32(std::floor(px / 24.0f));
  const std::int32_t cy = saturating_to_i32(std::floor(py / 24.0f));
  if (cx < 0 || cy < 0) return false;
  const std::int64_t j = static_cast<std::int64_t>(cx) * 8 + cy;
  if (j >= static_cast<std::int64_t>(terrain.size())) return false;
  return (terrain[static_cast<std::size_t>(j)] & 0x3u) != 0;
}

// Yaw in radians, between 0 and max_rotation degrees.
inline float rotation_angle(float max_rotation, std::uint32_t hash) {
  if (max_rotation <= 0.0f) return 0.0f;
  return static_cast<float>((static_cast<double>(max_rotation) * fraction(hash)) *
                            kDegreesToRadians);
}

struct Yaw {
  float qw, qz;
};

inline Yaw yaw_quaternion(float theta) {
  const double h = static_cast<double>(theta * 0.5f);
  double s = 0, c = 0;
  ::sincos(h, &s, &c);
  return Yaw{static_cast<float>(c), static_cast<float>(s)};
}

// Geometric distribution between min_scale and max_scale.
inline float scale_factor(float min_scale, float max_scale, std::uint32_t hash) {
  if (min_scale == max_scale) return max_scale;
  return static_cast<float>(static_cast<double>(min_scale) *
                            std::pow(static_cast<double>(max_scale / min_scale), fraction(hash)));
}

// The mesh scaled, turned counter-clockwise by theta and moved to (px, py):
// per point, sx = x * scale, sy = y * scale, wx = (c * sx - s * sy) + px and
// wy = (s * sx + c * sy) + py in single precision, with s and c from one
// sincosf(theta). The points are independent, so they are worked four at a
// time where the CPU allows; the box is the same (a zero extent may come
// out as -0 instead of +0, which compares equal everywhere it is used).
Box object_box(const std::vector<common::Vector3>& mesh, float theta, float scale, float px, float py);

// Whether `box` overlaps any of `boxes`. Which one does not matter, so the
// scan evaluates all four tests per box without branching on each.
inline bool overlaps_any(const Box& box, std::span<const Box> boxes) {
  for (const Box& b : boxes) {
    const bool apart = (b.min_x > box.max_x) | (box.min_x > b.max_x) | (b.min_y > box.max_y) |
                       (box.min_y > b.max_y);
    if (!apart) return true;
  }
  return false;
}

// The boxes of the objects accepted so far, in acceptance order, stored by
// coordinate in groups of four: every later candidate is tested against all
// of them, and four such tests fit one vector comparison.
class AcceptedBoxes {
 public:
  AcceptedBoxes() { quads_.reserve(16); }  // room for the boxes of a typical landblock

  void push_back(const Box& b) {
    if (count_ % 4 == 0) quads_.emplace_back();
    Quad& q = quads_.back();
    const std::size_t k = count_ % 4;
    q.min_x[k] = b.min_x;
    q.min_y[k] = b.min_y;
    q.max_x[k] = b.max_x;
    q.max_y[k] = b.max_y;
    ++count_;
  }
  std::size_t size() const { return count_; }
  Box operator[](std::size_t i) const {
    const Quad& q = quads_[i / 4];
    const std::size_t k = i % 4;
    return Box{q.min_x[k], q.min_y[k], q.max_x[k], q.max_y[k]};
  }

  // Whether `box` overlaps any of the boxes, by the same four comparisons
  // as overlaps().
  bool overlaps_any(const Box& box) const;

 private:
  struct Quad {
    float min_x[4], min_y[4], max_x[4], max_y[4];
  };
  std::vector<Quad> quads_;
  std::size_t count_ = 0;
};

// Buildings first, then the objects accepted so far.
inline bool collides(const Box& box, std::span<const Box> buildings, const AcceptedBoxes& accepted) {
  return overlaps_any(box, buildings) || accepted.overlaps_any(box);
}

// The look-up may hand out the descriptor list itself or a whole scene.
inline std::vector<dat::ObjectDesc>& objects_of(std::vector<dat::ObjectDesc>& objects) {
  return objects;
}
inline std::vector<dat::ObjectDesc>& objects_of(dat::Scene& scene) { return scene.objects; }

}  // namespace placement_steps

// Places the scenery of the landblock with base id `lb_base` (0xXXYY0000).
//
// scene_lookup(scene_id) returns an optional descriptor list (or scene) the
// call may own; or, when it accepts it, scene_lookup(scene_id, objects)
// copies the scene's descriptors into the call's own list `objects` and
// returns whether the scene exists, which spares an allocation per vertex.
// mesh_lookup(obj_id) returns a footprint point list pointer that stays
// valid until the next mesh look-up, or nullptr. Missing or out-of-range
// data skips a vertex or an object; the call never fails.
template <class SceneLookup, class MeshLookup>
std::vector<Placement> bake_landblock_impl(const dat::Region& region,
                                           const dat::CellLandblock& landblock,
                                           std::uint32_t lb_base, SceneLookup&& scene_lookup,
                                           MeshLookup&& mesh_lookup, std::span<const Box> buildings,
                                           BakeMode mode) {
  namespace st = placement_steps;
  std::vector<Placement> placements;
  if (!region.scene.has_value()) return placements;
  const auto& scene_types = region.scene->scene_types;
  const auto& terrain_types = region.terrain.terrain_types;

  const HeightGrid grid = vertex_heights(region, landblock);
  const std::uint32_t base_x = (lb_base >> 24) * 8;
  const std::uint32_t base_y = ((lb_base >> 16) & 0xFFu) * 8;
  const std::uint32_t landblock_id = lb_base >> 16;

  st::AcceptedBoxes accepted;
  std::vector<dat::ObjectDesc> objects;  // the current vertex's scene, this call's copy

  for (std::size_t i = 0; i < landblock.terrain.size(); ++i) {
    const std::uint16_t word = landblock.terrain[i];
    const std::size_t t = (word >> 2) & 0x1Fu;
    const std::size_t s = word >> 11;
    if (t >= terrain_types.size()) continue;
    const auto& indices = terrain_types[t].scene_type_indices;
    if (s >= indices.size()) continue;
    const std::size_t k = indices[s];
    if (k >= scene_types.size()) continue;
    const auto& scene_ids = scene_types[k].scene_ids;
    if (scene_ids.empty()) continue;

    const std::uint32_t x = static_cast<std::uint32_t>(i / 9);
    const std::uint32_t y = static_cast<std::uint32_t>(i % 9);
    const std::uint32_t X = base_x + x;
    const std::uint32_t Y = base_y + y;

    const std::uint32_t scene_id = scene_ids[st::scene_index(scene_ids.size(), X, Y)];
    if constexpr (std::is_invocable_v<SceneLookup&, std::uint32_t, std::vector<dat::ObjectDesc>&>) {
      if (!scene_lookup(scene_id, objects)) continue;
    } else {
      auto scene = scene_lookup(scene_id);
      if (!scene.has_value()) continue;
      objects = std::move(st::objects_of(*scene));
    }
    if (objects.empty()) continue;

    const st::VertexHashes vh = st::vertex_hashes(X, Y);
    const float ox = static_cast<float>(x * 24);
    const float oy = static_cast<float>(y * 24);

    for (std::size_t idx = 0; idx < objects.size(); ++idx) {
      const dat::ObjectDesc& d = objects[idx];
      const std::uint32_t n = static_cast<std::uint32_t>(idx);
      if (!st::passes_frequency(d, vh)) continue;
      if (d.exclude != 0) continue;

      const float dx = st::displaced(d.base_frame.origin.x, d.displace_x,
                                     object_hash(n, kSaltDisplaceX, vh.M, vh.H));
      const float dy = st::displaced(d.base_frame.origin.y, d.displace_y,
                                     object_hash(n, kSaltDisplaceY, vh.M, vh.H));
      const st::Offset off = st::quadrant_turn(vh.q, dx, dy);
      const float px = off.u + ox;
      const float py = off.v + oy;
      if (st::out_of_bounds(px, py)) continue;
      if (st::on_road(landblock.terrain, px, py)) continue;

      if (mode == BakeMode::Strict) {
        const float nz = normal_z_at(grid, px, py);
        if (d.min_slope > nz || nz > d.max_slope) continue;
      }

      const float theta =
          st::rotation_angle(d.max_rotation, object_hash(n, kSaltRotation, vh.M, vh.H));
      const float scale =
          st::scale_factor(d.min_scale, d.max_scale, object_hash(n, kSaltScale, vh.M, vh.H));

      const std::vector<common::Vector3>* mesh = mesh_lookup(d.obj_id);
      if (mesh == nullptr) continue;
      const Box box = st::object_box(*mesh, theta, scale, px, py);
      if (st::collides(box, buildings, accepted)) continue;

      // The height and the quaternion are pure functions of values fixed
      // above, so they are computed only for the objects that stay.
      const float z = mode == BakeMode::Strict
                          ? bilinear_height_from_grid(grid, px, py)
                          : triangle_plane_height_from_grid(grid, landblock_id, px, py);
      const st::Yaw yaw = st::yaw_quaternion(theta);
      accepted.push_back(box);
      placements.push_back(Placement{d.obj_id, px, py, z, yaw.qw, 0.0f, 0.0f, yaw.qz, scale, x, y, n});
    }
  }
  return placements;
}

}  // namespace strewmill::engine
