#include "lib/dat/bsp.h"

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
using common::Plane;
using common::Sphere;
using tools::ByteWriter;

constexpr BspTreeType kDrawing = BspTreeType::drawing;
constexpr BspTreeType kPhysics = BspTreeType::physics;
constexpr BspTreeType kCell = BspTreeType::cell;

// Type codes go to disk last character first.
void code(ByteWriter& w, const char (&c)[5]) { w.u8(c[3]).u8(c[2]).u8(c[1]).u8(c[0]); }

std::unique_ptr<BspNode> own(BspNode n) { return std::make_unique<BspNode>(std::move(n)); }

// Builds nodes holding exactly what the tree type carries, with distinct
// values everywhere.
struct TreeBuilder {
  BspTreeType type;
  std::uint32_t n = 0;

  float next() { return static_cast<float>(++n); }
  Plane plane() { return {{next(), next(), next()}, next()}; }
  Sphere sphere() { return {{next(), next(), next()}, next()}; }

  BspNode leaf() {
    BspLeaf l{++n, 0, std::nullopt, {}};
    if (type == kPhysics) {
      l.leaf_value = ++n;
      l.bounding_sphere = sphere();
      l.poly_ids = {static_cast<PolyId>(++n), 0xFFFF};
    }
    return BspNode(std::move(l));
  }
  BspNode internal(const char (&c)[5], std::unique_ptr<BspNode> pos,
                   std::unique_ptr<BspNode> neg) {
    InternalNode i;
    i.node_type = bsp_code(c);
    i.splitting_plane = plane();
    i.pos_child = std::move(pos);
    i.neg_child = std::move(neg);
    if (type != kCell) i.bounding_sphere = sphere();
    if (type == kDrawing) i.poly_ids = {static_cast<PolyId>(++n), static_cast<PolyId>(++n)};
    return BspNode(std::move(i));
  }
  BspNode portal(std::unique_ptr<BspNode> pos, std::unique_ptr<BspNode> neg) {
    BspPortal p;
    p.splitting_plane = plane();
    p.pos_child = std::move(pos);
    p.neg_child = std::move(neg);
    if (type == kDrawing) {
      p.bounding_sphere = sphere();
      p.poly_ids = {static_cast<PolyId>(++n)};
      p.portal_polys = {{1, static_cast<PolyId>(++n)}, {2, static_cast<PolyId>(++n)}};
    }
    return BspNode(std::move(p));
  }

  // A spine of BPIN nodes whose positive children are every node shape:
  // each child-bearing code, a portal, codes that select no children, a leaf.
  BspNode every_code() {
    std::vector<BspNode> items;
    items.push_back(internal("BPnN", own(leaf()), own(leaf())));
    items.push_back(internal("BPIn", own(leaf()), nullptr));
    items.push_back(internal("BPnn", own(leaf()), nullptr));
    items.push_back(internal("BpIN", nullptr, own(leaf())));
    items.push_back(internal("BpnN", nullptr, own(leaf())));
    items.push_back(portal(own(leaf()), own(internal("BPIN", own(leaf()), own(leaf())))));
    for (const char* c : {"BpIn", "Bpnn", "BPIx", "XXXX", "LEAf", "PORt", "LEAX", "FAEL", "TROP",
                          "bpin"}) {
      char code4[5] = {c[0], c[1], c[2], c[3], 0};
      items.push_back(internal(code4, nullptr, nullptr));
    }
    items.push_back(leaf());
    BspNode acc = leaf();
    while (!items.empty()) {
      acc = internal("BPIN", own(std::move(items.back())), own(std::move(acc)));
      items.pop_back();
    }
    return acc;
  }
};

DecodeResult<BspNode> read(std::span<const std::uint8_t> bytes, BspTreeType type,
                           std::uint64_t* consumed = nullptr) {
  Cursor cur(bytes);
  auto r = BspNode::read(cur, type);
  if (consumed != nullptr) *consumed = cur.position();
  return r;
}

