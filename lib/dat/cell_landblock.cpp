#include "lib/dat/cell_landblock.h"

#include <cstring>

#include "lib/dat/cursor.h"

namespace strewmill::dat {

namespace {

constexpr std::string_view kRecord = "CellLandblock";

DecodeResult<std::array<std::uint16_t, 81>> read_terrain(Cursor& cur) {
  TRY_ASSIGN(const auto raw, cur.bytes(81 * 2));
  std::array<std::uint16_t, 81> words{};
  std::memcpy(words.data(), raw.data(), raw.size());  // little-endian host
  return words;
}

// The height array is read in one piece, so a short one reports
// "not enough bytes in reader".
DecodeResult<std::array<std::uint8_t, 81>> read_height(Cursor& cur) {
  TRY_ASSIGN(const auto raw, cur.byte_array(81));
  std::array<std::uint8_t, 81> heights{};
  std::memcpy(heights.data(), raw.data(), raw.size());
  return heights;
}

}  // namespace

DatResult<CellLandblock> CellLandblock::unpack(std::span<const std::uint8_t> bytes) {
  Cursor cur(bytes);
  const std::uint64_t start = cur.position();
  CellLandblock lb;
  DAT_FIELD(lb.id, cur, start, cur.u32(), "id", kRecord);
  DAT_FIELD(lb.has_objects, cur, start, cur.u32(), "has_objects", kRecord);
  DAT_FIELD(lb.terrain, cur, start, read_terrain(cur), "terrain", kRecord);
  DAT_FIELD(lb.height, cur, start, read_height(cur), "height", kRecord);
  return lb;
}

}  // namespace strewmill::dat
