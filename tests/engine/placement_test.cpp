#include "lib/engine/placement.h"

#include <gtest/gtest.h>

#include <math.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/engine/hashes.h"
#include "lib/engine/height.h"

namespace strewmill::engine {
namespace {

namespace st = placement_steps;
using common::Vector3;

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

std::string seven_digits(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  return buf;
}

// Terrain type 31 does not exist in the test regions: the vertex gets nothing.
constexpr std::uint16_t kNoScenery = 31 << 2;

// One terrain type (0) whose scene type 0 maps to one scene type listing
// `scene_ids`.
dat::Region region_with(std::vector<std::uint32_t> scene_ids) {
  dat::Region region;
  for (int h = 0; h < 256; ++h) region.land_height_table[h] = 2.0f * static_cast<float>(h);
  dat::SceneType type;
  type.scene_ids = std::move(scene_ids);
  region.scene.emplace();
  region.scene->scene_types.push_back(type);
  dat::TerrainType terrain;
  terrain.scene_type_indices = {0};
  region.terrain.terrain_types.push_back(terrain);
  return region;
}

// Only the listed vertices carry scenery.
dat::CellLandblock landblock_with(std::initializer_list<int> vertices) {
  dat::CellLandblock lb;
  lb.terrain.fill(kNoScenery);
  for (int i : vertices) lb.terrain[i] = 0;
  return lb;
}

dat::CellLandblock all_vertices() {
  dat::CellLandblock lb;
  for (int i = 0; i < 81; ++i) lb.height[i] = static_cast<std::uint8_t>((i * 7) % 13);
  return lb;
}

// Always passes the frequency test, stays where its origin puts it, scale 1.
dat::ObjectDesc desc(std::uint32_t obj_id, float ox = 0, float oy = 0) {
  dat::ObjectDesc d;
  d.obj_id = obj_id;
  d.base_frame.origin = Vector3{ox, oy, 0};
  d.frequency = 1.0f;
  d.min_scale = d.max_scale = 1.0f;
  d.min_slope = 0.0f;
  d.max_slope = 1.0f;
  return d;
}

constexpr std::uint32_t kScene = 0x12000001;
constexpr std::uint32_t kPoint = 0x01000001;   // mesh: the origin only
constexpr std::uint32_t kSquare = 0x01000002;  // mesh: (-1, -1) to (1, 1)
constexpr std::uint32_t kEmpty = 0x01000003;   // mesh without points
constexpr std::uint32_t kNoMesh = 0x03000001;  // no mesh at all

// Look-ups served from maps; counts the calls.
struct World {
  std::map<std::uint32_t, std::vector<dat::ObjectDesc>> scenes;
  std::map<std::uint32_t, std::vector<Vector3>> meshes{
      {kPoint, {{0, 0, 0}}}, {kSquare, {{-1, -1, 5}, {1, 1, -5}}}, {kEmpty, {}}};

