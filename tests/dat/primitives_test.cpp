#include "lib/dat/primitives.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/dat/cursor.h"

namespace strewmill::dat {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct PackedCase {
  Bytes bytes;
  std::uint32_t value;
  std::uint64_t consumed;
};

TEST(ReadCompressedU32, DecodesEachForm) {
  const PackedCase cases[] = {
      {{0x00}, 0, 1},
      {{0x7F}, 127, 1},
      {{0x80, 0x80}, 128, 2},
      {{0x81, 0x00}, 256, 2},
      {{0xBF, 0xFF}, 16383, 2},
      {{0x80, 0x05}, 5, 2},  // over-long forms are accepted
      {{0xC0, 0x01, 0x02, 0x03}, 0x00010302, 4},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0x3FFFFFFF, 4},
  };
  for (const auto& c : cases) {
    Cursor cur(c.bytes);
    auto r = read_compressed_u32(cur);
    ASSERT_TRUE(r) << c.value;
    EXPECT_EQ(*r, c.value);
    EXPECT_EQ(cur.position(), c.consumed);
  }
}

TEST(ReadCompressedU32, TruncatedFormsFailWithEndOfData) {
  for (const Bytes& b : {Bytes{}, Bytes{0x80}, Bytes{0xC0}, Bytes{0xC0, 0x01}, Bytes{0xC0, 0x01, 0x02}}) {
    Cursor cur(b);
    auto r = read_compressed_u32(cur);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData);
    EXPECT_EQ(r.error().render(), "failed to fill whole buffer");
  }
}

TEST(ReadSmartVec, ReadsCountedWords) {
  const Bytes empty = {0x00, 0xAA};
  Cursor c0(empty);
  auto r0 = read_smart_vec(c0);
  ASSERT_TRUE(r0);
  EXPECT_TRUE(r0->empty());
  EXPECT_EQ(c0.position(), 1u);

  const Bytes two = {0x02, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  Cursor c2(two);
  auto r2 = read_smart_vec(c2);
  ASSERT_TRUE(r2);
  EXPECT_EQ(*r2, (std::vector<std::uint32_t>{1, 0xFFFFFFFF}));
}

TEST(ReadSmartVec, HugeCountFailsWithoutReserving) {
  // 0x3FFFFFFF words declared, four bytes present.
  const Bytes b = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  Cursor cur(b);
  auto r = read_smart_vec(cur);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData);
}

struct StringCase {
  const char* name;
  Bytes bytes;
  std::string text;
  std::uint64_t end_position;
};

TEST(ReadPstringChar, LengthsAlignmentAndTrailingZeros) {
  const StringCase cases[] = {
      {"three letters pad to 8", {3, 0, 'a', 'b', 'c', 0xEE, 0xEE, 0xEE}, "abc", 8},
      {"empty", {0, 0, 0xEE, 0xEE}, "", 4},
      {"two letters need no pad", {2, 0, 'h', 'i', 0xEE}, "hi", 4},
      {"extended length", {0xFF, 0xFF, 2, 0, 0, 0, 'o', 'k'}, "ok", 8},
      {"trailing zeros cut", {4, 0, 'a', 'b', 0, 0}, "ab", 8},
      {"only zeros", {4, 0, 0, 0, 0, 0}, "", 8},
      {"inner zero kept", {3, 0, 'a', 0, 'b'}, std::string("a\0b", 3), 8},
      // Ends exactly at the end of the record, off a multiple of 4.
      {"ends at record end", {1, 0, 'z'}, "z", 4},
  };
  for (const auto& c : cases) {
    Cursor cur(c.bytes);
    auto r = read_pstring_char(cur);
    ASSERT_TRUE(r) << c.name;
    EXPECT_EQ(*r, c.text) << c.name;
    EXPECT_EQ(cur.position(), c.end_position) << c.name;
  }
}

