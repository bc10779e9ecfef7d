#include "lib/dat/dat_database.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <unordered_set>

#include "lib/common/id_hash.h"

namespace strewmill::dat {

namespace {

constexpr const char* kHeader = "DatHeader";
constexpr const char* kEntry = "DatFileEntry";

// A hostile directory could nest without end; real B-trees of this fan-out
// stay below ten levels even for billions of entries.
constexpr std::uint32_t kMaxDirectoryDepth = 256;

common::IoError out_of_memory() { return common::IoError::os(ENOMEM); }

// Positioned read of exactly `n` bytes; retries interrupted reads, and a
// read that hits the end of the file is the end-of-data error.
common::Result<void, common::IoError> pread_exact(int fd, std::uint8_t* dst, std::size_t n,
                                                  std::uint64_t offset) {
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  while (n > 0) {
    const ssize_t r = ::pread(fd, dst, std::min(n, kMaxChunk), static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return common::fail(common::IoError::os(errno));
    }
    if (r == 0) return common::fail(common::IoError::unexpected_eof());
    dst += r;
    n -= static_cast<std::size_t>(r);
    offset += static_cast<std::uint64_t>(r);
  }
  return {};
}

// Reads up to `n` bytes from the current file position; stops early at the
// end of the file or at an OS error, which is returned alongside.
std::size_t read_some(int fd, std::uint8_t* dst, std::size_t n,
                      std::optional<common::IoError>& error) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, dst + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      error = common::IoError::os(errno);
      break;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

DecodeResult<DatHeader> DatHeader::read(Cursor& cur) {
  const std::uint64_t start = cur.position();
  DatHeader h;
  DAT_FIELD(h.magic, cur, start, cur.u32(), "magic", kHeader);
  DAT_FIELD(h.block_size, cur, start, cur.u32(), "block_size", kHeader);
  DAT_FIELD(h.file_size, cur, start, cur.u32(), "file_size", kHeader);
  DAT_FIELD(h.dataset, cur, start, cur.u32(), "dataset", kHeader);
  DAT_FIELD(h.subset, cur, start, cur.u32(), "subset", kHeader);
  DAT_FIELD(h.free_head, cur, start, cur.u32(), "free_head", kHeader);
  DAT_FIELD(h.free_tail, cur, start, cur.u32(), "free_tail", kHeader);
  DAT_FIELD(h.free_count, cur, start, cur.u32(), "free_count", kHeader);
  DAT_FIELD(h.root_offset, cur, start, cur.u32(), "root_offset", kHeader);
  DAT_FIELD(h.new_lru, cur, start, cur.u32(), "new_lru", kHeader);
  DAT_FIELD(h.old_lru, cur, start, cur.u32(), "old_lru", kHeader);
  DAT_FIELD(h.use_lru, cur, start, cur.u32(), "use_lru", kHeader);
  DAT_FIELD(h.master_map_id, cur, start, cur.u32(), "master_map_id", kHeader);
  DAT_FIELD(h.engine_version, cur, start, cur.u32(), "engine_version", kHeader);
  DAT_FIELD(h.game_version, cur, start, cur.u32(), "game_version", kHeader);
  DAT_FIELD(const auto version, cur, start, cur.bytes(16), "version_string", kHeader);
  std::copy(version.begin(), version.end(), h.version_string.begin());
  DAT_FIELD(h.version_minor, cur, start, cur.u32(), "version_minor", kHeader);
  return h;
}

DecodeResult<DatFileEntry> DatFileEntry::read(Cursor& cur) {
  const std::uint64_t start = cur.position();
  DatFileEntry e;
  DAT_FIELD(e.bit_flags, cur, start, cur.u32(), "bit_flags", kEntry);
  DAT_FIELD(e.id, cur, start, cur.u32(), "id", kEntry);
  DAT_FIELD(e.offset, cur, start, cur.u32(), "offset", kEntry);
  DAT_FIELD(e.size, cur, start, cur.u32(), "size", kEntry);
  DAT_FIELD(e.timestamp, cur, start, cur.u32(), "timestamp", kEntry);
  DAT_FIELD(e.version, cur, start, cur.u32(), "version", kEntry);
  return e;
}

// ---------------------------------------------------------------------------
// Directory

namespace {
inline std::uint32_t slot_of(std::uint32_t id, unsigned shift) {
  return shift >= 32 ? 0 : common::mix_id(id) >> shift;
}

// Slot count (a power of two, load at most one half) and shift for n ids.
std::pair<std::size_t, unsigned> table_shape(std::size_t n) {
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < 2 * n) ++bits;
  return {std::size_t{1} << bits, 32 - bits};
}
}  // namespace

const DatFileEntry* Directory::find(std::uint32_t id) const {
  if (slots_.empty()) return nullptr;
  const std::uint32_t mask = static_cast<std::uint32_t>(slots_.size() - 1);
  for (std::uint32_t s = slot_of(id, shift_);; s = (s + 1) & mask) {
    const Slot& slot = slots_[s];
    if (slot.index == 0) return nullptr;
    if (slot.id == id) return &entries_[slot.index - 1].second;
  }
}

void Directory::insert_or_assign(const DatFileEntry& entry) {
  // Keep the load at or below one half so probe runs stay short.
  if ((entries_.size() + 1) * 2 > slots_.size()) rehash(std::max<std::size_t>(16, slots_.size() * 2));
  const std::uint32_t mask = static_cast<std::uint32_t>(slots_.size() - 1);
  std::uint32_t s = slot_of(entry.id, shift_);
  for (; slots_[s].index != 0; s = (s + 1) & mask) {
    if (slots_[s].id == entry.id) {
      entries_[slots_[s].index - 1].second = entry;
      return;
    }
  }
  entries_.emplace_back(entry.id, entry);
  slots_[s] = Slot{entry.id, static_cast<std::uint32_t>(entries_.size())};
}

Directory Directory::from_walk(std::vector<value_type> walk) {
  Directory d;
  const std::size_t n = walk.size();
  const auto [slot_count, shift] = table_shape(n);
  d.slots_.assign(slot_count, Slot{0, 0});
  d.shift_ = shift;
  const std::uint32_t mask = static_cast<std::uint32_t>(slot_count - 1);

  // Entries in order of their home slot's bucket (a stable counting sort,
  // so repeated ids keep walk order), each bucket a few KiB of slots.
  constexpr unsigned kBucketBits = 11;
  const unsigned bits = 32 - shift;
  const unsigned bucket_shift = bits > kBucketBits ? bits - kBucketBits : 0;
  std::vector<std::uint32_t> start((std::size_t{1} << kBucketBits) + 1, 0);
  for (const value_type& e : walk) ++start[(slot_of(e.first, shift) >> bucket_shift) + 1];
  for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
  // Each as a slot would hold it (id, walk index + 1), so the fill below
  // reads this array in order and never the walk.
  std::vector<Slot> order(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t id = walk[i].first;
    order[start[slot_of(id, shift) >> bucket_shift]++] = Slot{id, static_cast<std::uint32_t>(i + 1)};
  }

  // Fill the slots. A repeated id meets its earlier entry on the way and
  // overwrites it; the later copy is dropped below.
  std::vector<bool> dropped;
  for (const Slot& entry : order) {
    const std::uint32_t id = entry.id;
    const std::uint32_t i = entry.index - 1;
    std::uint32_t s = slot_of(id, shift);
    for (; d.slots_[s].index != 0; s = (s + 1) & mask) {
      if (d.slots_[s].id == id) break;
    }
    if (d.slots_[s].index != 0) {
      walk[d.slots_[s].index - 1].second = walk[i].second;
      if (dropped.empty()) dropped.resize(n, false);
      dropped[i] = true;
    } else {
      d.slots_[s] = entry;
    }
  }

  if (!dropped.empty()) {
    // Close the gaps the dropped copies leave and renumber the slots.
    std::vector<std::uint32_t> renumber(n, 0);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (dropped[i]) continue;
      renumber[i] = static_cast<std::uint32_t>(kept + 1);
      walk[kept++] = walk[i];
    }
    walk.resize(kept);
    for (Slot& slot : d.slots_) {
      if (slot.index != 0) slot.index = renumber[slot.index - 1];
    }
  }
  d.entries_ = std::move(walk);
  return d;
}