  std::vector<Placement> bake(const dat::Region& region, const dat::CellLandblock& lb,
                              std::uint32_t lb_base, std::span<const Box> buildings = {},
                              BakeMode mode = BakeMode::AceCompat) {
    return bake_landblock_impl(
        region, lb, lb_base,
        [this](std::uint32_t id) -> std::optional<std::vector<dat::ObjectDesc>> {
          auto it = scenes.find(id);
          if (it == scenes.end()) return std::nullopt;
          return it->second;
        },
        [this](std::uint32_t id) -> const std::vector<Vector3>* {
          auto it = meshes.find(id);
          return it == meshes.end() ? nullptr : &it->second;
        },
        buildings, mode);
  }
};

// The base origin that the vertex's quadrant turn moves to (px, py).
Vector3 origin_landing_at(std::uint32_t lb_base, int i, float px, float py) {
  const std::uint32_t X = (lb_base >> 24) * 8 + i / 9;
  const std::uint32_t Y = ((lb_base >> 16) & 0xFF) * 8 + i % 9;
  const double q = fraction(quadrant_hash(X, Y));
  const float u = px - static_cast<float>(i / 9 * 24);
  const float v = py - static_cast<float>(i % 9 * 24);
  if (q >= 0.75) return {-v, u, 0};
  if (q >= 0.5) return {-u, -v, 0};
  if (q >= 0.25) return {v, -u, 0};
  return {u, v, 0};
}

// --- The worked example of landblock 0xA9B4 -------------------------------

TEST(PlacementHashes, WorkedExampleVertexZero) {
  const std::uint32_t X = 1352, Y = 1440;
  EXPECT_EQ(scene_hash(X, Y), 0x4B261039u);
  EXPECT_EQ(fraction(scene_hash(X, Y)), 0.29354954632329144);
  const st::VertexHashes v = st::vertex_hashes(X, Y);
  EXPECT_EQ(frequency_hash(X, Y, v.H), 0x16DC1C97u);
  EXPECT_EQ(v.f, 0.089296136279884239);
  EXPECT_EQ(v.M, 0x44AFD549u);
  EXPECT_EQ(quadrant_hash(X, Y), 0xAA2A023Bu);
  EXPECT_EQ(v.q, 0.66470349165556386);

  for (std::size_t c : {1, 2, 3}) EXPECT_EQ(st::scene_index(c, X, Y), 0u) << c;
  for (std::size_t c : {4, 5}) EXPECT_EQ(st::scene_index(c, X, Y), 1u) << c;
  EXPECT_EQ(st::scene_index(7, X, Y), 2u);
  // The 180-degree quadrant.
  const st::Offset o = st::quadrant_turn(v.q, 2.0f, 3.0f);
  EXPECT_EQ(o.u, -2.0f);
  EXPECT_EQ(o.v, -3.0f);
}

TEST(PlacementHashes, WorkedExampleVertexForty) {
  const std::uint32_t X = 1356, Y = 1444;
  EXPECT_EQ(scene_hash(X, Y), 0x86DF8891u);
  EXPECT_EQ(fraction(scene_hash(X, Y)), 0.52684834168510708);
  const st::VertexHashes v = st::vertex_hashes(X, Y);
  EXPECT_EQ(v.H, 0x9B47E060u);
  EXPECT_EQ(frequency_hash(X, Y, v.H), 0xBC57048Fu);
  EXPECT_EQ(v.f, 0.73570277481623048);
  EXPECT_EQ(v.M, 0x8D3EBBF9u);
  EXPECT_EQ(quadrant_hash(X, Y), 0xDF7C1CF3u);
  EXPECT_EQ(v.q, 0.87298755165163755);

  EXPECT_EQ(object_hash(0, kSaltDisplaceX, v.M, v.H), 0x553788C5u);
  EXPECT_EQ(object_hash(0, kSaltDisplaceY, v.M, v.H), 0x7A7D1FF7u);
  EXPECT_EQ(object_hash(0, kSaltRotation, v.M, v.H), 0x33EA063Fu);
  EXPECT_EQ(object_hash(0, kSaltScale, v.M, v.H), 0x6B61E129u);
}

TEST(PlacementSteps, WorkedExampleDescriptor) {
  const st::VertexHashes v = st::vertex_hashes(1356, 1444);
  dat::ObjectDesc d = desc(kPoint, 5.0f, 3.0f);
  d.frequency = 0.8f;
  ASSERT_TRUE(st::passes_frequency(d, v));

  const float dx = st::displaced(5.0f, 2.0f, object_hash(0, kSaltDisplaceX, v.M, v.H));
  const float dy = st::displaced(3.0f, 2.0f, object_hash(0, kSaltDisplaceY, v.M, v.H));
  EXPECT_EQ(seven_digits(dx), "5.665757");
  EXPECT_EQ(bits(dy), bits(3.9569435f));

  const st::Offset o = st::quadrant_turn(v.q, dx, dy);  // 270 degrees
  EXPECT_EQ(bits(o.u), bits(dy));
  EXPECT_EQ(bits(o.v), bits(-dx));
  const float px = o.u + 96.0f;
  const float py = o.v + 96.0f;
  EXPECT_EQ(bits(px), bits(99.95694f));
  EXPECT_EQ(seven_digits(py), "90.33424");

  const float theta = st::rotation_angle(90.0f, object_hash(0, kSaltRotation, v.M, v.H));
  EXPECT_EQ(seven_digits(theta), "0.3185414");
  const st::Yaw yaw = st::yaw_quaternion(theta);
  EXPECT_EQ(bits(yaw.qw), bits(0.9873432f));
  EXPECT_EQ(seven_digits(yaw.qz), "0.1585982");
  EXPECT_EQ(seven_digits(st::scale_factor(1.0f, 2.0f, object_hash(0, kSaltScale, v.M, v.H))),
            "1.337429");
}

TEST(BakeLandblock, WorkedExampleThroughTheProcedure) {
  World world;
  dat::ObjectDesc d = desc(kPoint, 5.0f, 3.0f);
  d.frequency = 0.8f;
  d.displace_x = d.displace_y = 2.0f;
  d.max_rotation = 90.0f;
  d.min_scale = 1.0f;
  d.max_scale = 2.0f;
  world.scenes[kScene] = {d};
  const dat::Region region = region_with({kScene});
  dat::CellLandblock lb = landblock_with({40});
  for (int i = 0; i < 81; ++i) lb.height[i] = static_cast<std::uint8_t>(i);

  for (BakeMode mode : {BakeMode::AceCompat, BakeMode::Strict}) {
    const std::vector<Placement> out = world.bake(region, lb, 0xA9B40000, {}, mode);
    ASSERT_EQ(out.size(), 1u);
    const Placement& p = out[0];
    EXPECT_EQ(p.obj_id, kPoint);
    EXPECT_EQ(bits(p.x), bits(99.95694f));
    EXPECT_EQ(seven_digits(p.y), "90.33424");
    EXPECT_EQ(bits(p.qw), bits(0.9873432f));
    EXPECT_EQ(seven_digits(p.qz), "0.1585982");
    EXPECT_EQ(bits(p.qx), 0u);
    EXPECT_EQ(bits(p.qy), 0u);
    EXPECT_EQ(seven_digits(p.scale), "1.337429");
    EXPECT_EQ(p.source_cell_x, 4u);
    EXPECT_EQ(p.source_cell_y, 4u);
    EXPECT_EQ(p.source_obj_idx, 0u);
    const HeightGrid grid = vertex_heights(region, lb);
    const float z = mode == BakeMode::Strict ? bilinear_height_from_grid(grid, p.x, p.y)
                                             : triangle_plane_height_from_grid(grid, 0xA9B4, p.x, p.y);
    EXPECT_EQ(bits(p.z), bits(z));
  }
}

TEST(PlacementHashes, LandblockZeroVertexZero) {
  EXPECT_EQ(scene_hash(0, 0), 0x7F8CDA01u);
  EXPECT_EQ(fraction(scene_hash(0, 0)), 0.49824296669508983);
  EXPECT_EQ(st::scene_index(3, 0, 0), 1u);
  const st::VertexHashes v = st::vertex_hashes(0, 0);
  EXPECT_EQ(v.f, 0.95641709084985216);
  EXPECT_EQ(v.q, 0.90629683572654185);
  const st::Offset o = st::quadrant_turn(v.q, 2.0f, 3.0f);
  EXPECT_EQ(o.u, 3.0f);
  EXPECT_EQ(o.v, -2.0f);

  // Through the procedure: the second of three scenes, and only
  // frequencies above the threshold.
  World world;
  dat::ObjectDesc below = desc(kPoint, 1, 1);
  below.frequency = 0.9564f;
  dat::ObjectDesc above = desc(kPoint, -6, 6);
  above.frequency = 0.9565f;
  world.scenes[1] = {desc(kPoint, 2, 2)};
  world.scenes[2] = {below, above};
  world.scenes[3] = {desc(kPoint, 4, 4)};
  const auto out = world.bake(region_with({1, 2, 3}), landblock_with({0}), 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].source_obj_idx, 1u);
  EXPECT_EQ(out[0].x, 6.0f);  // (dy, -dx) + (0, 0)
  EXPECT_EQ(out[0].y, 6.0f);
}

// --- Single steps ---------------------------------------------------------

TEST(PlacementSteps, ScaleAndRotationShortcuts) {
  const std::uint32_t h = 0x6B61E129;
  EXPECT_EQ(bits(st::scale_factor(1.5f, 1.5f, h)), bits(1.5f));
  // Equal bounds never reach the quotient: 0/0 would make the scale NaN.
  EXPECT_EQ(bits(st::scale_factor(0.0f, 0.0f, h)), bits(0.0f));
  EXPECT_TRUE(std::isnan(st::scale_factor(NAN, NAN, h)));

  EXPECT_EQ(st::rotation_angle(0.0f, h), 0.0f);
  EXPECT_EQ(st::rotation_angle(-10.0f, h), 0.0f);
  EXPECT_TRUE(std::isnan(st::rotation_angle(NAN, h)));
  const st::Yaw none = st::yaw_quaternion(0.0f);
  EXPECT_EQ(bits(none.qw), bits(1.0f));
  EXPECT_EQ(bits(none.qz), bits(0.0f));

  EXPECT_EQ(bits(st::displaced(-2.5f, 0.0f, h)), bits(-2.5f));
  EXPECT_EQ(bits(st::displaced(-2.5f, -1.0f, h)), bits(-2.5f));
  EXPECT_TRUE(std::isnan(st::displaced(-2.5f, NAN, h)));
}

TEST(PlacementSteps, QuadrantBoundaries) {
  struct Case {
    double q;
    float u, v;
  } cases[] = {{0.0, 2, 3}, {0.2499, 2, 3}, {0.25, -3, 2}, {0.5, -2, -3}, {0.75, 3, -2}, {0.9999, 3, -2}};
  for (const Case& c : cases) {
    const st::Offset o = st::quadrant_turn(c.q, 2.0f, 3.0f);
    EXPECT_EQ(o.u, c.u) << c.q;
    EXPECT_EQ(o.v, c.v) << c.q;
  }
  // Negation flips the sign of zero too.
  EXPECT_TRUE(std::signbit(st::quadrant_turn(0.6, 0.0f, 0.0f).u));
}

TEST(PlacementSteps, BoxesThatTouchOverlap) {
  const Box a{0, 0, 10, 10};
  EXPECT_TRUE(overlaps(a, Box{10, 10, 20, 20}));
  EXPECT_TRUE(overlaps(Box{10, 10, 20, 20}, a));
  EXPECT_TRUE(overlaps(a, Box{-5, 10, 0, 12}));
  EXPECT_FALSE(overlaps(a, Box{std::nextafter(10.0f, 11.0f), 0, 20, 10}));
  EXPECT_FALSE(overlaps(a, Box{0, -5, 10, std::nextafter(0.0f, -1.0f)}));
  EXPECT_FALSE(overlaps(a, Box{}));  // empty
  EXPECT_FALSE(overlaps(Box{}, Box{}));
}

// The footprint works on four points at a time where the CPU allows. Every
// box must equal the point-by-point loop's, whatever the mesh length and
// whatever NaNs, infinities and signed zeros the points bring.
TEST(PlacementSteps, ObjectBoxEqualsThePointByPointLoop) {
  auto reference = [](const std::vector<Vector3>& mesh, float theta, float scale, float px, float py) {
    float s = 0, c = 0;
    ::sincosf(theta, &s, &c);
    Box box;
    for (const Vector3& p : mesh) {
      const float sx = p.x * scale;
      const float sy = p.y * scale;
      box.extend((c * sx - s * sy) + px, (s * sx + c * sy) + py);
    }
    return box;
  };
  const float specials[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, 1e30f, -1e-30f};
  std::uint32_t state = 99;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state;
  };
  auto value = [&] {
    const std::uint32_t r = next();
    if (r % 23 == 0) return specials[(r >> 8) % std::size(specials)];
    return static_cast<float>(static_cast<std::int32_t>(r >> 4)) * 1e-7f;
  };
  for (int round = 0; round < 3000; ++round) {
    std::vector<Vector3> mesh(next() % 14);
    for (Vector3& p : mesh) p = {value(), value(), value()};
    const float theta = round % 5 == 0 ? 0.0f : static_cast<float>(next() % 6284) * 0.001f;
    const float scale = round % 7 == 0 ? 1.0f : value();
    const float px = static_cast<float>(next() % 193);
    const float py = static_cast<float>(next() % 193);
    const Box want = reference(mesh, theta, scale, px, py);
    const Box got = st::object_box(mesh, theta, scale, px, py);
    // Equal as floats: a zero extent may differ only in its sign, which no
    // comparison sees; a NaN never gets into either box.
    ASSERT_EQ(got, want) << "round " << round << ", " << mesh.size() << " points";
    EXPECT_FALSE(std::isnan(got.min_x) || std::isnan(got.min_y) || std::isnan(got.max_x) ||
                 std::isnan(got.max_y));
  }
}

