// Fuzzes DatDatabase::open on arbitrary file bytes (held in a memfd and
// opened by path, like any archive) and then fetches every listed id: the
// open and each fetch end in a value or a DatError, in bounded time and
// memory, whatever the header, directory and block chains claim. Every
// fetch is compared with a plain block-chain walk over the input bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
  if (!db) {
    check_error(db.error());
    return 0;
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
