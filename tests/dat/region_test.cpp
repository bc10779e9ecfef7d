#include "lib/dat/region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lib/dat/dat_database.h"
#include "lib/dat/scene.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"

namespace strewmill::dat {
namespace {

// A region that fills every list, including texts that need padding, empty
// texts, a non-ASCII text and an empty index list.
Region full_region() {
  Region r;
  r.id = 0x13000000;
  r.header_1 = 0xA1;
  r.header_2 = 0xA2;
  r.name = "Dereth";
  for (std::uint32_t i = 0; i < 8; ++i) r.params[i] = 0x100 + i;
  for (std::size_t i = 0; i < 256; ++i) r.land_height_table[i] = static_cast<float>(i) * 2.5f;
  r.land_height_table[255] = -0.0f;

  r.game_time.value = 1234.5;
  r.game_time.scalar_1 = 1;
  r.game_time.scalar_2 = 2;
  r.game_time.scalar_3 = 3;
  r.game_time.name = "Calendar";
  r.game_time.times_of_day = {{10, true, "Dawnsong"}, {11, false, "Morntide-and-Half"}};
  r.game_time.names = {"", "Morningthaw", "", "Solclaim"};
  r.game_time.seasons = {{20, "Springtime"}, {21, "Caf\xC3\xA9"}};

  r.parts_mask = 0x213;
  SkyDesc sky;
  sky.value_1 = 0.25;
  sky.value_2 = -7.0;
  DayGroup g;
  g.scalar = 0x3F800000;
  g.name = "Clear";
  g.sky_objects = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}};
  SkyTimeOfDay t;
  t.scalar_1 = 101;
  t.scalar_6 = 106;
  t.scalar_11 = 111;
  t.entries = {{1, 2, 3, 4, 5, 6}};
  g.times = {t, SkyTimeOfDay{}};
  sky.day_groups = {g, DayGroup{}};
  r.sky = sky;

  r.sound = SoundDesc{{{7, {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}}}, {8, {}}}};
  r.scene = SceneDesc{{{0, {0x12000001, 0x12000002}}, {1, {}}, {2, {0x12000010}}}};

  r.terrain.terrain_types = {{"BarrenRock", 5, {0, 1, 2}}, {"Grassland", 6, {}}, {"", 7, {2}}};
  r.terrain.scalar_1 = 0xDEAD;
  r.terrain.scalar_2 = 0xBEEF;
  r.terrain.pairs_1 = {{1, 2}};
  r.terrain.pairs_2 = {};
  r.terrain.pairs_3 = {{3, 4}, {5, 6}};
  r.terrain.word_records = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
  r.misc = RegionMisc{61, 62, 63, 64, 65, 66};
  return r;
}

DecodeResult<Region> decode(const std::vector<std::uint8_t>& bytes, std::uint64_t* end = nullptr) {
  Cursor cur(bytes);
  auto r = Region::unpack(cur);
  if (end) *end = cur.position();
  return r;
}

TEST(Region, FullRecordRoundTripsAndIsConsumedExactly) {
  const Region r = full_region();
  const auto bytes = tools::encode_region(r);
  std::uint64_t end = 0;
  auto decoded = decode(bytes, &end);
  ASSERT_TRUE(decoded) << decoded.error().render();
  EXPECT_EQ(*decoded, r);
  EXPECT_EQ(end, bytes.size());
  EXPECT_EQ(decoded->game_time.seasons[1].name, "Caf\xC3\xA9");
  EXPECT_TRUE(std::signbit(decoded->land_height_table[255]));

  // Trailing bytes are not read.
  auto longer = bytes;
  longer.insert(longer.end(), {1, 2, 3, 4, 5});
  auto again = decode(longer, &end);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, r);
  EXPECT_EQ(end, bytes.size());
}

