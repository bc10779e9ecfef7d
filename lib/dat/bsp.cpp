#include "lib/dat/bsp.h"

#include <utility>

#include "lib/dat/geometry_read.h"

namespace strewmill::dat {

namespace {

constexpr std::uint32_t kLeaf = bsp_code("LEAF");
constexpr std::uint32_t kPort = bsp_code("PORT");

// The stored word has the first character in its high byte; the file bytes
// are therefore the characters in reverse order.
constexpr std::uint32_t code_from_word(std::uint32_t w) {
  return (w >> 24) | ((w >> 8) & 0xFF00u) | ((w << 8) & 0xFF0000u) | (w << 24);
}

std::unique_ptr<BspNode>* pos_slot(BspNode& n) {
  if (auto* i = n.internal()) return &i->pos_child;
  if (auto* p = n.portal()) return &p->pos_child;
  return nullptr;
}

std::unique_ptr<BspNode>* neg_slot(BspNode& n) {
  if (auto* i = n.internal()) return &i->neg_child;
  if (auto* p = n.portal()) return &p->neg_child;
  return nullptr;
}

// Frees a subtree in constant stack space: a positive child is rotated up
// until the node on top has none, then that node is freed childless and its
// negative subtree takes its place.
void free_subtree(std::unique_ptr<BspNode> node) noexcept {
  while (node) {
    std::unique_ptr<BspNode>* pos = pos_slot(*node);
    if (pos == nullptr) return;  // a leaf; freed by `node` going out of scope
    if (*pos) {
      std::unique_ptr<BspNode> child = std::move(*pos);
      std::unique_ptr<BspNode>* child_neg = neg_slot(*child);
      if (child_neg == nullptr) continue;  // leaf child freed here
      *pos = std::move(*child_neg);
      *child_neg = std::move(node);
      node = std::move(child);
    } else {
      std::unique_ptr<BspNode> rest = std::move(*neg_slot(*node));
      node = std::move(rest);  // the old node had no children left
    }
  }
}

// Polygon id lists. The ids carry no field context, so a count the bytes
// cannot hold is the same end of data the reads would hit.
DecodeResult<std::vector<PolyId>> read_poly_ids(Cursor& cur, std::uint32_t count) {
  if (!cur.can_hold(count, 2)) return common::fail(DecodeError::end_of_data());
  std::vector<PolyId> ids;
  ids.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const PolyId id, cur.u16());
    ids.push_back(id);
  }
  return ids;
}

DecodeResult<PortalPoly> read_portal_poly(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(const PolyId portal_index, cur, start, cur.u16(), "portal_index", "PortalPoly");
  DAT_FIELD(const PolyId poly_id, cur, start, cur.u16(), "poly_id", "PortalPoly");
  return PortalPoly{portal_index, poly_id};
}

DecodeResult<BspLeaf> read_leaf(Cursor& cur, BspTreeType tree_type) {
  BspLeaf leaf;
  TRY_ASSIGN(leaf.leaf_index, cur.u32());
  if (tree_type != BspTreeType::physics) return leaf;
  TRY_ASSIGN(leaf.leaf_value, cur.u32());
  TRY_ASSIGN(leaf.bounding_sphere, read_sphere(cur));
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY_ASSIGN(leaf.poly_ids, read_poly_ids(cur, count));
  return leaf;
}

// What follows an internal node's children.
common::Result<void, DecodeError> read_internal_tail(Cursor& cur, BspTreeType tree_type,
                                                     InternalNode& n) {
  if (tree_type == BspTreeType::cell) return {};
  TRY_ASSIGN(n.bounding_sphere, read_sphere(cur));
  if (tree_type == BspTreeType::physics) return {};
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY_ASSIGN(n.poly_ids, read_poly_ids(cur, count));
  return {};
}

// What follows a portal node's children; only drawing trees carry any.
common::Result<void, DecodeError> read_portal_tail(Cursor& cur, BspTreeType tree_type,
                                                   BspPortal& p) {
  if (tree_type != BspTreeType::drawing) return {};
  TRY_ASSIGN(p.bounding_sphere, read_sphere(cur));
  TRY_ASSIGN(const std::uint32_t poly_count, cur.u32());
  TRY_ASSIGN(const std::uint32_t portal_count, cur.u32());
  TRY_ASSIGN(p.poly_ids, read_poly_ids(cur, poly_count));
  // Portal records carry field contexts, so they are read until the bytes
  // run out rather than refused up front; storage is reserved only when
  // the remaining bytes could hold them all.
  if (cur.can_hold(portal_count, 4)) p.portal_polys.reserve(portal_count);
  for (std::uint32_t i = 0; i < portal_count; ++i) {
    TRY_ASSIGN(const PortalPoly pp, read_portal_poly(cur));
    p.portal_polys.push_back(pp);
  }
  return {};
}

enum class Slot : std::uint8_t { root, pos, neg };

// A node whose head has been read and whose children are still due.
struct Pending {
  std::unique_ptr<BspNode> node;
  Slot slot = Slot::root;  // where it goes in its parent
  bool want_pos = false;
  bool want_neg = false;
};

