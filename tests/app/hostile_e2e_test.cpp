// Hostile archives run through the real binary: every one must end in a
// clear error, a skip, or the same result as a sound archive, in bounded
// time and (checked with `ulimit -v` outside AddressSanitizer builds)
// bounded memory. Also: a bake killed with SIGKILL leaves consistent files
// behind, and running it again repairs them.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "lib/dat/bsp.h"
#include "lib/dat/dat_database.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/object_records.h"
#include "tools/writer/worldgen.h"

#if defined(__SANITIZE_ADDRESS__)
#define STREWMILL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STREWMILL_ASAN 1
#endif
#endif

namespace strewmill::app {
namespace {

namespace fs = std::filesystem;
using test_support::ProcessOptions;
using test_support::ProcessResult;
using test_support::run_process;
using test_support::TempDir;
using Bytes = std::vector<std::uint8_t>;

#ifdef STREWMILL_ASAN
// AddressSanitizer reserves terabytes of address space, so a limit on it
// cannot run; the sanitizer's own allocation checks stand in.
constexpr bool kMemoryLimit = false;
#else
constexpr bool kMemoryLimit = true;
#endif
// Address space the tool may use for a small world (1 GB): a hostile count
// that reserved what it claims would exceed it many times over.
constexpr int kAddressSpaceKb = 1000000;

// A world of three landblocks, all with terrain.
constexpr std::uint16_t kLbs[] = {0xA9B4, 0xA9B5, 0xA9B6};
const std::string kSelection = "0xA9B4..0xA9B6";
constexpr std::uint32_t kRegionId = tools::kWorldRegionId;

constexpr std::uint32_t terrain_id(std::uint16_t lb) { return (std::uint32_t{lb} << 16) | 0xFFFFu; }

// ---------------------------------------------------------------------------
// Archives laid out by hand, so that block sizes the writer refuses (0 to 4)
// and entries that lie about their records can be built.

struct Stored {
  std::uint32_t id = 0;
  Bytes bytes;                           // as stored (compressed when flagged)
  std::uint32_t bit_flags = 0;
  std::optional<std::uint32_t> size;     // entry size when not bytes.size()
  // Writes a custom chain and returns its offset (default: one chain).
  std::function<std::uint32_t(tools::RawArchive&)> chain;
};

using Records = std::vector<Stored>;

// A directory of one leaf, or a root whose entries separate leaves.
std::uint32_t append_directory(tools::RawArchive& a, std::vector<dat::DatFileEntry> entries) {
  constexpr std::size_t kMax = dat::DirectoryNodeLayout::kMaxEntries;
  if (entries.size() <= kMax) return a.append_node(tools::DirectoryNode::with_entries(std::move(entries)));
  const std::size_t leaves = (entries.size() + 1 + kMax) / (kMax + 1);
  tools::DirectoryNode root;
  std::size_t at = 0;
  for (std::size_t i = 0; i < leaves; ++i) {
    const std::size_t n = std::min(kMax, entries.size() - at - (leaves - 1 - i));
    std::vector<dat::DatFileEntry> chunk(entries.begin() + at, entries.begin() + at + n);
    at += n;
    root.branches[i] = a.append_node(tools::DirectoryNode::with_entries(std::move(chunk)));
    if (i + 1 < leaves) root.entries.push_back(entries[at++]);
  }
  root.count = static_cast<std::uint32_t>(root.entries.size());
  return a.append_node(root);
}

Bytes archive_image(const Records& records, std::uint32_t block_size) {
  tools::RawArchive a(block_size);
  std::vector<dat::DatFileEntry> entries;
  for (const Stored& r : records) {
    dat::DatFileEntry e;
    e.bit_flags = r.bit_flags;
    e.id = r.id;
    e.size = r.size.value_or(static_cast<std::uint32_t>(r.bytes.size()));
    e.offset = r.chain ? r.chain(a) : a.append_chain(r.bytes);
    entries.push_back(e);
  }
  a.header().root_offset = append_directory(a, std::move(entries));
  return a.image();
}

// The records of a small generated world, archive by archive.
struct World {
  std::map<tools::WorldArchive, std::vector<tools::WorldRecord>> records;
  std::uint32_t block_size = 512;

