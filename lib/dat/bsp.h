// BSP trees embedded in graphics objects: internal nodes, portal nodes and
// leaves, decoded for all three tree types.
//
// Trees come from untrusted bytes and can be nested arbitrarily deep, so
// nothing here recurses per tree level: decoding keeps an explicit stack,
// destruction unlinks nodes by rotation, and comparison walks with an
// explicit stack.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cursor.h"

namespace strewmill::dat {

// The one 16-bit id type for polygons and vertices, in trees and in
// graphics objects alike.
using PolyId = std::uint16_t;

// Handed unchanged to every node of a tree. Values outside the three names
// are accepted and behave as the decoder's rules for "other" types say.
enum class BspTreeType : std::uint8_t {
  drawing = 0,
  physics = 1,
  cell = 2,
};

struct BspNode;

struct InternalNode {
  // Four-character type code with its first character in the low byte
  // ("BPIN" is 'B' | 'P' << 8 | 'I' << 16 | 'N' << 24).
  std::uint32_t node_type = 0;
  common::Plane splitting_plane;
  std::unique_ptr<BspNode> pos_child;
  std::unique_ptr<BspNode> neg_child;
  std::optional<common::Sphere> bounding_sphere;  // physics and drawing trees
  std::vector<PolyId> poly_ids;                   // drawing trees only
};

struct PortalPoly {
  PolyId portal_index = 0;
  PolyId poly_id = 0;
  bool operator==(const PortalPoly&) const = default;
};

struct BspPortal {
  common::Plane splitting_plane;
  std::unique_ptr<BspNode> pos_child;  // always present after decoding
  std::unique_ptr<BspNode> neg_child;  // always present after decoding
  std::optional<common::Sphere> bounding_sphere;  // drawing trees only
  std::vector<PolyId> poly_ids;                   // drawing trees only
  std::vector<PortalPoly> portal_polys;           // drawing trees only

  // The body of a portal node, after its type code.
  static DecodeResult<BspPortal> read(Cursor& cur, BspTreeType tree_type);
};

struct BspLeaf {
  std::uint32_t leaf_index = 0;
  std::uint32_t leaf_value = 0;                   // physics trees only
  std::optional<common::Sphere> bounding_sphere;  // physics trees only
  std::vector<PolyId> poly_ids;                   // physics trees only
  bool operator==(const BspLeaf&) const = default;
};

// One node and, exclusively owned, its whole subtree.
struct BspNode {
  std::variant<InternalNode, BspPortal, BspLeaf> kind;

  BspNode() = default;
  BspNode(InternalNode n) : kind(std::move(n)) {}
  BspNode(BspPortal n) : kind(std::move(n)) {}
  BspNode(BspLeaf n) : kind(std::move(n)) {}
  BspNode(BspNode&&) noexcept = default;
  BspNode& operator=(BspNode&&) noexcept = default;
  BspNode(const BspNode&) = delete;
  BspNode& operator=(const BspNode&) = delete;
  // Frees the subtree without recursing per level.
  ~BspNode();

  const InternalNode* internal() const { return std::get_if<InternalNode>(&kind); }
  const BspPortal* portal() const { return std::get_if<BspPortal>(&kind); }
  const BspLeaf* leaf() const { return std::get_if<BspLeaf>(&kind); }
  InternalNode* internal() { return std::get_if<InternalNode>(&kind); }
  BspPortal* portal() { return std::get_if<BspPortal>(&kind); }
  BspLeaf* leaf() { return std::get_if<BspLeaf>(&kind); }

  // Decodes a node and its whole subtree.
  static DecodeResult<BspNode> read(Cursor& cur, BspTreeType tree_type);

  // Deep structural equality (iterative).
  friend bool operator==(const BspNode& a, const BspNode& b);
};

// Packs a four-character code the way `InternalNode::node_type` holds it.
constexpr std::uint32_t bsp_code(const char (&c)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(c[0])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c[3])) << 24;
}

}  // namespace strewmill::dat
