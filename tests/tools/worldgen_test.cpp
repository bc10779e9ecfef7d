#include "tools/writer/worldgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lib/dat/dat_database.h"
#include "lib/engine/placement.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"

namespace strewmill::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test_support::TempDir;

Bytes read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Small but complete: a rectangle of six landblocks (the hi corner without
// terrain), multi-level directories in every archive, odd block sizes.
WorldSpec small_spec() {
  WorldSpec spec;
  spec.seed = 7;
  spec.lb_lo = 0xA9B3;
  spec.lb_hi = 0xAAB5;
  spec.scenes = 40;
  spec.objects_per_scene = 6;
  spec.block_size = 300;
  spec.cell_block_size = 64;
  spec.filler_entries = 60;
  return spec;
}

class WorldgenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const auto r = generate_world(small_spec(), dir_->path());
    ASSERT_TRUE(r) << r.error();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::filesystem::path file(WorldArchive a) { return dir_->path() / world_file_name(a); }

  static TempDir* dir_;
};
TempDir* WorldgenTest::dir_ = nullptr;

TEST_F(WorldgenTest, SameSpecGivesIdenticalBytesAndSeedMatters) {
  TempDir again;
  ASSERT_TRUE(generate_world(small_spec(), again.path()));
  for (const WorldArchive a : kWorldArchives) {
    EXPECT_TRUE(read_all(file(a)) == read_all(again / world_file_name(a))) << world_file_name(a);
  }
  WorldSpec other = small_spec();
  other.seed = 8;
  TempDir reseeded;
  ASSERT_TRUE(generate_world(other, reseeded.path()));
  EXPECT_FALSE(read_all(file(WorldArchive::portal)) ==
               read_all(reseeded / world_file_name(WorldArchive::portal)));
}

// The streamed archives are byte for byte what ArchiveWriter makes of the
// same records.
TEST_F(WorldgenTest, StreamedArchivesMatchArchiveWriter) {
  for (const WorldArchive a : kWorldArchives) {
    const dat::DatHeader h = world_header(small_spec(), a);
    ArchiveWriter writer(h.block_size);
    writer.header() = h;
    ASSERT_TRUE(for_each_world_record(small_spec(), a, [&](WorldRecord& rec) -> common::Result<void, std::string> {
      writer.add(rec.id, rec.bytes, rec.compress);
      return {};
    }));
    auto image = writer.image();
    ASSERT_TRUE(image) << image.error();
    EXPECT_TRUE(*image == read_all(file(a))) << world_file_name(a);
  }
}

template <class T>
void expect_decodes_to(const T& meant, std::optional<T> decoded, std::uint32_t id) {
  ASSERT_TRUE(decoded.has_value()) << std::hex << id;
  EXPECT_TRUE(*decoded == meant) << "record 0x" << std::hex << id;
}

template <class T>
std::optional<T> unpack_cursor(const Bytes& bytes) {
  dat::Cursor cur(bytes);
  auto r = T::unpack(cur);
  if (!r) return std::nullopt;
  return std::move(r).value();
}

template <class T>
std::optional<T> unpack_span(const Bytes& bytes) {
  auto r = T::unpack(bytes);
  if (!r) return std::nullopt;
  return std::move(r).value();
}

TEST_F(WorldgenTest, EveryRecordDecodesToWhatWasMeant) {
  std::map<WorldArchive, std::size_t> kinds_seen;
  for (const WorldArchive a : kWorldArchives) {
    auto db = dat::DatDatabase::open(file(a));
    ASSERT_TRUE(db) << db.error().message();
    std::size_t count = 0;
    std::size_t compressed = 0;
    ASSERT_TRUE(for_each_world_record(small_spec(), a, [&](WorldRecord& rec) -> common::Result<void, std::string> {
      ++count;
      compressed += rec.compress ? 1 : 0;
      auto bytes = db->get_file(rec.id);
      EXPECT_TRUE(bytes) << std::hex << rec.id;
      if (!bytes) return {};
      EXPECT_TRUE(*bytes == rec.bytes) << std::hex << rec.id;
      if (const auto* v = std::get_if<dat::Region>(&rec.value)) {
        expect_decodes_to(*v, unpack_cursor<dat::Region>(*bytes), rec.id);
      } else if (const auto* v = std::get_if<dat::Scene>(&rec.value)) {
        expect_decodes_to(*v, unpack_cursor<dat::Scene>(*bytes), rec.id);
      } else if (const auto* v = std::get_if<dat::GfxObj>(&rec.value)) {
        expect_decodes_to(*v, unpack_cursor<dat::GfxObj>(*bytes), rec.id);
      } else if (const auto* v = std::get_if<dat::SetupModel>(&rec.value)) {
        expect_decodes_to(*v, unpack_cursor<dat::SetupModel>(*bytes), rec.id);
      } else if (const auto* v = std::get_if<dat::CellLandblock>(&rec.value)) {
        expect_decodes_to(*v, unpack_span<dat::CellLandblock>(*bytes), rec.id);
      } else if (const auto* v = std::get_if<dat::LandblockInfo>(&rec.value)) {
        expect_decodes_to(*v, unpack_span<dat::LandblockInfo>(*bytes), rec.id);
      }
      return {};
    }));
    EXPECT_EQ(count, db->size()) << world_file_name(a);
    EXPECT_GT(compressed, 0u) << world_file_name(a);
    for (const auto& [id, entry] : db->directory()) {
      const std::uint32_t tt = id >> 24;
      EXPECT_FALSE(tt >= 0x01 && tt <= 0x78 && ((id >> 16) & 0xFF) == 0xFF) << std::hex << id;
    }
  }
}