void Directory::rehash(std::size_t slot_count) {
  std::vector<Slot> slots(slot_count, Slot{0, 0});
  unsigned bits = 0;
  while ((std::size_t{1} << bits) < slot_count) ++bits;
  const unsigned shift = 32 - bits;
  const std::uint32_t mask = static_cast<std::uint32_t>(slot_count - 1);
  for (const Slot& old : slots_) {
    if (old.index == 0) continue;
    std::uint32_t s = slot_of(old.id, shift);
    while (slots[s].index != 0) s = (s + 1) & mask;
    slots[s] = old;
  }
  slots_ = std::move(slots);
  shift_ = shift;
  entries_.reserve(slot_count / 2);
}

// ---------------------------------------------------------------------------
// DatDatabase

DatDatabase::DatDatabase(int fd, std::uint64_t file_length, DatHeader header)
    : fd_(fd), file_length_(file_length), header_(header) {}

DatDatabase::DatDatabase(DatDatabase&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      file_length_(other.file_length_),
      header_(other.header_),
      directory_(std::move(other.directory_)) {}

DatDatabase& DatDatabase::operator=(DatDatabase&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    file_length_ = other.file_length_;
    header_ = other.header_;
    directory_ = std::move(other.directory_);
  }
  return *this;
}

DatDatabase::~DatDatabase() {
  if (fd_ >= 0) ::close(fd_);
}

