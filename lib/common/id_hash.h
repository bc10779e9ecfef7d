// Hashing 32-bit data ids for open-addressing tables.
#pragma once

#include <cstdint>

namespace strewmill::common {

// Data ids cluster in their low and high bytes (0xXXYY01nn, 0xXXYYFFFE,
// ...); murmur3's finaliser, a full avalanche mix, spreads both into the top
// bits that tables use as the slot index, where a single multiplication
// leaves long probe runs for such strides.
constexpr std::uint32_t mix_id(std::uint32_t id) {
  std::uint32_t h = id;
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

}  // namespace strewmill::common