TEST(Region, PartsMaskSelectsPartsInFixedOrder) {
  struct Case {
    std::uint32_t mask;
    bool sky, sound, scene, misc;
  };
  const Case cases[] = {
      {0x000, false, false, false, false}, {0x004, false, false, false, false},
      {0x100, false, false, false, false}, {0x010, true, false, false, false},
      {0x001, false, true, false, false},  {0x002, false, false, true, false},
      {0x200, false, false, false, true},  {0x012, true, false, true, false},
      {0x213, true, true, true, true},     {0xFFFFFFFF, true, true, true, true},
  };
  const Region full = full_region();
  for (const auto& c : cases) {
    Region r = full;
    r.parts_mask = c.mask;
    if (!c.sky) r.sky.reset();
    if (!c.sound) r.sound.reset();
    if (!c.scene) r.scene.reset();
    if (!c.misc) r.misc.reset();
    const auto bytes = tools::encode_region(r);
    std::uint64_t end = 0;
    auto decoded = decode(bytes, &end);
    ASSERT_TRUE(decoded) << std::hex << c.mask;
    EXPECT_EQ(decoded->parts_mask, c.mask);
    EXPECT_EQ(decoded->sky.has_value(), c.sky) << std::hex << c.mask;
    EXPECT_EQ(decoded->sound.has_value(), c.sound) << std::hex << c.mask;
    EXPECT_EQ(decoded->scene.has_value(), c.scene) << std::hex << c.mask;
    EXPECT_EQ(decoded->misc.has_value(), c.misc) << std::hex << c.mask;
    EXPECT_EQ(decoded->terrain, full.terrain) << std::hex << c.mask;
    EXPECT_EQ(*decoded, r) << std::hex << c.mask;
    EXPECT_EQ(end, bytes.size()) << std::hex << c.mask;
  }
}

// Every proper prefix of a record that ends with `misc` fails with the plain
// end-of-data error: inside the height table, inside any list, and right
// after `terrain` when bit 0x200 asks for `misc`.
TEST(Region, EveryTruncationFailsWithEndOfDataAndNoContext) {
  const auto bytes = tools::encode_region(full_region());
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    auto r = decode(cut);
    ASSERT_FALSE(r) << "length " << n;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << "length " << n;
    EXPECT_TRUE(r.error().contexts().empty()) << "length " << n;
    EXPECT_EQ(r.error().render(), "failed to fill whole buffer") << "length " << n;
  }
}

TEST(Region, NameIsRealignedFromTheRecordStart) {
  for (const std::string name : {"a", "ab"}) {
    tools::ByteWriter w;
    w.u32(1).u32(2).u32(3).u16(static_cast<std::uint16_t>(name.size()));
    for (char ch : name) w.u8(static_cast<std::uint8_t>(ch));
    while (w.size() < 16) w.u8(0xEE);  // padding is skipped, never read
    ASSERT_EQ(w.size(), 16u);
    for (std::uint32_t i = 0; i < 8; ++i) w.u32(0x5000 + i);
    w.zeros(256 * 4);
    tools::write_game_time(w, GameTime{});
    w.u32(0);
    tools::write_terrain_desc(w, TerrainDesc{});
    auto r = decode(w.bytes());
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(r->name, name);
    EXPECT_EQ(r->params[0], 0x5000u) << name;
    EXPECT_EQ(r->params[7], 0x5007u) << name;
  }
}

TEST(Region, SkyRealignsAfterItsTwoDoubles) {
  // At an unaligned start the realignment after value_2 moves the position.
  tools::ByteWriter w;
  w.u16(0xFFFF).f64(1.5).f64(2.5).u16(0xFFFF).u32(0);
  Cursor cur(w.bytes());
  ASSERT_TRUE(cur.skip(2));
  auto sky = SkyDesc::unpack(cur);
  ASSERT_TRUE(sky) << sky.error().render();
  EXPECT_EQ(sky->value_1, 1.5);
  EXPECT_EQ(sky->value_2, 2.5);
  EXPECT_TRUE(sky->day_groups.empty());
  EXPECT_EQ(cur.position(), 24u);
}

TEST(Region, TimeOfDayFlagIsAnyNonzeroWord) {
  tools::ByteWriter w;
  w.f64(0).u32(0).u32(0).u32(0).pstring("");
  w.u32(2).u32(1).u32(0x80000000).pstring("x").u32(2).u32(0).pstring("y");
  w.u32(0).u32(0);
  Cursor cur(w.bytes());
  auto g = GameTime::unpack(cur);
  ASSERT_TRUE(g);
  ASSERT_EQ(g->times_of_day.size(), 2u);
  EXPECT_TRUE(g->times_of_day[0].flag);
  EXPECT_FALSE(g->times_of_day[1].flag);
  EXPECT_EQ(cur.position(), w.size());
}

