#include "tools/writer/archive_writer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lib/dat/dat_database.h"

namespace strewmill::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/strewmill-writer-XXXXXX";
    if (::mkdtemp(tmpl) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Random bytes of several kinds: noise, short repeated phrases, long runs.
Bytes make_data(std::mt19937& rng, std::size_t size) {
  Bytes b(size);
  switch (rng() % 3) {
    case 0:
      for (auto& x : b) x = static_cast<std::uint8_t>(rng());
      break;
    case 1: {
      const std::size_t period = 1 + rng() % 40;
      for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(i % period == 0 ? rng() % 4 : 'a' + (i % period) % 26);
      break;
    }
    default:
      for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i / 300) & 0xFF);
  }
  return b;
}

std::uint32_t read_u32(const Bytes& image, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, image.data() + at, 4);
  return v;
}

TEST(CompressLrs, RoundTripsThroughTheReader) {
  std::mt19937 rng(7);
  std::vector<Bytes> inputs = {{}, {1}, {1, 2}, {1, 1, 1}, Bytes(10000, 0), make_data(rng, 100000)};
  // Periods at the window's edge: 4095 is reachable, 4096 and 4097 are not.
  for (std::size_t period : {4094u, 4095u, 4096u, 4097u}) {
    Bytes b(period);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    Bytes twice = b;
    twice.insert(twice.end(), b.begin(), b.end());
    inputs.push_back(std::move(twice));
  }
  for (int i = 0; i < 200; ++i) inputs.push_back(make_data(rng, rng() % 5000));

  for (const Bytes& in : inputs) {
    const Bytes packed = compress_lrs(in);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(read_u32(packed, 0), in.size());
    ASSERT_EQ(dat::decompress_lrs(packed), in) << "input of " << in.size() << " bytes";
  }
  // A run uses overlapping back-references: 17 bytes per 2-byte item.
  EXPECT_LT(compress_lrs(Bytes(10000, 0)).size(), 10000u / 7);
  Bytes repeated = inputs[6];  // two copies of 4095 random bytes
  EXPECT_LT(compress_lrs(repeated).size(), repeated.size() * 3 / 4);
}

struct Shape {
  std::uint32_t block_size;
  int records;
  std::size_t max_size;
};

// Thousands of records of random sizes (empty, inside one block, exact
// multiples of the payload, long chains), compressed or not, written to a
// file and read back through the real reader.
TEST(ArchiveWriter, RoundTripsRecordsOfEveryShape) {
  const Shape shapes[] = {
      {5, 300, 40}, {16, 1000, 300}, {256, 5000, 3000}, {1024, 2000, 20000}, {4096, 800, 70000},
  };
  TempDir dir;
  std::mt19937 rng(2024);
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.block_size);
    const std::uint32_t payload = shape.block_size - 4;
    ArchiveWriter writer(shape.block_size);
    std::map<std::uint32_t, std::pair<Bytes, bool>> expected;
    while (expected.size() < static_cast<std::size_t>(shape.records)) {
      const std::uint32_t id = static_cast<std::uint32_t>(rng());
      std::size_t size;
      switch (rng() % 5) {
        case 0: size = 0; break;
        case 1: size = payload * (1 + rng() % 3); break;
        case 2: size = rng() % (payload + 1); break;
        default: size = rng() % (shape.max_size + 1);
      }
      const bool compress = rng() % 2 == 0;
      Bytes data = make_data(rng, size);
      writer.add(id, data, compress);
      expected[id] = {std::move(data), compress};
    }
    const auto path = dir / ("shape" + std::to_string(shape.block_size) + ".dat");
    auto written = writer.write(path);
    ASSERT_TRUE(written) << written.error();

    auto db = dat::DatDatabase::open(path);
    ASSERT_TRUE(db) << db.error().message();
    EXPECT_EQ(db->header().block_size, shape.block_size);
    EXPECT_EQ(db->header().file_size, std::filesystem::file_size(path));
    ASSERT_EQ(db->size(), expected.size());
    for (const auto& [id, e] : db->directory()) {
      auto it = expected.find(id);
      ASSERT_NE(it, expected.end()) << id;
      EXPECT_EQ(e.compressed(), it->second.second) << id;
    }
    for (const auto& [id, want] : expected) {
      auto got = db->get_file(id);
      ASSERT_TRUE(got) << id << ": " << got.error().message();
      ASSERT_EQ(*got, want.first) << id;
    }
  }
}

TEST(ArchiveWriter, DirectoryGrowsIntoSeveralLevels) {
  // 61 entries fit one leaf; 3843 two levels; more need a third.
  for (int n : {61, 62, 3843, 3844, 20000}) {
    ArchiveWriter writer(1024);
    for (int i = 0; i < n; ++i) writer.add(static_cast<std::uint32_t>(i * 3 + 1), {});
    auto image = writer.image();
    ASSERT_TRUE(image) << image.error();
    int depth = 0;
    for (std::uint32_t node = read_u32(*image, 352); node != 0; node = read_u32(*image, node + 4))
      ++depth;
    EXPECT_EQ(depth, n <= 61 ? 1 : n <= 3843 ? 2 : 3) << n;

    TempDir dir;
    ASSERT_TRUE(write_file(dir / "a.dat", *image));
    auto db = dat::DatDatabase::open(dir / "a.dat");
    ASSERT_TRUE(db) << db.error().message();
    ASSERT_EQ(db->size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ASSERT_TRUE(db->contains(static_cast<std::uint32_t>(i * 3 + 1)));
  }
}

TEST(ArchiveWriter, FileAndImageAgreeAndLaterAddsReplace) {
  ArchiveWriter writer(64);
  writer.header().magic = 0x1234;
  writer.add(5, {1, 2, 3});
  writer.add(9, Bytes(500, 7), true);
  writer.add(5, {4, 5});
  EXPECT_EQ(writer.size(), 2u);

  TempDir dir;
  ASSERT_TRUE(writer.write(dir / "a.dat"));
  std::ifstream in(dir / "a.dat", std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto image = writer.image();
  ASSERT_TRUE(image);
  EXPECT_EQ(file, *image);

  auto db = dat::DatDatabase::open(dir / "a.dat");
  ASSERT_TRUE(db);
  EXPECT_EQ(db->header().magic, 0x1234u);
  EXPECT_EQ(*db->get_file(5), (Bytes{4, 5}));
  EXPECT_EQ(*db->get_file(9), Bytes(500, 7));
}

TEST(ArchiveWriter, RefusesBlockSizesWithoutPayload) {
  for (std::uint32_t bs : {0u, 4u}) {
    ArchiveWriter writer(bs);
    writer.add(1, {1});
    EXPECT_FALSE(writer.image()) << bs;
  }
}

}  // namespace
}  // namespace strewmill::tools
