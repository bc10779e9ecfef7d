// Encoders for setup models, graphics objects and BSP trees: the exact bytes
// their decoders read.
//
// Counts in the stream come from the container sizes. Parts the stream
// carries without a count follow the record's own switches: a setup's
// per-part lists and frames are written as held (keep them as long as
// `part_ids`); a graphics object's flags decide which polygon sets, trees
// and trailing id are written; a polygon's flags and sides decide which uv
// index lists are written. Tree children follow the node's type code: a
// child the code selects but the node lacks is written as an empty leaf,
// and one the code does not select is left out. Missing optional values
// (spheres, trees, ids) are written as zeros.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/dat/bsp.h"
#include "lib/dat/gfx_obj.h"
#include "lib/dat/setup_model.h"
#include "tools/writer/byte_writer.h"

namespace strewmill::tools {

void encode_setup_model(ByteWriter& w, const dat::SetupModel& m);
std::vector<std::uint8_t> encode_setup_model(const dat::SetupModel& m);
void encode_placement_type(ByteWriter& w, const dat::PlacementType& p);
void encode_animation_hook(ByteWriter& w, const dat::AnimationHook& h);

void encode_gfx_obj(ByteWriter& w, const dat::GfxObj& g);
std::vector<std::uint8_t> encode_gfx_obj(const dat::GfxObj& g);
void encode_vertex_array(ByteWriter& w, const dat::CVertexArray& a);
void encode_polygon(ByteWriter& w, const dat::Polygon& p);

// Writes the node and its subtree without recursing per level.
void encode_bsp_node(ByteWriter& w, const dat::BspNode& node, dat::BspTreeType tree_type);

}  // namespace strewmill::tools