TEST(BspTree, RoundTripsEveryNodeCodeInEveryTreeType) {
  for (const BspTreeType type : {kDrawing, kPhysics, kCell}) {
    const BspNode tree = TreeBuilder{type}.every_code();
    ByteWriter w;
    tools::encode_bsp_node(w, tree, type);
    std::uint64_t consumed = 0;
    auto r = read(w.bytes(), type, &consumed);
    const int t = static_cast<int>(type);
    ASSERT_TRUE(r) << "type " << t << ": " << r.error().render();
    EXPECT_TRUE(*r == tree) << "type " << t;
    EXPECT_EQ(consumed, w.size()) << "type " << t;
    for (std::size_t n = 0; n < w.size(); ++n) {
      ASSERT_FALSE(read(std::span(w.bytes()).first(n), type)) << "type " << t << " length " << n;
    }
  }

  // The encoder writes the children the code selects: a missing one as an
  // empty leaf, an unselected one not at all.
  TreeBuilder b{kCell};
  const BspNode lacking = b.internal("BPIN", nullptr, own(b.internal("XXXX", own(b.leaf()), nullptr)));
  ByteWriter w;
  tools::encode_bsp_node(w, lacking, kCell);
  auto r = read(w.bytes(), kCell);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->internal()->pos_child->leaf()->leaf_index, 0u);
  EXPECT_EQ(r->internal()->neg_child->internal()->pos_child, nullptr);
  EXPECT_EQ(w.size(), 20u + 8u + 20u);
}

TEST(BspTree, CodeSelectsChildrenByteForByte) {
  struct Case {
    const char* code;
    bool pos, neg;
  };
  const Case cases[] = {
      {"BPIN", true, true},   {"BPnN", true, true},   {"BPIn", true, false},
      {"BPnn", true, false},  {"BpIN", false, true},  {"BpnN", false, true},
      {"BpIn", false, false}, {"Bpnn", false, false}, {"BPIx", false, false},
      {"bPIN", false, false}, {"XXXX", false, false}, {"LEAX", false, false},
      {"PORt", false, false}, {"\0\0\0\0", false, false},
  };
  for (const Case& c : cases) {
    // Drawing tree: plane, the selected leaves, then sphere, count, ids.
    ByteWriter w;
    w.u8(c.code[3]).u8(c.code[2]).u8(c.code[1]).u8(c.code[0]);
    w.plane({{1, 2, 3}, 4});
    if (c.pos) {
      code(w, "LEAF");
      w.u32(10);
    }
    if (c.neg) {
      code(w, "LEAF");
      w.u32(20);
    }
    w.sphere({{5, 6, 7}, 8}).u32(2).u16(0x1234).u16(0x5678);
    const std::size_t used = w.size();
    w.u32(0xFFFFFFFF);

    std::uint64_t consumed = 0;
    auto r = read(w.bytes(), kDrawing, &consumed);
    ASSERT_TRUE(r) << c.code;
    EXPECT_EQ(consumed, used) << c.code;
    const InternalNode* n = r->internal();
    ASSERT_NE(n, nullptr) << c.code;
    EXPECT_EQ(n->node_type, static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.code[0])) |
                                static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.code[1])) << 8 |
                                static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.code[2])) << 16 |
                                static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.code[3])) << 24)
        << c.code;
    EXPECT_EQ(n->splitting_plane, (Plane{{1, 2, 3}, 4})) << c.code;
    EXPECT_EQ(n->pos_child != nullptr, c.pos) << c.code;
    EXPECT_EQ(n->neg_child != nullptr, c.neg) << c.code;
    if (c.pos) {
      EXPECT_EQ(n->pos_child->leaf()->leaf_index, 10u) << c.code;
    }
    if (c.neg) {
      EXPECT_EQ(n->neg_child->leaf()->leaf_index, 20u) << c.code;
    }
    EXPECT_EQ(n->bounding_sphere, (Sphere{{5, 6, 7}, 8})) << c.code;
    EXPECT_EQ(n->poly_ids, (std::vector<PolyId>{0x1234, 0x5678})) << c.code;
  }
}

