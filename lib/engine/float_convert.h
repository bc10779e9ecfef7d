// Saturating float-to-integer conversions. A plain static_cast is undefined
// for NaN and out-of-range values; these pin the result instead: NaN gives 0,
// values beyond the range give its nearest end, the rest truncate toward zero.
#pragma once

#include <cstdint>
#include <limits>

namespace strewmill::engine {

constexpr std::int32_t saturating_to_i32(float v) {
  if (v != v) return 0;
  if (v >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (v < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

constexpr std::uint32_t saturating_to_u32(float v) {
  if (v != v) return 0;
  if (v >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
  if (v <= -1.0f) return 0;
  return static_cast<std::uint32_t>(v);
}

constexpr std::uint64_t saturating_to_u64(double v) {
  if (v != v) return 0;
  if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  if (v <= -1.0) return 0;
  return static_cast<std::uint64_t>(v);
}

}  // namespace strewmill::engine
