#include "apps/strewmill/output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/strewmill/emit_bits.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/setup_model.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/object_records.h"

namespace strewmill::app {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

constexpr const char* kEmptySha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

class EmitBitsScope {
 public:
  explicit EmitBitsScope(bool on) : saved_(EMIT_BITS.exchange(on)) {}
  ~EmitBitsScope() { EMIT_BITS.store(saved_); }

 private:
  bool saved_;
};

using test_support::read_file;

std::vector<std::uint8_t> setup_bytes(std::optional<std::uint32_t> script) {
  dat::SetupModel m;
  m.id = 0x02000001;
  m.default_script_id = script;
  return tools::encode_setup_model(m);
}

// Portal archive with setups that do and do not name a script, a record that
// does not decode, and a valid setup stored under a graphics-object id.
dat::DatDatabase make_portal(const fs::path& dir) {
  tools::ArchiveWriter w;
  w.add(0x02000001, setup_bytes(0x33000005));
  w.add(0x02000002, setup_bytes(std::nullopt));
  w.add(0x02000003, {1, 2, 3});
  w.add(0x01000004, setup_bytes(0x33000006));
  const fs::path path = dir / "client_portal.dat";
  EXPECT_TRUE(w.write(path).ok());
  auto db = dat::DatDatabase::open(path);
  EXPECT_TRUE(db.ok());
  return std::move(db).value();
}

struct Fixture {
  TempDir tmp;
  fs::path out = tmp / "out";
  dat::DatDatabase portal = make_portal(tmp.path());
  DefaultScriptCache cache;
  Sha256Hasher hasher = std::move(Sha256Hasher::create()).value();

  Fixture() { fs::create_directory(out); }

  AppResult<fs::path> write(std::uint16_t lb, const std::vector<engine::Placement>& ps) {
    return write_placement_output(lb, out, ps, portal, cache, hasher);
  }
};

engine::Placement placement(std::uint32_t id) {
  engine::Placement p;
  p.obj_id = id;
  p.x = 96.25f;
  p.y = 13.0f;
  p.z = -0.0f;
  p.qw = 1.0f;
  p.qx = 0.0f;
  p.qy = -1.0f / 128;
  p.qz = 0.5f;
  p.scale = 1.0f;
  p.source_cell_x = 4;
  p.source_cell_y = 0;
  p.source_obj_idx = 4294967295u;
  return p;
}

TEST(PlacementOutput, NoPlacementsGiveEmptyFileAndEmptyInputDigest) {
  Fixture f;
  auto r = f.write(0xA9B4, {});
  ASSERT_TRUE(r.ok()) << render_report(r.error());
  EXPECT_EQ(*r, f.out / "0xA9B4.scenery.jsonl");
  EXPECT_EQ(read_file(f.out / "0xA9B4.scenery.jsonl"), "");
  EXPECT_EQ(read_file(f.out / "0xA9B4.scenery.jsonl.sha256"), std::string(kEmptySha256) + "\n");
  EXPECT_FALSE(fs::exists(f.out / "0x0001.scenery.jsonl"));
  ASSERT_TRUE(f.write(0x0001, {}).ok());  // ids are zero-padded to four digits
  EXPECT_TRUE(fs::exists(f.out / "0x0001.scenery.jsonl"));
}

TEST(PlacementOutput, LineFormatAndDefaultScripts) {
  EmitBitsScope bits(false);
  Fixture f;
  const std::vector<engine::Placement> ps = {placement(0x020001B5), placement(0x02000001)};
  auto r = f.write(0x0102, ps);
  ASSERT_TRUE(r.ok()) << render_report(r.error());
  const std::string body = read_file(*r);
  EXPECT_EQ(body,
            "{\"obj_id\":\"0x020001B5\",\"x\":96.250000,\"y\":13.000000,\"z\":0.000000,"
            "\"qw\":1.000000,\"qx\":0.000000,\"qy\":-0.007812,\"qz\":0.500000,"
            "\"scale\":1.000000,\"source_cell_x\":4,\"source_cell_y\":0,"
            "\"source_obj_idx\":4294967295,\"default_script_id\":\"0x00000000\"}\n"
            "{\"obj_id\":\"0x02000001\",\"x\":96.250000,\"y\":13.000000,\"z\":0.000000,"
            "\"qw\":1.000000,\"qx\":0.000000,\"qy\":-0.007812,\"qz\":0.500000,"
            "\"scale\":1.000000,\"source_cell_x\":4,\"source_cell_y\":0,"
            "\"source_obj_idx\":4294967295,\"default_script_id\":\"0x33000005\"}\n");
  EXPECT_EQ(read_file(f.out / "0x0102.scenery.jsonl.sha256"),
            std::move(sha256_file(*r)).value() + "\n");
}

TEST(PlacementOutput, RawBitsUnderEmitBits) {
  EmitBitsScope bits(true);
  engine::Placement p = placement(0x01000004);
  p.x = 1.0f;
  p.y = -1.0f;
  char line[kPlacementLineMax];
  const std::string text(line, append_placement_line(line, p, 0));
  EXPECT_EQ(text,
            "{\"obj_id\":\"0x01000004\",\"x\":1065353216,\"y\":3212836864,\"z\":0,"
            "\"qw\":1065353216,\"qx\":0,\"qy\":3154116608,\"qz\":1056964608,"
            "\"scale\":1065353216,\"source_cell_x\":4,\"source_cell_y\":0,"
            "\"source_obj_idx\":4294967295,\"default_script_id\":\"0x00000000\"}\n");
}

TEST(DefaultScriptCache, OnlySetupIdsAreLookedUpAndEveryAnswerIsKept) {
  Fixture f;
  struct Case {
    std::uint32_t id;
    std::uint32_t want;
  };
  const Case cases[] = {
      {0x02000001, 0x33000005},  // setup with a script
      {0x02000002, 0},           // setup without one
      {0x02000003, 0},           // does not decode
      {0x02000009, 0},           // not in the archive
      {0x01000004, 0},           // decodable setup bytes, but not a setup id
  };
  for (const Case& c : cases) {
    EXPECT_EQ(f.cache.lookup(f.portal, c.id), c.want) << std::hex << c.id;
    EXPECT_TRUE(f.cache.contains(c.id));
  }
  EXPECT_EQ(f.cache.size(), std::size(cases));
  EXPECT_EQ(f.cache.lookup(f.portal, 0x02000001), 0x33000005u);
  EXPECT_EQ(f.cache.size(), std::size(cases));
}

TEST(PlacementOutput, LargeFilesSpanManyBuffersAndRewritesTruncate) {
  EmitBitsScope bits(false);
  Fixture f;
  std::vector<engine::Placement> ps;
  std::string want;
  for (std::uint32_t i = 0; i < 500; ++i) {  // ~120 KB: many 8 KiB flushes, two hash chunks
    engine::Placement p = placement(0x01000000 + i);
    p.source_obj_idx = i;
    ps.push_back(p);
    char line[kPlacementLineMax];
    want.append(line, append_placement_line(line, p, 0));
  }
  ASSERT_TRUE(f.write(0x0203, ps).ok());
  EXPECT_EQ(read_file(f.out / "0x0203.scenery.jsonl"), want);

  ASSERT_TRUE(f.write(0x0203, {}).ok());
  EXPECT_EQ(read_file(f.out / "0x0203.scenery.jsonl"), "");
  EXPECT_EQ(read_file(f.out / "0x0203.scenery.jsonl.sha256"), std::string(kEmptySha256) + "\n");
}

TEST(PlacementOutput, Failures) {
  Fixture f;
  const std::vector<engine::Placement> one = {placement(0x01000001)};

  // The output directory is missing.
  f.out = f.tmp / "missing";
  auto r = f.write(0x0001, one);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().chain(),
            (std::vector<std::string>{"create " + (f.out / "0x0001.scenery.jsonl").string(),
                                      "No such file or directory (os error 2)"}));