TEST(BspTree, NodeLayoutDependsOnTheTreeType) {
  struct Case {
    std::string name;
    BspTreeType type;
    std::function<void(ByteWriter&)> build;
    std::size_t size;
  };
  const auto leaf = [](ByteWriter& w) {
    code(w, "LEAF");
    w.u32(7).u32(8).sphere({{1, 1, 1}, 2}).u32(0);
  };
  const auto childless = [](ByteWriter& w) {
    code(w, "BpIn");
    w.plane({}).sphere({}).u32(1).u16(9);
  };
  const auto portal = [](ByteWriter& w) {
    code(w, "PORT");
    w.plane({});
    code(w, "LEAF");
    w.u32(1);
    code(w, "LEAF");
    w.u32(2);
    w.sphere({{3, 3, 3}, 3}).u32(2).u32(2).u16(0xA1).u16(0xA2).u16(1).u16(0xB1).u16(2).u16(0xB2);
  };
  const Case cases[] = {
      {"physics leaf", kPhysics, leaf, 32},
      {"drawing leaf", kDrawing, leaf, 8},
      {"cell leaf", kCell, leaf, 8},
      {"physics internal", kPhysics, childless, 36},
      {"drawing internal", kDrawing, childless, 42},
      {"cell internal", kCell, childless, 20},
      {"other type internal", BspTreeType{7}, childless, 42},
      {"other type leaf", BspTreeType{7}, leaf, 8},
      {"drawing portal", kDrawing, portal, 20 + 16 + 16 + 8 + 4 + 8},
      {"cell portal", kCell, portal, 20 + 16},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    std::uint64_t consumed = 0;
    auto r = read(w.bytes(), c.type, &consumed);
    ASSERT_TRUE(r) << c.name << ": " << r.error().render();
    EXPECT_EQ(consumed, c.size) << c.name;
  }

  // Physics leaf fields; the drawing portal's ids come before its portals.
  ByteWriter w;
  leaf(w);
  auto l = read(w.bytes(), kPhysics);
  ASSERT_TRUE(l);
  EXPECT_EQ(*l->leaf(), (BspLeaf{7, 8, Sphere{{1, 1, 1}, 2}, {}}));
  ByteWriter pw;
  portal(pw);
  auto p = read(pw.bytes(), kDrawing);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->portal()->poly_ids, (std::vector<PolyId>{0xA1, 0xA2}));
  EXPECT_EQ(p->portal()->portal_polys, (std::vector<PortalPoly>{{1, 0xB1}, {2, 0xB2}}));
  EXPECT_EQ(p->portal()->bounding_sphere, (Sphere{{3, 3, 3}, 3}));
  EXPECT_EQ(p->portal()->neg_child->leaf()->leaf_index, 2u);

  // The portal body on its own, after the code.
  Cursor cur(std::span(pw.bytes()).subspan(4));
  auto body = BspPortal::read(cur, kDrawing);
  ASSERT_TRUE(body) << body.error().render();
  EXPECT_EQ(cur.position(), pw.size() - 4);
  EXPECT_EQ(body->portal_polys.size(), 2u);
}

TEST(BspTree, TruncationsFailWithEndOfDataAndTheFieldContexts) {
  struct Case {
    std::string name;
    BspTreeType type;
    std::function<void(ByteWriter&)> build;
    std::vector<std::string> contexts;
  };
  const auto portal_head = [](ByteWriter& w) {
    code(w, "PORT");
    w.plane({});
    code(w, "LEAF");
    w.u32(1);
    code(w, "LEAF");
    w.u32(2);
    w.sphere({}).u32(1).u32(2).u16(0x77);
  };
  const Case cases[] = {
      {"code", kDrawing, [](ByteWriter& w) { w.u8('F').u8('A').u8('E'); }, {}},
      {"plane", kDrawing, [](ByteWriter& w) { code(w, "BPIN"); w.zeros(15); },
       {"While parsing field 'd' in Plane"}},
      {"positive child missing", kCell, [](ByteWriter& w) { code(w, "BPIN"); w.zeros(16); }, {}},
      {"negative child cut", kCell,
       [](ByteWriter& w) { code(w, "BPIN"); w.zeros(16); code(w, "LEAF"); w.u32(0).u8(0); }, {}},
      {"internal sphere", kPhysics, [](ByteWriter& w) { code(w, "XXXX"); w.zeros(16 + 5); },
       {"While parsing field 'y' in Vector3", "While parsing field 'center' in Sphere"}},
      {"internal ids", kDrawing, [](ByteWriter& w) { code(w, "XXXX"); w.zeros(32).u32(2).u16(1); },
       {}},
      {"leaf sphere", kPhysics, [](ByteWriter& w) { code(w, "LEAF"); w.zeros(8 + 14); },
       {"While parsing field 'radius' in Sphere"}},
      {"portal before its first record", kDrawing, portal_head,
       {"While parsing field 'portal_index' in PortalPoly"}},
      {"portal inside portal_index", kDrawing, [&](ByteWriter& w) { portal_head(w); w.u8(1); },
       {"While parsing field 'portal_index' in PortalPoly"}},
      {"portal between its fields", kDrawing, [&](ByteWriter& w) { portal_head(w); w.u16(1); },
       {"While parsing field 'poly_id' in PortalPoly"}},
      {"second portal's poly_id", kDrawing,
       [&](ByteWriter& w) { portal_head(w); w.u16(1).u16(2).u16(3).u8(4); },
       {"While parsing field 'poly_id' in PortalPoly"}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    auto r = read(w.bytes(), c.type);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
  }

  // Hostile counts fail at the data's end without reserving for them.
  for (const BspTreeType type : {kDrawing, kPhysics}) {
    ByteWriter w;
    if (type == kPhysics) {
      code(w, "LEAF");
      w.u32(0).u32(0).sphere({}).u32(0xFFFFFFFF).u16(1);
    } else {
      code(w, "PORT");
      w.plane({});
      code(w, "LEAF");
      w.u32(1);
      code(w, "LEAF");
      w.u32(2);
      w.sphere({}).u32(0).u32(0xFFFFFFFF).u32(0);
    }
    auto r = read(w.bytes(), type);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData);
  }
}