// Accepted boxes are scanned four at a time where the CPU allows; the
// answer must be that of overlaps() against each box in turn.
TEST(PlacementSteps, AcceptedBoxScanAgreesWithOverlaps) {
  std::uint32_t state = 7;
  auto coord = [&] {
    state = state * 1664525u + 1013904223u;
    if (state % 41 == 0) return (state >> 8) % 2 ? INFINITY : -INFINITY;
    return static_cast<float>((state >> 8) % 200) - 4.0f;
  };
  auto box = [&] {
    Box b{coord(), coord(), 0, 0};
    b.max_x = b.min_x + static_cast<float>((state >> 3) % 9) - 1.0f;  // some empty
    b.max_y = b.min_y + static_cast<float>((state >> 5) % 9) - 1.0f;
    return state % 13 == 0 ? Box{} : b;
  };
  for (int round = 0; round < 2000; ++round) {
    st::AcceptedBoxes accepted;
    std::vector<Box> plain;
    for (std::uint32_t k = state % 14; k > 0; --k) {
      const Box b = box();
      accepted.push_back(b);
      plain.push_back(b);
    }
    const Box probe = box();
    bool any = false;
    for (const Box& b : plain) any = any || overlaps(probe, b);
    ASSERT_EQ(accepted.overlaps_any(probe), any) << "round " << round;
    ASSERT_EQ(accepted.size(), plain.size());
  }
}

