// Terrain height sampling over one landblock's 9 x 9 vertex heights.
//
// Positions are landblock-local (0..192 on both axes, vertex (x, y) at
// (24x, 24y)). Every expression in height.cpp is evaluated in single
// precision in the grouping written: results are compared bit for bit with
// other implementations. Nothing here allocates.
#pragma once

#include <array>
#include <cstdint>

#include "lib/dat/cell_landblock.h"
#include "lib/dat/region.h"

namespace strewmill::engine {

// Vertex heights in vertex order: entry x * 9 + y is vertex (x, y).
using HeightGrid = std::array<float, 81>;

// Heights from the region's land height table, indexed by the landblock's
// per-vertex height indices.
HeightGrid vertex_heights(const dat::Region& region, const dat::CellLandblock& landblock);

// Height on the terrain triangle under (x, y). The cell's diagonal is chosen
// by a hash of its global coordinates, hence the landblock id (0xXXYY).
float triangle_plane_height_from_grid(const HeightGrid& grid, std::uint32_t landblock_id, float x,
                                      float y);

// Bilinearly interpolated height; positions outside the landblock are
// clamped onto its edge.
float bilinear_height_from_grid(const HeightGrid& grid, float x, float y);

// z component of the unit normal of the cell's mean slope: 1 on level
// ground, smaller on steeper ground. Depends only on the cell.
float normal_z_at(const HeightGrid& grid, float x, float y);

}  // namespace strewmill::engine
