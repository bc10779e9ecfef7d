#include "lib/dat/dat_database.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/writer/archive_writer.h"

namespace strewmill::dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using tools::DirectoryNode;
using tools::RawArchive;

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

DatFileEntry entry(std::uint32_t id, std::uint32_t offset, std::uint32_t size,
                   std::uint32_t flags = 0) {
  DatFileEntry e;
  e.bit_flags = flags;
  e.id = id;
  e.offset = offset;
  e.size = size;
  return e;
}

class DatDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/strewmill-dat-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path write(const Bytes& image) {
    const auto path = dir_ / ("archive" + std::to_string(files_++) + ".dat");
    auto r = tools::write_file(path, image);
    EXPECT_TRUE(r) << r.error();
    return path;
  }
  DatResult<DatDatabase> open(const Bytes& image) { return DatDatabase::open(write(image)); }
  DatResult<DatDatabase> open(const RawArchive& raw) { return open(raw.image()); }

  std::filesystem::path dir_;
  int files_ = 0;
};

// The innermost field context of a failed open, or "" when there is none.
std::string innermost_context(const DatError& e) {
  if (!e.decode_error() || e.decode_error()->contexts().empty()) return "";
  return e.decode_error()->contexts()[0].text();
}

TEST_F(DatDatabaseTest, OpenFailsWithPathErrorForMissingFilesAndDirectories) {
  const auto missing = dir_ / "nope.dat";
  auto r = DatDatabase::open(missing);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), DatErrorKind::PathError);
  EXPECT_EQ(r.error().message(), "Failed to open file at " + missing.string() +
                                     ": No such file or directory (os error 2)");

  auto d = DatDatabase::open(dir_);
  ASSERT_FALSE(d);
  EXPECT_EQ(d.error().kind(), DatErrorKind::PathError);
  EXPECT_EQ(d.error().message(),
            "Failed to open file at " + dir_.string() + ": Is a directory (os error 21)");
}

TEST_F(DatDatabaseTest, HeaderIsStoredAsReadAndEmptyRootMeansEmptyDirectory) {
  RawArchive raw(1024);
  DatHeader& h = raw.header();
  h.magic = 0x11;
  h.dataset = 0x22;
  h.subset = 0x33;
  h.free_head = 0x44;
  h.free_tail = 0x55;
  h.free_count = 0x66;
  h.new_lru = 0x77;
  h.old_lru = 0x88;
  h.use_lru = 0x99;
  h.master_map_id = 0xAA;
  h.engine_version = 0xBB;
  h.game_version = 0xCC;
  for (std::uint8_t i = 0; i < 16; ++i) h.version_string[i] = static_cast<std::uint8_t>(0xF0 + i);
  h.version_minor = 0xDD;
  DatHeader expected = h;
  expected.file_size = raw.end();

  auto db = open(raw);
  ASSERT_TRUE(db) << db.error().message();
  EXPECT_EQ(db->header(), expected);
  EXPECT_EQ(db->size(), 0u);
  EXPECT_EQ(db->directory().begin(), db->directory().end());
  auto missing = db->get_file(0x13000000);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), DatErrorKind::NotFound);
  EXPECT_EQ(missing.error().message(), "File ID 13000000 not found in provider");
}

TEST_F(DatDatabaseTest, ShortHeaderNamesTheFirstIncompleteField) {
  struct Case {
    std::size_t length;
    const char* field;
  };
  const Case cases[] = {
      {0, "magic"},           {100, "magic"},           {323, "magic"},
      {324, "block_size"},    {355, "root_offset"},     {379, "game_version"},
      {380, "version_string"}, {395, "version_string"}, {396, "version_minor"},
      {399, "version_minor"},
  };
  Bytes image = RawArchive(1024).image();
  for (const Case& c : cases) {
    auto db = open(Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(c.length)));
    ASSERT_FALSE(db) << c.length;
    const DatError& e = db.error();
    EXPECT_EQ(e.kind(), DatErrorKind::Decode) << c.length;
    ASSERT_EQ(e.decode_error()->contexts().size(), 1u) << c.length;
    EXPECT_EQ(innermost_context(e), std::string("While parsing field '") + c.field + "' in DatHeader")
        << c.length;
    EXPECT_EQ(e.decode_error()->cause_text(), "failed to fill whole buffer");
  }
  // 400 bytes are a whole header: an empty archive.
  EXPECT_TRUE(open(Bytes(image.begin(), image.begin() + 400)));
}