TEST(BuildingBox, YawOnlyFootprint) {
  const std::vector<Vector3> mesh{{-1, -2, 9}, {3, 4, -9}};
  common::Frame frame;
  frame.origin = {10, 20, 30};
  frame.orientation = {1, 0.3f, 0.4f, 0};  // pitch and roll are ignored
  EXPECT_EQ(building_box(mesh, frame), (Box{9, 18, 13, 24}));

  frame.orientation = {0, 0, 0, 1};  // half a turn
  const Box turned = building_box(mesh, frame);
  EXPECT_NEAR(turned.min_x, 7, 1e-5);
  EXPECT_NEAR(turned.min_y, 16, 1e-5);
  EXPECT_NEAR(turned.max_x, 11, 1e-5);
  EXPECT_NEAR(turned.max_y, 22, 1e-5);

  EXPECT_EQ(building_box({}, frame), Box{});
  EXPECT_EQ(building_box({{NAN, 1, 0}}, frame), Box{});
}

// --- The procedure --------------------------------------------------------

TEST(BakeLandblock, SkipsVerticesWithoutScenery) {
  World world;
  world.scenes[kScene] = {desc(kPoint)};
  world.scenes[kScene + 1] = {};  // empty scene
  const std::uint32_t kMissingScene = 0x12FFFFFF;

  struct Case {
    const char* name;
    std::uint16_t word;  // terrain word of vertex 0
    std::vector<std::uint32_t> extra_ids;  // scene ids of scene type 1
  } cases[] = {
      {"terrain type out of range", 1 << 2, {}},
      {"scene type out of range", 3 << 11, {}},
      {"scene type index out of range", 2 << 11, {}},
      {"no candidate scenes", 1 << 11, {}},
      {"scene not found", 1 << 11, {kMissingScene}},
      {"empty scene", 1 << 11, {kScene + 1}},
  };
  for (const Case& c : cases) {
    dat::Region region = region_with({kScene});
    dat::SceneType extra;
    extra.scene_ids = c.extra_ids;
    region.scene->scene_types.push_back(extra);
    region.terrain.terrain_types[0].scene_type_indices = {0, 1, 7};  // 7: no such scene type
    dat::CellLandblock lb = landblock_with({0, 1});
    lb.terrain[0] = c.word;
    const auto out = world.bake(region, lb, 0);
    ASSERT_EQ(out.size(), 1u) << c.name;
    EXPECT_EQ(out[0].source_cell_y, 1u) << c.name;
  }

  dat::Region no_scene = region_with({kScene});
  no_scene.scene.reset();
  EXPECT_TRUE(world.bake(no_scene, all_vertices(), 0).empty());
}

