// The graphics object record: one mesh with its surfaces, vertices,
// polygon sets and the BSP trees that follow them.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/bsp.h"
#include "lib/dat/cursor.h"

namespace strewmill::dat {

struct Vec2Duv {
  float u = 0;
  float v = 0;
  bool operator==(const Vec2Duv&) const = default;
  static DecodeResult<Vec2Duv> read(Cursor& cur);
};

struct SWVertex {
  std::uint16_t num_uvs = 0;
  common::Vector3 origin;  // position in the object's local coordinates
  common::Vector3 normal;
  std::vector<Vec2Duv> uvs;  // exactly num_uvs entries
  bool operator==(const SWVertex&) const = default;
  static DecodeResult<SWVertex> read(Cursor& cur);
};

struct CVertexArray {
  std::uint32_t vertex_type = 0;  // only type 1 carries vertices
  std::unordered_map<PolyId, SWVertex> vertices;
  bool operator==(const CVertexArray&) const = default;
  static DecodeResult<CVertexArray> read(Cursor& cur);
};

struct Polygon {
  std::uint8_t num_vertices = 0;
  // Bit 2: no front uv indices. Bit 3: no back uv indices.
  std::uint8_t poly_flags = 0;
  std::uint32_t sides = 0;  // 2 allows back uv indices
  PolyId front_surface = 0;
  PolyId back_surface = 0;
  std::vector<PolyId> vertex_ids;
  std::vector<std::uint8_t> front_uv_indices;  // num_vertices long or empty
  std::vector<std::uint8_t> back_uv_indices;   // num_vertices long or empty
  bool operator==(const Polygon&) const = default;
  static DecodeResult<Polygon> read(Cursor& cur);
};

struct GfxObj {
  std::uint32_t id = 0;
  // Bit 0: physics polygons and tree. Bit 1: drawing polygons and tree.
  // Bit 3: trailing_id.
  std::uint32_t flags = 0;
  std::vector<std::uint32_t> surfaces;
  CVertexArray vertex_array;
  std::unordered_map<PolyId, Polygon> physics_polygons;
  std::optional<BspNode> physics_bsp;  // tree type physics
  common::Vector3 reference_point;
  std::unordered_map<PolyId, Polygon> drawing_polygons;
  std::optional<BspNode> drawing_bsp;  // tree type drawing
  std::optional<std::uint32_t> trailing_id;  // a stored 0 is present

  bool operator==(const GfxObj&) const = default;

  static DecodeResult<GfxObj> unpack(Cursor& cur);
};

}  // namespace strewmill::dat