TEST_F(DatDatabaseTest, OsErrorWhileReadingTheHeaderIsTheCause) {
  // Reading this process's unmapped low memory fails with EIO.
  auto db = DatDatabase::open("/proc/self/mem");
  ASSERT_FALSE(db);
  ASSERT_EQ(db.error().kind(), DatErrorKind::Decode);
  EXPECT_EQ(innermost_context(db.error()), "While parsing field 'magic' in DatHeader");
  EXPECT_EQ(db.error().decode_error()->cause_text(), "Input/output error (os error 5)");
}

TEST_F(DatDatabaseTest, NodeEntryCountIsLimitedBySixtyOneSlots) {
  for (std::uint32_t count : {61u, 62u, 0xFFFFFFFFu}) {
    RawArchive raw(1024);
    std::vector<DatFileEntry> entries;
    for (std::uint32_t i = 0; i < 61; ++i) entries.push_back(entry(0x100 + i, 0, 0));
    DirectoryNode node = DirectoryNode::with_entries(entries);
    node.count = count;
    raw.header().root_offset = raw.append_node(node);
    auto db = open(raw);
    if (count == 61) {
      ASSERT_TRUE(db) << db.error().message();
      EXPECT_EQ(db->size(), 61u);
      EXPECT_TRUE(db->contains(0x100 + 60));
    } else {
      ASSERT_FALSE(db) << count;
      EXPECT_EQ(db.error().kind(), DatErrorKind::Decode);
      EXPECT_EQ(innermost_context(db.error()), "While parsing field 'bit_flags' in DatFileEntry");
      EXPECT_EQ(db.error().decode_error()->cause_text(), "failed to fill whole buffer");
    }
  }
}

// Which branches the walk follows, and which of two entries with the same id
// wins: the one visited later in pre-order.
TEST_F(DatDatabaseTest, WalkFollowsBranchesZeroToCountAndLaterEntriesWin) {
  RawArchive raw(1024);
  const std::uint32_t parent_data = raw.append_chain(text("parent"));
  const std::uint32_t child_data = raw.append_chain(text("child"));
  const std::uint32_t late_data = raw.append_chain(text("late"));
  auto leaf = [&](std::vector<DatFileEntry> entries) {
    return raw.append_node(DirectoryNode::with_entries(std::move(entries)));
  };
  const std::uint32_t a = leaf({entry(0xA, 0, 0), entry(7, child_data, 5), entry(8, child_data, 5)});
  const std::uint32_t c = leaf({entry(0xC, 0, 0), entry(8, late_data, 4)});
  const std::uint32_t beyond = leaf({entry(0xD, 0, 0)});  // branch 3 with count 2
  const std::uint32_t unreached = leaf({entry(0xE, 0, 0)});

  // A node whose branch 0 is 0 is a leaf even with other branches set.
  DirectoryNode fake_leaf = DirectoryNode::with_entries({entry(0xF, 0, 0)});
  fake_leaf.branches[1] = unreached;
  const std::uint32_t f = raw.append_node(fake_leaf);

  DirectoryNode root = DirectoryNode::with_entries({entry(7, parent_data, 6), entry(1, 0, 0)});
  root.branches = {a, 0, f, beyond};  // branch 1 is 0 and skipped
  raw.header().root_offset = raw.append_node(root);

  auto db = open(raw);
  ASSERT_TRUE(db) << db.error().message();
  for (std::uint32_t id : {1u, 7u, 8u, 0xAu, 0xFu}) EXPECT_TRUE(db->contains(id)) << id;
  EXPECT_FALSE(db->contains(0xC));
  EXPECT_FALSE(db->contains(0xD));
  EXPECT_FALSE(db->contains(0xE));
  EXPECT_EQ(db->size(), 5u);
  EXPECT_EQ(*db->get_file(7), text("child"));  // child after parent

  // Same tree with c in branch 2: the later sibling's entry for 8 wins.
  root.branches = {a, 0, c, beyond};
  raw.header().root_offset = raw.append_node(root);
  auto db2 = open(raw);
  ASSERT_TRUE(db2) << db2.error().message();
  EXPECT_EQ(*db2->get_file(8), text("late"));
  std::vector<std::uint32_t> ids;
  for (const auto& [id, e] : db2->directory()) {
    EXPECT_EQ(id, e.id);
    ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 7, 8, 0xA, 0xC}));
}