TEST(BakeLandblock, ExcludedAndRareDescriptorsAreNeverPlaced) {
  World world;
  dat::ObjectDesc excluded = desc(kPoint, 2, 2);
  excluded.exclude = 1;
  dat::ObjectDesc never = desc(kSquare, 5, 5);
  never.frequency = 0.0f;
  dat::ObjectDesc nan_freq = desc(kSquare, 8, 8);
  nan_freq.frequency = NAN;
  world.scenes[kScene] = {excluded, never, nan_freq};
  EXPECT_TRUE(world.bake(region_with({kScene}), all_vertices(), 0x12340000).empty());
}

TEST(BakeLandblock, BoundsIncludeZeroAndTheFarEdge) {
  struct Case {
    int vertex;
    float px, py;
    bool placed;
  } cases[] = {
      {76, 192.0f, 100.0f, true},
      {76, std::nextafter(192.0f, 200.0f), 100.0f, false},
      {72, 150.0f, 0.0f, true},
      {72, 150.0f, -0.00001f, false},
      {0, 0.0f, 40.0f, true},
      {0, std::nextafter(0.0f, -1.0f), 40.0f, false},
      {8, 10.0f, 192.0f, true},
      {8, 10.0f, 192.00002f, false},
  };
  for (const Case& c : cases) {
    World world;
    const Vector3 o = origin_landing_at(0, c.vertex, c.px, c.py);
    world.scenes[kScene] = {desc(kPoint, o.x, o.y)};
    const auto out = world.bake(region_with({kScene}), landblock_with({c.vertex}), 0);
    ASSERT_EQ(out.size(), c.placed ? 1u : 0u) << c.px << "," << c.py;
    if (c.placed) {
      EXPECT_EQ(bits(out[0].x), bits(c.px));
      EXPECT_EQ(bits(out[0].y), bits(c.py));
    }
  }
}