// Nesting far past what a recursive decoder or destructor survives on an
// 8 MiB stack.
constexpr std::uint32_t kDepth = 1'000'000;

// A node head repeated `times` times, appended in one piece per level.
void repeat(ByteWriter& w, const Bytes& unit, std::uint32_t times) {
  w.bytes().reserve(w.size() + unit.size() * times);
  for (std::uint32_t i = 0; i < times; ++i) w.append(unit);
}

Bytes head_bytes(const char (&c)[5]) {
  ByteWriter w;
  code(w, c);
  w.zeros(16);
  return w.take();
}

Bytes leaf_bytes(std::uint32_t index) {
  ByteWriter w;
  code(w, "LEAF");
  w.u32(index);
  return w.take();
}

// Cell trees are the densest: 20 bytes per internal level, 8 per leaf.
// A chain of positive children, `kDepth` levels deep.
Bytes positive_chain() {
  ByteWriter w;
  repeat(w, head_bytes("BPnn"), kDepth);
  w.append(leaf_bytes(0));
  return w.take();
}

// Depth along the child that is not a leaf.
std::uint32_t spine_depth(const BspNode& root) {
  std::uint32_t depth = 0;
  for (const BspNode* n = &root; n->leaf() == nullptr; ++depth) {
    const std::unique_ptr<BspNode>* pos = n->internal() ? &n->internal()->pos_child
                                                        : &n->portal()->pos_child;
    const std::unique_ptr<BspNode>* neg = n->internal() ? &n->internal()->neg_child
                                                        : &n->portal()->neg_child;
    n = (*pos && (*pos)->leaf() == nullptr) || !*neg ? pos->get() : neg->get();
  }
  return depth;
}

TEST(BspTree, DeepTreesDecodeAndFreeWithoutExhaustingTheStack) {
  {
    const Bytes bytes = positive_chain();
    std::uint64_t consumed = 0;
    auto r = read(bytes, kCell, &consumed);
    ASSERT_TRUE(r);
    EXPECT_EQ(consumed, bytes.size());
    EXPECT_EQ(spine_depth(*r), kDepth);
  }  // the decoded tree is freed here

  // A complete deep positive subtree whose sibling is missing: the partial
  // tree is released and the error comes back.
  ByteWriter w;
  w.append(head_bytes("BPIN")).append(positive_chain());
  auto cut = read(w.bytes(), kCell);
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().kind(), DecodeErrorKind::EndOfData);
}

TEST(BspTree, DeepZigzagTreeRoundTripsThroughTheEncoder) {
  // Built by hand from the leaf upwards, the deep side alternating between
  // internal nodes' positive and portals' negative children; encoding,
  // decoding, comparing and freeing all walk it without recursion.
  TreeBuilder b{kCell};
  BspNode tree = b.leaf();
  for (std::uint32_t i = 0; i < kDepth; ++i) {
    tree = i % 2 == 0 ? b.internal("BPnn", own(std::move(tree)), nullptr)
                      : b.portal(own(b.leaf()), own(std::move(tree)));
  }
  ByteWriter w;
  tools::encode_bsp_node(w, tree, kCell);
  auto r = read(w.bytes(), kCell);
  ASSERT_TRUE(r);
  EXPECT_TRUE(*r == tree);
  EXPECT_EQ(spine_depth(*r), kDepth);
  r->portal()->neg_child->internal()->splitting_plane.d += 1;
  EXPECT_FALSE(*r == tree);
}

}  // namespace
}  // namespace strewmill::dat
