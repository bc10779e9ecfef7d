// Run-wide caches over the portal archive: scene descriptor lists and object
// footprint meshes. Both remember misses, so each id is fetched and decoded
// at most once per run. Failures are silent: a miss is just "absent".
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "apps/strewmill/id_map.h"
#include "lib/common/geometry.h"
#include "lib/dat/dat_database.h"
#include "lib/dat/scene.h"

namespace strewmill::app {

// Footprint points of one graphics object: the origins of its vertices, in
// the object's own coordinates. Absent when the record is missing, fails to
// decode or has no vertices. Consults no cache.
std::optional<std::vector<common::Vector3>> gfx_local_mesh(const dat::DatDatabase& portal,
                                                           std::uint32_t gfx_id);

class SceneCache {
 public:
  // A copy of the scene (its id and objects) that the caller owns, or
  // nothing when the scene is missing or undecodable.
  std::optional<dat::Scene> lookup(const dat::DatDatabase& portal, std::uint32_t scene_id);

  // The same look-up, copying the objects into the caller's `objects`
  // (whose earlier contents are replaced), so a caller that asks once per
  // vertex can keep one list and its allocation. False, with `objects`
  // left as it was, when the scene is missing or undecodable.
  bool lookup(const dat::DatDatabase& portal, std::uint32_t scene_id,
              std::vector<dat::ObjectDesc>& objects);

  std::size_t size() const { return entries_.size(); }

 private:
  const std::optional<dat::Scene>& entry(const dat::DatDatabase& portal, std::uint32_t scene_id);

  IdMap<std::optional<dat::Scene>> entries_;
};

class MeshCache {
 public:
  // The footprint of a graphics object (0x01......) or setup model
  // (0x02......), never empty; nullptr for anything else or on failure.
  // The pointer stays valid until the next lookup on this cache.
  const std::vector<common::Vector3>* lookup(const dat::DatDatabase& portal, std::uint32_t obj_id);

  std::size_t size() const { return entries_.size(); }

 private:
  IdMap<std::optional<std::vector<common::Vector3>>> entries_;
};

}  // namespace strewmill::app
