#include "apps/strewmill/selection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include <fmt/format.h>

namespace strewmill::app {

namespace {

constexpr std::string_view kOutOfRange = "out of range integral type conversion attempted";

// Length in bytes of the White_Space character that `text` starts with, or 0.
std::size_t leading_space_len(std::string_view text) {
  if (text.empty()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = b(0);
  if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return 1;
  if (c == 0xC2 && text.size() >= 2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;
  if (text.size() < 3) return 0;
  if (c == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;  // U+1680
  if (c == 0xE2 && b(1) == 0x80) {
    const unsigned char t = b(2);
    if ((t >= 0x80 && t <= 0x8A) || t == 0xA8 || t == 0xA9 || t == 0xAF) return 3;
  }
  if (c == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
  return 0;
}

// Length in bytes of the White_Space character that `text` ends with, or 0.
std::size_t trailing_space_len(std::string_view text) {
  const std::size_t n = text.size();
  if (n >= 1 && leading_space_len(text.substr(n - 1)) == 1) return 1;
  if (n >= 2 && leading_space_len(text.substr(n - 2)) == 2) return 2;
  if (n >= 3 && leading_space_len(text.substr(n - 3)) == 3) return 3;
  return 0;
}

enum class IntErrorKind { Empty, InvalidDigit, PosOverflow };

std::string_view describe(IntErrorKind kind) {
  switch (kind) {
    case IntErrorKind::Empty:
      return "cannot parse integer from empty string";
    case IntErrorKind::InvalidDigit:
      return "invalid digit found in string";
    case IntErrorKind::PosOverflow:
      return "number too large to fit in target type";
  }
  return "invalid digit found in string";
}

// Base 16, optional single "+", scanned from the left so the first problem
// decides the error.
common::Result<std::uint32_t, IntErrorKind> parse_u32_radix16(std::string_view s) {
  if (s.empty()) return common::fail(IntErrorKind::Empty);
  if (s.front() == '+') {
    s.remove_prefix(1);
    if (s.empty()) return common::fail(IntErrorKind::InvalidDigit);
  }
  std::uint32_t value = 0;
  for (char ch : s) {
    std::uint32_t digit;
    if (ch >= '0' && ch <= '9') {
      digit = static_cast<std::uint32_t>(ch - '0');
    } else if (ch >= 'a' && ch <= 'f') {
      digit = static_cast<std::uint32_t>(ch - 'a' + 10);
    } else if (ch >= 'A' && ch <= 'F') {
      digit = static_cast<std::uint32_t>(ch - 'A' + 10);
    } else {
      return common::fail(IntErrorKind::InvalidDigit);
    }
    if (value > (UINT32_MAX - digit) / 16) return common::fail(IntErrorKind::PosOverflow);
    value = value * 16 + digit;
  }
  return value;
}

Error wider_than_16_bits(std::string message) {
  return Error(std::move(message)).with_cause(Error(std::string(kOutOfRange)));
}

AppResult<std::vector<std::uint16_t>> select_single(std::string_view spec) {
  TRY_ASSIGN(const std::uint32_t v, parse_hex_u32(spec));
  if (v > 0xFFFF) {
    return common::fail(wider_than_16_bits(fmt::format("landblock id `{}` is wider than 16 bits", spec)));
  }
  return std::vector<std::uint16_t>{static_cast<std::uint16_t>(v)};
}

AppResult<std::vector<std::uint16_t>> select_rectangle(std::string_view spec, std::size_t dots) {
  TRY_ASSIGN(const std::uint32_t lo, parse_hex_u32(spec.substr(0, dots)));
  TRY_ASSIGN(const std::uint32_t hi, parse_hex_u32(spec.substr(dots + 2)));
  if (hi < lo) {
    return common::fail(Error(fmt::format("--landblocks range high `0x{:X}` is below low `0x{:X}`", hi, lo)));
  }
  for (std::uint32_t bound : {lo, hi}) {
    if (bound > 0xFFFF) {
      return common::fail(wider_than_16_bits(fmt::format("range bound `0x{:X}` is wider than 16 bits", bound)));
    }
  }
  const std::uint32_t x_lo = lo >> 8, y_lo = lo & 0xFF;
  const std::uint32_t x_hi = hi >> 8, y_hi = hi & 0xFF;
  if (x_hi < x_lo || y_hi < y_lo) {
    return common::fail(Error(fmt::format("--landblocks rectangle: hi=(0x{:X},0x{:X}) must dominate lo=(0x{:X},0x{:X})",
                                          x_hi, y_hi, x_lo, y_lo)));
  }
  std::vector<std::uint16_t> ids;
  ids.reserve((x_hi - x_lo + 1) * (y_hi - y_lo + 1));
  // X outer, Y inner: the corners span a rectangle of the grid, not a run of
  // consecutive numbers.
  for (std::uint32_t x = x_lo; x <= x_hi; ++x) {
    for (std::uint32_t y = y_lo; y <= y_hi; ++y) ids.push_back(static_cast<std::uint16_t>(x * 256 + y));
  }
  return ids;
}

// Offset of the first byte that breaks UTF-8 well-formedness (overlong forms,
// surrogates and values above U+10FFFF included), or npos.
std::size_t find_invalid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return i;
    }
    if (n - i < len) return i;
    if (p[i + 1] < lo || p[i + 1] > hi) return i;
    for (std::size_t k = 2; k < len; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return i;
    }
    i += len;
  }
  return std::string_view::npos;
}

// The whole file as UTF-8 text; errors are the cause for the caller's context.
AppResult<std::string> read_utf8_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return common::fail(Error("file name contained an unexpected NUL byte"));
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return common::fail(Error::os(errno));

  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};

