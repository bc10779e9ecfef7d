#include "tools/writer/object_records.h"

#include <array>

namespace strewmill::tools {

using dat::BspNode;
using dat::BspTreeType;
using dat::bsp_code;

namespace {

const common::Sphere kNoSphere{};

void write_poly_ids(ByteWriter& w, const std::vector<dat::PolyId>& ids) {
  for (const dat::PolyId id : ids) w.u16(id);
}

// Codes are held with the first character in the low byte and stored with
// it in the high byte of the little-endian word.
void write_code(ByteWriter& w, std::uint32_t code) {
  w.u32((code >> 24) | ((code >> 8) & 0xFF00u) | ((code << 8) & 0xFF0000u) | (code << 24));
}

void write_leaf(ByteWriter& w, const dat::BspLeaf& leaf, BspTreeType tree_type) {
  write_code(w, bsp_code("LEAF"));
  w.u32(leaf.leaf_index);
  if (tree_type != BspTreeType::physics) return;
  w.u32(leaf.leaf_value);
  w.sphere(leaf.bounding_sphere.value_or(kNoSphere));
  w.u32(static_cast<std::uint32_t>(leaf.poly_ids.size()));
  write_poly_ids(w, leaf.poly_ids);
}

void write_tail(ByteWriter& w, const BspNode& node, BspTreeType tree_type) {
  if (const auto* n = node.internal()) {
    if (tree_type == BspTreeType::cell) return;
    w.sphere(n->bounding_sphere.value_or(kNoSphere));
    if (tree_type == BspTreeType::physics) return;
    w.u32(static_cast<std::uint32_t>(n->poly_ids.size()));
    write_poly_ids(w, n->poly_ids);
  } else if (const auto* p = node.portal()) {
    if (tree_type != BspTreeType::drawing) return;
    w.sphere(p->bounding_sphere.value_or(kNoSphere));
    w.u32(static_cast<std::uint32_t>(p->poly_ids.size()));
    w.u32(static_cast<std::uint32_t>(p->portal_polys.size()));
    write_poly_ids(w, p->poly_ids);
    for (const dat::PortalPoly& pp : p->portal_polys) w.u16(pp.portal_index).u16(pp.poly_id);
  }
}

// A node in the middle of being written: its head is out, `children` are
// the subtrees still due (null slots become empty leaves).
struct Item {
  const BspNode* node;
  std::array<const BspNode*, 2> children{};
  std::uint8_t count = 0;
  std::uint8_t next = 0;
};

// Writes the part before the children and lists the children to write.
Item write_head(ByteWriter& w, const BspNode& node, BspTreeType tree_type) {
  Item item{&node};
  if (const auto* leaf = node.leaf()) {
    write_leaf(w, *leaf, tree_type);
  } else if (const auto* p = node.portal()) {
    write_code(w, bsp_code("PORT"));
    w.plane(p->splitting_plane);
    item.children = {p->pos_child.get(), p->neg_child.get()};
    item.count = 2;
  } else {
    const auto& n = *node.internal();
    write_code(w, n.node_type);
    w.plane(n.splitting_plane);
    const std::uint32_t c = n.node_type;
    const bool pos = c == bsp_code("BPIN") || c == bsp_code("BPnN") || c == bsp_code("BPIn") ||
                     c == bsp_code("BPnn");
    const bool neg = c == bsp_code("BPIN") || c == bsp_code("BPnN") || c == bsp_code("BpIN") ||
                     c == bsp_code("BpnN");
    if (pos) item.children[item.count++] = n.pos_child.get();
    if (neg) item.children[item.count++] = n.neg_child.get();
  }
  return item;
}

}  // namespace

void encode_bsp_node(ByteWriter& w, const BspNode& root, BspTreeType tree_type) {
  std::vector<Item> stack;
  stack.push_back(write_head(w, root, tree_type));
  while (!stack.empty()) {
    Item& top = stack.back();
    if (top.next < top.count) {
      const BspNode* child = top.children[top.next++];
      if (child == nullptr) {
        write_leaf(w, dat::BspLeaf{}, tree_type);
      } else {
        stack.push_back(write_head(w, *child, tree_type));
      }
      continue;
    }
    write_tail(w, *top.node, tree_type);
    stack.pop_back();
  }
}

void encode_animation_hook(ByteWriter& w, const dat::AnimationHook& h) {
  w.u32(h.hook_type).u32(h.hook_param).append(h.payload);
}

void encode_placement_type(ByteWriter& w, const dat::PlacementType& p) {
  for (const common::Frame& f : p.frames) w.frame(f);
  w.u32(static_cast<std::uint32_t>(p.hooks.size()));
  for (const dat::AnimationHook& h : p.hooks) encode_animation_hook(w, h);
}

void encode_setup_model(ByteWriter& w, const dat::SetupModel& m) {
  w.u32(m.id).u32(m.flags).u32(static_cast<std::uint32_t>(m.part_ids.size()));
  for (const std::uint32_t id : m.part_ids) w.u32(id);
  if ((m.flags & 1) != 0) {
    for (const std::uint32_t v : m.part_values) w.u32(v);
  }
  if ((m.flags & 2) != 0) {
    for (const common::Vector3& v : m.part_vectors) w.vector3(v);
  }
  for (const auto* locations : {&m.locations_1, &m.locations_2}) {
    w.u32(static_cast<std::uint32_t>(locations->size()));
    for (const auto& [key, loc] : *locations) w.u32(key).u32(loc.part_id).frame(loc.frame);
  }
  w.i32(static_cast<std::int32_t>(m.placements.size()));
  for (const auto& [key, p] : m.placements) {
    w.u32(key);
    encode_placement_type(w, p);
  }
  w.u32(static_cast<std::uint32_t>(m.cyl_spheres.size()));
  for (const dat::CylSphere& c : m.cyl_spheres) w.vector3(c.origin).f32(c.radius).f32(c.height);
  w.u32(static_cast<std::uint32_t>(m.spheres.size()));
  for (const common::Sphere& s : m.spheres) w.sphere(s);
  w.u32(m.scalar_1).u32(m.scalar_2).u32(m.scalar_3).u32(m.scalar_4);
  w.sphere(m.sphere_1).sphere(m.sphere_2);
  w.u32(static_cast<std::uint32_t>(m.lights.size()));
  for (const auto& [key, l] : m.lights) {
    w.u32(key).frame(l.viewer_space_location).u32(l.color);
    w.f32(l.intensity).f32(l.falloff).f32(l.cone_angle);
  }
  for (const auto* id : {&m.optional_id_1, &m.default_script_id, &m.optional_id_3,
                         &m.optional_id_4, &m.optional_id_5}) {
    w.u32(id->value_or(0));
  }
}

std::vector<std::uint8_t> encode_setup_model(const dat::SetupModel& m) {
  ByteWriter w;
  encode_setup_model(w, m);
  return w.take();
}

void encode_vertex_array(ByteWriter& w, const dat::CVertexArray& a) {
  w.u32(a.vertex_type).u32(static_cast<std::uint32_t>(a.vertices.size()));
  if (a.vertex_type != 1) return;
  for (const auto& [id, v] : a.vertices) {
    w.u16(id).u16(v.num_uvs).vector3(v.origin).vector3(v.normal);
    for (const dat::Vec2Duv& uv : v.uvs) w.f32(uv.u).f32(uv.v);
  }
}

void encode_polygon(ByteWriter& w, const dat::Polygon& p) {
  w.u8(p.num_vertices).u8(p.poly_flags).u32(p.sides).u16(p.front_surface).u16(p.back_surface);
  write_poly_ids(w, p.vertex_ids);
  if ((p.poly_flags & 4) == 0) w.append(p.front_uv_indices);
  if ((p.poly_flags & 8) == 0 && p.sides == 2) w.append(p.back_uv_indices);
}

namespace {

void write_polygons_and_tree(ByteWriter& w, const std::unordered_map<dat::PolyId, dat::Polygon>& polys,
                             const std::optional<BspNode>& tree, BspTreeType tree_type) {
  w.compressed_u32(static_cast<std::uint32_t>(polys.size()));
  for (const auto& [id, p] : polys) {
    w.u16(id);
    encode_polygon(w, p);
  }
  if (tree) {
    encode_bsp_node(w, *tree, tree_type);
  } else {
    write_leaf(w, dat::BspLeaf{}, tree_type);
  }
}

}  // namespace

void encode_gfx_obj(ByteWriter& w, const dat::GfxObj& g) {
  w.u32(g.id).u32(g.flags).compressed_u32(static_cast<std::uint32_t>(g.surfaces.size()));
  for (const std::uint32_t s : g.surfaces) w.u32(s);
  encode_vertex_array(w, g.vertex_array);
  if ((g.flags & 1) != 0) {
    write_polygons_and_tree(w, g.physics_polygons, g.physics_bsp, BspTreeType::physics);
  }
  w.vector3(g.reference_point);
  if ((g.flags & 2) != 0) {
    write_polygons_and_tree(w, g.drawing_polygons, g.drawing_bsp, BspTreeType::drawing);
  }
  if ((g.flags & 8) != 0) w.u32(g.trailing_id.value_or(0));
}

std::vector<std::uint8_t> encode_gfx_obj(const dat::GfxObj& g) {
  ByteWriter w;
  encode_gfx_obj(w, g);
  return w.take();
}

}  // namespace strewmill::tools