  Records stored(tools::WorldArchive archive) const {
    Records out;
    for (const tools::WorldRecord& r : records.at(archive)) {
      Stored s;
      s.id = r.id;
      s.bytes = r.compress ? tools::compress_lrs(r.bytes) : r.bytes;
      s.bit_flags = r.compress ? 1 : 0;
      out.push_back(std::move(s));
    }
    return out;
  }
};

Stored& find(Records& records, std::uint32_t id) {
  for (Stored& r : records)
    if (r.id == id) return r;
  throw std::runtime_error(fmt::format("no record {:08X}", id));
}

const tools::WorldRecord& find_record(const World& w, tools::WorldArchive archive, std::uint32_t id) {
  for (const tools::WorldRecord& r : w.records.at(archive))
    if (r.id == id) return r;
  throw std::runtime_error(fmt::format("no world record {:08X}", id));
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Writes the three archives, each with its (possibly edited) records.
struct Archives {
  Records portal, cell, local;
  std::uint32_t block_size = 512;

  void write(const fs::path& dir) const {
    fs::create_directories(dir);
    write_bytes(dir / "client_portal.dat", archive_image(portal, block_size));
    write_bytes(dir / "client_cell_1.dat", archive_image(cell, block_size));
    write_bytes(dir / "client_local_English.dat", archive_image(local, block_size));
  }
};

using test_support::read_file;

// Placement and digest files by name; the provenance file is left out, as
// it names the archives' own digests.
std::map<std::string, std::string> placement_files(const fs::path& dir) {
  std::map<std::string, std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name != "bake-source.sha256") files[name] = read_file(e.path());
  }
  return files;
}

std::string lb_file(std::uint16_t lb) { return fmt::format("0x{:04X}.scenery.jsonl", lb); }

std::set<std::uint32_t> placed_ids(const std::map<std::string, std::string>& files) {
  std::set<std::uint32_t> ids;
  const std::string key = "\"obj_id\":\"0x";
  for (const auto& [name, text] : files) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
      ids.insert(static_cast<std::uint32_t>(std::stoul(text.substr(at + key.size(), 8), nullptr, 16)));
  }
  return ids;
}

// Runs the tool on `dat` -> `out`; under a 1 GB address-space limit unless
// the build uses AddressSanitizer. A crash or a hang fails the test.
ProcessResult bake(const fs::path& dat, const fs::path& out, const std::string& selection = kSelection,
                   std::vector<std::string> extra = {}) {
  std::vector<std::string> argv;
  if (kMemoryLimit) argv = {"/bin/sh", "-c", fmt::format("ulimit -v {} && exec \"$0\" \"$@\"", kAddressSpaceKb)};
  argv.push_back(test_support::strewmill_bin());
  for (const std::string& a : {std::string("--dat-dir"), dat.string(), std::string("--landblocks"), selection,
                               std::string("--out"), out.string()})
    argv.push_back(a);
  argv.insert(argv.end(), extra.begin(), extra.end());
  ProcessOptions options;
  options.env["STREWMILL_LOG"] = std::nullopt;
  options.timeout = std::chrono::seconds(120);
  ProcessResult r = run_process(argv, options);
  EXPECT_FALSE(r.timed_out) << "hang";
  EXPECT_EQ(r.signal, 0) << "crash\n" << r.err;
  EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << r.exit_status << "\n" << r.err;
  return r;
}