TEST_F(DatDatabaseTest, BlockChainsFollowTheirRules) {
  constexpr std::uint32_t kBs = 16;  // 12-byte payload
  RawArchive raw(kBs);
  const Bytes hundred = [] {
    Bytes b(100);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
  }();
  const Bytes exact(36, 0x5A);  // three whole payloads

  // First next-block word 0: all `size` bytes after it, past the payload.
  Bytes single = {0, 0, 0, 0};
  single.insert(single.end(), hundred.begin(), hundred.end());
  const std::uint32_t single_at = raw.append_raw(single);
  // An exact multiple: the last block's next word points past the file and
  // must not be followed.
  const std::uint32_t exact_at = raw.append_chain(exact, 0xFFFFFF00);
  // Blocks out of file order (b1, b0, b2): the chain, not the layout,
  // decides. The last block reads on past its payload into the next byte.
  const Bytes scattered = text("0123456789abcdefghijklmnopqrstuvwxyz!");  // 3 payloads + 1
  const std::uint32_t b1 = raw.end();
  const std::uint32_t b0 = b1 + kBs;
  const std::uint32_t b2 = b0 + kBs;
  auto block = [&](std::uint32_t next, std::size_t part) {
    Bytes b(4);
    std::memcpy(b.data(), &next, 4);
    b.insert(b.end(), scattered.begin() + static_cast<std::ptrdiff_t>(part * 12),
             scattered.begin() + static_cast<std::ptrdiff_t>(part * 12 + 12));
    raw.append_raw(b);
  };
  block(b2, 1);
  block(b1, 0);
  block(0, 2);
  raw.append_raw(Bytes{'!'});
  const Bytes compressed = {0x06, 0, 0, 0, 0x40, 0x41, 0x01, 0x03};
  const std::uint32_t compressed_at = raw.append_chain(compressed);
  const std::uint32_t short_at = raw.append_chain(Bytes{1, 2, 3});
  const std::uint32_t leaves_file = raw.append_chain(Bytes(20, 1), 0);
  raw.put_u32(leaves_file, 0xFFFFFF00);  // second block far past the end

  DirectoryNode root = DirectoryNode::with_entries({
      entry(1, single_at, 100),
      entry(2, exact_at, 36),
      entry(3, b0, 37),
      entry(4, 0xFFFFFFF0, 0),  // size 0: nothing is read
      entry(5, 0xFFFFFFF0, 0, DatFileEntry::kCompressedFlag),
      entry(6, compressed_at, 8, DatFileEntry::kCompressedFlag),
      entry(7, short_at, 3, DatFileEntry::kCompressedFlag),
      entry(8, leaves_file, 20),
      entry(9, single_at, 0xFFFFFFF0),  // larger than the file
  });
  raw.header().root_offset = raw.append_node(root);
  auto db = open(raw);
  ASSERT_TRUE(db) << db.error().message();

  struct Expect {
    std::uint32_t id;
    Bytes bytes;
  };
  const Expect ok[] = {
      {1, hundred}, {2, exact}, {3, scattered}, {4, {}}, {5, {}},
      {6, Bytes(6, 0x41)}, {7, {1, 2, 3}},
  };
  for (const Expect& e : ok) {
    auto r = db->get_file(e.id);
    ASSERT_TRUE(r) << e.id << ": " << r.error().message();
    EXPECT_EQ(*r, e.bytes) << e.id;
  }
  for (std::uint32_t id : {8u, 9u}) {
    auto r = db->get_file(id);
    ASSERT_FALSE(r) << id;
    EXPECT_EQ(r.error().kind(), DatErrorKind::Io);
    EXPECT_EQ(r.error().message(), "IO error: failed to fill whole buffer");
    EXPECT_EQ(*db->get_file(1), hundred) << "still usable after " << id;
  }
}