DatResult<DatDatabase> DatDatabase::open(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return common::fail(DatError::path_error(path.string(), common::IoError::os(errno)));
  FdGuard guard(fd);

  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return common::fail(DatError::path_error(path.string(), common::IoError::os(errno)));
  // open() accepts a directory for reading; it is still not an archive.
  if (S_ISDIR(st.st_mode))
    return common::fail(DatError::path_error(path.string(), common::IoError::os(EISDIR)));
  // Devices and pipes report no useful length; leave sizes unbounded there.
  const std::uint64_t file_length = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size)
                                                        : std::numeric_limits<std::uint64_t>::max();

  if (::lseek(fd, static_cast<off_t>(DatHeader::kFileOffset), SEEK_SET) < 0)
    return common::fail(DatError::io(common::IoError::os(errno)));
  std::array<std::uint8_t, DatHeader::kSize> raw{};
  std::optional<common::IoError> read_error;
  const std::size_t got = read_some(fd, raw.data(), raw.size(), read_error);
  Cursor cur(std::span<const std::uint8_t>(raw.data(), got));
  auto header = DatHeader::read(cur);
  if (!header) {
    DecodeError err = std::move(header).error();
    // The field that came up short did so because the OS failed the read.
    if (read_error && err.kind() == DecodeErrorKind::EndOfData) {
      DecodeError io = DecodeError::io(*read_error);
      for (const FieldContext& c : err.contexts()) io.add_context(c);
      err = std::move(io);
    }
    return common::fail(DatError(std::move(err)));
  }

  DatDatabase db(guard.release(), file_length, *header);
  TRY(db.read_directory());
  return db;
}

DatResult<void> DatDatabase::read_directory() {
  if (header_.root_offset == 0) return {};
  struct Pending {
    std::uint32_t offset;
    std::uint32_t depth;
  };
  try {
    std::vector<Pending> stack{{header_.root_offset, 1}};
    // Every node may be reached once: a second arrival means a cycle or a
    // shared subtree, either of which would make the walk unbounded.
    std::unordered_set<std::uint32_t> visited;
    std::array<std::uint8_t, DirectoryNodeLayout::kSize> node{};
    std::vector<std::uint32_t> children;
    std::vector<Directory::value_type> walk;  // every entry, in walk order
    while (!stack.empty()) {
      const Pending p = stack.back();
      stack.pop_back();
      if (!visited.insert(p.offset).second)
        return common::fail(DatError::corruption(
            fmt::format("directory node at offset 0x{:08X} is reached more than once", p.offset)));
      if (p.depth > kMaxDirectoryDepth)
        return common::fail(DatError::corruption(fmt::format(
            "directory nests deeper than {} levels at node offset 0x{:08X}", kMaxDirectoryDepth,
            p.offset)));
      children.clear();
      TRY(read_node(p.offset, node, walk, children));
      // Reverse push so children come off the stack in branch order, which
      // keeps the walk pre-order and later duplicates winning.
      for (auto it = children.rbegin(); it != children.rend(); ++it)
        stack.push_back({*it, p.depth + 1});
    }
    directory_ = Directory::from_walk(std::move(walk));
  } catch (const std::bad_alloc&) {
    return common::fail(DatError::io(out_of_memory()));
  } catch (const std::length_error&) {
    return common::fail(DatError::io(out_of_memory()));
  }
  return {};
}

