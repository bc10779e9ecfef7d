#include "apps/strewmill/caches.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lib/dat/dat_database.h"
#include "lib/dat/gfx_obj.h"
#include "lib/dat/scene.h"
#include "lib/dat/setup_model.h"
#include "lib/engine/placement.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/object_records.h"

namespace strewmill::app {
namespace {

using common::Vector3;
using Points = std::vector<Vector3>;

constexpr std::uint32_t kScene = 0x12000010;
constexpr std::uint32_t kBadScene = 0x12000011;
constexpr std::uint32_t kLateScene = 0x12000099;  // only in the second archive
constexpr std::uint32_t kGfxA = 0x01000001;
constexpr std::uint32_t kGfxB = 0x01000002;
constexpr std::uint32_t kGfxNoVertices = 0x01000003;
constexpr std::uint32_t kGfxWrongType = 0x01000004;
constexpr std::uint32_t kGfxBad = 0x01000005;
constexpr std::uint32_t kGfxLate = 0x01000099;  // only in the second archive
constexpr std::uint32_t kOtherKind = 0x03000001;  // a valid graphics object under another kind
constexpr std::uint32_t kSetupABA = 0x02000001;
constexpr std::uint32_t kSetupNothing = 0x02000002;
constexpr std::uint32_t kSetupBad = 0x02000003;
constexpr std::uint32_t kSetupMixed = 0x02000004;
constexpr std::uint32_t kSetupNoParts = 0x02000005;

std::vector<std::uint8_t> gfx(std::uint32_t id, const Points& points, std::uint32_t vertex_type = 1) {
  dat::GfxObj g;
  g.id = id;
  g.vertex_array.vertex_type = vertex_type;
  for (std::size_t i = 0; i < points.size(); ++i) {
    dat::SWVertex v;
    v.origin = points[i];
    g.vertex_array.vertices.emplace(static_cast<dat::PolyId>(i), v);
  }
  return tools::encode_gfx_obj(g);
}

std::vector<std::uint8_t> setup(std::uint32_t id, std::vector<std::uint32_t> parts) {
  dat::SetupModel m;
  m.id = id;
  m.part_ids = std::move(parts);
  return tools::encode_setup_model(m);
}

dat::Scene scene() {
  dat::Scene s;
  s.id = kScene;
  dat::ObjectDesc a;
  a.obj_id = kGfxA;
  a.frequency = 0.5f;
  dat::ObjectDesc b = a;
  b.obj_id = kSetupABA;
  b.exclude = 1;
  s.objects = {a, b};
  return s;
}

const std::vector<std::uint8_t> kGarbage{1, 2, 3};

class CachesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tools::ArchiveWriter first;
    first.add(kScene, tools::encode_scene(scene()));
    first.add(kBadScene, kGarbage);
    first.add(kGfxA, gfx(kGfxA, {{1, 2, 3}}));
    first.add(kGfxB, gfx(kGfxB, {{4, 5, 6}, {7, 8, 9}}), /*compress=*/true);
    first.add(kGfxNoVertices, gfx(kGfxNoVertices, {}));
    first.add(kGfxWrongType, gfx(kGfxWrongType, {{1, 1, 1}}, 2));
    first.add(kGfxBad, kGarbage);
    first.add(kOtherKind, gfx(kOtherKind, {{-1, -1, -1}}));
    first.add(kSetupABA, setup(kSetupABA, {kGfxA, kGfxB, kGfxA}));
    first.add(kSetupNothing, setup(kSetupNothing, {kGfxNoVertices, kGfxLate, kGfxBad, kGfxWrongType}));
    first.add(kSetupBad, kGarbage);
    first.add(kSetupMixed, setup(kSetupMixed, {kGfxBad, kOtherKind, kGfxB}));
    first.add(kSetupNoParts, setup(kSetupNoParts, {}));
    ASSERT_TRUE(first.write(dir_ / "first.dat").ok());