// Chains are read through a window that fetches the blocks after a block
// in one go; whatever the layout, the bytes and errors must be those of
// reading each block where it lies.
TEST_F(DatDatabaseTest, ChainsInAnyLayoutReadTheSameThroughTheWindow) {
  constexpr std::uint32_t kBs = 64;  // 60-byte payload
  constexpr std::size_t kPayload = kBs - 4;
  RawArchive raw(kBs);
  auto pattern = [](std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 251);
    return b;
  };
  // One block with its next word and payload part `part` of `data`.
  auto block = [&](std::uint32_t next, const Bytes& data, std::size_t part) {
    Bytes b(kBs, 0);
    std::memcpy(b.data(), &next, 4);
    const std::size_t from = part * kPayload;
    const std::size_t n = std::min(kPayload, data.size() - from);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), n, b.begin() + 4);
    return b;
  };

  // Far longer than the window, blocks one after another.
  const Bytes big = pattern(40000, 3);
  const std::uint32_t big_at = raw.append_chain(big);

  // Six blocks spread over 50 KiB in the order 3 0 5 1 4 2, jumping back
  // and forth by more than the window.
  const Bytes zigzag = pattern(6 * kPayload - 7, 91);
  constexpr std::uint32_t kStride = 10000 - 10000 % kBs;
  const std::uint32_t slot_of_part[] = {1, 3, 5, 0, 4, 2};
  const std::uint32_t zig_base = raw.end();
  raw.append_raw(Bytes(6 * kStride, 0xEE));
  auto zig_block_at = [&](std::size_t part) { return zig_base + slot_of_part[part] * kStride; };
  for (std::size_t part = 0; part < 6; ++part) {
    const std::uint32_t next = part + 1 < 6 ? zig_block_at(part + 1) : 0;
    const Bytes b = block(next, zigzag, part);
    for (std::size_t k = 0; k < b.size(); k += 4) {
      std::uint32_t w;
      std::memcpy(&w, b.data() + k, 4);
      raw.put_u32(zig_block_at(part) + static_cast<std::uint32_t>(k), w);
    }
  }

  // The node, then the file's last record: its first block is the file's
  // last, so a window sized for the whole chain reads short at the end of
  // the file; its second block lies before it.
  const Bytes tail = pattern(kPayload + 20, 200);
  const std::uint32_t node_at = raw.end();
  const std::uint32_t node_blocks = (DirectoryNodeLayout::kSize + kPayload - 1) / kPayload;
  const std::uint32_t tail_second = node_at + node_blocks * kBs;
  const std::uint32_t tail_first = tail_second + kBs;
  raw.header().root_offset = raw.append_node(DirectoryNode::with_entries({
      entry(1, big_at, static_cast<std::uint32_t>(big.size())),
      entry(2, zig_block_at(0), static_cast<std::uint32_t>(zigzag.size())),
      entry(3, tail_first, static_cast<std::uint32_t>(tail.size())),
  }));
  ASSERT_EQ(raw.end(), tail_second);
  raw.append_raw(block(0, tail, 1));
  raw.append_raw(block(tail_second, tail, 0));

  const auto path = write(raw.image());
  auto db = DatDatabase::open(path);
  ASSERT_TRUE(db) << db.error().message();
  EXPECT_EQ(*db->get_file(1), big);
  EXPECT_EQ(*db->get_file(2), zigzag);
  EXPECT_EQ(*db->get_file(3), tail);

  // Cut the file inside the tail's first block while the archive is open:
  // that record fails like any chain that leaves the file, the others stay.
  std::filesystem::resize_file(path, tail_first + 30);
  auto cut = db->get_file(3);
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().message(), "IO error: failed to fill whole buffer");
  EXPECT_EQ(*db->get_file(1), big);
  EXPECT_EQ(*db->get_file(2), zigzag);
}

