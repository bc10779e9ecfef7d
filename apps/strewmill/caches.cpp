#include "apps/strewmill/caches.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "lib/dat/cursor.h"
#include "lib/dat/gfx_obj.h"
#include "lib/dat/setup_model.h"

namespace strewmill::app {

namespace {

std::optional<dat::Scene> fetch_scene(const dat::DatDatabase& portal, std::uint32_t scene_id) {
  auto bytes = portal.get_file(scene_id);
  if (!bytes.ok()) return std::nullopt;
  dat::Cursor cur(bytes.value());
  auto scene = dat::Scene::unpack(cur);
  if (!scene.ok()) return std::nullopt;
  return std::move(scene).value();
}

// Concatenates the part meshes as stored: no part frame is applied.
std::optional<std::vector<common::Vector3>> setup_mesh(const dat::DatDatabase& portal,
                                                       std::uint32_t setup_id) {
  auto bytes = portal.get_file(setup_id);
  if (!bytes.ok()) return std::nullopt;
  dat::Cursor cur(bytes.value());
  auto setup = dat::SetupModel::unpack(cur);
  if (!setup.ok()) return std::nullopt;
  std::vector<common::Vector3> points;
  for (std::uint32_t part_id : setup.value().part_ids) {
    auto part = gfx_local_mesh(portal, part_id);
    if (part.has_value()) points.insert(points.end(), part->begin(), part->end());
  }
  if (points.empty()) return std::nullopt;
  return points;
}

std::optional<std::vector<common::Vector3>> build_mesh(const dat::DatDatabase& portal,
                                                       std::uint32_t obj_id) {
  switch (obj_id >> 24) {
    case 0x01:
      return gfx_local_mesh(portal, obj_id);
    case 0x02:
      return setup_mesh(portal, obj_id);
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<std::vector<common::Vector3>> gfx_local_mesh(const dat::DatDatabase& portal,
                                                           std::uint32_t gfx_id) {
  try {
    auto bytes = portal.get_file(gfx_id);
    if (!bytes.ok()) return std::nullopt;
    dat::Cursor cur(bytes.value());
    auto gfx = dat::GfxObj::unpack(cur);
    if (!gfx.ok()) return std::nullopt;
    const auto& vertices = gfx.value().vertex_array.vertices;
    if (vertices.empty()) return std::nullopt;
    std::vector<common::Vector3> points;
    points.reserve(vertices.size());
    for (const auto& entry : vertices) points.push_back(entry.second.origin);
    return points;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

const std::optional<dat::Scene>& SceneCache::entry(const dat::DatDatabase& portal,
                                                    std::uint32_t scene_id) {
  if (const auto* cached = entries_.find(scene_id)) return *cached;
  std::optional<dat::Scene> scene;
  try {
    scene = fetch_scene(portal, scene_id);
  } catch (const std::bad_alloc&) {
    scene.reset();
  }
  return entries_.insert(scene_id, std::move(scene));
}

std::optional<dat::Scene> SceneCache::lookup(const dat::DatDatabase& portal,
                                             std::uint32_t scene_id) {
  return entry(portal, scene_id);
}

bool SceneCache::lookup(const dat::DatDatabase& portal, std::uint32_t scene_id,
                        std::vector<dat::ObjectDesc>& objects) {
  const std::optional<dat::Scene>& scene = entry(portal, scene_id);
  if (!scene.has_value()) return false;
  objects.assign(scene->objects.begin(), scene->objects.end());
  return true;
}

const std::vector<common::Vector3>* MeshCache::lookup(const dat::DatDatabase& portal,
                                                      std::uint32_t obj_id) {
  const std::optional<std::vector<common::Vector3>>* cached = entries_.find(obj_id);
  if (cached == nullptr) {
    std::optional<std::vector<common::Vector3>> mesh;
    try {
      mesh = build_mesh(portal, obj_id);
    } catch (const std::bad_alloc&) {
      // A setup whose parts add up to more than memory holds: no footprint.
      mesh.reset();
    } catch (const std::length_error&) {
      mesh.reset();
    }
    cached = &entries_.insert(obj_id, std::move(mesh));
  }
  return cached->has_value() ? &**cached : nullptr;
}

}  // namespace strewmill::app