  std::string data;
  try {
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      data.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buf[65536];
    while (true) {
      const ssize_t got = ::read(fd, buf, sizeof buf);
      if (got < 0) {
        if (errno == EINTR) continue;
        return common::fail(Error::os(errno));
      }
      if (got == 0) break;
      data.append(buf, static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    return common::fail(Error("file is too large to hold in memory"));
  } catch (const std::length_error&) {
    return common::fail(Error("file is too large to hold in memory"));
  }

  const std::size_t bad = find_invalid_utf8(data);
  if (bad != std::string_view::npos) {
    return common::fail(Error(fmt::format("stream did not contain valid UTF-8 (invalid byte at offset {})", bad)));
  }
  return data;
}

AppResult<std::vector<std::uint16_t>> select_from_file(std::string_view path_text) {
  const std::string path(path_text);
  auto text = read_utf8_file(path);
  if (!text) {
    return common::fail(Error(fmt::format("read landblock list `{}`", path_text)).with_cause(std::move(text).error()));
  }
  std::string_view rest = *text;
  std::vector<std::uint16_t> ids;
  std::size_t line_no = 0;
  while (!rest.empty()) {
    ++line_no;
    const std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view item = trim_white_space(line);
    if (item.empty() || item.front() == '#') continue;
    auto v = parse_hex_u32(item);
    if (!v) {
      return common::fail(Error(fmt::format("landblock list `{}` line {}", path_text, line_no))
                              .with_cause(std::move(v).error()));
    }
    if (*v > 0xFFFF) {
      return common::fail(
          wider_than_16_bits(fmt::format("landblock id `{}` is wider than 16 bits \u2014 expected packed key", item)));
    }
    ids.push_back(static_cast<std::uint16_t>(*v));
  }
  return ids;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  while (std::size_t n = leading_space_len(text)) text.remove_prefix(n);
  while (std::size_t n = trailing_space_len(text)) text.remove_suffix(n);
  return text;
}

AppResult<std::uint32_t> parse_hex_u32(std::string_view text) {
  const std::string_view trimmed = trim_white_space(text);
  std::string_view digits = trimmed;
  while (digits.starts_with("0x")) digits.remove_prefix(2);
  while (digits.starts_with("0X")) digits.remove_prefix(2);
  auto v = parse_u32_radix16(digits);
  if (!v) {
    return common::fail(
        Error(fmt::format("parse hex u32 `{}`", trimmed)).with_cause(Error(std::string(describe(v.error())))));
  }
  return *v;
}

AppResult<std::vector<std::uint16_t>> select_landblocks(std::string_view text) {
  const std::string_view spec = trim_white_space(text);
  try {
    if (spec.starts_with('@')) return select_from_file(spec.substr(1));
    if (const std::size_t dots = spec.find(".."); dots != std::string_view::npos) {
      return select_rectangle(spec, dots);
    }
    return select_single(spec);
  } catch (const std::bad_alloc&) {
    return common::fail(Error("landblock list is too large to hold in memory"));
  }
}

}  // namespace strewmill::app
