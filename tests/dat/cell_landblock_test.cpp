#include "lib/dat/cell_landblock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/dat/dat_database.h"
#include "lib/dat/landblock_info.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/land_records.h"

namespace strewmill::dat {
namespace {

CellLandblock sample_landblock() {
  CellLandblock lb;
  lb.id = 0xA9B4FFFF;
  lb.has_objects = 0x12345678;
  for (int i = 0; i < kLandblockVertices; ++i) {
    lb.terrain[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(0x0101 * i + 0x8000);
    lb.height[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - 3 * i);
  }
  return lb;
}

TEST(CellLandblock, RoundTripOfExactAndLongerRecords) {
  const CellLandblock lb = sample_landblock();
  auto bytes = tools::encode_cell_landblock(lb);
  ASSERT_EQ(bytes.size(), CellLandblock::kSize);
  auto d = CellLandblock::unpack(bytes);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, lb);

  bytes.insert(bytes.end(), {0xFF, 0xEE, 0xDD});
  d = CellLandblock::unpack(bytes);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, lb);
}

TEST(CellLandblock, VertexOrderIsColumnMajor) {
  tools::ByteWriter w;
  w.u32(0x00000000).u32(0);  // an id unlike the requested one still decodes
  for (int i = 0; i < 81; ++i) w.u16(static_cast<std::uint16_t>(i));
  for (int i = 0; i < 81; ++i) w.u8(static_cast<std::uint8_t>(100 + i));
  auto d = CellLandblock::unpack(w.bytes());
  ASSERT_TRUE(d);
  EXPECT_EQ(vertex_index(8, 8), 80);
  EXPECT_EQ(vertex_index(1, 0), 9);
  EXPECT_EQ(vertex_index(0, 1), 1);
  EXPECT_EQ(d->terrain[static_cast<std::size_t>(vertex_index(1, 0))], 9);
  EXPECT_EQ(d->height[static_cast<std::size_t>(vertex_index(8, 8))], 180);
}

TEST(CellLandblock, TerrainWordFields) {
  struct Case {
    std::uint16_t word;
    std::uint32_t road, type, scene;
  };
  const Case cases[] = {
      {0x0001, 1, 0, 0},
      {0xF87C, 0, 31, 31},
      {0x0780, 0, 0, 0},  // bits 7 to 10 belong to no field
      {0xFFFF, 3, 31, 31},
      {0x0803, 3, 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road_bits(c.word), c.road) << std::hex << c.word;
    EXPECT_EQ(terrain_type(c.word), c.type) << std::hex << c.word;
    EXPECT_EQ(scene_type(c.word), c.scene) << std::hex << c.word;
  }
}

// Every short record fails with one context naming the field it ends in; a
// short height array reports "not enough bytes in reader".
TEST(CellLandblock, TruncationNamesTheFieldThatEnded) {
  const auto bytes = tools::encode_cell_landblock(sample_landblock());
  for (std::size_t n = 0; n < CellLandblock::kSize; ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    auto d = CellLandblock::unpack(cut);
    ASSERT_FALSE(d) << n;
    ASSERT_EQ(d.error().kind(), DatErrorKind::Decode) << n;
    const DecodeError& e = *d.error().decode_error();
    const char* field = n < 4 ? "id" : n < 8 ? "has_objects" : n < 170 ? "terrain" : "height";
    ASSERT_EQ(e.contexts().size(), 1u) << n;
    EXPECT_EQ(e.contexts()[0].text(),
              std::string("While parsing field '") + field + "' in CellLandblock")
        << n;
    if (n < 170) {
      EXPECT_EQ(e.kind(), DecodeErrorKind::EndOfData) << n;
      EXPECT_EQ(e.cause_text(), "failed to fill whole buffer") << n;
    } else {
      EXPECT_EQ(e.kind(), DecodeErrorKind::ShortArray) << n;
      EXPECT_EQ(e.cause_text(), "not enough bytes in reader") << n;
    }
  }
}

// Both cell records of a landblock, one stored compressed, come back intact
// through a real archive.
TEST(CellLandblock, DecodesFromAnArchive) {
  const CellLandblock lb = sample_landblock();
  LandblockInfo info;
  info.id = 0xA9B4FFFE;
  BuildInfo b;
  b.model_id = 0x01000ABC;
  b.frame = {{10, 20, 30}, {1, 0, 0, 0}};
  info.buildings = {b};
  info.num_buildings = 1;

  test_support::TempDir dir;
  tools::ArchiveWriter writer;
  writer.add(0xA9B4FFFF, tools::encode_cell_landblock(lb), /*compress=*/true);
  writer.add(0xA9B4FFFE, tools::encode_landblock_info(info));
  ASSERT_TRUE(writer.write(dir / "client_cell_1.dat"));

  auto db = DatDatabase::open(dir / "client_cell_1.dat");
  ASSERT_TRUE(db) << db.error().message();
  auto terrain_bytes = db->get_file(0xA9B4FFFF);
  ASSERT_TRUE(terrain_bytes) << terrain_bytes.error().message();
  auto terrain = CellLandblock::unpack(*terrain_bytes);
  ASSERT_TRUE(terrain);
  EXPECT_EQ(*terrain, lb);
  auto info_bytes = db->get_file(0xA9B4FFFE);
  ASSERT_TRUE(info_bytes) << info_bytes.error().message();
  auto decoded = LandblockInfo::unpack(*info_bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, info);
}

}  // namespace
}  // namespace strewmill::dat
