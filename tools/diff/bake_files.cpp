#include "tools/diff/bake_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>

#include "apps/strewmill/file_io.h"

namespace strewmill::tools {

namespace fs = std::filesystem;
using app::AppResult;
using app::Error;

AppResult<void> read_whole(const fs::path& path, std::string& buf, std::size_t limit) {
  buf.clear();
  const auto failed = [&](Error e) { return common::fail(std::move(e).context("read " + app::display_path(path))); };
  app::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return failed(Error::os(errno));
  struct stat st {};
  std::size_t size = 65536;
  // One byte past the size sees the end of file in the first read.
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<std::size_t>(st.st_size) + 1;
  try {
    buf.resize(std::min(size, limit));
    std::size_t used = 0;
    while (used < limit) {
      if (used == buf.size()) buf.resize(std::min(limit, buf.size() * 2));
      const ssize_t n = ::read(fd.get(), buf.data() + used, buf.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int err = errno;
        buf.clear();
        return failed(Error::os(err));
      }
      if (n == 0) break;
      used += static_cast<std::size_t>(n);
    }
    buf.resize(used);
  } catch (const std::bad_alloc&) {
    buf.clear();
    return failed(Error("out of memory"));
  } catch (const std::length_error&) {
    buf.clear();
    return failed(Error("file too large"));
  }
  return {};
}

bool is_digest_text(std::string_view s) {
  if (s.size() != 65 || s[64] != '\n') return false;
  for (const char c : s.substr(0, 64)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

AppResult<Provenance> read_provenance_file(const fs::path& path, std::string& buf) {
  // Seven short lines; anything much longer is not a provenance file.
  TRY(read_whole(path, buf, 4097));
  if (buf.size() > 4096) {
    return common::fail(Error(fmt::format("{}: too long for a provenance file", app::display_path(path))));
  }
  auto parsed = parse_provenance(buf);
  if (!parsed) return common::fail(Error(parsed.error().located(app::display_path(path))));
  return std::move(parsed).value();
}

}  // namespace strewmill::tools
