#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lib/dat/dat_database.h"

namespace strewmill::dat {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Case {
  std::string name;
  Bytes input;
  Bytes expected;
};

Bytes repeat(std::uint8_t b, std::size_t n) { return Bytes(n, b); }

TEST(DecompressLrs, ExpandsAndStopsAsDefined) {
  const Case cases[] = {
      {"empty input", {}, {}},
      {"short inputs come back unchanged", {0x01, 0x02, 0x03}, {0x01, 0x02, 0x03}},
      {"declared size 0", {0x00, 0x00, 0x00, 0x00, 0x00, 0x41}, {}},
      {"empty stream", {0x05, 0x00, 0x00, 0x00}, {}},
      {"overlapping back-reference", {0x06, 0, 0, 0, 0x40, 0x41, 0x01, 0x03}, repeat(0x41, 6)},
      {"declared size cuts a back-reference", {0x05, 0, 0, 0, 0x40, 0x41, 0x01, 0x03},
       repeat(0x41, 5)},
      {"declared size cuts the literals", {0x02, 0, 0, 0, 0x00, 0x41, 0x42, 0x43}, {0x41, 0x42}},
      {"distance 0 ends the stream", {0x09, 0, 0, 0, 0x40, 0x41, 0x00, 0x05, 0x42}, {0x41}},
      {"back-reference with one byte left", {0x09, 0, 0, 0, 0x40, 0x41, 0x01}, {0x41}},
      {"literal missing after the flag byte", {0x09, 0, 0, 0, 0x00}, {}},
      {"stream runs out mid-group", {0x09, 0, 0, 0, 0x00, 0x41, 0x42}, {0x41, 0x42}},
      // Output 0x41 0x42, then distance 5 length 3: every source position
      // lies before the start and is raised to 0.
      {"distance beyond the output copies from 0",
       {0x09, 0, 0, 0, 0x20, 0x41, 0x42, 0x05, 0x01}, {0x41, 0x42, 0x41, 0x41, 0x41}},
      // Distance 3 from length 2: positions -1, 0, 1, 2 -> 0, 0, 1, 2.
      {"partly clamped source", {0x09, 0, 0, 0, 0x20, 0x41, 0x42, 0x03, 0x02},
       {0x41, 0x42, 0x41, 0x41, 0x42, 0x41}},
      {"back-reference on empty output stops", {0x09, 0, 0, 0, 0x80, 0x01, 0x00, 0x41}, {}},
      {"second group", {0x0A, 0, 0, 0, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x40, 9, 0x09, 0x00},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decompress_lrs(c.input), c.expected) << c.name;
  }
}

TEST(DecompressLrs, DistanceTakesTheHighBitsFromTheSecondByte) {
  // 304 literals (38 whole groups), then distance 0x12C (b0 0x2C, high nibble 1) length 3.
  Bytes input = {0xFF, 0xFF, 0, 0};
  Bytes expected;
  for (int i = 0; i < 304; ++i) {
    if (i % 8 == 0) input.push_back(0x00);
    input.push_back(static_cast<std::uint8_t>(i % 251));
    expected.push_back(static_cast<std::uint8_t>(i % 251));
  }
  input.insert(input.end(), {0x80, 0x2C, 0x11});
  expected.insert(expected.end(), {4, 5, 6});
  EXPECT_EQ(decompress_lrs(input), expected);
}

TEST(DecompressLrs, HugeDeclaredSizeReservesOnlyWhatTheStreamCanGive) {
  // Declared 4 GiB - 1 with a 3-byte stream: one literal and one
  // back-reference of 17 bytes is all there is.
  const Bytes input = {0xFF, 0xFF, 0xFF, 0xFF, 0x40, 0x41, 0x01, 0x0F};
  const Bytes out = decompress_lrs(input);
  EXPECT_EQ(out, repeat(0x41, 18));
  EXPECT_LE(out.capacity(), 17u * 2);

  // The most expansive stream: groups of eight 17-byte back-references.
  Bytes dense = {0xFF, 0xFF, 0xFF, 0x7F, 0x7F, 0x41};
  for (int k = 0; k < 7; ++k) {
    dense.push_back(0x01);
    dense.push_back(0x0F);
  }
  for (int g = 0; g < 1000; ++g) {
    dense.push_back(0xFF);
    for (int k = 0; k < 8; ++k) {
      dense.push_back(0x01);
      dense.push_back(0x0F);
    }
  }
  const Bytes big = decompress_lrs(dense);
  EXPECT_EQ(big, repeat(0x41, 1 + 7 * 17 + 1000 * 8 * 17));
}

}  // namespace
}  // namespace strewmill::dat