DatResult<void> DatDatabase::read_node(std::uint32_t offset, std::span<std::uint8_t> node,
                                       std::vector<Directory::value_type>& walk,
                                       std::vector<std::uint32_t>& children) {
  TRY(read_chain_into(offset, node));
  // The node's size is fixed, so its branches, its count and its first 61
  // entries are always there: they are copied out as they lie (six
  // little-endian words per entry, like the cursor reads them).
  static_assert(DirectoryNodeLayout::kEntriesOffset + DirectoryNodeLayout::kMaxEntries * DatFileEntry::kSize <=
                DirectoryNodeLayout::kSize);
  static_assert(sizeof(DatFileEntry) == DatFileEntry::kSize);
  std::array<std::uint32_t, DirectoryNodeLayout::kBranches> branches{};
  std::memcpy(branches.data(), node.data(), sizeof branches);
  std::uint32_t count;
  std::memcpy(&count, node.data() + DirectoryNodeLayout::kCountOffset, 4);
  const std::uint32_t present = std::min(count, DirectoryNodeLayout::kMaxEntries);
  for (std::uint32_t i = 0; i < present; ++i) {
    DatFileEntry entry;
    std::memcpy(&entry, node.data() + DirectoryNodeLayout::kEntriesOffset + i * DatFileEntry::kSize,
                DatFileEntry::kSize);
    walk.emplace_back(entry.id, entry);
  }
  if (count > present) {
    // Past entry 60 the node has no room left: entry 61 fails on its first
    // field with the end of data, through the field-by-field reader.
    Cursor cur(node);
    cur.seek(DirectoryNodeLayout::kEntriesOffset + present * DatFileEntry::kSize);
    TRY_ASSIGN(const DatFileEntry entry, DatFileEntry::read(cur));
    (void)entry;
  }
  if (branches[0] == 0) return {};  // leaf: no branch is followed
  for (std::uint32_t j = 0; j <= count; ++j) {
    if (branches[j] != 0) children.push_back(branches[j]);
  }
  return {};
}

DatResult<std::vector<std::uint8_t>> DatDatabase::read_file_data(std::uint32_t offset,
                                                                 std::uint32_t size) const {
  if (size == 0) return std::vector<std::uint8_t>{};
  // Distinct blocks cannot hold more bytes than the file; only a chain that
  // revisits its own blocks could, and that is corruption. Refusing here
  // keeps a hostile size from costing an allocation.
  if (size > file_length_) return common::fail(DatError::io(common::IoError::unexpected_eof()));
  std::vector<std::uint8_t> buf;
  try {
    buf.resize(size);
  } catch (const std::bad_alloc&) {
    return common::fail(DatError::io(out_of_memory()));
  } catch (const std::length_error&) {
    return common::fail(DatError::io(out_of_memory()));
  }
  TRY(read_chain_into(offset, buf));
  return buf;
}

namespace {

// A chain's blocks usually follow one another in the file, as writers lay
// records out. The window reads, at a block's start, the span the rest of
// the chain would take if it did, and serves the next-block words and
// payloads from it while they lie inside; anything outside is read where
// it lies. A record or directory node of a few blocks then costs one
// positioned read instead of two per block, with the same bytes and the
// same errors: a request the window cannot serve whole is read on its own.
class ChainWindow {
 public:
  static constexpr std::size_t kSize = 8192;

  explicit ChainWindow(int fd) : fd_(fd) {}

  // `n` bytes at `offset` into `dst`; `ahead` is how many bytes from
  // `offset` on the chain will probably still need.
  common::Result<void, common::IoError> read(std::uint8_t* dst, std::size_t n, std::uint64_t offset,
                                             std::uint64_t ahead) {
    if (offset >= start_ && offset - start_ <= len_ && n <= len_ - (offset - start_)) {
      std::memcpy(dst, buf_ + (offset - start_), n);
      return {};
    }
    if (n <= kSize) {
      const std::size_t want = static_cast<std::size_t>(std::clamp<std::uint64_t>(ahead, n, kSize));
      start_ = offset;
      len_ = fill(want);
      if (n <= len_) {
        std::memcpy(dst, buf_, n);
        return {};
      }
    }
    return pread_exact(fd_, dst, n, offset);
  }

