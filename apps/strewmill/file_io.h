// Small POSIX file helpers shared by the pre-flight and the output writers:
// an owning descriptor, create-or-truncate, a whole-buffer write, and the
// text form of paths and names in messages.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace strewmill::app {

// Closes the descriptor it owns (if any) on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Opens `path` for writing, creating it (mode 0666 before the umask) or
// truncating it. On failure the descriptor is empty and errno is set.
UniqueFd create_truncate(const std::filesystem::path& path);

// Writes all `n` bytes, retrying after EINTR and short writes. Returns 0 or
// the errno of the failed write.
int write_all(int fd, const char* data, std::size_t n);

// `bytes` as UTF-8 text, each maximal ill-formed subsequence replaced by
// U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// A path as it appears in messages: its bytes as lossy UTF-8.
std::string display_path(const std::filesystem::path& path);

}  // namespace strewmill::app