    // Every id again with other contents: a cache that fetched a second
    // time would see these.
    tools::ArchiveWriter second;
    dat::Scene other = scene();
    other.objects.pop_back();
    for (std::uint32_t id : {kScene, kBadScene, kLateScene}) second.add(id, tools::encode_scene(other));
    for (std::uint32_t id : {kGfxA, kGfxB, kGfxNoVertices, kGfxWrongType, kGfxBad, kGfxLate, kOtherKind}) {
      second.add(id, gfx(id, {{100, 100, 100}}));
    }
    for (std::uint32_t id : {kSetupABA, kSetupNothing, kSetupBad, kSetupMixed, kSetupNoParts}) {
      second.add(id, setup(id, {kGfxLate}));
    }
    ASSERT_TRUE(second.write(dir_ / "second.dat").ok());

    auto a = dat::DatDatabase::open(dir_ / "first.dat");
    auto b = dat::DatDatabase::open(dir_ / "second.dat");
    ASSERT_TRUE(a.ok());
    ASSERT_TRUE(b.ok());
    first_.emplace(std::move(a).value());
    second_.emplace(std::move(b).value());
  }

  test_support::TempDir dir_;
  std::optional<dat::DatDatabase> first_;
  std::optional<dat::DatDatabase> second_;
};

TEST_F(CachesTest, GfxLocalMeshTakesVertexOrigins) {
  EXPECT_EQ(gfx_local_mesh(*first_, kGfxA), (Points{{1, 2, 3}}));
  auto b = gfx_local_mesh(*first_, kGfxB);
  ASSERT_TRUE(b.has_value());
  std::sort(b->begin(), b->end(), [](const Vector3& l, const Vector3& r) { return l.x < r.x; });
  EXPECT_EQ(*b, (Points{{4, 5, 6}, {7, 8, 9}}));
  // A part id is used as given, whatever its kind.
  EXPECT_EQ(gfx_local_mesh(*first_, kOtherKind), (Points{{-1, -1, -1}}));
  for (std::uint32_t id : {kGfxNoVertices, kGfxWrongType, kGfxBad, kGfxLate, kSetupABA}) {
    EXPECT_FALSE(gfx_local_mesh(*first_, id).has_value()) << std::hex << id;
  }
}

TEST_F(CachesTest, SceneLookupsAreIndependentCopiesAndRemembered) {
  SceneCache cache;
  auto one = cache.lookup(*first_, kScene);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(*one, scene());
  one->objects.clear();
  one->objects.shrink_to_fit();

  // Served from the cache: the second archive's shorter scene is not seen.
  auto two = cache.lookup(*second_, kScene);
  ASSERT_TRUE(two.has_value());
  EXPECT_EQ(*two, scene());

  // Misses are remembered, including ids the second archive would have.
  EXPECT_FALSE(cache.lookup(*first_, kBadScene).has_value());
  EXPECT_FALSE(cache.lookup(*first_, kLateScene).has_value());
  EXPECT_FALSE(cache.lookup(*second_, kBadScene).has_value());
  EXPECT_FALSE(cache.lookup(*second_, kLateScene).has_value());
  EXPECT_EQ(cache.size(), 3u);

  // The form that fills the caller's list: the same objects, replacing what
  // the list held; a miss leaves the list alone.
  std::vector<dat::ObjectDesc> objects(5);
  ASSERT_TRUE(cache.lookup(*second_, kScene, objects));
  EXPECT_EQ(objects, scene().objects);
  objects.clear();
  EXPECT_EQ(cache.lookup(*second_, kScene)->objects, scene().objects);
  objects = {dat::ObjectDesc{}};
  EXPECT_FALSE(cache.lookup(*second_, kLateScene, objects));
  EXPECT_EQ(objects, std::vector<dat::ObjectDesc>{dat::ObjectDesc{}});
  EXPECT_EQ(cache.size(), 3u);
}

