#include "lib/dat/gfx_obj.h"

#include "lib/dat/geometry_read.h"
#include "lib/dat/primitives.h"

namespace strewmill::dat {

using common::Vector3;

namespace {

constexpr std::uint64_t kVec2DuvSize = 8;

// uvs of one vertex; the count is at most 65535, and storage is reserved
// only when the remaining bytes could hold it.
DecodeResult<std::vector<Vec2Duv>> read_uvs(Cursor& cur, std::uint16_t count) {
  std::vector<Vec2Duv> uvs;
  if (cur.can_hold(count, kVec2DuvSize)) uvs.reserve(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const Vec2Duv uv, Vec2Duv::read(cur));
    uvs.push_back(uv);
  }
  return uvs;
}

common::Result<void, DecodeError> read_indices(Cursor& cur, std::uint8_t count,
                                               std::vector<std::uint8_t>& out) {
  TRY_ASSIGN(const auto bytes, cur.bytes(count));
  out.assign(bytes.begin(), bytes.end());
  return {};
}

// A packed count, then polygon id and Polygon pairs.
DecodeResult<std::unordered_map<PolyId, Polygon>> read_polygons(Cursor& cur) {
  TRY_ASSIGN(const std::uint32_t count, read_compressed_u32(cur));
  std::unordered_map<PolyId, Polygon> map;
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const PolyId id, cur.u16());
    TRY_ASSIGN(Polygon poly, Polygon::read(cur));
    map.insert_or_assign(id, std::move(poly));
  }
  return map;
}

}  // namespace

DecodeResult<Vec2Duv> Vec2Duv::read(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const float u, cur, start, cur.f32(), "u", "Vec2Duv");
  DAT_FIELD(const float v, cur, start, cur.f32(), "v", "Vec2Duv");
  return Vec2Duv{u, v};
}

DecodeResult<SWVertex> SWVertex::read(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const std::uint16_t num_uvs, cur, start, cur.u16(), "num_uvs", "SWVertex");
  DAT_FIELD(const Vector3 origin, cur, start, read_vector3(cur), "origin", "SWVertex");
  DAT_FIELD(const Vector3 normal, cur, start, read_vector3(cur), "normal", "SWVertex");
  DAT_FIELD(std::vector<Vec2Duv> uvs, cur, start, read_uvs(cur, num_uvs), "uvs", "SWVertex");
  return SWVertex{num_uvs, origin, normal, std::move(uvs)};
}

DecodeResult<CVertexArray> CVertexArray::read(Cursor& cur) {
  CVertexArray array;
  TRY_ASSIGN(array.vertex_type, cur.u32());
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  // Only type 1 stores vertices; for any other type the count means nothing.
  if (array.vertex_type != 1) return array;
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const PolyId id, cur.u16());
    TRY_ASSIGN(SWVertex v, SWVertex::read(cur));
    array.vertices.insert_or_assign(id, std::move(v));
  }
  return array;
}

DecodeResult<Polygon> Polygon::read(Cursor& cur) {
  Polygon p;
  TRY_ASSIGN(p.num_vertices, cur.u8());
  TRY_ASSIGN(p.poly_flags, cur.u8());
  TRY_ASSIGN(p.sides, cur.u32());
  TRY_ASSIGN(p.front_surface, cur.u16());
  TRY_ASSIGN(p.back_surface, cur.u16());
  p.vertex_ids.reserve(p.num_vertices);
  for (std::uint8_t i = 0; i < p.num_vertices; ++i) {
    TRY_ASSIGN(const PolyId id, cur.u16());
    p.vertex_ids.push_back(id);
  }
  if ((p.poly_flags & 4) == 0) {
    TRY(read_indices(cur, p.num_vertices, p.front_uv_indices));
  }
  if ((p.poly_flags & 8) == 0 && p.sides == 2) {
    TRY(read_indices(cur, p.num_vertices, p.back_uv_indices));
  }
  return p;
}

DecodeResult<GfxObj> GfxObj::unpack(Cursor& cur) {
  GfxObj g;
  TRY_ASSIGN(g.id, cur.u32());
  TRY_ASSIGN(g.flags, cur.u32());
  TRY_ASSIGN(g.surfaces, read_smart_vec(cur));
  TRY_ASSIGN(g.vertex_array, CVertexArray::read(cur));
  if ((g.flags & 1) != 0) {
    TRY_ASSIGN(g.physics_polygons, read_polygons(cur));
    TRY_ASSIGN(g.physics_bsp, BspNode::read(cur, BspTreeType::physics));
  }
  TRY_ASSIGN(g.reference_point, read_vector3(cur));
  if ((g.flags & 2) != 0) {
    TRY_ASSIGN(g.drawing_polygons, read_polygons(cur));
    TRY_ASSIGN(g.drawing_bsp, BspNode::read(cur, BspTreeType::drawing));
  }
  if ((g.flags & 8) != 0) {
    TRY_ASSIGN(g.trailing_id, cur.u32());
  }
  return g;
}

}  // namespace strewmill::dat
