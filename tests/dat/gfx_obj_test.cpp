#include "lib/dat/gfx_obj.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/dat/contexts.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/object_records.h"

namespace strewmill::dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using common::Sphere;
using common::Vector3;
using tools::ByteWriter;

DecodeResult<GfxObj> unpack(std::span<const std::uint8_t> bytes) {
  Cursor cur(bytes);
  return GfxObj::unpack(cur);
}

// Type codes go to disk last character first.
void code(ByteWriter& w, const char (&c)[5]) { w.u8(c[3]).u8(c[2]).u8(c[1]).u8(c[0]); }

std::unique_ptr<BspNode> node(BspNode n) { return std::make_unique<BspNode>(std::move(n)); }

BspNode physics_tree() {
  InternalNode root;
  root.node_type = bsp_code("BPIN");
  root.splitting_plane = {{0, 0, 1}, -2};
  root.bounding_sphere = Sphere{{1, 2, 3}, 4};
  root.pos_child = node(BspLeaf{3, 9, Sphere{{0, 0, 0}, 1}, {1, 2}});
  BspPortal portal;
  portal.splitting_plane = {{1, 0, 0}, 5};
  portal.pos_child = node(BspLeaf{4, 0, Sphere{}, {}});
  portal.neg_child = node(BspLeaf{5, 1, Sphere{{2, 2, 2}, 2}, {0x8000}});
  root.neg_child = node(std::move(portal));
  return BspNode(std::move(root));
}

BspNode drawing_tree() {
  InternalNode root;
  root.node_type = bsp_code("BpnN");
  root.splitting_plane = {{0, 1, 0}, 1};
  root.bounding_sphere = Sphere{{5, 6, 7}, 8};
  root.poly_ids = {5, 6};
  BspPortal portal;
  portal.splitting_plane = {{0, 0, -1}, 0};
  portal.pos_child = node(BspLeaf{6, 0, std::nullopt, {}});
  portal.neg_child = node(BspLeaf{7, 0, std::nullopt, {}});
  portal.bounding_sphere = Sphere{{1, 1, 1}, 1};
  portal.poly_ids = {6};
  portal.portal_polys = {{1, 5}, {2, 6}};
  root.neg_child = node(std::move(portal));
  return BspNode(std::move(root));
}

Polygon polygon(std::uint8_t n, std::uint8_t flags, std::uint32_t sides) {
  Polygon p{n, flags, sides, 0x11, 0x22, {}, {}, {}};
  for (std::uint8_t i = 0; i < n; ++i) p.vertex_ids.push_back(static_cast<PolyId>(i * 7));
  if ((flags & 4) == 0) p.front_uv_indices.assign(n, 1);
  if ((flags & 8) == 0 && sides == 2) p.back_uv_indices.assign(n, 2);
  return p;
}

// Every optional part: both polygon sets and trees, a trailing id of 0,
// vertices with and without uvs.
GfxObj full_gfx() {
  GfxObj g;
  g.id = 0x01000123;
  g.flags = 1 | 2 | 8 | 0x40;
  g.surfaces = {0x08000001, 0x08000002, 0x08000003};
  g.vertex_array.vertex_type = 1;
  g.vertex_array.vertices = {
      {0, {0, {1, 2, 3}, {0, 0, 1}, {}}},
      {7, {2, {-1, -2, -3}, {0, 1, 0}, {{0.5f, 0.25f}, {1, 0}}}},
      {0xFFFF, {1, {9, 9, 9}, {1, 0, 0}, {{0.125f, 2}}}},
  };
  g.physics_polygons = {{1, polygon(3, 0, 2)}, {2, polygon(4, 4, 1)}, {0x8000, polygon(0, 0, 2)}};
  g.physics_bsp = physics_tree();
  g.reference_point = {0.5f, -0.5f, 10};
  g.drawing_polygons = {{5, polygon(3, 8, 2)}, {6, polygon(5, 12, 2)}, {7, polygon(2, 4, 2)}};
  g.drawing_bsp = drawing_tree();
  g.trailing_id = 0;
  return g;
}

TEST(GfxObj, RoundTripsEveryPart) {
  const GfxObj g = full_gfx();
  const Bytes bytes = tools::encode_gfx_obj(g);
  Cursor cur(bytes);
  auto r = GfxObj::unpack(cur);
  ASSERT_TRUE(r) << r.error().render();
  EXPECT_TRUE(*r == g);
  EXPECT_EQ(cur.position(), bytes.size());
  EXPECT_EQ(r->trailing_id, 0u);  // a stored 0 is present

  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(unpack(std::span(bytes).first(n))) << "length " << n;
  }
}

