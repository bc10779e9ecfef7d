// Writes DAT archives: records as block chains, a B-tree directory of
// 1716-byte nodes and optionally compressed records. Used by tests, fuzz
// seeds, benchmarks and the world generator to produce real archive bytes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/common/result.h"
#include "lib/dat/dat_database.h"

namespace strewmill::tools {

// Compresses `input` into the archive's token format, declared size first.
// decompress_lrs() of the result gives `input` back.
std::vector<std::uint8_t> compress_lrs(std::span<const std::uint8_t> input);

// The 80 header bytes as stored at file offset 320.
std::vector<std::uint8_t> encode_header(const dat::DatHeader& header);

// A directory node as stored: branches, entry count and up to 61 entries.
// `count` is written as given, so a node can claim more entries than it has.
struct DirectoryNode {
  std::array<std::uint32_t, dat::DirectoryNodeLayout::kBranches> branches{};
  std::uint32_t count = 0;
  std::vector<dat::DatFileEntry> entries;  // at most 61 are written

  // A node whose count matches its entries.
  static DirectoryNode with_entries(std::vector<dat::DatFileEntry> entries);
};
std::vector<std::uint8_t> encode_node(const DirectoryNode& node);  // 1716 bytes

// One node of a planned directory B-tree.
struct PlannedNode {
  std::vector<std::uint32_t> keys;      // positions in the id-sorted entry order
  std::vector<std::uint32_t> children;  // planned node numbers; empty for a leaf
};

// Plans a balanced B-tree over the sorted entries [lo, hi), appending its
// nodes (root first) to `nodes`; returns the root's number. Every internal
// node with c keys has c + 1 non-empty children, so the reader's walk (node
// entries, then branches 0..c) reaches every entry.
std::uint32_t plan_subtree(std::vector<PlannedNode>& nodes, std::uint32_t lo, std::uint32_t hi);

// Hand-built archive image for tests that need exact control: append block
// chains and raw bytes, patch any word, set any header field, then write.
class RawArchive {
 public:
  static constexpr std::uint32_t kFirstBlock = 1024;

  explicit RawArchive(std::uint32_t block_size);

  dat::DatHeader& header() { return header_; }
  std::uint32_t payload() const { return header_.block_size - 4; }

  // Appends `data` as a chain of contiguous blocks and returns the first
  // block's offset. The last block's next-block word is `last_next`.
  std::uint32_t append_chain(std::span<const std::uint8_t> data, std::uint32_t last_next = 0);
  // Appends raw bytes (no block structure) and returns their offset.
  std::uint32_t append_raw(std::span<const std::uint8_t> data);
  // Appends a node chain; shortcut for append_chain(encode_node(node)).
  std::uint32_t append_node(const DirectoryNode& node);

  void put_u32(std::uint32_t offset, std::uint32_t value);
  // Sets branch `index` of the node whose chain starts at `node_offset`
  // (the branch word must lie in the node's first block).
  void set_branch(std::uint32_t node_offset, std::uint32_t index, std::uint32_t child);

  std::uint32_t end() const { return static_cast<std::uint32_t>(bytes_.size()); }
  // The whole file: 320 zero bytes, the header (with file_size set), blocks.
  std::vector<std::uint8_t> image() const;
  common::Result<void, std::string> write(const std::filesystem::path& path) const;

 private:
  dat::DatHeader header_;
  std::vector<std::uint8_t> bytes_;
};

// Writes `bytes` to `path`, replacing the file.
common::Result<void, std::string> write_file(const std::filesystem::path& path,
                                             std::span<const std::uint8_t> bytes);

// Builds a whole archive from records. Records are laid out as contiguous
// block chains in insertion order, followed by the directory, a B-tree
// balanced over the ids in ascending order.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(std::uint32_t block_size = 1024);

  // Adds a record; a later add with the same id replaces it. With
  // `compress` the record is stored through compress_lrs and flagged.
  void add(std::uint32_t id, std::vector<std::uint8_t> bytes, bool compress = false);
  // Adds already-stored bytes with the given entry fields (offset and size
  // are assigned on write).
  void add_stored(const dat::DatFileEntry& entry, std::vector<std::uint8_t> stored);

  // Header fields to write; block_size, root_offset and file_size are set
  // by the writer.
  dat::DatHeader& header() { return header_; }
  std::uint32_t block_size() const { return header_.block_size; }
  std::size_t size() const { return records_.size(); }

  // Streams the archive to `path` (records are not copied again).
  common::Result<void, std::string> write(const std::filesystem::path& path) const;
  // The same bytes in memory, for tests that patch them.
  common::Result<std::vector<std::uint8_t>, std::string> image() const;

 private:
  struct Record {
    dat::DatFileEntry entry;
    std::vector<std::uint8_t> stored;
  };
  template <class Sink>
  common::Result<void, std::string> emit(Sink& sink) const;

  dat::DatHeader header_;
  std::vector<Record> records_;
  std::unordered_map<std::uint32_t, std::size_t> index_;
};

}  // namespace strewmill::tools