// The directory is built in one pass from the walk; it must hold exactly
// what inserting the walk entry by entry gives, later duplicates winning.
TEST(Directory, BuiltFromAWalkEqualsEntryByEntryInserts) {
  std::vector<Directory::value_type> walk;
  std::uint32_t state = 12345;
  for (std::uint32_t i = 0; i < 20000; ++i) {
    state = state * 1664525u + 1013904223u;
    // Cell-like ids, a third of them repeated somewhere in the walk.
    const std::uint32_t lb = (state >> 8) % 4000;
    const std::uint32_t id = (lb << 16) | ((state >> 28) < 5 ? 0xFFFFu - (state >> 28) % 2 : 0x0100u + (state & 0xFF));
    walk.emplace_back(id, entry(id, i, i * 3));
  }
  Directory one_by_one;
  for (const auto& [id, e] : walk) one_by_one.insert_or_assign(e);
  const Directory built = Directory::from_walk(walk);
  ASSERT_EQ(built.size(), one_by_one.size());
  ASSERT_LT(built.size(), walk.size());
  std::vector<std::uint32_t> ids;
  for (const auto& [id, e] : built) {
    ids.push_back(id);
    const DatFileEntry* found = built.find(id);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, *one_by_one.find(id));
    EXPECT_EQ(e, *found);
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
  EXPECT_EQ(built.find(0x0FA0FFFF), nullptr);
  EXPECT_TRUE(Directory::from_walk({}).empty());
  EXPECT_EQ(Directory::from_walk({}).find(0), nullptr);
}

// Directories that would make an unguarded walk recurse without end.
TEST_F(DatDatabaseTest, HostileDirectoriesFailTheOpenWithCorruption) {
  struct Case {
    const char* name;
    // Builds the tree and returns the offset the error must name.
    std::function<std::uint32_t(RawArchive&)> build;
  };
  auto node_with_child = [](std::uint32_t child) {
    DirectoryNode n = DirectoryNode::with_entries({entry(1, 0, 0)});
    n.branches[0] = child;
    return n;
  };
  const Case cases[] = {
      {"self loop",
       [&](RawArchive& raw) {
         const std::uint32_t root = raw.append_node(node_with_child(0));
         raw.set_branch(root, 0, root);
         raw.header().root_offset = root;
         return root;
       }},
      {"back to an ancestor",
       [&](RawArchive& raw) {
         const std::uint32_t child = raw.append_node(node_with_child(0));
         const std::uint32_t root = raw.append_node(node_with_child(child));
         raw.set_branch(child, 0, root);
         raw.header().root_offset = root;
         return root;
       }},
      {"shared subtree",
       [&](RawArchive& raw) {
         const std::uint32_t leaf = raw.append_node(DirectoryNode::with_entries({entry(2, 0, 0)}));
         DirectoryNode root = DirectoryNode::with_entries({entry(1, 0, 0)});
         root.branches[0] = leaf;
         root.branches[1] = leaf;
         raw.header().root_offset = raw.append_node(root);
         return leaf;
       }},
      {"absurd depth",
       [&](RawArchive& raw) {
         std::uint32_t child = 0;
         std::uint32_t at_limit = 0;
         for (int depth = 1000; depth >= 1; --depth) {
           child = raw.append_node(node_with_child(child));
           if (depth == 257) at_limit = child;
         }
         raw.header().root_offset = child;
         return at_limit;
       }},
  };
  for (const Case& c : cases) {
    RawArchive raw(2048);
    const std::uint32_t offending = c.build(raw);
    auto db = open(raw);
    ASSERT_FALSE(db) << c.name;
    EXPECT_EQ(db.error().kind(), DatErrorKind::Corruption) << c.name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", offending);
    EXPECT_NE(db.error().message().find(hex), std::string::npos)
        << c.name << ": " << db.error().message();
  }
}