TEST(GfxObj, FlagsSelectPolygonSetsTreesAndTrailingId) {
  for (const std::uint32_t flags : {0u, 1u, 2u, 3u, 4u, 8u, 11u, 0xFFFFFFF4u}) {
    ByteWriter w;
    w.u32(0x01000001).u32(flags).u8(1).u32(0x08000001);  // one surface
    w.u32(1).u32(0);                                     // no vertices
    if (flags & 1) {
      w.u8(0);
      code(w, "LEAF");
      w.u32(1).u32(2).sphere({{1, 1, 1}, 1}).u32(0);  // physics leaf, 32 bytes
    }
    w.vector3({1, 2, 3});
    if (flags & 2) {
      w.u8(0);
      code(w, "LEAF");
      w.u32(4);  // drawing leaf, 8 bytes
    }
    if (flags & 8) w.u32(0);
    const std::size_t used = w.size();
    w.u32(0xEEEEEEEE);  // ignored

    Cursor cur(w.bytes());
    auto r = GfxObj::unpack(cur);
    ASSERT_TRUE(r) << "flags " << flags << ": " << r.error().render();
    EXPECT_EQ(cur.position(), used) << "flags " << flags;
    EXPECT_EQ(r->surfaces, (std::vector<std::uint32_t>{0x08000001}));
    EXPECT_EQ(r->reference_point, (Vector3{1, 2, 3})) << "flags " << flags;
    EXPECT_EQ(r->physics_bsp.has_value(), (flags & 1) != 0) << "flags " << flags;
    EXPECT_EQ(r->drawing_bsp.has_value(), (flags & 2) != 0) << "flags " << flags;
    EXPECT_EQ(r->trailing_id.has_value(), (flags & 8) != 0) << "flags " << flags;
    if (r->physics_bsp) {
      EXPECT_EQ(r->physics_bsp->leaf()->leaf_value, 2u);
    }
    if (r->drawing_bsp) {
      EXPECT_EQ(r->drawing_bsp->leaf()->leaf_index, 4u);
    }
  }
}

TEST(GfxObj, VertexArrayReadsVerticesOnlyForTypeOne) {
  for (const std::uint32_t type : {0u, 2u, 0xFFFFFFFFu}) {
    ByteWriter w;
    w.u32(type).u32(5).zeros(64);
    Cursor cur(w.bytes());
    auto r = CVertexArray::read(cur);
    ASSERT_TRUE(r);
    EXPECT_EQ(cur.position(), 8u) << "type " << type;
    EXPECT_TRUE(r->vertices.empty());
  }

  // A vertex without uvs is 28 bytes with its id; a repeated id keeps the
  // later vertex.
  ByteWriter w;
  w.u32(1).u32(3);
  w.u16(4).u16(0).vector3({1, 1, 1}).vector3({0, 0, 1});
  const std::size_t first = w.size() - 8;
  w.u16(9).u16(1).vector3({2, 2, 2}).vector3({0, 1, 0}).f32(0.5f).f32(0.75f);
  w.u16(4).u16(0).vector3({3, 3, 3}).vector3({1, 0, 0});
  ASSERT_EQ(first, 28u);
  Cursor cur(w.bytes());
  auto r = CVertexArray::read(cur);
  ASSERT_TRUE(r) << r.error().render();
  EXPECT_EQ(cur.position(), w.size());
  ASSERT_EQ(r->vertices.size(), 2u);
  EXPECT_EQ(r->vertices.at(4).origin, (Vector3{3, 3, 3}));
  EXPECT_EQ(r->vertices.at(9), (SWVertex{1, {2, 2, 2}, {0, 1, 0}, {{0.5f, 0.75f}}}));
}

TEST(GfxObj, PolygonIndexListsFollowFlagsAndSides) {
  struct Case {
    std::uint8_t n, flags;
    std::uint32_t sides;
    std::size_t size, front, back;
  };
  const Case cases[] = {
      {3, 0, 2, 22, 3, 3},  {3, 8, 2, 19, 3, 0},  {3, 12, 2, 16, 0, 0}, {3, 4, 2, 19, 0, 3},
      {3, 0, 1, 19, 3, 0},  {3, 4, 1, 16, 0, 0},  {3, 0, 0x102, 19, 3, 0},
      {0, 0, 2, 10, 0, 0},  {255, 0, 2, 1030, 255, 255},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    w.u8(c.n).u8(c.flags).u32(c.sides).u16(0xAAAA).u16(0xBBBB);
    for (int i = 0; i < c.n; ++i) w.u16(static_cast<std::uint16_t>(i));
    w.zeros(2 * c.n).u32(0xFFFFFFFF);  // room for every index, then more
    Cursor cur(w.bytes());
    auto r = Polygon::read(cur);
    const std::string name = "n " + std::to_string(c.n) + " flags " + std::to_string(c.flags) +
                             " sides " + std::to_string(c.sides);
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(cur.position(), c.size) << name;
    EXPECT_EQ(r->vertex_ids.size(), c.n) << name;
    EXPECT_EQ(r->front_uv_indices.size(), c.front) << name;
    EXPECT_EQ(r->back_uv_indices.size(), c.back) << name;
    EXPECT_EQ(r->front_surface, 0xAAAA) << name;
    EXPECT_EQ(r->back_surface, 0xBBBB) << name;
  }
}