TEST(ReadPstringChar, ShortBodyFailsWithEndOfData) {
  const Bytes b = {5, 0, 'a', 'b'};
  Cursor cur(b);
  auto r = read_pstring_char(cur);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData);
}

struct TextCase {
  const char* name;
  Bytes bytes;
  std::string utf8;
};

TEST(DecodeArchiveText, Encodings) {
  const TextCase cases[] = {
      {"latin e acute", {0xE9}, "\xC3\xA9"},
      {"euro sign", {0x80}, "\xE2\x82\xAC"},
      {"unmapped C1 passes through", {0x81, 0x8D, 0x8F, 0x90, 0x9D},
       "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
      {"0x9F", {0x9F}, "\xC5\xB8"},
      {"utf8 bom", {0xEF, 0xBB, 0xBF, 0x41}, "A"},
      {"utf8 bom alone", {0xEF, 0xBB, 0xBF}, ""},
      {"utf8 two bytes", {0xEF, 0xBB, 0xBF, 0xC3, 0xA9}, "\xC3\xA9"},
      {"utf8 truncated sequence", {0xEF, 0xBB, 0xBF, 0xE2, 0x82}, "\xEF\xBF\xBD"},
      {"utf8 bad continuation reprocessed", {0xEF, 0xBB, 0xBF, 0xC3, 0x41}, "\xEF\xBF\xBD" "A"},
      {"utf8 overlong", {0xEF, 0xBB, 0xBF, 0xC0, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"utf8 surrogate", {0xEF, 0xBB, 0xBF, 0xED, 0xA0, 0x80},
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"utf16le", {0xFF, 0xFE, 0x41, 0x00, 0xE9, 0x00}, "A\xC3\xA9"},
      {"utf16be", {0xFE, 0xFF, 0x00, 0x41}, "A"},
      {"utf16le pair", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {"utf16le lone low surrogate", {0xFF, 0xFE, 0x00, 0xDC, 0x41, 0x00}, "\xEF\xBF\xBD" "A"},
      {"utf16le lead then bmp", {0xFF, 0xFE, 0x3D, 0xD8, 0x41, 0x00}, "\xEF\xBF\xBD" "A"},
      {"utf16le odd byte", {0xFF, 0xFE, 0x41, 0x00, 0x42}, "A\xEF\xBF\xBD"},
      {"utf16 dangling lead", {0xFF, 0xFE, 0x3D, 0xD8}, "\xEF\xBF\xBD"},
      {"short ff fe is 1252", {0xFF}, "\xC3\xBF"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_archive_text(c.bytes), c.utf8) << c.name;
}

TEST(ReadPstringChar, Utf16KeepsTheZeroHighByteOfItsLastUnit) {
  // "A" in UTF-16LE ends in a zero byte; cutting it would corrupt the text.
  const Bytes b = {4, 0, 0xFF, 0xFE, 0x41, 0x00};
  Cursor cur(b);
  auto r = read_pstring_char(cur);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, "A");
  const Bytes padded = {6, 0, 0xFF, 0xFE, 0x41, 0x00, 0x00, 0x00};
  Cursor cur2(padded);
  auto r2 = read_pstring_char(cur2);
  ASSERT_TRUE(r2);
  EXPECT_EQ(*r2, "A");
}

TEST(Cursor, SkipPastEndIsFineButOverflowFails) {
  const Bytes b = {1, 2, 3};
  Cursor cur(b);
  ASSERT_TRUE(cur.skip(10));
  EXPECT_EQ(cur.remaining(), 0u);
  auto r = cur.u8();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData);
  auto s = cur.skip(UINT64_MAX);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().render(), "invalid seek to a negative or overflowing position");
}

TEST(Cursor, ShortByteArrayHasItsOwnCause) {
  const Bytes b = {1, 2, 3};
  Cursor cur(b);
  auto r = cur.byte_array(4);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), DecodeErrorKind::ShortArray);
  EXPECT_EQ(r.error().render(), "not enough bytes in reader");
}

}  // namespace
}  // namespace strewmill::dat