class HostileE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = new World;
    tools::WorldSpec spec;
    spec.seed = 5;
    spec.lb_lo = 0xA9B4;
    spec.lb_hi = 0xA9B6;
    spec.scenes = 40;
    for (const tools::WorldArchive a : tools::kWorldArchives) {
      auto r = tools::for_each_world_record(spec, a, [&](tools::WorldRecord& rec) -> common::Result<void, std::string> {
        world_->records[a].push_back(std::move(rec));
        return {};
      });
      ASSERT_TRUE(r.ok()) << r.error();
    }
    // The reference: the sound world, baked once.
    reference_dir_ = new TempDir;
    archives().write(*reference_dir_ / "dat");
    const ProcessResult r = bake(*reference_dir_ / "dat", *reference_dir_ / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    reference_ = new std::map<std::string, std::string>(placement_files(*reference_dir_ / "out"));
    ASSERT_EQ(reference_->size(), 6u);
  }
  static void TearDownTestSuite() {
    delete reference_;
    delete reference_dir_;
    delete world_;
  }

  static Archives archives() {
    Archives a;
    a.portal = world_->stored(tools::WorldArchive::portal);
    a.cell = world_->stored(tools::WorldArchive::cell);
    a.local = world_->stored(tools::WorldArchive::local);
    return a;
  }

  // The reference files without those of `lb`.
  static std::map<std::string, std::string> reference_without(std::uint16_t lb) {
    auto files = *reference_;
    files.erase(lb_file(lb));
    files.erase(lb_file(lb) + ".sha256");
    return files;
  }

  static World* world_;
  static TempDir* reference_dir_;
  static std::map<std::string, std::string>* reference_;
  TempDir tmp_;
};

World* HostileE2E::world_ = nullptr;
TempDir* HostileE2E::reference_dir_ = nullptr;
std::map<std::string, std::string>* HostileE2E::reference_ = nullptr;

