// Shared by the libFuzzer harnesses: a check that reports through abort()
// (libFuzzer records the input as a crash), a UTF-8 validator and the
// decode/encode/decode round trip that every record harness runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "lib/dat/cursor.h"

#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

namespace strewmill::fuzz {

inline std::span<const std::uint8_t> as_span(const std::uint8_t* data, std::size_t size) {
  return {data, size};
}

// Well-formed UTF-8: shortest forms only, no surrogates, at most U+10FFFF.
inline bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      n = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;  // sequence cut off
    for (std::size_t k = 1; k <= n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000)) return false;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

// A value that decoded must encode to bytes that decode to the same value.
// Values holding a NaN are not equal to themselves and are left out.
template <class T, class Encode, class Decode>
void check_round_trip(const T& value, Encode encode, Decode decode) {
  if (!(value == value)) return;
  const auto bytes = encode(value);
  auto again = decode(std::span<const std::uint8_t>(bytes));
  FUZZ_CHECK(again.ok());
  FUZZ_CHECK(*again == value);
}

// One record decoder's fuzz step: decode the input with T::unpack; a failure
// must render, a success must survive encode and decode unchanged.
template <class T, class Encode>
int fuzz_record(const std::uint8_t* data, std::size_t size, Encode encode) {
  const auto decode = [](std::span<const std::uint8_t> bytes) {
    dat::Cursor cur(bytes);
    return T::unpack(cur);
  };
  auto value = decode(as_span(data, size));
  if (!value) {
    (void)value.error().render();
    return 0;
  }
  check_round_trip(*value, encode, decode);
  return 0;
}

}  // namespace strewmill::fuzz
