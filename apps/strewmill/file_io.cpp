#include "apps/strewmill/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace strewmill::app {

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

UniqueFd create_truncate(const std::filesystem::path& path) {
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

int write_all(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return EIO;  // no progress and no error: give up rather than spin
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

namespace {

bool in(unsigned char b, unsigned char lo, unsigned char hi) { return b >= lo && b <= hi; }

}  // namespace

std::string lossy_utf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Sequence width and the allowed range of the second byte, which rules
    // out overlong forms, surrogates and values above U+10FFFF.
    std::size_t width = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (in(b, 0xC2, 0xDF)) {
      width = 2;
    } else if (b == 0xE0) {
      width = 3, lo = 0xA0;
    } else if (in(b, 0xE1, 0xEC) || in(b, 0xEE, 0xEF)) {
      width = 3;
    } else if (b == 0xED) {
      width = 3, hi = 0x9F;
    } else if (b == 0xF0) {
      width = 4, lo = 0x90;
    } else if (in(b, 0xF1, 0xF3)) {
      width = 4;
    } else if (b == 0xF4) {
      width = 4, hi = 0x8F;
    }
    std::size_t j = i + 1;
    if (width != 0 && j < n && in(static_cast<unsigned char>(bytes[j]), lo, hi)) {
      ++j;
      while (j - i < width && j < n && in(static_cast<unsigned char>(bytes[j]), 0x80, 0xBF)) ++j;
    }
    if (width != 0 && j - i == width) {
      out.append(bytes.substr(i, width));
    } else {
      out += kReplacement;  // one replacement per maximal ill-formed subpart
    }
    i = j;
  }
  return out;
}

std::string display_path(const std::filesystem::path& path) { return lossy_utf8(path.native()); }

}  // namespace strewmill::app