 private:
  // Reads up to `want` bytes at start_; fewer at the end of the file, and
  // whatever arrived before an error (the plain read then reports it).
  std::size_t fill(std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
      const ssize_t r = ::pread(fd_, buf_ + got, want - got, static_cast<off_t>(start_ + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

  int fd_;
  std::uint64_t start_ = 0;
  std::size_t len_ = 0;
  std::uint8_t buf_[kSize];
};

}  // namespace

DatResult<void> DatDatabase::read_chain_into(std::uint32_t offset,
                                             std::span<std::uint8_t> out) const {
  if (out.empty()) return {};
  std::size_t remaining = out.size();
  std::size_t written = 0;
  std::uint32_t block = offset;
  const std::uint32_t payload = header_.block_size - 4u;  // wraps below 4 on purpose
  ChainWindow window(fd_);
  // Bytes from a block's start to the end of the chain, were the remaining
  // blocks to follow it directly.
  const auto span_from_block = [&](std::size_t left) -> std::uint64_t {
    if (payload == 0) return 4;
    const std::uint64_t blocks = (left + payload - 1) / payload;
    return blocks * header_.block_size;
  };

  // With a zero payload the remaining count never shrinks, so a cyclic
  // chain would loop forever. Brent's cycle detection bounds the walk by the
  // chain's own length without extra memory: `saved` is a block seen
  // earlier, moved forward at doubling distances.
  std::uint32_t saved = block;
  std::uint64_t power = 1;
  std::uint64_t steps = 0;

  for (;;) {
    std::uint8_t word[4];
    const std::uint64_t ahead = std::max<std::uint64_t>(span_from_block(remaining), 4 + remaining);
    auto r = window.read(word, 4, block, ahead);
    if (!r) return common::fail(DatError::io(std::move(r).error()));
    std::uint32_t next;
    std::memcpy(&next, word, 4);
    const std::uint32_t data_at = block + 4u;
    if (next == 0) {
      // Last block: everything left, whatever the block size.
      r = window.read(out.data() + written, remaining, data_at, ahead);
      if (!r) return common::fail(DatError::io(std::move(r).error()));
      return {};
    }
    const std::size_t chunk = std::min<std::size_t>(payload, remaining);
    if (chunk != 0) {
      r = window.read(out.data() + written, chunk, data_at, ahead);
      if (!r) return common::fail(DatError::io(std::move(r).error()));
      written += chunk;
      remaining -= chunk;
    }
    if (remaining == 0) return {};  // an exact multiple: the next word is not followed
    block = next;
    if (payload == 0) {
      if (block == saved)
        return common::fail(DatError::corruption(fmt::format(
            "block chain starting at offset 0x{:08X} loops at block 0x{:08X} with block size {}",
            offset, block, header_.block_size)));
      if (++steps == power) {
        saved = block;
        power *= 2;
        steps = 0;
      }
    }
  }
}

DatResult<std::vector<std::uint8_t>> DatDatabase::get_file(std::uint32_t id) const {
  const DatFileEntry* entry = directory_.find(id);
  if (entry == nullptr) return common::fail(DatError::not_found(id));
  TRY_ASSIGN(std::vector<std::uint8_t> bytes, read_file_data(entry->offset, entry->size));
  if (!entry->compressed()) return bytes;
  try {
    return decompress_lrs(bytes);
  } catch (const std::bad_alloc&) {
    return common::fail(DatError::io(out_of_memory()));
  }
}

// ---------------------------------------------------------------------------
// Decompression

std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input) {
  if (input.size() < 4) return std::vector<std::uint8_t>(input.begin(), input.end());
  std::uint32_t declared;
  std::memcpy(&declared, input.data(), 4);
  if (declared == 0) return {};
  const std::uint8_t* s = input.data() + 4;
  const std::uint8_t* const e = input.data() + input.size();
  if (s == e) return {};

  // The stream cannot expand beyond 17 bytes per 2-byte back-reference (a
  // literal gives 1 per byte), so that bounds the buffer whatever the
  // declared size claims. Reaching the bound means the stream is spent.
  const std::uint64_t len = static_cast<std::uint64_t>(e - s);
  const std::uint64_t bound = 17 * (len / 2) + (len & 1);
  const std::size_t cap = static_cast<std::size_t>(std::min<std::uint64_t>(declared, bound));
  std::vector<std::uint8_t> out(cap);
  std::uint8_t* const o = out.data();
  std::size_t n = 0;

  unsigned flags = 0;
  unsigned bits = 0;
  while (s < e) {
    if (bits == 0) {
      flags = *s++;
      bits = 8;
    }
    const bool reference = (flags & 0x80) != 0;
    flags <<= 1;
    --bits;
    if (!reference) {
      if (s == e) break;
      o[n++] = *s++;
    } else {
      if (e - s < 2) break;
      const std::uint32_t b0 = s[0];
      const std::uint32_t b1 = s[1];
      s += 2;
      const std::size_t distance = b0 + 256 * (b1 >> 4);
      // Distance 0 ends the stream; with nothing output yet there is no
      // byte to copy from, so that ends it too.
      if (distance == 0 || n == 0) break;
      const std::size_t length = std::min<std::size_t>((b1 & 0x0F) + 2, cap - n);
      if (distance <= n) {
        // Byte by byte: the source may overlap what is being produced.
        const std::uint8_t* src = o + (n - distance);
        for (std::size_t k = 0; k < length; ++k) o[n + k] = src[k];
        n += length;
      } else {
        for (std::size_t k = 0; k < length; ++k, ++n) o[n] = o[n >= distance ? n - distance : 0];
      }
    }
    if (n == cap) break;
  }
  out.resize(n);
  return out;
}

}  // namespace strewmill::dat
