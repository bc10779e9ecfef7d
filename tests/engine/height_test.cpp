#include "lib/engine/height.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "lib/engine/hashes.h"

namespace strewmill::engine {
namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

HeightGrid filled(float v) {
  HeightGrid g;
  g.fill(v);
  return g;
}

// Irregular heights, so every corner of every cell differs.
HeightGrid bumpy() {
  HeightGrid g;
  for (int i = 0; i < 81; ++i) g[i] = static_cast<float>((i * 37) % 23) * 1.25f - 3.5f;
  return g;
}

// Rises 24 units per cell along x only.
HeightGrid ramp_x() {
  HeightGrid g;
  for (int i = 0; i < 81; ++i) g[i] = 24.0f * static_cast<float>(i / 9);
  return g;
}

TEST(VertexHeights, IndexesTheLandHeightTable) {
  dat::Region region;
  for (int h = 0; h < 256; ++h) region.land_height_table[h] = 0.5f * static_cast<float>(h) + 1.0f;
  dat::CellLandblock lb;

  const HeightGrid zeros = vertex_heights(region, lb);
  for (float v : zeros) EXPECT_EQ(v, 1.0f);

  lb.height[0] = 255;
  lb.height[9] = 7;  // vertex (1, 0)
  lb.height[80] = 200;
  const HeightGrid g = vertex_heights(region, lb);
  EXPECT_EQ(g[0], region.land_height_table[255]);
  EXPECT_EQ(g[9], 4.5f);
  EXPECT_EQ(g[80], 101.0f);
  EXPECT_EQ(g[1], 1.0f);
}

TEST(BilinearHeight, ReturnsGridValuesAtVertices) {
  const HeightGrid g = bumpy();
  for (int x = 0; x <= 8; ++x) {
    for (int y = 0; y <= 8; ++y) {
      EXPECT_EQ(bits(bilinear_height_from_grid(g, 24.0f * x, 24.0f * y)), bits(g[x * 9 + y]))
          << x << "," << y;
    }
  }
}

TEST(BilinearHeight, CellCentreUsesTheFixedGrouping) {
  HeightGrid g = filled(0.0f);
  // Values whose sum depends on the order of addition in single precision.
  g[0] = 1.0f;                 // h00
  g[9] = 3.0e-8f;              // h10
  g[1] = 16777216.0f;          // h01
  g[10] = -16777215.0f;        // h11
  const float expected = ((g[10] * 0.5f) * 0.5f) +
                         (((g[1] * 0.5f) * 0.5f) + (((g[9] * 0.5f) * 0.5f) + ((g[0] * 0.5f) * 0.5f)));
  EXPECT_EQ(bits(bilinear_height_from_grid(g, 12.0f, 12.0f)), bits(expected));
}

TEST(BilinearHeight, ClampsOutsideTheLandblock) {
  const HeightGrid g = bumpy();
  for (float y : {0.0f, 7.5f, 100.25f, 192.0f}) {
    const float edge = bilinear_height_from_grid(g, 192.0f, y);
    EXPECT_EQ(bits(bilinear_height_from_grid(g, 250.0f, y)), bits(edge));
    EXPECT_EQ(bits(bilinear_height_from_grid(g, INFINITY, y)), bits(edge));
    EXPECT_EQ(bits(bilinear_height_from_grid(g, -5.0f, y)), bits(bilinear_height_from_grid(g, 0.0f, y)));
  }
  // On the far edge the value is the interpolation along the edge line.
  EXPECT_EQ(bilinear_height_from_grid(g, 192.0f, 36.0f), 0.5f * g[72 + 1] + 0.5f * g[72 + 2]);
}

TEST(NormalZ, FlatRampAndEdges) {
  EXPECT_EQ(normal_z_at(filled(37.5f), 50.0f, 120.0f), 1.0f);
  const HeightGrid ramp = ramp_x();
  EXPECT_EQ(bits(normal_z_at(ramp, 100.0f, 30.0f)), bits(0.70710677f));
  EXPECT_EQ(bits(normal_z_at(ramp, -40.0f, -1.0f)), bits(0.70710677f));
  // The last column is used twice: no slope along x there.
  EXPECT_EQ(normal_z_at(ramp, 192.0f, 30.0f), 1.0f);
  EXPECT_EQ(normal_z_at(ramp, 1000.0f, 30.0f), 1.0f);
}

TEST(NormalZ, DependsOnlyOnTheCell) {
  const HeightGrid g = bumpy();
  const float inside = normal_z_at(g, 24.0f * 3 + 0.5f, 24.0f * 5 + 0.5f);
  EXPECT_EQ(bits(normal_z_at(g, 24.0f * 3 + 23.5f, 24.0f * 5 + 11.0f)), bits(inside));
  EXPECT_GT(inside, 0.0f);
  EXPECT_LE(inside, 1.0f);
}

TEST(TrianglePlaneHeight, LandblockZeroCellZeroIsCutFromOriginToFarCorner) {
  ASSERT_EQ(static_cast<std::uint32_t>(cell_split_hash(0, 0)), 0xAE6470DBu);
  ASSERT_LT(cell_split_hash(0, 0), 0);
  // Only the far corner (24, 24) is raised. With the (0,0)-(24,24) cut the
  // lower-right triangle is the plane z = y and the upper-left z = x; the
  // other diagonal would give 0 at (20, 2) and 14 at (20, 18).
  HeightGrid g = filled(0.0f);
  g[10] = 24.0f;
  EXPECT_NEAR(triangle_plane_height_from_grid(g, 0x0000, 20.0f, 2.0f), 2.0f, 1e-5f);
  EXPECT_NEAR(triangle_plane_height_from_grid(g, 0x0000, 20.0f, 18.0f), 18.0f, 1e-5f);
  EXPECT_NEAR(triangle_plane_height_from_grid(g, 0x0000, 2.0f, 20.0f), 2.0f, 1e-5f);
}

TEST(TrianglePlaneHeight, NonNegativeSplitCutsTheOtherDiagonal) {
  // Cell (1, 0) of landblock 0x0000 has a non-negative split: the cut runs
  // from (24, 24) to (48, 0).
  ASSERT_GE(cell_split_hash(1, 0), 0);
  HeightGrid g = filled(0.0f);
  g[2 * 9 + 1] = 24.0f;  // corner (48, 24)
  // Lower-left triangle (24,0), (48,0), (24,24) stays at 0; the upper-right
  // one is the plane through (48,0,0), (48,24,24), (24,24,0).
  EXPECT_NEAR(triangle_plane_height_from_grid(g, 0x0000, 30.0f, 4.0f), 0.0f, 1e-5f);
  EXPECT_NEAR(triangle_plane_height_from_grid(g, 0x0000, 44.0f, 20.0f), 20.0f + 20.0f - 24.0f, 1e-5f);
}

TEST(TrianglePlaneHeight, ReproducesCornersAndPlanes) {
  const HeightGrid g = bumpy();
  for (std::uint32_t lb : {0x0000u, 0xA9B4u, 0xFFFFu}) {
    for (int x = 0; x <= 8; ++x) {
      for (int y = 0; y <= 8; ++y) {
        const float h = triangle_plane_height_from_grid(g, lb, 24.0f * x, 24.0f * y);
        EXPECT_NEAR(h, g[x * 9 + y], 1e-4f) << lb << " " << x << "," << y;
      }
    }
  }
}

TEST(TrianglePlaneHeight, FlatGround) {
  for (float v : {0.0f, 12.5f, -300.0f}) {
    const HeightGrid g = filled(v);
    for (float p : {0.0f, 5.0f, 96.0f, 191.0f, 192.0f}) {
      EXPECT_NEAR(triangle_plane_height_from_grid(g, 0xA9B4, p, 191.0f - p), v, 1e-4f);
    }
  }
  // Level ground at 0 comes out as -0: the plane is divided by C = -576.
  EXPECT_TRUE(std::signbit(triangle_plane_height_from_grid(filled(0.0f), 0x1234, 30.0f, 50.0f)));
}

TEST(TrianglePlaneHeight, ClampsToTheOuterCells) {
  const HeightGrid g = bumpy();
  // 192 and beyond use cell 7 extended; negatives use cell 0 extended.
  const float at_edge = triangle_plane_height_from_grid(g, 0x0000, 192.0f, 100.0f);
  EXPECT_NEAR(at_edge, bilinear_height_from_grid(g, 192.0f, 100.0f), 1e-3f);
  EXPECT_TRUE(std::isfinite(triangle_plane_height_from_grid(g, 0x0000, -1.0e30f, 1.0e30f)));
  EXPECT_TRUE(std::isnan(triangle_plane_height_from_grid(g, 0x0000, NAN, 10.0f)));
}

}  // namespace
}  // namespace strewmill::engine