TEST(BakeLandblock, NanPositionsPassTheBoundsTest) {
  // A NaN displacement gives a NaN position: it passes the bounds test, has
  // an empty footprint and blocks nothing. An infinite one is dropped.
  World world;
  dat::ObjectDesc nan_x = desc(kSquare);
  nan_x.displace_x = NAN;
  dat::ObjectDesc inf_y = desc(kSquare);
  inf_y.displace_y = INFINITY;
  world.scenes[kScene] = {nan_x, inf_y, desc(kSquare)};
  for (BakeMode mode : {BakeMode::AceCompat, BakeMode::Strict}) {
    const auto out = world.bake(region_with({kScene}), landblock_with({40}), 0x22330000, {}, mode);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(std::isnan(out[0].x) || std::isnan(out[0].y));
    EXPECT_TRUE(std::isnan(out[0].z));
    EXPECT_EQ(out[1].source_obj_idx, 2u);
  }
}

TEST(BakeLandblock, RoadTestUsesRowStrideEight) {
  // An object at (30, 10) lies in cell (1, 0): the word tested is entry
  // 1 * 8 + 0 = 8, i.e. vertex (0, 8), not vertex (1, 0) at entry 9.
  struct Case {
    int road_entry;
    bool placed;
  } cases[] = {{-1, true}, {8, false}, {9, true}, {1, true}};
  for (const Case& c : cases) {
    World world;
    const Vector3 o = origin_landing_at(0, 9, 30.0f, 10.0f);
    world.scenes[kScene] = {desc(kPoint, o.x, o.y)};
    dat::CellLandblock lb = landblock_with({9});
    if (c.road_entry >= 0) lb.terrain[c.road_entry] |= 0x2;
    const auto out = world.bake(region_with({kScene}), lb, 0);
    EXPECT_EQ(out.size(), c.placed ? 1u : 0u) << c.road_entry;
  }
}

