#include "apps/strewmill/float_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "apps/strewmill/emit_bits.h"

namespace strewmill::app {

namespace {

char* append_literal(char* out, const char* text) {
  const std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

}  // namespace

char* append_f32_six_sig(char* out, float v) {
  if (v == 0.0f) v = 0.0f;  // -0 compares equal and becomes +0
  if (EMIT_BITS.load(std::memory_order_relaxed)) {
    return std::to_chars(out, out + kF32TextMax, std::bit_cast<std::uint32_t>(v)).ptr;
  }
  if (std::isnan(v)) return append_literal(out, "NaN");  // whatever its sign bit
  if (std::isinf(v)) return append_literal(out, v < 0.0f ? "-inf" : "inf");
  // Widening to double is exact, and libstdc++'s fixed-precision to_chars
  // rounds the exact binary value correctly, ties to even, never using an
  // exponent.
  return std::to_chars(out, out + kF32TextMax, static_cast<double>(v), std::chars_format::fixed, 6)
      .ptr;
}

std::string format_f32_six_sig(float v) {
  char buf[kF32TextMax];
  return std::string(buf, append_f32_six_sig(buf, v));
}

}  // namespace strewmill::app