// Block sizes below 4 wrap the payload to a huge value, so everything after
// the first next-block word is read; 4 gives no payload at all, and a chain
// that loops must end in an error instead of a hang.
TEST_F(DatDatabaseTest, TinyBlockSizesStayDefinedOrFail) {
  const Bytes data = text("payload after the first word");
  for (std::uint32_t bs : {0u, 1u, 2u, 3u}) {
    RawArchive raw(bs);
    Bytes record = {0xEF, 0xBE, 0xAD, 0xDE};  // a next word that is never followed
    record.insert(record.end(), data.begin(), data.end());
    const std::uint32_t at = raw.append_raw(record);
    raw.header().root_offset = raw.append_node(DirectoryNode::with_entries(
        {entry(1, at, static_cast<std::uint32_t>(data.size()))}));
    auto db = open(raw);
    ASSERT_TRUE(db) << bs << ": " << db.error().message();
    auto r = db->get_file(1);
    ASSERT_TRUE(r) << bs;
    EXPECT_EQ(*r, data) << bs;
  }

  RawArchive raw(4);
  const std::uint32_t w0 = raw.append_raw(Bytes(4, 0));
  const std::uint32_t w1 = raw.append_raw(Bytes(4, 0));
  const std::uint32_t w2 = raw.append_raw(Bytes(4, 0));
  raw.append_raw(data);
  raw.put_u32(w0, w1);  // w0 -> w1 -> w2 (last): the bytes after w2
  raw.put_u32(w1, w2);
  const std::uint32_t loop = raw.append_raw(Bytes(12, 0));
  raw.put_u32(loop, loop + 4);  // loop -> loop+4 -> loop+8 -> loop+4 ...
  raw.put_u32(loop + 4, loop + 8);
  raw.put_u32(loop + 8, loop + 4);
  raw.header().root_offset = raw.append_node(DirectoryNode::with_entries(
      {entry(1, w0, static_cast<std::uint32_t>(data.size())), entry(2, loop, 5)}));
  auto db = open(raw);
  ASSERT_TRUE(db) << db.error().message();
  EXPECT_EQ(*db->get_file(1), data);
  auto looped = db->get_file(2);
  ASSERT_FALSE(looped);
  EXPECT_EQ(looped.error().kind(), DatErrorKind::Corruption);

  // The same loop under the directory's root fails the open.
  RawArchive cyclic(4);
  const std::uint32_t r0 = cyclic.append_raw(Bytes(8, 0));
  cyclic.put_u32(r0, r0 + 4);
  cyclic.put_u32(r0 + 4, r0);
  cyclic.header().root_offset = r0;
  auto bad = open(cyclic);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().kind(), DatErrorKind::Corruption);
}

std::size_t open_fd_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(DatDatabaseTest, FileIsClosedWhenTheLastOwnerGoes) {
  const auto path = write(RawArchive(1024).image());
  const std::size_t before = open_fd_count();
  {
    auto db = DatDatabase::open(path);
    ASSERT_TRUE(db);
    DatDatabase moved = std::move(db).value();
    DatDatabase assigned = std::move(moved);
    auto other = DatDatabase::open(path);
    ASSERT_TRUE(other);
    assigned = std::move(other).value();  // closes the first file
    EXPECT_EQ(open_fd_count(), before + 1);
  }
  EXPECT_EQ(open_fd_count(), before);
}

}  // namespace
}  // namespace strewmill::dat
