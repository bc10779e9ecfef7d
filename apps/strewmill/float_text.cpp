#include "apps/strewmill/float_text.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "apps/strewmill/emit_bits.h"

namespace strewmill::app {

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t kScale = 1000000;  // six decimals

char* append_literal(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Integers above 2^64 (floats from 2^64 up to FLT_MAX) need 128 bits.
char* append_u128(char* out, u128 v) {
  char digits[40];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + static_cast<unsigned>(v % 10));
    v /= 10;
  } while (v != 0);
  const std::size_t n = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, n);
  return out + n;
}

// "00" to "99", two characters each.
constexpr auto kDigitPairs = [] {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    t[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

char* append_pair(char* out, std::uint32_t v) {  // v < 100
  std::memcpy(out, &kDigitPairs[2 * v], 2);
  return out + 2;
}

// Decimal digits of v; most fields (positions, heights, quaternion parts,
// scales) stay below 1000.
[[gnu::always_inline]] inline char* append_integer(char* out, std::uint64_t v) {
  if (v < 10) {
    *out = static_cast<char>('0' + v);
    return out + 1;
  }
  if (v < 100) return append_pair(out, static_cast<std::uint32_t>(v));
  if (v < 1000) {
    *out++ = static_cast<char>('0' + v / 100);
    return append_pair(out, static_cast<std::uint32_t>(v % 100));
  }
  return std::to_chars(out, out + kF32TextMax, v).ptr;
}

// "." and six digits; frac < 10^6.
char* append_fraction(char* out, std::uint64_t frac) {
  const auto f = static_cast<std::uint32_t>(frac);
  *out++ = '.';
  out = append_pair(out, f / 10000);
  out = append_pair(out, f / 100 % 100);
  return append_pair(out, f % 100);
}

// Every value that is not a normal float from 2^-20 up to 2^23: zero and
// the tiniest (which round to 0.000000 or 0.000001), integers from 2^23 up,
// infinities and NaNs, and the raw bits. Kept out of line so the common
// path below stays small.
[[gnu::noinline]] char* append_uncommon(char* out, std::uint32_t bits) {
  if (EMIT_BITS.load(std::memory_order_relaxed)) {
    return std::to_chars(out, out + kF32TextMax, bits).ptr;
  }
  const bool negative = (bits >> 31) != 0;
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  const std::uint32_t fraction_bits = bits & 0x7FFFFF;
  if (biased == 0xFF) {
    if (fraction_bits != 0) return append_literal(out, "NaN");  // whatever its sign bit
    return append_literal(out, negative ? "-inf" : "inf");
  }
  if (negative) *out++ = '-';

  // |v| = m * 2^e exactly.
  const std::uint64_t m = biased == 0 ? fraction_bits : (fraction_bits | 0x800000u);
  const int e = biased == 0 ? -149 : static_cast<int>(biased) - 150;

  if (e >= 0) {  // an integer: every decimal is zero
    if (e <= 40) {
      out = std::to_chars(out, out + kF32TextMax, m << e).ptr;
    } else {
      out = append_u128(out, static_cast<u128>(m) << e);
    }
    return append_fraction(out, 0);
  }

  // |v| * 10^6 = m * 10^6 / 2^k, rounded to the nearest integer, ties to
  // even. m * 10^6 < 2^44, so from k = 64 on the quotient rounds to zero.
  const int k = -e;
  std::uint64_t q = 0;
  if (k < 64) {
    const std::uint64_t n = m * kScale;
    q = n >> k;
    const std::uint64_t rem = n - (q << k);
    const std::uint64_t half = std::uint64_t{1} << (k - 1);
    if (rem > half || (rem == half && (q & 1) != 0)) ++q;
  }
  out = append_integer(out, q / kScale);
  return append_fraction(out, q % kScale);
}

}  // namespace

char* append_f32_six_sig(char* out, float v) {
  if (v == 0.0f) {  // either zero, written as positive zero (qx and qy always are)
    if (EMIT_BITS.load(std::memory_order_relaxed)) return append_literal(out, "0");
    return append_literal(out, "0.000000");
  }
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
  // Normal values with 2^-20 <= |v| < 2^23, unless raw bits are asked for:
  // |v| = m / 2^k with k from 1 to 43, so m * 10^6 (below 2^44) fits 64
  // bits and the quotient is |v| * 10^6 rounded to nearest, ties to even,
  // the same arithmetic as the general path.
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  if (biased - 107u >= 43u || EMIT_BITS.load(std::memory_order_relaxed)) return append_uncommon(out, bits);
  if ((bits >> 31) != 0) *out++ = '-';
  const unsigned k = 150u - biased;
  const std::uint64_t n = static_cast<std::uint64_t>((bits & 0x7FFFFF) | 0x800000u) * kScale;
  std::uint64_t q = n >> k;
  const std::uint64_t rem = n & ((std::uint64_t{1} << k) - 1);
  const std::uint64_t half = std::uint64_t{1} << (k - 1);
  q += (rem > half || (rem == half && (q & 1) != 0)) ? 1 : 0;
  out = append_integer(out, q / kScale);
  return append_fraction(out, q % kScale);
}

std::string format_f32_six_sig(float v) {
  char buf[kF32TextMax];
  return std::string(buf, append_f32_six_sig(buf, v));
}

}  // namespace strewmill::app
