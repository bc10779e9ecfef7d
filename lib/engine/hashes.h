// The integer hashes that drive scenery placement, and the map from a hash
// value to a fraction in [0, 1). Every formula is unsigned 32-bit arithmetic
// with wrap-around; keep the grouping as written, other implementations are
// compared against these values bit for bit.
#pragma once

#include <bit>
#include <cstdint>

namespace strewmill::engine {

// Slightly below 2^-32, so r(v) < 1 for every 32-bit v.
inline constexpr double kFractionScale = std::bit_cast<double>(std::uint64_t{0x3DEFFFFFF79322D5});

// Degrees to radians: the single-precision 0.0174533 widened to double.
inline constexpr double kDegreesToRadians = std::bit_cast<double>(std::uint64_t{0x3F91DF4720000000});

// Salts of the per-object hashes.
inline constexpr std::uint32_t kSaltDisplaceX = 45773;
inline constexpr std::uint32_t kSaltDisplaceY = 72719;
inline constexpr std::uint32_t kSaltRotation = 63127;
inline constexpr std::uint32_t kSaltScale = 32593;

constexpr double fraction(std::uint32_t v) { return static_cast<double>(v) * kFractionScale; }

// X, Y: global vertex column and row.
constexpr std::uint32_t scene_hash(std::uint32_t X, std::uint32_t Y) {
  return X * 0xBDE41C43u + Y * (X * 0x2A7F2B89u + 0x6C1AC587u) + 0x7F8CDA01u;
}

constexpr std::uint32_t base_hash(std::uint32_t X, std::uint32_t Y) {
  return X * 0xBDE41C43u + Y * 0x6C1AC587u;
}

constexpr std::uint32_t frequency_hash(std::uint32_t X, std::uint32_t Y, std::uint32_t H) {
  return X * Y * 0x12A1D1D7u + H + 0xF4D7C05Fu;
}

constexpr std::uint32_t object_multiplier(std::uint32_t X, std::uint32_t Y) {
  return X * Y * 0xAEEE4011u + 0x8F76D049u;
}

constexpr std::uint32_t quadrant_hash(std::uint32_t X, std::uint32_t Y) {
  return X * (Y * 0x9084269Bu + 0xBDE41C43u) + Y * 0x6C1AC587u + 0xE8031203u;
}

// n: index of the descriptor in its scene; k: one of the salts above.
constexpr std::uint32_t object_hash(std::uint32_t n, std::uint32_t k, std::uint32_t M, std::uint32_t H) {
  return (n + k) * M + H;
}

// Decides which diagonal cuts terrain cell (gx, gy), in global cell
// coordinates; the sign of the result picks the diagonal.
constexpr std::int32_t cell_split_hash(std::uint32_t gx, std::uint32_t gy) {
  return static_cast<std::int32_t>(gy * (gx * 0x0CCAC033u + 0x6C1AC587u) + gx * 0xBDE41C43u + 0xAE6470DBu);
}

}  // namespace strewmill::engine
