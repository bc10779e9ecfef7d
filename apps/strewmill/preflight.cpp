#include "apps/strewmill/preflight.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "apps/strewmill/dat_error_report.h"
#include "apps/strewmill/file_io.h"
#include "apps/strewmill/logging.h"

namespace strewmill::app {

namespace {

constexpr std::string_view kRefusal = " — bake refuses to run against custom DATs";

// Closes the directory stream on scope exit.
class DirStream {
 public:
  explicit DirStream(DIR* d) : d_(d) {}
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  ~DirStream() {
    if (d_ != nullptr) ::closedir(d_);
  }
  explicit operator bool() const { return d_ != nullptr; }

  // The next entry other than "." and "..", nullopt at the end; errno on a
  // failed read.
  common::Result<std::optional<std::string>, int> next() {
    while (true) {
      errno = 0;
      const dirent* e = ::readdir(d_);
      if (e == nullptr) {
        if (errno != 0) return common::fail(errno);
        return std::optional<std::string>();
      }
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      return std::optional<std::string>(std::string(name));
    }
  }

 private:
  DIR* d_;
};

// The kind of an entry as seen through a status call that follows links,
// in the form the refusal message shows it.
std::string describe_file_type(mode_t mode) {
  return fmt::format("FileType {{ is_file: {}, is_dir: {}, is_symlink: {}, .. }}", S_ISREG(mode) != 0,
                     S_ISDIR(mode) != 0, S_ISLNK(mode) != 0);
}

AppResult<void> check_archive_files(const std::filesystem::path& dat_dir) {
  for (const ArchiveFile& f : kArchiveFiles) {
    const std::filesystem::path path = dat_dir / f.file_name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      const int err = errno;
      return common::fail(
          Error::os(err).context(fmt::format("stat {} at `{}`", f.file_name, display_path(path))));
    }
    if (!S_ISREG(st.st_mode)) {
      return common::fail(Error(fmt::format("--dat-dir: `{}` is not a regular file (got file_type={})",
                                            display_path(path), describe_file_type(st.st_mode))));
    }
  }
  return {};
}

// True when the directory at `path` holds at least one entry.
AppResult<bool> directory_has_entries(const std::filesystem::path& path) {
  DirStream dir(::opendir(path.c_str()));
  if (!dir) return common::fail(Error::os(errno));
  auto entry = dir.next();
  if (!entry) return common::fail(Error::os(entry.error()));
  return entry->has_value();
}

// Names only: world-editing tools leave these beside the archives.
AppResult<void> check_directory_entries(const std::filesystem::path& dat_dir) {
  DirStream dir(::opendir(dat_dir.c_str()));
  if (!dir) {
    const int err = errno;
    return common::fail(
        Error::os(err).context(fmt::format("read --dat-dir `{}`", display_path(dat_dir))));
  }
  while (true) {
    auto entry = dir.next();
    if (!entry) return common::fail(Error::os(entry.error()));
    if (!entry->has_value()) return {};
    const std::string& raw = **entry;
    const std::string name = lossy_utf8(raw);
    if (name == "custom_textures") {
      TRY_ASSIGN(const bool non_empty, directory_has_entries(dat_dir / raw));
      if (non_empty) {
        return common::fail(
            Error(fmt::format("--dat-dir contains non-empty `custom_textures/`{}", kRefusal)));
      }
    } else if (name.starts_with("iter-")) {
      return common::fail(
          Error(fmt::format("--dat-dir contains modder-iteration marker `{}`{}", name, kRefusal)));
    } else if (name.ends_with(".lwproj")) {
      return common::fail(Error(
          fmt::format("--dat-dir contains Landwright project file `{}`{}", name, kRefusal)));
    }
  }
}

std::optional<std::uint32_t> smallest_modder_id(const dat::DatDatabase& db) {
  std::optional<std::uint32_t> smallest;
  for (const auto& [id, entry] : db.directory()) {
    if (is_modder_allocated(id) && (!smallest || id < *smallest)) smallest = id;
  }
  return smallest;
}

}  // namespace

AppResult<DatDirCheck> run_preflight(const std::filesystem::path& dat_dir, Sha256Hasher& hasher) {
  struct stat st {};
  if (::stat(dat_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return common::fail(
        Error(fmt::format("--dat-dir `{}` is not a directory", display_path(dat_dir))));
  }
  TRY(check_archive_files(dat_dir));
  TRY(check_directory_entries(dat_dir));

  std::vector<dat::DatDatabase> archives;
  archives.reserve(kArchiveFiles.size());
  for (const ArchiveFile& f : kArchiveFiles) {
    const std::filesystem::path path = dat_dir / f.file_name;
    auto db = dat::DatDatabase::open(path);
    if (!db) {
      return common::fail(from_dat_error(db.error()).context("open " + display_path(path)));
    }
    archives.push_back(std::move(*db));
  }

  for (std::size_t i = 0; i < kArchiveFiles.size(); ++i) {
    if (std::optional<std::uint32_t> id = smallest_modder_id(archives[i])) {
      return common::fail(Error(fmt::format("--dat-dir contains modder-allocated record 0x{:08X} in {}{}",
                                            *id, kArchiveFiles[i].short_name, kRefusal)));
    }
  }

  std::string hashes[3];
  for (std::size_t i = 0; i < kArchiveFiles.size(); ++i) {
    TRY_ASSIGN(hashes[i], hasher.digest_file(dat_dir / kArchiveFiles[i].file_name));
  }

  archives.pop_back();  // the local archive was needed only for the checks
  DatDirCheck check{std::move(archives[0]), std::move(archives[1]), std::move(hashes[0]),
                    std::move(hashes[1]), std::move(hashes[2])};

  if (log_enabled(spdlog::level::info)) {
    log_at(spdlog::level::info, "pre-flight ok: portal_hash={} cell_hash={} local_hash={}",
           std::string_view(check.portal_hash).substr(0, 16),
           std::string_view(check.cell_hash).substr(0, 16),
           std::string_view(check.local_hash).substr(0, 16));
  }
  return check;
}

}  // namespace strewmill::app