TEST_F(HostileE2E, DirectoryCyclesFailTheOpen) {
  struct Case {
    const char* name;
    const char* file;
    // Builds the whole archive image.
    std::function<Bytes(const Archives&)> image;
  };
  const Case cases[] = {
      {"cell root is its own first child", "client_cell_1.dat",
       [](const Archives& a) {
         tools::RawArchive raw(a.block_size);
         const std::uint32_t root = raw.append_node(tools::DirectoryNode::with_entries({}));
         raw.set_branch(root, 0, root);
         raw.header().root_offset = root;
         return raw.image();
       }},
      {"portal child leads back to the root", "client_portal.dat",
       [](const Archives& a) {
         tools::RawArchive raw(a.block_size);
         const std::uint32_t child = raw.append_node(tools::DirectoryNode::with_entries({}));
         tools::DirectoryNode root_node;
         root_node.branches[0] = child;
         const std::uint32_t root = raw.append_node(root_node);
         raw.set_branch(child, 0, root);
         raw.header().root_offset = root;
         return raw.image();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const Archives a = archives();
    a.write(tmp / "dat");
    write_bytes(tmp / "dat" / c.file, c.image(a));
    const ProcessResult r = bake(tmp / "dat", tmp / "out");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("Error: open " + (tmp / "dat" / c.file).string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Caused by:"), std::string::npos) << r.err;
    EXPECT_TRUE(placement_files(tmp / "out").empty());
  }
}

// Block sizes 0 to 3 wrap the payload size, so a chain is read whole after
// its first next-block word; 4 leaves no payload at all. Both are read as
// defined, and a cyclic chain at 4 is refused instead of followed forever.
TEST_F(HostileE2E, BlockSizesZeroToFour) {
  for (std::uint32_t block_size = 0; block_size <= 4; ++block_size) {
    SCOPED_TRACE(fmt::format("block_size {}", block_size));
    TempDir tmp;
    Archives a = archives();
    a.block_size = block_size;
    // A terrain record whose first next-block word is not 0: at 0 to 3 the
    // word is not followed; at 4 its chain loops over two blocks.
    Stored& terrain = find(a.cell, terrain_id(0xA9B5));
    const Bytes bytes = terrain.bytes;
    terrain.chain = [bytes, block_size](tools::RawArchive& raw) {
      const std::uint32_t at = raw.end();
      if (block_size == 4) {
        raw.put_u32(at, at + 4);
        raw.put_u32(at + 4, at);
        return at;
      }
      raw.put_u32(at, 0xFFFFFFF0u);
      raw.append_raw(bytes);
      return at;
    };
    a.write(tmp / "dat");
    const ProcessResult r = bake(tmp / "dat", tmp / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    if (block_size == 4) {
      EXPECT_EQ(placement_files(tmp / "out"), reference_without(0xA9B5));
      EXPECT_NE(r.err.find("LB 0xA9B5: CellLandblock 0xA9B5FFFF not in cell.dat"), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(placement_files(tmp / "out"), *reference_);
    }
  }
}

TEST_F(HostileE2E, RecordSizeOfFourGibibytes) {
  {
    SCOPED_TRACE("terrain record: the landblock is skipped");
    Archives a = archives();
    find(a.cell, terrain_id(0xA9B6)).size = 0xFFFFFFFFu;
    a.write(tmp_ / "t" / "dat");
    const ProcessResult r = bake(tmp_ / "t" / "dat", tmp_ / "t" / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(placement_files(tmp_ / "t" / "out"), reference_without(0xA9B6));
    EXPECT_NE(r.err.find("LB 0xA9B6: CellLandblock 0xA9B6FFFF not in cell.dat — skipping"), std::string::npos)
        << r.err;
  }
  {
    SCOPED_TRACE("region record: the run fails");
    Archives a = archives();
    find(a.portal, kRegionId).size = 0xFFFFFFFFu;
    a.write(tmp_ / "r" / "dat");
    const ProcessResult r = bake(tmp_ / "r" / "dat", tmp_ / "r" / "out");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("Error: fetch Region 0x13000000 from portal.dat\n", 0), 0u) << r.err;
    EXPECT_TRUE(placement_files(tmp_ / "r" / "out").empty());
  }
}

// A compressed record that declares 4 GiB but whose stream ends with the
// real bytes expands to those bytes: the bake is unchanged.
TEST_F(HostileE2E, CompressedRecordDeclaringFourGibibytes) {
  Archives a = archives();
  for (Stored* s : {&find(a.portal, kRegionId), &find(a.cell, terrain_id(0xA9B4))}) {
    if (s->bit_flags == 0) {
      s->bytes = tools::compress_lrs(s->bytes);
      s->bit_flags = 1;
    }
    const std::uint32_t huge = 0xFFFFFFFFu;
    std::memcpy(s->bytes.data(), &huge, 4);
  }
  a.write(tmp_ / "dat");
  const ProcessResult r = bake(tmp_ / "dat", tmp_ / "out");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(placement_files(tmp_ / "out"), *reference_);
}

// A chain of `levels` internal nodes, each with only a positive child,
// ending in a leaf: a physics tree a recursive decoder could not survive.
dat::BspNode deep_physics_tree(std::size_t levels) {
  auto node = std::make_unique<dat::BspNode>(dat::BspLeaf{});
  for (std::size_t i = 0; i < levels; ++i) {
    dat::InternalNode n;
    n.node_type = dat::bsp_code("BPIn");
    n.splitting_plane = {{0, 0, 1}, static_cast<float>(i)};
    n.bounding_sphere = common::Sphere{{0, 0, 0}, 1};
    n.pos_child = std::move(node);
    node = std::make_unique<dat::BspNode>(std::move(n));
  }
  return std::move(*node);
}

// A graphics object that the placed scenery uses gets a physics tree a
// million levels deep. Its vertices are unchanged, so the bake is too; cut
// short, the object has no mesh and is no longer placed.
TEST_F(HostileE2E, MillionLevelBspTreeInAPlacedGraphicsObject) {
  std::optional<std::uint32_t> target;
  for (const std::uint32_t id : placed_ids(*reference_))
    if (id >> 24 == 0x01) target = id;
  ASSERT_TRUE(target) << "the reference bake places no graphics object";
  const auto* gfx = std::get_if<dat::GfxObj>(&find_record(*world_, tools::WorldArchive::portal, *target).value);
  ASSERT_NE(gfx, nullptr);

  dat::GfxObj deep;
  deep.id = gfx->id;
  deep.flags = (gfx->flags & ~2u) | 1u;
  deep.surfaces = gfx->surfaces;
  deep.vertex_array = gfx->vertex_array;
  deep.physics_bsp = deep_physics_tree(1000000);
  deep.reference_point = gfx->reference_point;
  deep.trailing_id = gfx->trailing_id;
  Bytes bytes = tools::encode_gfx_obj(deep);
  ASSERT_GT(bytes.size(), 30000000u);

  {
    SCOPED_TRACE("whole tree: same bake");
    Archives a = archives();
    Stored& s = find(a.portal, *target);
    s.bytes = bytes;
    s.bit_flags = 0;
    a.write(tmp_ / "whole" / "dat");
    const ProcessResult r = bake(tmp_ / "whole" / "dat", tmp_ / "whole" / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(placement_files(tmp_ / "whole" / "out"), *reference_);
  }
  {
    SCOPED_TRACE("tree cut short: object skipped");
    Archives a = archives();
    Stored& s = find(a.portal, *target);
    s.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
    s.bit_flags = 0;
    a.write(tmp_ / "cut" / "dat");
    const ProcessResult r = bake(tmp_ / "cut" / "dat", tmp_ / "cut" / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const auto files = placement_files(tmp_ / "cut" / "out");
    EXPECT_EQ(files.size(), reference_->size());
    EXPECT_EQ(placed_ids(files).count(*target), 0u);
  }
}

// Byte offsets of the list counts in a region record built around marker
// words, so that each count can be set to 0xFFFFFFFF.
struct MarkedRegion {
  Bytes bytes;
  std::map<std::string, std::size_t> counts;
};

MarkedRegion marked_region() {
  constexpr std::uint32_t kGameTimeMark = 0x7E570001, kSoundMark = 0x7E570002, kSceneMark = 0x7E570003,
                          kTerrainMark = 0x7E570004, kSkyMark = 0x7E570005;
  dat::Region region;
  region.id = kRegionId;
  region.parts_mask = 0x213;
  region.game_time.scalar_3 = kGameTimeMark;  // then an empty name, then the lists
  dat::SkyDesc sky;
  sky.day_groups.push_back(dat::DayGroup{});
  sky.day_groups[0].scalar = kSkyMark;
  region.sky = sky;
  dat::SoundDesc sound;
  sound.ambient.push_back(dat::AmbientSTBDesc{});
  sound.ambient[0].scalar = kSoundMark;
  region.sound = sound;
  dat::SceneDesc scene;
  scene.scene_types.push_back(dat::SceneType{});
  scene.scene_types[0].scalar = kSceneMark;
  region.scene = scene;
  region.terrain.scalar_1 = kTerrainMark;
  region.misc = dat::RegionMisc{};

  MarkedRegion m;
  m.bytes = tools::encode_region(region);
  auto at = [&](std::uint32_t mark) {
    for (std::size_t i = 0; i + 4 <= m.bytes.size(); i += 4) {
      std::uint32_t w;
      std::memcpy(&w, m.bytes.data() + i, 4);
      if (w == mark) return i;
    }
    throw std::runtime_error("marker not found");
  };
  m.counts["times_of_day"] = at(kGameTimeMark) + 8;  // after the mark and the empty name
  m.counts["seasons"] = at(kGameTimeMark) + 16;
  m.counts["day_groups"] = at(kSkyMark) - 4;
  m.counts["sky_objects"] = at(kSkyMark) + 8;  // after the mark and the empty name
  m.counts["ambient"] = at(kSoundMark) - 4;
  m.counts["ambient entries"] = at(kSoundMark) + 4;
  m.counts["scene_types"] = at(kSceneMark) - 4;
  m.counts["scene_ids"] = at(kSceneMark) + 4;
  m.counts["terrain_types"] = at(kTerrainMark) - 4;
  m.counts["pairs_1"] = at(kTerrainMark) + 8;
  m.counts["word_records"] = at(kTerrainMark) + 20;
  return m;
}

TEST_F(HostileE2E, RegionListsClaimingFourBillionEntries) {
  const MarkedRegion marked = marked_region();
  {
    SCOPED_TRACE("unpatched marker region decodes");
    Archives a = archives();
    find(a.portal, kRegionId).bytes = marked.bytes;
    find(a.portal, kRegionId).bit_flags = 0;
    a.write(tmp_ / "sound" / "dat");
    const ProcessResult r = bake(tmp_ / "sound" / "dat", tmp_ / "sound" / "out");
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }
  for (const auto& [list, offset] : marked.counts) {
    SCOPED_TRACE(list);
    Archives a = archives();
    Stored& s = find(a.portal, kRegionId);
    s.bytes = marked.bytes;
    s.bit_flags = 0;
    const std::uint32_t huge = 0xFFFFFFFFu;
    std::uint32_t was;
    std::memcpy(&was, s.bytes.data() + offset, 4);
    ASSERT_LE(was, 1u) << "offset does not hold a count";
    std::memcpy(s.bytes.data() + offset, &huge, 4);
    TempDir tmp;
    a.write(tmp / "dat");
    const ProcessResult r = bake(tmp / "dat", tmp / "out");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("Error: parse Region 0x13000000\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("failed to fill whole buffer"), std::string::npos) << r.err;
  }
}

// A setup the bake places claims 0x7FFFFFFF placements: it no longer
// decodes, so it has no footprint and is not placed; nothing else fails.
TEST_F(HostileE2E, SetupWithPlacementCountOf0x7FFFFFFF) {
  std::optional<std::uint32_t> target;
  for (const std::uint32_t id : placed_ids(*reference_))
    if (id >> 24 == 0x02) target = id;
  ASSERT_TRUE(target) << "the reference bake places no setup model";
  const tools::WorldRecord& rec = find_record(*world_, tools::WorldArchive::portal, *target);
  const auto* setup = std::get_if<dat::SetupModel>(&rec.value);
  ASSERT_NE(setup, nullptr);
  const std::size_t parts = setup->part_ids.size();
  std::size_t offset = 12 + 4 * parts;
  if (setup->flags & 1) offset += 4 * parts;
  if (setup->flags & 2) offset += 12 * parts;
  offset += 4 + 36 * setup->locations_1.size() + 4 + 36 * setup->locations_2.size();

  Archives a = archives();
  Stored& s = find(a.portal, *target);
  s.bytes = rec.bytes;
  s.bit_flags = 0;
  std::int32_t was;
  std::memcpy(&was, s.bytes.data() + offset, 4);
  ASSERT_EQ(static_cast<std::size_t>(was), setup->placements.size());
  const std::int32_t huge = 0x7FFFFFFF;
  std::memcpy(s.bytes.data() + offset, &huge, 4);
  a.write(tmp_ / "dat");
  const ProcessResult r = bake(tmp_ / "dat", tmp_ / "out");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const auto files = placement_files(tmp_ / "out");
  EXPECT_EQ(files.size(), reference_->size());
  EXPECT_EQ(placed_ids(files).count(*target), 0u);
}

// ---------------------------------------------------------------------------
// SIGKILL in the middle of a bake

struct Spawned {
  pid_t pid = -1;
};

Spawned spawn_bake(const fs::path& dat, const fs::path& out, const std::string& selection,
                   const std::string& throttle_ms) {
  std::vector<std::string> args = {test_support::strewmill_bin(), "--dat-dir", dat.string(), "--landblocks",
                                   selection, "--out", out.string(), "--throttle-ms", throttle_ms};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return {pid};
}

// Kills the bake once `ready` holds and reaps it. False when the bake
// ended on its own first.
bool kill_when(Spawned child, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (!ready() && std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(child.pid, &status, WNOHANG) == child.pid) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(child.pid, SIGKILL);
  ::waitpid(child.pid, &status, 0);
  // It may still have finished between the last check and the kill.
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

std::string sha256_hex(const fs::path& path) {
  const ProcessResult r = run_process({"/usr/bin/sha256sum", path.string()});
  return r.out.substr(0, 64);
}

// What a killed bake may leave: no provenance file; landblocks the run had
// not reached yet have no files; at most one landblock, the one being
// written, has a placement file whose digest is missing or does not match
// it, and that file is a prefix of the full one; every other landblock's
// two files are exactly those of a complete bake.
void expect_consistent_after_kill(const fs::path& out, const std::vector<std::uint16_t>& first_pass,
                                  const std::map<std::string, std::string>& reference) {
  if (fs::exists(out / "bake-source.sha256")) {
    // The kill landed after the loop had completed (summary or exit): that
    // is a finished bake, and every file must be whole.
    EXPECT_EQ(placement_files(out), reference);
    return;
  }
  std::size_t reached = 0;
  while (reached < first_pass.size() && fs::exists(out / lb_file(first_pass[reached]))) ++reached;
  int interrupted = 0;
  for (std::size_t i = 0; i < first_pass.size(); ++i) {
    const std::string name = lb_file(first_pass[i]);
    SCOPED_TRACE(name);
    const fs::path digest = out / (name + ".sha256");
    if (i >= reached) {
      EXPECT_FALSE(fs::exists(out / name));
      EXPECT_FALSE(fs::exists(digest));
      continue;
    }
    const std::string data = read_file(out / name);
    if (fs::exists(digest) && read_file(digest) == sha256_hex(out / name) + "\n") {
      EXPECT_EQ(data, reference.at(name));
      EXPECT_EQ(read_file(digest), reference.at(name + ".sha256"));
    } else {
      ++interrupted;
      EXPECT_EQ(reference.at(name).compare(0, data.size(), data), 0) << "not a prefix of the full file";
    }
  }
  EXPECT_LE(interrupted, 1);
}

TEST_F(HostileE2E, SigkillMidBakeLeavesConsistentFilesAndARerunRepairsThem) {
  // The three landblocks three times over (a list file may repeat ids), so
  // a kill can also land in a rewrite.
  std::vector<std::uint16_t> order;
  for (int k = 0; k < 3; ++k)
    for (const std::uint16_t lb : kLbs) order.push_back(lb);
  std::string list;
  for (const std::uint16_t lb : order) list += fmt::format("0x{:04X}\n", lb);
  test_support::write_file(tmp_ / "list.txt", list);
  const std::string selection = "@" + (tmp_ / "list.txt").string();
  const fs::path dat = reference_dir_->path() / "dat";
  const std::vector<std::uint16_t> first_pass(std::begin(kLbs), std::end(kLbs));

  {
    SCOPED_TRACE("killed during the pause after the first landblock");
    const fs::path out = tmp_ / "paused";
    const Spawned child = spawn_bake(dat, out, selection, "60000");
    const fs::path first_digest = out / (lb_file(order[0]) + ".sha256");
    ASSERT_TRUE(kill_when(child, [&] {
      std::error_code ec;
      return fs::file_size(first_digest, ec) == 65;  // written in full: the pause has begun
    }));
    expect_consistent_after_kill(out, first_pass, *reference_);
    EXPECT_FALSE(fs::exists(out / lb_file(order[1])));
    const ProcessResult r = bake(dat, out, selection);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(placement_files(out), *reference_);
  }
  // Without a pause nearly all the time goes into landblocks, so a kill at
  // a varying moment usually lands inside one.
  int killed = 0;
  for (int attempt = 0; attempt < 6; ++attempt) {
    SCOPED_TRACE(fmt::format("killed without a pause, attempt {}", attempt));
    const fs::path out = tmp_ / fmt::format("busy{}", attempt);
    const Spawned child = spawn_bake(dat, out, selection, "0");
    const auto delay = std::chrono::milliseconds(3 * attempt);
    std::optional<std::chrono::steady_clock::time_point> first_file;
    const bool was_killed = kill_when(child, [&] {
      if (!first_file && fs::exists(out / lb_file(order[0]))) first_file = std::chrono::steady_clock::now();
      return first_file && std::chrono::steady_clock::now() - *first_file >= delay;
    });
    if (!was_killed) continue;  // finished first: nothing to check
    ++killed;
    expect_consistent_after_kill(out, first_pass, *reference_);
    const ProcessResult r = bake(dat, out, selection);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(placement_files(out), *reference_);
  }
  EXPECT_GT(killed, 0) << "every bake finished before it could be killed";
}

}  // namespace
}  // namespace strewmill::app