void collect_codes(const dat::BspNode& n, std::set<std::string>& codes) {
  if (n.leaf() != nullptr) {
    codes.insert("LEAF");
  } else if (const auto* p = n.portal()) {
    codes.insert("PORT");
    collect_codes(*p->pos_child, codes);
    collect_codes(*p->neg_child, codes);
  } else {
    const auto* i = n.internal();
    std::string c;
    for (int k = 0; k < 4; ++k) c.push_back(static_cast<char>((i->node_type >> (8 * k)) & 0xFF));
    codes.insert(c);
    if (i->pos_child) collect_codes(*i->pos_child, codes);
    if (i->neg_child) collect_codes(*i->neg_child, codes);
  }
}

TEST(WorldgenContent, CoversEveryNodeCodeHookTypeAndSkipsModderLandblocks) {
  std::set<std::string> physics, drawing;
  std::set<std::uint32_t> hooks;
  ASSERT_TRUE(for_each_world_record(small_spec(), WorldArchive::portal,
                                    [&](WorldRecord& rec) -> common::Result<void, std::string> {
                                      if (const auto* g = std::get_if<dat::GfxObj>(&rec.value)) {
                                        if (g->physics_bsp) collect_codes(*g->physics_bsp, physics);
                                        if (g->drawing_bsp) collect_codes(*g->drawing_bsp, drawing);
                                      } else if (const auto* m = std::get_if<dat::SetupModel>(&rec.value)) {
                                        for (const auto& [key, p] : m->placements)
                                          for (const auto& h : p.hooks) hooks.insert(h.hook_type);
                                      }
                                      return {};
                                    }));
  for (const char* code : {"BPIN", "BPnN", "BPIn", "BPnn", "BpIN", "BpnN", "PORT", "LEAF"}) {
    EXPECT_TRUE(physics.count(code) && drawing.count(code)) << code;
  }
  EXPECT_EQ(hooks.size(), 27u);

  // Row 0xFF: landblocks 0x70FF..0x78FF would carry modder-allocated ids.
  WorldSpec edge = small_spec();
  edge.lb_lo = 0x70FE;
  edge.lb_hi = 0x7AFF;
  edge.filler_entries = 0;
  std::set<std::uint32_t> landblocks;
  ASSERT_TRUE(for_each_world_record(edge, WorldArchive::cell, [&](WorldRecord& rec) -> common::Result<void, std::string> {
    landblocks.insert(rec.id >> 16);
    return {};
  }));
  EXPECT_EQ(landblocks.count(0x78FF), 0u);
  EXPECT_EQ(landblocks.count(0x70FF), 0u);
  EXPECT_EQ(landblocks.count(0x79FF), 1u);
  EXPECT_EQ(landblocks.count(0x78FE), 1u);
}

TEST(WorldgenContent, PadGrowsEveryArchive) {
  WorldSpec spec = small_spec();
  spec.pad_mb = 2;
  TempDir dir;
  ASSERT_TRUE(generate_world(spec, dir.path()));
  for (const WorldArchive a : kWorldArchives) {
    EXPECT_GE(std::filesystem::file_size(dir / world_file_name(a)), 2u << 20) << world_file_name(a);
    auto db = dat::DatDatabase::open(dir / world_file_name(a));
    ASSERT_TRUE(db);
    EXPECT_TRUE(db->contains(kWorldRegionId) || a != WorldArchive::portal);
  }
}

