// Fuzzes DatDatabase::open on arbitrary file bytes (held in a memfd and
// opened by path, like any archive) and then fetches every listed id: the
// open and each fetch end in a value or a DatError, in bounded time and
// memory, whatever the header, directory and block chains claim. The
// directory and every fetch are compared with a plain walk over the input
// bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/dat/dat_database.h"

using namespace strewmill;

namespace {

// Every fetch may legitimately read up to the whole file through a chain of
// tiny blocks; cap the total so one input stays a fast unit.
constexpr std::uint64_t kFetchBudget = std::uint64_t{4} << 20;

int archive_fd() {
  static const int fd = ::memfd_create("fuzz.dat", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

enum class Walk { bytes, unreadable, endless };

// The block chain as defined, one block at a time over the file bytes.
// `endless`: a chain with no payload that never ends, or a record larger
// than the file (which only a chain that revisits its blocks can fill);
// the reader must refuse both.
Walk reference_chain(std::span<const std::uint8_t> file, std::uint32_t block_size, std::uint32_t offset,
                     std::uint32_t size, std::vector<std::uint8_t>& out) {
  out.clear();
  if (size == 0) return Walk::bytes;
  if (size > file.size()) return Walk::endless;
  out.assign(size, 0);
  const std::uint32_t payload = block_size - 4u;
  std::size_t remaining = size, written = 0;
  std::uint32_t block = offset;
  const auto copy = [&](std::uint32_t at, std::size_t n, std::uint8_t* dst) {
    if (at > file.size() || n > file.size() - at) return false;
    std::memcpy(dst, file.data() + at, n);
    return true;
  };
  for (std::uint64_t steps = 0;; ++steps) {
    if (payload == 0 && steps > file.size()) return Walk::endless;
    std::uint8_t word[4];
    if (!copy(block, 4, word)) return Walk::unreadable;
    std::uint32_t next;
    std::memcpy(&next, word, 4);
    const std::uint32_t data_at = block + 4u;
    if (next == 0) return copy(data_at, remaining, out.data() + written) ? Walk::bytes : Walk::unreadable;
    const std::size_t chunk = std::min<std::size_t>(payload, remaining);
    if (chunk != 0 && !copy(data_at, chunk, out.data() + written)) return Walk::unreadable;
    written += chunk;
    remaining -= chunk;
    if (remaining == 0) return Walk::bytes;
    block = next;
  }
}

std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t w;
  std::memcpy(&w, bytes.data() + at, 4);
  return w;
}

// The directory as defined: a pre-order walk from the root in which a
// later entry replaces an earlier one with its id. nullopt where the open
// must fail: a short header, an unreadable node, a node claiming more
// than 61 entries, or (the reader's guards) a node reached twice or a
// directory deeper than 256 levels.
std::optional<std::map<std::uint32_t, dat::DatFileEntry>> reference_directory(
    std::span<const std::uint8_t> file) {
  using Layout = dat::DirectoryNodeLayout;
  if (file.size() < dat::DatHeader::kFileOffset + dat::DatHeader::kSize) return std::nullopt;
  const std::uint32_t block_size = word_at(file, 324);
  const std::uint32_t root = word_at(file, 352);
  std::map<std::uint32_t, dat::DatFileEntry> entries;
  if (root == 0) return entries;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> stack{{root, 1}};  // offset, depth
  std::set<std::uint32_t> visited;
  std::vector<std::uint8_t> node;
  while (!stack.empty()) {
    const auto [offset, depth] = stack.back();
    stack.pop_back();
    if (!visited.insert(offset).second || depth > 256) return std::nullopt;
    if (reference_chain(file, block_size, offset, Layout::kSize, node) != Walk::bytes) return std::nullopt;
    const std::uint32_t count = word_at(node, Layout::kCountOffset);
    if (count > Layout::kMaxEntries) return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t at = Layout::kEntriesOffset + dat::DatFileEntry::kSize * i;
      const dat::DatFileEntry e{word_at(node, at), word_at(node, at + 4), word_at(node, at + 8),
                                word_at(node, at + 12), word_at(node, at + 16), word_at(node, at + 20)};
      entries[e.id] = e;
    }
    if (word_at(node, 0) == 0) continue;  // a leaf
    for (std::uint32_t j = count + 1; j-- > 0;) {
      const std::uint32_t child = word_at(node, 4 * j);
      if (child != 0) stack.emplace_back(child, depth + 1);
    }
  }
  return entries;
}

void check_error(const dat::DatError& e) {
  FUZZ_CHECK(!e.message().empty());
  (void)e.cause_message();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = archive_fd();
  FUZZ_CHECK(::ftruncate(fd, 0) == 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t w = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    FUZZ_CHECK(w > 0);
    done += static_cast<std::size_t>(w);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  auto db = dat::DatDatabase::open(path);
  const auto want_directory = reference_directory(fuzz::as_span(data, size));
  FUZZ_CHECK(db.ok() == want_directory.has_value());
  if (!db) {
    check_error(db.error());
    return 0;
  }
  FUZZ_CHECK(db->directory().size() == want_directory->size());
  for (const auto& [id, entry] : db->directory()) {
    const auto it = want_directory->find(id);
    FUZZ_CHECK(it != want_directory->end() && it->second == entry);
  }
  std::uint64_t fetched = 0;
  std::uint32_t unused_id = 0;
  for (const auto& [id, entry] : db->directory()) {
    FUZZ_CHECK(id == entry.id);
    if (id == unused_id) ++unused_id;
    if (fetched > kFetchBudget) continue;
    fetched += entry.size;
    auto bytes = db->get_file(id);
    std::vector<std::uint8_t> want;
    const Walk walk = reference_chain(fuzz::as_span(data, size), db->header().block_size, entry.offset,
                                      entry.size, want);
    FUZZ_CHECK(bytes.ok() == (walk == Walk::bytes));
    if (!bytes) {
      FUZZ_CHECK(bytes.error().kind() != dat::DatErrorKind::NotFound);
      check_error(bytes.error());
      continue;
    }
    if (entry.compressed()) want = dat::decompress_lrs(want);
    FUZZ_CHECK(*bytes == want);
    fetched += bytes->size();
  }
  if (!db->contains(unused_id)) {
    auto missing = db->get_file(unused_id);
    FUZZ_CHECK(!missing.ok() && missing.error().kind() == dat::DatErrorKind::NotFound);
  }
  return 0;
}
