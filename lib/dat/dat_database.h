// Reader of one DAT archive: the header, the whole B-tree directory loaded
// into memory at open, and record bytes by data id (expanded when stored
// compressed). Read-only; every read after opening is a positioned read, so
// one open archive can be shared by const reference.
//
// Fetching and decoding a record; every step returns a value or an error:
//
//   auto portal = dat::DatDatabase::open(dir / "client_portal.dat");
//   if (!portal) return fail(portal.error().message());
//   auto bytes = portal->get_file(0x13000000);   // NotFound, Io, ...
//   if (!bytes) return fail(bytes.error().message());
//   dat::Cursor cur(*bytes);
//   auto region = dat::Region::unpack(cur);      // DecodeResult<Region>
//   if (!region) return fail(region.error().render());
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

#include "lib/dat/cursor.h"
#include "lib/dat/dat_error.h"

namespace strewmill::dat {

// The 80 bytes at file offset 320, stored exactly as read. Only
// `block_size` and `root_offset` are used by the reader.
struct DatHeader {
  std::uint32_t magic = 0;
  std::uint32_t block_size = 0;
  std::uint32_t file_size = 0;
  std::uint32_t dataset = 0;
  std::uint32_t subset = 0;
  std::uint32_t free_head = 0;
  std::uint32_t free_tail = 0;
  std::uint32_t free_count = 0;
  std::uint32_t root_offset = 0;
  std::uint32_t new_lru = 0;
  std::uint32_t old_lru = 0;
  std::uint32_t use_lru = 0;
  std::uint32_t master_map_id = 0;
  std::uint32_t engine_version = 0;
  std::uint32_t game_version = 0;
  std::array<std::uint8_t, 16> version_string{};  // raw bytes, not decoded
  std::uint32_t version_minor = 0;

  static constexpr std::uint64_t kFileOffset = 320;
  static constexpr std::uint64_t kSize = 80;

  // Field by field; a short read names the first incomplete field.
  static DecodeResult<DatHeader> read(Cursor& cur);

  bool operator==(const DatHeader&) const = default;
};

// One 24-byte directory entry.
struct DatFileEntry {
  std::uint32_t bit_flags = 0;  // bit 0: stored compressed
  std::uint32_t id = 0;
  std::uint32_t offset = 0;     // first block of the record's chain
  std::uint32_t size = 0;       // stored (possibly compressed) size
  std::uint32_t timestamp = 0;
  std::uint32_t version = 0;

  static constexpr std::uint32_t kCompressedFlag = 1;
  static constexpr std::size_t kSize = 24;

  bool compressed() const { return (bit_flags & kCompressedFlag) != 0; }

  static DecodeResult<DatFileEntry> read(Cursor& cur);

  bool operator==(const DatFileEntry&) const = default;
};

// Layout of a directory node, itself a stored file of exactly 1716 bytes.
struct DirectoryNodeLayout {
  static constexpr std::uint32_t kSize = 1716;
  static constexpr std::uint32_t kBranches = 62;
  static constexpr std::uint32_t kCountOffset = 248;
  static constexpr std::uint32_t kEntriesOffset = 252;
  static constexpr std::uint32_t kMaxEntries = 61;
};

// The in-memory directory: data id -> entry. Open addressing over a dense
// entry array, so a lookup is one probe sequence and iteration is a plain
// array walk. Iteration order is unspecified.
class Directory {
 public:
  using value_type = std::pair<std::uint32_t, DatFileEntry>;
  using const_iterator = std::vector<value_type>::const_iterator;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // nullptr when the id is absent.
  const DatFileEntry* find(std::uint32_t id) const;
  bool contains(std::uint32_t id) const { return find(id) != nullptr; }

  // Stores `entry` under entry.id, replacing an earlier entry with that id.
  // May throw std::bad_alloc.
  void insert_or_assign(const DatFileEntry& entry);

  // The directory of `walk`, the entries in the order a directory walk met
  // them: for a repeated id the later entry replaces the earlier one, as
  // with insert_or_assign one by one. Sized once and filled in slot order,
  // so a million entries cost one sequential pass instead of a million
  // random probes and a dozen regrowths. May throw std::bad_alloc.
  static Directory from_walk(std::vector<value_type> walk);

 private:
  void rehash(std::size_t slot_count);

  // The id sits in the slot so that probing never touches entries_.
  struct Slot {
    std::uint32_t id;
    std::uint32_t index;  // index + 1 into entries_; 0 marks an empty slot
  };

  std::vector<value_type> entries_;
  std::vector<Slot> slots_;  // size is a power of two
  unsigned shift_ = 32;  // 32 - log2(slots_.size())
};

class DatDatabase {
 public:
  // Opens the archive, reads its header and loads the whole directory.
  static DatResult<DatDatabase> open(const std::filesystem::path& path);

  DatDatabase(DatDatabase&& other) noexcept;
  DatDatabase& operator=(DatDatabase&& other) noexcept;
  DatDatabase(const DatDatabase&) = delete;
  DatDatabase& operator=(const DatDatabase&) = delete;
  ~DatDatabase();

  const DatHeader& header() const { return header_; }
  const Directory& directory() const { return directory_; }
  std::size_t size() const { return directory_.size(); }
  bool contains(std::uint32_t id) const { return directory_.contains(id); }

  // The record's bytes, expanded when stored compressed; NotFound for an
  // unknown id, Io when its block chain cannot be read.
  DatResult<std::vector<std::uint8_t>> get_file(std::uint32_t id) const;

  // The `size` stored bytes of the block chain starting at `offset`.
  DatResult<std::vector<std::uint8_t>> read_file_data(std::uint32_t offset,
                                                      std::uint32_t size) const;

 private:
  DatDatabase(int fd, std::uint64_t file_length, DatHeader header);

  DatResult<void> read_directory();
  // Reads one node into `node` and appends its entries to `walk`;
  // `children` receives the branches to visit, in branch order.
  DatResult<void> read_node(std::uint32_t offset, std::span<std::uint8_t> node,
                            std::vector<Directory::value_type>& walk,
                            std::vector<std::uint32_t>& children);
  DatResult<void> read_chain_into(std::uint32_t offset, std::span<std::uint8_t> out) const;

  int fd_ = -1;
  std::uint64_t file_length_ = 0;  // actual length at open, bounds sizes
  DatHeader header_;
  Directory directory_;
};

// Expands a compressed record (declared size, then the token stream).
// Never fails: inputs shorter than 4 bytes come back unchanged, and a stream
// that ends early gives a shorter output. Reserves no more than the stream
// can expand to, so a hostile declared size costs nothing. Throws only
// std::bad_alloc.
std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input);

}  // namespace strewmill::dat