// Reads a node up to its children: the code, then a whole leaf, or a
// plane and the list of children to read.
DecodeResult<Pending> read_head(Cursor& cur, BspTreeType tree_type, Slot slot) {
  TRY_ASSIGN(const std::uint32_t word, cur.u32());
  const std::uint32_t code = code_from_word(word);
  if (code == kLeaf) {
    TRY_ASSIGN(BspLeaf leaf, read_leaf(cur, tree_type));
    return Pending{std::make_unique<BspNode>(std::move(leaf)), slot, false, false};
  }
  TRY_ASSIGN(const common::Plane plane, read_plane(cur));
  if (code == kPort) {
    BspPortal portal;
    portal.splitting_plane = plane;
    return Pending{std::make_unique<BspNode>(std::move(portal)), slot, true, true};
  }
  InternalNode n;
  n.node_type = code;
  n.splitting_plane = plane;
  bool pos = false;
  bool neg = false;
  if (code == bsp_code("BPIN") || code == bsp_code("BPnN")) {
    pos = neg = true;
  } else if (code == bsp_code("BPIn") || code == bsp_code("BPnn")) {
    pos = true;
  } else if (code == bsp_code("BpIN") || code == bsp_code("BpnN")) {
    neg = true;
  }
  return Pending{std::make_unique<BspNode>(std::move(n)), slot, pos, neg};
}

common::Result<void, DecodeError> read_tail(Cursor& cur, BspTreeType tree_type, BspNode& n) {
  if (auto* i = n.internal()) return read_internal_tail(cur, tree_type, *i);
  if (auto* p = n.portal()) return read_portal_tail(cur, tree_type, *p);
  return {};
}

// Decodes depth first with an explicit stack, so arbitrarily deep trees
// cost heap, not call stack. On failure the stack's partial nodes are
// released by their (iterative) destructors.
DecodeResult<std::unique_ptr<BspNode>> read_tree(Cursor& cur, BspTreeType tree_type,
                                                 Pending root) {
  std::vector<Pending> stack;
  stack.push_back(std::move(root));
  for (;;) {
    Pending& top = stack.back();
    if (top.want_pos || top.want_neg) {
      const Slot slot = top.want_pos ? Slot::pos : Slot::neg;
      (top.want_pos ? top.want_pos : top.want_neg) = false;
      TRY_ASSIGN(Pending child, read_head(cur, tree_type, slot));
      stack.push_back(std::move(child));
      continue;
    }
    TRY(read_tail(cur, tree_type, *top.node));
    Pending done = std::move(top);
    stack.pop_back();
    if (stack.empty()) return std::move(done.node);
    BspNode& parent = *stack.back().node;
    *(done.slot == Slot::pos ? pos_slot(parent) : neg_slot(parent)) = std::move(done.node);
  }
}

// Pushes a pair of children for comparison; false when only one exists.
using ComparePairs = std::vector<std::pair<const BspNode*, const BspNode*>>;
bool push_children(const std::unique_ptr<BspNode>& a, const std::unique_ptr<BspNode>& b,
                   ComparePairs& todo) {
  if (static_cast<bool>(a) != static_cast<bool>(b)) return false;
  if (a) todo.emplace_back(a.get(), b.get());
  return true;
}

}  // namespace

BspNode::~BspNode() {
  std::unique_ptr<BspNode>* pos = pos_slot(*this);
  if (pos == nullptr) return;
  free_subtree(std::move(*pos));
  free_subtree(std::move(*neg_slot(*this)));
}

DecodeResult<BspNode> BspNode::read(Cursor& cur, BspTreeType tree_type) {
  TRY_ASSIGN(Pending root, read_head(cur, tree_type, Slot::root));
  TRY_ASSIGN(std::unique_ptr<BspNode> node, read_tree(cur, tree_type, std::move(root)));
  return std::move(*node);
}

DecodeResult<BspPortal> BspPortal::read(Cursor& cur, BspTreeType tree_type) {
  BspPortal portal;
  TRY_ASSIGN(portal.splitting_plane, read_plane(cur));
  Pending root{std::make_unique<BspNode>(std::move(portal)), Slot::root, true, true};
  TRY_ASSIGN(std::unique_ptr<BspNode> node, read_tree(cur, tree_type, std::move(root)));
  return std::move(*node->portal());
}

bool operator==(const BspNode& a, const BspNode& b) {
  ComparePairs todo{{&a, &b}};
  while (!todo.empty()) {
    const auto [x, y] = todo.back();
    todo.pop_back();
    if (x->kind.index() != y->kind.index()) return false;
    if (const BspLeaf* l = x->leaf()) {
      if (!(*l == *y->leaf())) return false;
    } else if (const InternalNode* i = x->internal()) {
      const InternalNode& j = *y->internal();
      if (i->node_type != j.node_type || !(i->splitting_plane == j.splitting_plane) ||
          i->bounding_sphere != j.bounding_sphere || i->poly_ids != j.poly_ids)
        return false;
      if (!push_children(i->neg_child, j.neg_child, todo)) return false;
      if (!push_children(i->pos_child, j.pos_child, todo)) return false;
    } else {
      const BspPortal& p = *x->portal();
      const BspPortal& q = *y->portal();
      if (!(p.splitting_plane == q.splitting_plane) || p.bounding_sphere != q.bounding_sphere ||
          p.poly_ids != q.poly_ids || p.portal_polys != q.portal_polys)
        return false;
      if (!push_children(p.neg_child, q.neg_child, todo)) return false;
      if (!push_children(p.pos_child, q.pos_child, todo)) return false;
    }
  }
  return true;
}

}  // namespace strewmill::dat