TEST(BakeLandblock, StrictSlopeLimits) {
  // Terrain rising 24 units per cell along x: the normal's z is 1/sqrt(2).
  dat::Region region = region_with({kScene});
  for (int h = 0; h < 256; ++h) region.land_height_table[h] = 24.0f * static_cast<float>(h);
  dat::CellLandblock lb = landblock_with({40});
  for (int i = 0; i < 81; ++i) lb.height[i] = static_cast<std::uint8_t>(i / 9);

  struct Case {
    float min_slope, max_slope;
    bool strict_placed;
  } cases[] = {
      {0.0f, 1.0f, true},
      {0.70710677f, 0.70710677f, true},
      {std::nextafter(0.70710677f, 1.0f), 1.0f, false},
      {0.0f, std::nextafter(0.70710677f, 0.0f), false},
      {1.5f, 2.0f, false},
      {NAN, NAN, true},  // NaN limits reject nothing
  };
  for (const Case& c : cases) {
    World world;
    dat::ObjectDesc d = desc(kPoint, 5, 7);
    d.min_slope = c.min_slope;
    d.max_slope = c.max_slope;
    world.scenes[kScene] = {d};
    const auto strict = world.bake(region, lb, 0, {}, BakeMode::Strict);
    EXPECT_EQ(strict.size(), c.strict_placed ? 1u : 0u) << c.min_slope << ".." << c.max_slope;
    // ace-compat has no slope test.
    EXPECT_EQ(world.bake(region, lb, 0, {}, BakeMode::AceCompat).size(), 1u);
  }
}