  // The digest file cannot be created; the placement file stays.
  f.out = f.tmp / "out";
  fs::create_directory(f.out / "0x0002.scenery.jsonl.sha256");
  r = f.write(0x0002, one);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().chain(),
            (std::vector<std::string>{"create " + (f.out / "0x0002.scenery.jsonl.sha256").string(),
                                      "Is a directory (os error 21)"}));
  EXPECT_FALSE(read_file(f.out / "0x0002.scenery.jsonl").empty());

  // A failed write is the system error alone.
  fs::create_symlink("/dev/full", f.out / "0x0003.scenery.jsonl");
  r = f.write(0x0003, one);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().chain(), std::vector<std::string>{"No space left on device (os error 28)"});
}

TEST(Sha256File, KnownDigestsAndErrors) {
  TempDir tmp;
  test_support::write_file(tmp / "abc", "abc");
  test_support::write_file(tmp / "million", std::string(1000000, 'a'));  // 16 chunks and a tail
  auto hasher = std::move(Sha256Hasher::create()).value();
  EXPECT_EQ(std::move(hasher.digest_file(tmp / "abc")).value(),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(std::move(hasher.digest_file(tmp / "million")).value(),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // The hasher is reusable after a failure.
  auto missing = hasher.digest_file(tmp / "nope");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().chain(),
            (std::vector<std::string>{"open for hash " + (tmp / "nope").string(),
                                      "No such file or directory (os error 2)"}));
  auto dir = sha256_file(tmp.path());
  ASSERT_FALSE(dir.ok());
  EXPECT_EQ(dir.error().chain(), std::vector<std::string>{"Is a directory (os error 21)"});
  EXPECT_EQ(std::move(hasher.digest_file(tmp / "abc")).value(),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace strewmill::app
