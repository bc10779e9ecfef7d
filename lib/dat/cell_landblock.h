// The landblock terrain record: a 9 by 9 grid of terrain words and height
// indices. Vertex (x, y) is entry x * 9 + y of both arrays and lies at the
// landblock-local position (24x, 24y).
//
// Landblock 0xXXYY's record is 0xXXYYFFFF in the cell archive:
//
//   auto bytes = cell.get_file((std::uint32_t{lb} << 16) | 0xFFFF);
//   if (!bytes) ...;  // NotFound: the landblock has no terrain
//   auto terrain = dat::CellLandblock::unpack(*bytes);  // DatResult<CellLandblock>
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "lib/dat/dat_error.h"

namespace strewmill::dat {

inline constexpr int kLandblockSide = 9;  // vertices per side
inline constexpr int kLandblockVertices = kLandblockSide * kLandblockSide;

constexpr int vertex_index(int x, int y) { return x * kLandblockSide + y; }

// Fields of a terrain word.
constexpr std::uint32_t road_bits(std::uint16_t word) { return word & 0x3u; }
constexpr std::uint32_t terrain_type(std::uint16_t word) { return (word >> 2) & 0x1Fu; }
constexpr std::uint32_t scene_type(std::uint16_t word) { return static_cast<std::uint32_t>(word) >> 11; }

struct CellLandblock {
  std::uint32_t id = 0;  // as stored; not compared with the requested id
  std::uint32_t has_objects = 0;
  std::array<std::uint16_t, 81> terrain{};
  std::array<std::uint8_t, 81> height{};  // indices into the land height table
  bool operator==(const CellLandblock&) const = default;

  // Size of the record on disk; later bytes are ignored.
  static constexpr std::size_t kSize = 251;

  // Decodes the record's complete file data; fails with DatError::Decode.
  static DatResult<CellLandblock> unpack(std::span<const std::uint8_t> bytes);
};

}  // namespace strewmill::dat