TEST(GfxObj, PolygonCountIsPackedAndRepeatedIdsKeepTheLater) {
  ByteWriter w;
  w.u32(0x01000002).u32(1).u8(0).u32(0).u32(0);
  w.u8(0x80).u8(0x05);  // 5 in the two-byte form
  for (std::uint16_t id : {1, 2, 3, 2, 4}) {
    w.u16(id).u8(0).u8(0).u32(static_cast<std::uint32_t>(id) * 10).u16(0).u16(0);
  }
  code(w, "LEAF");
  w.u32(0).u32(0).zeros(16).u32(0);
  w.vector3({});
  auto r = unpack(w.bytes());
  ASSERT_TRUE(r) << r.error().render();
  ASSERT_EQ(r->physics_polygons.size(), 4u);
  EXPECT_EQ(r->physics_polygons.at(2).sides, 20u);
}

// The record up to its vertex list, holding `count` vertices.
void head(ByteWriter& w, std::uint32_t flags = 0, std::uint32_t count = 1) {
  w.u32(0x01000003).u32(flags).u8(0).u32(1).u32(count);
}

TEST(GfxObj, TruncationsFailWithEndOfDataAndTheFieldContexts) {
  struct Case {
    std::string name;
    std::function<void(ByteWriter&)> build;
    std::vector<std::string> contexts;
  };
  const std::string uvs = "While parsing field 'uvs' in SWVertex";
  const Case cases[] = {
      {"surface word", [](ByteWriter& w) { w.u32(1).u32(0).u8(2).u32(1).zeros(3); }, {}},
      {"vertex count", [](ByteWriter& w) { w.u32(1).u32(0).u8(0).u32(1).zeros(3); }, {}},
      {"vertex id", [](ByteWriter& w) { head(w); w.u8(0); }, {}},
      {"num_uvs", [](ByteWriter& w) { head(w); w.u16(0).u8(0); },
       {"While parsing field 'num_uvs' in SWVertex"}},
      {"origin", [](ByteWriter& w) { head(w); w.u16(0).u16(0).zeros(5); },
       {"While parsing field 'y' in Vector3", "While parsing field 'origin' in SWVertex"}},
      {"normal", [](ByteWriter& w) { head(w); w.u16(0).u16(0).zeros(12 + 10); },
       {"While parsing field 'z' in Vector3", "While parsing field 'normal' in SWVertex"}},
      {"first uv", [](ByteWriter& w) { head(w); w.u16(0).u16(2).zeros(24); },
       {"While parsing field 'u' in Vec2Duv", uvs}},
      {"second uv's v", [](ByteWriter& w) { head(w); w.u16(0).u16(2).zeros(24 + 8 + 4); },
       {"While parsing field 'v' in Vec2Duv", uvs}},
      {"polygon vertex ids",
       [](ByteWriter& w) { head(w, 1, 0); w.u8(1).u16(0).u8(3).u8(0).u32(2).u32(0).zeros(5); },
       {}},
      {"polygon back indices",
       [](ByteWriter& w) {
         head(w, 1, 0);
         w.u8(1).u16(0).u8(2).u8(0).u32(2).u32(0).zeros(4).u8(0).u8(0).u8(0);
       },
       {}},
      {"physics tree plane",
       [](ByteWriter& w) { head(w, 1, 0); w.u8(0); code(w, "BPIN"); w.zeros(14); },
       {"While parsing field 'd' in Plane"}},
      {"reference point", [](ByteWriter& w) { head(w, 0, 0); w.zeros(11); },
       {"While parsing field 'z' in Vector3"}},
      {"drawing tree sphere, after all vertices",
       [](ByteWriter& w) {
         head(w, 2, 1);
         w.u16(0).u16(0).zeros(24).vector3({});
         w.u8(0);
         code(w, "XXXX");
         w.zeros(16 + 13);
       },
       {"While parsing field 'radius' in Sphere"}},
      {"trailing id", [](ByteWriter& w) { head(w, 8, 0); w.zeros(12 + 3); }, {}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    auto r = unpack(w.bytes());
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
  }
}

TEST(GfxObj, HostileCountsEndAtTheDataNotInAReservation) {
  struct Case {
    std::string name;
    std::function<void(ByteWriter&)> build;
    std::vector<std::string> contexts;
  };
  const Case cases[] = {
      {"surface count", [](ByteWriter& w) { w.u32(1).u32(0).u8(0xFF).u8(0xFF).u16(0xFFFF); }, {}},
      {"vertex count",
       [](ByteWriter& w) { head(w, 0, 0xFFFFFFFF); w.u16(0).u16(0).zeros(24).u8(0); }, {}},
      {"uv count",
       [](ByteWriter& w) { head(w); w.u16(0).u16(0xFFFF).zeros(24 + 8); },
       {"While parsing field 'u' in Vec2Duv", "While parsing field 'uvs' in SWVertex"}},
      {"polygon count",
       [](ByteWriter& w) { head(w, 1, 0); w.u8(0xFF).u8(0xFF).u16(0xFFFF).u16(1).zeros(10); }, {}},
      {"leaf polygon ids",
       [](ByteWriter& w) {
         head(w, 1, 0);
         w.u8(0);
         code(w, "LEAF");
         w.u32(0).u32(0).zeros(16).u32(0xFFFFFFFF).u16(1);
       },
       {}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    auto r = unpack(w.bytes());
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
  }
}

}  // namespace
}  // namespace strewmill::dat
