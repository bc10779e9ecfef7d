// Fuzzes DatDatabase::open on arbitrary file bytes (held in a memfd and
// opened by path, like any archive) and then fetches every listed id: the
// open and each fetch end in a value or a DatError, in bounded time and
// memory, whatever the header, directory and block chains claim.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

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
    auto bytes = db->get_file(id);
    if (!bytes) {
      FUZZ_CHECK(bytes.error().kind() != dat::DatErrorKind::NotFound);
      check_error(bytes.error());
      continue;
    }
    fetched += entry.size + bytes->size();
    if (!entry.compressed()) FUZZ_CHECK(bytes->size() == entry.size);
  }
  if (!db->contains(unused_id)) {
    auto missing = db->get_file(unused_id);
    FUZZ_CHECK(!missing.ok() && missing.error().kind() == dat::DatErrorKind::NotFound);
  }
  return 0;
}
