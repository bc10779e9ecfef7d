#include "tools/writer/archive_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/writer/byte_writer.h"

namespace strewmill::tools {

namespace {

constexpr std::uint32_t kWindow = 4095;   // largest back-reference distance
constexpr std::size_t kMinMatch = 3;      // shorter matches hardly pay for the flag bit
constexpr std::size_t kMaxMatch = 17;
constexpr unsigned kMaxChain = 16;        // candidates tried per position

inline std::uint32_t hash3(const std::uint8_t* p, unsigned bits) {
  const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
  return (v * 0x9E3779B1u) >> (32 - bits);
}

// Blocks needed for `size` stored bytes (0 for an empty record).
std::uint64_t blocks_for(std::uint64_t size, std::uint32_t payload) {
  return (size + payload - 1) / payload;
}

// Buffered sequential output to a file.
class FileSink {
 public:
  explicit FileSink(const std::filesystem::path& path) : path_(path) {
    f_ = std::fopen(path.c_str(), "wb");
    if (f_ == nullptr) err_ = errno;
    else std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink() {
    if (f_ != nullptr) std::fclose(f_);
  }
  bool ok() const { return f_ != nullptr && err_ == 0; }
  void reserve(std::uint64_t) {}
  void write(const void* p, std::size_t n) {
    if (!ok() || n == 0) return;
    if (std::fwrite(p, 1, n, f_) != n) err_ = errno != 0 ? errno : EIO;
  }
  void zeros(std::size_t n) {
    static constexpr std::uint8_t kZero[4096] = {};
    while (n > 0) {
      const std::size_t k = std::min(n, sizeof kZero);
      write(kZero, k);
      n -= k;
    }
  }
  common::Result<void, std::string> finish() {
    if (f_ != nullptr) {
      if (std::fclose(f_) != 0 && err_ == 0) err_ = errno != 0 ? errno : EIO;
      f_ = nullptr;
    } else if (err_ == 0) {
      err_ = EIO;
    }
    if (err_ != 0)
      return common::fail(fmt::format("cannot write {}: {}", path_.string(), std::strerror(err_)));
    return {};
  }

 private:
  std::filesystem::path path_;
  std::FILE* f_ = nullptr;
  int err_ = 0;
};

class MemorySink {
 public:
  void reserve(std::uint64_t n) { bytes.reserve(static_cast<std::size_t>(n)); }
  void write(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
  std::vector<std::uint8_t> bytes;
};

// Writes `data` as contiguous blocks starting at `offset`; the last block's
// next-block word is `last_next`, and it is padded to a whole block.
template <class Sink>
void emit_chain(Sink& sink, std::span<const std::uint8_t> data, std::uint32_t offset,
                std::uint32_t block_size, std::uint32_t last_next) {
  const std::uint32_t payload = block_size - 4;
  std::size_t done = 0;
  std::uint32_t block = offset;
  do {
    const std::size_t chunk = std::min<std::size_t>(payload, data.size() - done);
    const bool last = done + chunk == data.size();
    const std::uint32_t next = last ? last_next : block + block_size;
    sink.write(&next, 4);
    sink.write(data.data() + done, chunk);
    sink.zeros(payload - chunk);
    done += chunk;
    block += block_size;
  } while (done < data.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// Compression

std::vector<std::uint8_t> compress_lrs(std::span<const std::uint8_t> input) {
  const std::size_t n = input.size();
  const std::uint8_t* in = input.data();
  std::vector<std::uint8_t> out;
  out.reserve(4 + n + n / 8 + 1);
  const auto declared = static_cast<std::uint32_t>(n);
  out.resize(4);
  std::memcpy(out.data(), &declared, 4);
  if (n == 0) return out;

  // Hash heads sized to the input, so that many small records stay cheap;
  // `prev` links positions with the same hash inside the window.
  unsigned bits = 8;
  while (bits < 16 && (std::size_t{1} << bits) < n) ++bits;
  std::vector<std::int32_t> head(std::size_t{1} << bits, -1);
  std::vector<std::int32_t> prev(kWindow + 1, -1);
  auto insert = [&](std::size_t pos) {
    if (pos + kMinMatch > n) return;
    const std::uint32_t h = hash3(in + pos, bits);
    prev[pos & kWindow] = head[h];
    head[h] = static_cast<std::int32_t>(pos);
  };

  std::size_t flag_at = 0;
  unsigned items = 8;  // items in the current group; 8 starts a new group
  auto begin_item = [&](bool reference) {
    if (items == 8) {
      flag_at = out.size();
      out.push_back(0);
      items = 0;
    }
    if (reference) out[flag_at] |= static_cast<std::uint8_t>(0x80u >> items);
    ++items;
  };

  std::size_t i = 0;
  while (i < n) {
    std::size_t best_len = 0;
    std::size_t best_dist = 0;
    if (i + kMinMatch <= n) {
      const std::size_t max_len = std::min(kMaxMatch, n - i);
      std::int32_t cand = head[hash3(in + i, bits)];
      for (unsigned depth = 0; cand >= 0 && depth < kMaxChain; ++depth) {
        const std::size_t c = static_cast<std::size_t>(cand);
        const std::size_t dist = i - c;
        if (dist > kWindow) break;
        // Compared against the input itself: the decoder's output equals
        // it, so matches may run into the bytes they produce.
        std::size_t len = 0;
        while (len < max_len && in[c + len] == in[i + len]) ++len;
        if (len > best_len) {
          best_len = len;
          best_dist = dist;
          if (len == max_len) break;
        }
        const std::int32_t p = prev[c & kWindow];
        if (p >= cand) break;  // slot reused by a newer position
        cand = p;
      }
    }
    if (best_len >= kMinMatch) {
      begin_item(true);
      out.push_back(static_cast<std::uint8_t>(best_dist & 0xFF));
      out.push_back(static_cast<std::uint8_t>(((best_dist >> 8) << 4) | (best_len - 2)));
      for (std::size_t k = 0; k < best_len; ++k) insert(i + k);
      i += best_len;
    } else {
      begin_item(false);
      out.push_back(in[i]);
      insert(i);
      ++i;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Raw pieces

std::vector<std::uint8_t> encode_header(const dat::DatHeader& h) {
  ByteWriter w;
  w.u32(h.magic).u32(h.block_size).u32(h.file_size).u32(h.dataset).u32(h.subset);
  w.u32(h.free_head).u32(h.free_tail).u32(h.free_count).u32(h.root_offset);
  w.u32(h.new_lru).u32(h.old_lru).u32(h.use_lru).u32(h.master_map_id);
  w.u32(h.engine_version).u32(h.game_version).append(h.version_string).u32(h.version_minor);
  return w.take();
}

DirectoryNode DirectoryNode::with_entries(std::vector<dat::DatFileEntry> entries) {
  DirectoryNode node;
  node.count = static_cast<std::uint32_t>(entries.size());
  node.entries = std::move(entries);
  return node;
}

std::vector<std::uint8_t> encode_node(const DirectoryNode& node) {
  ByteWriter w;
  for (std::uint32_t b : node.branches) w.u32(b);
  w.u32(node.count);
  const std::size_t n =
      std::min<std::size_t>(node.entries.size(), dat::DirectoryNodeLayout::kMaxEntries);
  for (std::size_t i = 0; i < n; ++i) {
    const dat::DatFileEntry& e = node.entries[i];
    w.u32(e.bit_flags).u32(e.id).u32(e.offset).u32(e.size).u32(e.timestamp).u32(e.version);
  }
  w.zeros(dat::DirectoryNodeLayout::kSize - w.size());
  return w.take();
}

common::Result<void, std::string> write_file(const std::filesystem::path& path,
                                             std::span<const std::uint8_t> bytes) {
  FileSink sink(path);
  sink.write(bytes.data(), bytes.size());
  return sink.finish();
}

RawArchive::RawArchive(std::uint32_t block_size) : bytes_(kFirstBlock, 0) {
  header_.block_size = block_size;
}

std::uint32_t RawArchive::append_chain(std::span<const std::uint8_t> data, std::uint32_t last_next) {
  const std::uint32_t offset = end();
  const std::uint32_t bs = header_.block_size;
  if (bs <= 4) {
    // No usable payload: one next-block word followed by everything, which
    // is how such a chain is read when its first word is 0.
    bytes_.resize(bytes_.size() + 4);
    std::memcpy(bytes_.data() + offset, &last_next, 4);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return offset;
  }
  MemorySink sink;
  emit_chain(sink, data, offset, bs, last_next);
  bytes_.insert(bytes_.end(), sink.bytes.begin(), sink.bytes.end());
  return offset;
}

std::uint32_t RawArchive::append_raw(std::span<const std::uint8_t> data) {
  const std::uint32_t offset = end();
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return offset;
}

std::uint32_t RawArchive::append_node(const DirectoryNode& node) {
  return append_chain(encode_node(node));
}

void RawArchive::put_u32(std::uint32_t offset, std::uint32_t value) {
  if (std::uint64_t{offset} + 4 > bytes_.size()) bytes_.resize(std::uint64_t{offset} + 4);
  std::memcpy(bytes_.data() + offset, &value, 4);
}

void RawArchive::set_branch(std::uint32_t node_offset, std::uint32_t index, std::uint32_t child) {
  put_u32(node_offset + 4 + 4 * index, child);
}

std::vector<std::uint8_t> RawArchive::image() const {
  std::vector<std::uint8_t> out = bytes_;
  dat::DatHeader h = header_;
  h.file_size = static_cast<std::uint32_t>(out.size());
  const std::vector<std::uint8_t> raw = encode_header(h);
  std::copy(raw.begin(), raw.end(), out.begin() + dat::DatHeader::kFileOffset);
  return out;
}

common::Result<void, std::string> RawArchive::write(const std::filesystem::path& path) const {
  return write_file(path, image());
}

// ---------------------------------------------------------------------------
// ArchiveWriter

ArchiveWriter::ArchiveWriter(std::uint32_t block_size) { header_.block_size = block_size; }

void ArchiveWriter::add(std::uint32_t id, std::vector<std::uint8_t> bytes, bool compress) {
  dat::DatFileEntry entry;
  entry.id = id;
  if (compress) {
    entry.bit_flags = dat::DatFileEntry::kCompressedFlag;
    bytes = compress_lrs(bytes);
  }
  add_stored(entry, std::move(bytes));
}

void ArchiveWriter::add_stored(const dat::DatFileEntry& entry, std::vector<std::uint8_t> stored) {
  auto [it, inserted] = index_.try_emplace(entry.id, records_.size());
  if (inserted) {
    records_.push_back(Record{entry, std::move(stored)});
  } else {
    records_[it->second] = Record{entry, std::move(stored)};
  }
}

namespace {

// Entries a subtree of `depth` levels can hold (61 keys, 62 children).
std::uint64_t subtree_capacity(unsigned depth) {
  std::uint64_t cap = dat::DirectoryNodeLayout::kMaxEntries;
  for (unsigned d = 1; d < depth; ++d) cap = dat::DirectoryNodeLayout::kMaxEntries + 62 * cap;
  return cap;
}

}  // namespace

// Builds a balanced B-tree over sorted entries [lo, hi): every internal node
// with c keys has c + 1 non-empty children, the keys separating them in
// order, so the walk (node entries, then branches 0..c) reaches them all.
std::uint32_t plan_subtree(std::vector<PlannedNode>& nodes, std::uint32_t lo, std::uint32_t hi) {
  const std::uint32_t id = static_cast<std::uint32_t>(nodes.size());
  nodes.emplace_back();
  const std::uint64_t n = hi - lo;
  unsigned depth = 1;
  while (subtree_capacity(depth) < n) ++depth;
  if (depth == 1) {
    for (std::uint32_t i = lo; i < hi; ++i) nodes[id].keys.push_back(i);
    return id;
  }
  const std::uint64_t child_cap = subtree_capacity(depth - 1);
  std::uint64_t c = 1;
  while (c + (c + 1) * child_cap < n) ++c;
  const std::uint64_t k = c + 1;
  const std::uint64_t rest = n - c;
  std::uint32_t pos = lo;
  for (std::uint64_t i = 0; i < k; ++i) {
    const auto size = static_cast<std::uint32_t>(rest / k + (i < rest % k ? 1 : 0));
    const std::uint32_t child = plan_subtree(nodes, pos, pos + size);
    nodes[id].children.push_back(child);
    pos += size;
    if (i + 1 < k) nodes[id].keys.push_back(pos++);
  }
  return id;
}


template <class Sink>
common::Result<void, std::string> ArchiveWriter::emit(Sink& sink) const {
  const std::uint32_t bs = header_.block_size;
  if (bs < 5) return common::fail(fmt::format("block size {} leaves no room for data", bs));
  const std::uint32_t payload = bs - 4;

  // Plan every offset first so each block can point at the next one and
  // each node at its children while the file is streamed front to back.
  std::vector<dat::DatFileEntry> entries;
  entries.reserve(records_.size());
  std::uint64_t pos = RawArchive::kFirstBlock;
  for (const Record& r : records_) {
    dat::DatFileEntry e = r.entry;
    e.size = static_cast<std::uint32_t>(r.stored.size());
    if (r.stored.size() > 0xFFFFFFFFu)
      return common::fail(fmt::format("record {:08X} exceeds 4 GiB", e.id));
    e.offset = r.stored.empty() ? 0 : static_cast<std::uint32_t>(pos);
    pos += blocks_for(r.stored.size(), payload) * bs;
    entries.push_back(e);
  }
  std::vector<std::uint32_t> order(entries.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return entries[a].id < entries[b].id; });

  std::vector<PlannedNode> nodes;
  if (!entries.empty()) plan_subtree(nodes, 0, static_cast<std::uint32_t>(entries.size()));
  const std::uint64_t node_span = blocks_for(dat::DirectoryNodeLayout::kSize, payload) * bs;
  const std::uint64_t nodes_at = pos;
  pos += nodes.size() * node_span;
  if (pos > 0xFFFFFFFFu) return common::fail(std::string("archive exceeds 4 GiB"));
  auto node_offset = [&](std::uint32_t node) {
    return static_cast<std::uint32_t>(nodes_at + node * node_span);
  };

  dat::DatHeader h = header_;
  h.root_offset = nodes.empty() ? 0 : node_offset(0);
  h.file_size = static_cast<std::uint32_t>(pos);
  sink.reserve(pos);
  sink.zeros(dat::DatHeader::kFileOffset);
  const std::vector<std::uint8_t> raw_header = encode_header(h);
  sink.write(raw_header.data(), raw_header.size());
  sink.zeros(RawArchive::kFirstBlock - dat::DatHeader::kFileOffset - raw_header.size());

  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (!records_[i].stored.empty()) emit_chain(sink, records_[i].stored, entries[i].offset, bs, 0);
  }
  for (std::uint32_t id = 0; id < nodes.size(); ++id) {
    DirectoryNode node;
    for (std::uint32_t k : nodes[id].keys) node.entries.push_back(entries[order[k]]);
    node.count = static_cast<std::uint32_t>(node.entries.size());
    for (std::size_t j = 0; j < nodes[id].children.size(); ++j)
      node.branches[j] = node_offset(nodes[id].children[j]);
    emit_chain(sink, encode_node(node), node_offset(id), bs, 0);
  }
  return {};
}

common::Result<void, std::string> ArchiveWriter::write(const std::filesystem::path& path) const {
  FileSink sink(path);
  TRY(emit(sink));
  return sink.finish();
}

common::Result<std::vector<std::uint8_t>, std::string> ArchiveWriter::image() const {
  MemorySink sink;
  TRY(emit(sink));
  return std::move(sink.bytes);
}

}  // namespace strewmill::tools