// A count no remaining bytes could satisfy fails as end of data before any
// reservation (a reservation of that size would throw instead).
TEST(Region, HostileCountsFailAsEndOfData) {
  constexpr std::uint32_t kHuge = 0xFFFFFFFF;
  auto game_time_prefix = [] {
    tools::ByteWriter w;
    w.f64(0).u32(0).u32(0).u32(0).pstring("");
    return w;
  };
  auto check = [](const char* name, const tools::ByteWriter& w, auto unpack) {
    auto bytes = w.bytes();
    bytes.resize(bytes.size() + 64, 0);
    Cursor cur(bytes);
    auto r = unpack(cur);
    ASSERT_FALSE(r) << name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << name;
  };
  {
    auto w = game_time_prefix();
    w.u32(kHuge);
    check("times_of_day", w, GameTime::unpack);
  }
  {
    auto w = game_time_prefix();
    w.u32(0).u32(kHuge);
    check("names", w, GameTime::unpack);
  }
  {
    auto w = game_time_prefix();
    w.u32(0).u32(0).u32(kHuge);
    check("seasons", w, GameTime::unpack);
  }
  {
    tools::ByteWriter w;
    w.f64(0).f64(0).u32(kHuge);
    check("day_groups", w, SkyDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.f64(0).f64(0).u32(1).u32(0).pstring("").u32(kHuge);
    check("sky_objects", w, SkyDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.f64(0).f64(0).u32(1).u32(0).pstring("").u32(0).u32(kHuge);
    check("times", w, SkyDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.f64(0).f64(0).u32(1).u32(0).pstring("").u32(0).u32(1).zeros(44).u32(kHuge);
    check("sky time entries", w, SkyDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(kHuge);
    check("ambient", w, SoundDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(kHuge);
    check("ambient entries", w, SoundDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(kHuge);
    check("scene_types", w, SceneDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0x40000000);
    check("scene_ids", w, SceneDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(kHuge);
    check("terrain_types", w, TerrainDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(1).pstring("").u32(0).u32(kHuge);
    check("scene_type_indices", w, TerrainDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(0).u32(0).u32(0).u32(0).u32(0).u32(kHuge);
    check("pairs_3", w, TerrainDesc::unpack);
  }
  {
    tools::ByteWriter w;
    w.u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(kHuge);
    check("word_records", w, TerrainDesc::unpack);
  }
}

// The count check must not refuse lists that are exactly as dense as the
// format allows, down to a last text whose padding lies past the end.
TEST(Region, DensestListsStillDecode) {
  GameTime g;
  g.times_of_day.assign(50, TimeOfDay{});
  g.names.assign(100, "");
  g.seasons.assign(50, Season{});
  SkyDesc sky;
  sky.day_groups.assign(20, DayGroup{});
  TerrainDesc t;
  t.terrain_types.assign(30, TerrainType{});

  tools::ByteWriter gw;
  tools::write_game_time(gw, g);
  auto g_bytes = gw.take();
  g_bytes.resize(g_bytes.size() - 2);  // the last season name's padding
  Cursor gc(g_bytes);
  auto dg = GameTime::unpack(gc);
  ASSERT_TRUE(dg) << dg.error().render();
  EXPECT_EQ(*dg, g);

  tools::ByteWriter sw;
  tools::write_sky_desc(sw, sky);
  Cursor sc(sw.bytes());
  auto ds = SkyDesc::unpack(sc);
  ASSERT_TRUE(ds) << ds.error().render();
  EXPECT_EQ(*ds, sky);

  tools::ByteWriter tw;
  tools::write_terrain_desc(tw, t);
  Cursor tc(tw.bytes());
  auto dt = TerrainDesc::unpack(tc);
  ASSERT_TRUE(dt) << dt.error().render();
  EXPECT_EQ(*dt, t);
}

// The region and a scene it names come back intact through a real archive
// whose blocks are smaller than the region record.
TEST(Region, DecodesFromAnArchive) {
  const Region r = full_region();
  ObjectDesc d;
  d.obj_id = 0x02000001;
  d.frequency = 0.5f;
  const Scene scene{0x12000001, {d, d}};

  test_support::TempDir dir;
  tools::ArchiveWriter writer(256);
  writer.add(0x13000000, tools::encode_region(r));
  writer.add(0x12000001, tools::encode_scene(scene), /*compress=*/true);
  ASSERT_TRUE(writer.write(dir / "client_portal.dat"));

  auto db = DatDatabase::open(dir / "client_portal.dat");
  ASSERT_TRUE(db) << db.error().message();
  auto region_bytes = db->get_file(0x13000000);
  ASSERT_TRUE(region_bytes) << region_bytes.error().message();
  Cursor rc(*region_bytes);
  auto region = Region::unpack(rc);
  ASSERT_TRUE(region) << region.error().render();
  EXPECT_EQ(*region, r);
  auto scene_bytes = db->get_file(0x12000001);
  ASSERT_TRUE(scene_bytes) << scene_bytes.error().message();
  Cursor sc(*scene_bytes);
  auto decoded = Scene::unpack(sc);
  ASSERT_TRUE(decoded) << decoded.error().render();
  EXPECT_EQ(*decoded, scene);
}

}  // namespace
}  // namespace strewmill::dat
