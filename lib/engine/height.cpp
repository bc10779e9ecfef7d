#include "lib/engine/height.h"

#include <algorithm>
#include <cmath>

#include "lib/engine/float_convert.h"
#include "lib/engine/hashes.h"

namespace strewmill::engine {

namespace {

// The four corner heights of the cell holding cell coordinates (fx, fy),
// already raised to 0. On the far edge (index 8) the two corners along that
// axis coincide, so the slope along it is 0.
struct CellCorners {
  std::uint32_t ia, ja;
  float h00, h10, h01, h11;
};

CellCorners cell_corners(const HeightGrid& grid, float fx, float fy) {
  const std::uint32_t a = std::min(saturating_to_u32(std::floor(fx)), 8u);
  const std::uint32_t b = std::min(saturating_to_u32(std::floor(fy)), 8u);
  const std::uint32_t ia = std::min(a, 8u);
  const std::uint32_t ib = std::min(a, 7u);
  const std::uint32_t ja = std::min(b, 8u);
  const std::uint32_t jb = std::min(b, 7u);
  return CellCorners{
      ia,
      ja,
      grid[ia * 9 + ja],
      grid[(ib + 1) * 9 + ja],
      grid[ia * 9 + jb + 1],
      grid[(ib + 1) * 9 + jb + 1],
  };
}

}  // namespace

HeightGrid vertex_heights(const dat::Region& region, const dat::CellLandblock& landblock) {
  HeightGrid grid{};
  const auto& table = region.land_height_table;
  if (table.empty()) return grid;
  const std::size_t last = table.size() - 1;
  for (std::size_t i = 0; i < landblock.height.size() && i < grid.size(); ++i) {
    grid[i] = table[std::min<std::size_t>(landblock.height[i], last)];
  }
  return grid;
}

float bilinear_height_from_grid(const HeightGrid& grid, float x, float y) {
  float fx = x / 24.0f;
  float fy = y / 24.0f;
  if (fx < 0.0f) fx = 0.0f;
  if (fy < 0.0f) fy = 0.0f;
  if (fx > 8.0f) fx = 8.0f;
  if (fy > 8.0f) fy = 8.0f;
  const CellCorners c = cell_corners(grid, fx, fy);
  const float tx = fx - static_cast<float>(c.ia);
  const float ty = fy - static_cast<float>(c.ja);
  const float u = 1.0f - tx;
  const float v = 1.0f - ty;
  return ((c.h11 * tx) * ty) + (((c.h01 * u) * ty) + (((c.h10 * tx) * v) + ((c.h00 * u) * v)));
}

float normal_z_at(const HeightGrid& grid, float x, float y) {
  float fx = x / 24.0f;
  float fy = y / 24.0f;
  if (fx < 0.0f) fx = 0.0f;
  if (fy < 0.0f) fy = 0.0f;
  const CellCorners c = cell_corners(grid, fx, fy);
  const float sx = (((c.h11 - c.h01) + (c.h10 - c.h00)) * 0.5f) / 24.0f;
  const float sy = (((c.h11 - c.h10) + (c.h01 - c.h00)) * 0.5f) / 24.0f;
  return 1.0f / std::sqrt((sx * sx + sy * sy) + 1.0f);
}

float triangle_plane_height_from_grid(const HeightGrid& grid, std::uint32_t landblock_id, float x,
                                      float y) {
  std::int32_t cx = saturating_to_i32(std::floor(x / 24.0f));
  std::int32_t cy = saturating_to_i32(std::floor(y / 24.0f));
  if (cx <= 0) cx = 0;
  if (cx >= 7) cx = 7;
  if (cy <= 0) cy = 0;
  if (cy >= 7) cy = 7;

  const std::int32_t x0 = 24 * cx;
  const std::int32_t x1 = x0 + 24;
  const std::int32_t y0 = 24 * cy;
  const std::int32_t y1 = y0 + 24;
  const float x0f = static_cast<float>(x0);
  const float x1f = static_cast<float>(x1);
  const float y0f = static_cast<float>(y0);
  const float y1f = static_cast<float>(y1);

  const float h00 = grid[cx * 9 + cy];
  const float h10 = grid[(cx + 1) * 9 + cy];
  const float h01 = grid[cx * 9 + cy + 1];
  const float h11 = grid[(cx + 1) * 9 + cy + 1];

  const std::uint32_t lb_x = (landblock_id >> 8) & 0xFFu;
  const std::uint32_t lb_y = landblock_id & 0xFFu;
  const std::uint32_t gx = static_cast<std::uint32_t>(cx) + lb_x * 8u;
  const std::uint32_t gy = static_cast<std::uint32_t>(cy) + lb_y * 8u;
  const bool cut_up = cell_split_hash(gx, gy) >= 0;

  // First triangle: P0, P1 = (x1, y0), P2 = (x0, y0). Only P0 depends on the
  // cut; the second triangle is the rest of the cell.
  const float p0x = cut_up ? x0f : x1f;
  const float p0h = cut_up ? h01 : h11;

  const float inv = 1.0f / (-576.0f);
  const float x0y1 = static_cast<float>(x0 * y1);
  const float x1y1 = static_cast<float>(x1 * y1);
  const float s = (y * (p0x - x0f) + ((x0y1 - p0x * y0f) - 24.0f * x)) * inv;
  const float t = ((x1f - p0x) * y + (24.0f * x + (p0x * y0f - x1y1))) * inv;
  const bool in_first = !(s < 0.0f || t < 0.0f || t > 1.0f - s);

  float A, B, C, D;
  if (in_first) {
    A = 24.0f * (h10 - h00) - (p0h - h00) * 0.0f;
    B = 24.0f * (p0h - h00) - (h10 - h00) * (p0x - x0f);
    C = 0.0f * (p0x - x0f) + (-576.0f);
    D = h00 * C + (x0f * A + y0f * B);
  } else {
    float q0x, q0y, q0h, q1x, q1y, q1h, q2x, q2y, q2h;
    if (cut_up) {
      q0x = x1f, q0y = y0f, q0h = h10;
      q1x = x1f, q1y = y1f, q1h = h11;
      q2x = x0f, q2y = y1f, q2h = h01;
    } else {
      q0x = x0f, q0y = y1f, q0h = h01;
      q1x = x0f, q1y = y0f, q1h = h00;
      q2x = x1f, q2y = y1f, q2h = h11;
    }
    const float e1x = q1x - q0x, e1y = q1y - q0y, e1h = q1h - q0h;
    const float e2x = q2x - q0x, e2y = q2y - q0y, e2h = q2h - q0h;
    A = e1h * e2y - e2h * e1y;
    B = e1x * e2h - e2x * e1h;
    C = e1y * e2x - e1x * e2y;
    D = q0h * C + (q0y * B + q0x * A);
  }
  return ((D - x * A) - y * B) / C;
}

}  // namespace strewmill::engine