TEST_F(CachesTest, MeshesOfGraphicsObjectsAndSetups) {
  MeshCache cache;
  const Points a = *gfx_local_mesh(*first_, kGfxA);
  const Points b = *gfx_local_mesh(*first_, kGfxB);

  const Points* gfx_a = cache.lookup(*first_, kGfxA);
  ASSERT_NE(gfx_a, nullptr);
  EXPECT_EQ(*gfx_a, a);

  // Parts A, B, A: the points of each, in part order, duplicates kept.
  Points aba = a;
  aba.insert(aba.end(), b.begin(), b.end());
  aba.insert(aba.end(), a.begin(), a.end());
  const Points* setup_aba = cache.lookup(*first_, kSetupABA);
  ASSERT_NE(setup_aba, nullptr);
  EXPECT_EQ(*setup_aba, aba);

  // A part that fails to decode only removes its own points.
  Points mixed{{-1, -1, -1}};
  mixed.insert(mixed.end(), b.begin(), b.end());
  const Points* setup_mixed = cache.lookup(*first_, kSetupMixed);
  ASSERT_NE(setup_mixed, nullptr);
  EXPECT_EQ(*setup_mixed, mixed);

  for (std::uint32_t id : {kSetupNothing, kSetupBad, kSetupNoParts, kGfxNoVertices, kGfxWrongType,
                           kGfxBad, kGfxLate, kOtherKind, 0x00000000u, 0xFF000001u}) {
    EXPECT_EQ(cache.lookup(*first_, id), nullptr) << std::hex << id;
  }
}

TEST_F(CachesTest, MeshLookupsAreRemembered) {
  MeshCache cache;
  const Points* a = cache.lookup(*first_, kGfxA);
  const Points* aba = cache.lookup(*first_, kSetupABA);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(aba, nullptr);
  const Points a_copy = *a;
  const Points aba_copy = *aba;
  for (std::uint32_t id : {kGfxLate, kGfxBad, kSetupBad, kSetupNothing}) {
    EXPECT_EQ(cache.lookup(*first_, id), nullptr);
  }

  // The second archive has points for every one of these ids.
  ASSERT_TRUE(gfx_local_mesh(*second_, kGfxLate).has_value());
  EXPECT_EQ(*cache.lookup(*second_, kGfxA), a_copy);
  EXPECT_EQ(*cache.lookup(*second_, kSetupABA), aba_copy);
  for (std::uint32_t id : {kGfxLate, kGfxBad, kSetupBad, kSetupNothing}) {
    EXPECT_EQ(cache.lookup(*second_, id), nullptr) << std::hex << id;
  }
  // Other kinds never reach the archive, so they are absent in both.
  EXPECT_EQ(cache.lookup(*second_, kOtherKind), nullptr);
  EXPECT_EQ(cache.size(), 7u);
}

TEST_F(CachesTest, ServeAsTheEngineLookUps) {
  dat::Region region;
  region.scene.emplace();
  region.scene->scene_types.push_back(dat::SceneType{0, {kScene}});
  region.terrain.terrain_types.push_back(dat::TerrainType{"", 0, {0}});
  dat::CellLandblock lb;  // every vertex: terrain type 0, scene type 0

  SceneCache scenes;
  MeshCache meshes;
  const auto out = engine::bake_landblock_impl(
      region, lb, 0x12340000, [&](std::uint32_t id) { return scenes.lookup(*first_, id); },
      [&](std::uint32_t id) { return meshes.lookup(*first_, id); }, {}, engine::BakeMode::AceCompat);
  // Descriptor 0 (frequency 0.5) appears at some vertices; descriptor 1 is
  // excluded everywhere.
  EXPECT_FALSE(out.empty());
  for (const engine::Placement& p : out) {
    EXPECT_EQ(p.obj_id, kGfxA);
    EXPECT_EQ(p.source_obj_idx, 0u);
  }
  EXPECT_EQ(scenes.size(), 1u);
  EXPECT_EQ(meshes.size(), 1u);

  // Through the list-filling form, as the bake run calls it: the same
  // placements.
  SceneCache scenes2;
  const auto out2 = engine::bake_landblock_impl(
      region, lb, 0x12340000,
      [&](std::uint32_t id, std::vector<dat::ObjectDesc>& objects) { return scenes2.lookup(*first_, id, objects); },
      [&](std::uint32_t id) { return meshes.lookup(*first_, id); }, {}, engine::BakeMode::AceCompat);
  EXPECT_EQ(out2, out);
}

}  // namespace
}  // namespace strewmill::app