TEST(BakeLandblock, CollisionsKeepTheEarlierObject) {
  const std::uint32_t lb_base = 0x7F7F0000;
  const Vector3 at_100 = origin_landing_at(lb_base, 40, 100.0f, 100.0f);
  const Vector3 at_101 = origin_landing_at(lb_base, 40, 101.5f, 100.0f);
  const Vector3 at_110 = origin_landing_at(lb_base, 40, 110.0f, 100.0f);
  World world;
  // 0 and 1 overlap (1 is dropped); 2 is clear of both.
  world.scenes[kScene] = {desc(kSquare, at_100.x, at_100.y), desc(kSquare, at_101.x, at_101.y),
                          desc(kSquare, at_110.x, at_110.y)};
  const dat::Region region = region_with({kScene});
  const dat::CellLandblock lb = landblock_with({40});

  auto indices = [](const std::vector<Placement>& out) {
    std::vector<std::uint32_t> idx;
    for (const Placement& p : out) idx.push_back(p.source_obj_idx);
    return idx;
  };
  EXPECT_EQ(indices(world.bake(region, lb, lb_base)), (std::vector<std::uint32_t>{0, 2}));

  // Object 0's box is (99, 99)-(101, 101): a building that only touches it
  // blocks it, so object 1 takes its place.
  const Box touching[] = {{90.0f, 0.0f, 99.0f, 192.0f}};
  EXPECT_EQ(indices(world.bake(region, lb, lb_base, touching)), (std::vector<std::uint32_t>{1, 2}));
  const Box clear[] = {{90.0f, 0.0f, std::nextafter(99.0f, 0.0f), 192.0f}, Box{}};
  EXPECT_EQ(indices(world.bake(region, lb, lb_base, clear)), (std::vector<std::uint32_t>{0, 2}));

  // Accepted boxes of earlier vertices block too.
  World two;
  const Vector3 from_31 = origin_landing_at(lb_base, 31, 100.5f, 100.5f);
  two.scenes[kScene] = {desc(kSquare, from_31.x, from_31.y)};
  two.scenes[kScene + 1] = {desc(kSquare, at_100.x, at_100.y)};
  dat::Region both = region_with({kScene});
  dat::SceneType second;
  second.scene_ids = {kScene + 1};
  both.scene->scene_types.push_back(second);
  both.terrain.terrain_types[0].scene_type_indices = {0, 1};
  dat::CellLandblock lb2 = landblock_with({31, 40});
  lb2.terrain[40] = 1 << 11;
  const auto out = two.bake(both, lb2, lb_base);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].source_cell_x, 3u);
  EXPECT_EQ(out[0].source_cell_y, 4u);
}

TEST(BakeLandblock, OutputOrderAndSourceFields) {
  // Descriptor 0 is a point at its vertex; descriptor 1 has an empty mesh
  // (a box that overlaps nothing); descriptor 2 has no mesh and is dropped.
  World world;
  world.scenes[kScene] = {desc(kPoint), desc(kNoMesh), desc(kEmpty)};
  const auto out = world.bake(region_with({kScene}), all_vertices(), 0x01020000);
  ASSERT_EQ(out.size(), 162u);
  for (std::size_t k = 0; k < out.size(); ++k) {
    const std::uint32_t i = static_cast<std::uint32_t>(k / 2);
    const Placement& p = out[k];
    EXPECT_EQ(p.source_cell_x, i / 9);
    EXPECT_EQ(p.source_cell_y, i % 9);
    EXPECT_EQ(p.source_obj_idx, k % 2 == 0 ? 0u : 2u);
    EXPECT_EQ(p.obj_id, k % 2 == 0 ? kPoint : kEmpty);
    EXPECT_EQ(p.qw, 1.0f);
    EXPECT_EQ(bits(p.qz), 0u);
    EXPECT_EQ(p.scale, 1.0f);
  }
  EXPECT_EQ(out[2 * 40].x, 96.0f);
  EXPECT_EQ(out[2 * 40].y, 96.0f);

  // A dropped descriptor does not shift the hashes of the ones after it.
  World displaced;
  dat::ObjectDesc moving = desc(kPoint, 1, 2);
  moving.displace_x = moving.displace_y = 3.0f;
  moving.max_rotation = 45.0f;
  moving.min_scale = 0.5f;
  moving.max_scale = 1.5f;
  displaced.scenes[kScene] = {desc(kNoMesh), moving};
  const auto with_missing = displaced.bake(region_with({kScene}), landblock_with({22}), 0x01020000);
  dat::ObjectDesc excluded = desc(kPoint);
  excluded.exclude = 1;
  displaced.scenes[kScene] = {excluded, moving};
  const auto with_excluded = displaced.bake(region_with({kScene}), landblock_with({22}), 0x01020000);
  ASSERT_EQ(with_missing.size(), 1u);
  EXPECT_EQ(with_missing, with_excluded);
  EXPECT_EQ(with_missing[0].source_obj_idx, 1u);
}

}  // namespace
}  // namespace strewmill::engine