TEST(WorldgenContent, PerArchivePadReplacesTheCommonOne) {
  WorldSpec spec = small_spec();
  spec.pad_mb = 2;
  spec.archive_pad_mb[static_cast<std::size_t>(WorldArchive::cell)] = 3;
  spec.archive_pad_mb[static_cast<std::size_t>(WorldArchive::local)] = 0;
  TempDir dir;
  ASSERT_TRUE(generate_world(spec, dir.path()));
  const auto size = [&](WorldArchive a) { return std::filesystem::file_size(dir / world_file_name(a)); };
  EXPECT_GE(size(WorldArchive::portal), 2u << 20);
  EXPECT_GE(size(WorldArchive::cell), 3u << 20);
  EXPECT_LT(size(WorldArchive::local), 1u << 20);

  spec.archive_pad_mb[static_cast<std::size_t>(WorldArchive::portal)] = 4096;
  EXPECT_FALSE(validate_world_spec(spec));
}

TEST(WorldgenContent, RejectsBadSpecs) {
  WorldSpec crossed = small_spec();
  crossed.lb_lo = 0xAAB3;
  crossed.lb_hi = 0xA9B5;
  WorldSpec tiny_blocks = small_spec();
  tiny_blocks.cell_block_size = 4;
  WorldSpec no_scenes = small_spec();
  no_scenes.scenes = 0;
  TempDir dir;
  for (const WorldSpec& spec : {crossed, tiny_blocks, no_scenes}) {
    EXPECT_FALSE(generate_world(spec, dir.path()));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The point of the generator: baked with the engine, its landblocks carry
// plenty of scenery, and buildings and missing meshes take some away.
TEST_F(WorldgenTest, LandblocksGetScenery) {
  auto portal = dat::DatDatabase::open(file(WorldArchive::portal));
  auto cell = dat::DatDatabase::open(file(WorldArchive::cell));
  ASSERT_TRUE(portal && cell);
  auto region_bytes = portal->get_file(kWorldRegionId);
  ASSERT_TRUE(region_bytes);
  dat::Cursor rc(*region_bytes);
  auto region = dat::Region::unpack(rc);
  ASSERT_TRUE(region);

  std::map<std::uint32_t, std::optional<std::vector<common::Vector3>>> meshes;
  auto gfx_points = [&](std::uint32_t id, std::vector<common::Vector3>& out) {
    auto b = portal->get_file(id);
    if (!b) return;
    dat::Cursor c(*b);
    auto g = dat::GfxObj::unpack(c);
    if (!g) return;
    for (const auto& [vid, v] : g->vertex_array.vertices) out.push_back(v.origin);
  };
  auto mesh_lookup = [&](std::uint32_t id) -> const std::vector<common::Vector3>* {
    auto it = meshes.find(id);
    if (it == meshes.end()) {
      std::vector<common::Vector3> points;
      if (id >> 24 == 0x01) {
        gfx_points(id, points);
      } else if (id >> 24 == 0x02) {
        if (auto b = portal->get_file(id)) {
          dat::Cursor c(*b);
          if (auto m = dat::SetupModel::unpack(c)) {
            for (const std::uint32_t part : m->part_ids) gfx_points(part, points);
          }
        }
      }
      it = meshes.emplace(id, points.empty() ? std::nullopt : std::optional(std::move(points))).first;
    }
    return it->second ? &*it->second : nullptr;
  };
  auto scene_lookup = [&](std::uint32_t id) -> std::optional<dat::Scene> {
    auto b = portal->get_file(id);
    if (!b) return std::nullopt;
    dat::Cursor c(*b);
    auto s = dat::Scene::unpack(c);
    if (!s) return std::nullopt;
    return std::move(s).value();
  };

  std::size_t landblocks = 0, placements = 0, buildings = 0;
  for (std::uint32_t lb : {0xA9B3u, 0xA9B4u, 0xA9B5u, 0xAAB3u, 0xAAB4u}) {
    auto t = cell->get_file((lb << 16) | 0xFFFF);
    ASSERT_TRUE(t) << std::hex << lb;
    auto terrain = dat::CellLandblock::unpack(*t);
    ASSERT_TRUE(terrain);
    std::vector<engine::Box> boxes;
    if (auto i = cell->get_file((lb << 16) | 0xFFFE)) {
      auto info = dat::LandblockInfo::unpack(*i);
      ASSERT_TRUE(info);
      for (const auto& b : info->buildings) {
        if (const auto* mesh = mesh_lookup(b.model_id)) boxes.push_back(engine::building_box(*mesh, b.frame));
      }
    }
    buildings += boxes.size();
    placements += engine::bake_landblock_impl(*region, *terrain, lb << 16, scene_lookup, mesh_lookup, boxes,
                                              engine::BakeMode::AceCompat)
                      .size();
    ++landblocks;
  }
  EXPECT_FALSE(cell->contains(0xAAB5FFFFu));  // the hi corner has no terrain
  EXPECT_GT(buildings, 0u);
  EXPECT_GE(placements / landblocks, 60u) << placements << " placements";
}

}  // namespace
}  // namespace strewmill::tools
