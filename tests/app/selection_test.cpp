#include "apps/strewmill/selection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace strewmill::app {
namespace {

using Chain = std::vector<std::string>;
using Ids = std::vector<std::uint16_t>;
using test_support::TempDir;
using test_support::write_file;

const std::string kEmpty = "cannot parse integer from empty string";
const std::string kInvalid = "invalid digit found in string";
const std::string kTooLarge = "number too large to fit in target type";
const std::string kOutOfRange = "out of range integral type conversion attempted";

// Every White_Space code point, UTF-8 encoded.
const std::vector<std::string> kWhiteSpace = {
    "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

TEST(ParseHexU32, AcceptedForms) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"0xA9B4", 0xA9B4},           {"A9B4", 0xA9B4},      {"0XA9B4", 0xA9B4},
      {"+A9B4", 0xA9B4},            {"  0xa9b4 \t", 0xA9B4}, {"0x0x1F", 0x1F},
      {"0X0X1f", 0x1F},             {"0x0X1f", 0x1F},      {"000000000000FFFFFFFF", 0xFFFFFFFF},
      {"0x13000000", 0x13000000},   {"13000000", 0x13000000}, {"0", 0},
      {"\u3000\u00A0 0x1 \u2029", 1},
  };
  for (const auto& [text, value] : cases) {
    auto r = parse_hex_u32(text);
    ASSERT_TRUE(r.ok()) << text << ": " << r.error().message();
    EXPECT_EQ(*r, value) << text;
  }
}

TEST(ParseHexU32, TrimsEveryWhiteSpaceCodePoint) {
  for (const std::string& ws : kWhiteSpace) {
    auto r = parse_hex_u32(ws + ws + "7" + ws);
    ASSERT_TRUE(r.ok()) << "code point bytes of length " << ws.size() << ": " << r.error().message();
    EXPECT_EQ(*r, 7u);
  }
  // Not White_Space: zero width space and the byte-order mark stay and fail.
  for (const std::string& not_ws : {std::string("\u200B"), std::string("\uFEFF"), std::string("\xC2")}) {
    auto r = parse_hex_u32(not_ws + "7");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().chain(), (Chain{"parse hex u32 `" + not_ws + "7`", kInvalid}));
  }
}

TEST(ParseHexU32, Errors) {
  const std::pair<std::string, Chain> cases[] = {
      {"", {"parse hex u32 ``", kEmpty}},
      {" \t\u3000", {"parse hex u32 ``", kEmpty}},
      {"0x", {"parse hex u32 `0x`", kEmpty}},
      {"0x0X", {"parse hex u32 `0x0X`", kEmpty}},
      // "0X" first leaves "0x1F", whose "x" is not a digit.
      {" 0X0x1F ", {"parse hex u32 `0X0x1F`", kInvalid}},
      {"-1", {"parse hex u32 `-1`", kInvalid}},
      {"+", {"parse hex u32 `+`", kInvalid}},
      {"++1", {"parse hex u32 `++1`", kInvalid}},
      // The sign goes after the prefix, not before it.
      {"+0x12", {"parse hex u32 `+0x12`", kInvalid}},
      {"1 2", {"parse hex u32 `1 2`", kInvalid}},
      {"0xG", {"parse hex u32 `0xG`", kInvalid}},
      {"100000000", {"parse hex u32 `100000000`", kTooLarge}},
      // Scanned from the left: the overflow comes before the bad digit...
      {"FFFFFFFFFz", {"parse hex u32 `FFFFFFFFFz`", kTooLarge}},
      // ...and here the bad digit comes first.
      {"zFFFFFFFFF", {"parse hex u32 `zFFFFFFFFF`", kInvalid}},
  };
  for (const auto& [text, chain] : cases) {
    auto r = parse_hex_u32(text);
    ASSERT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error().chain(), chain) << text;
  }
}

TEST(SelectLandblocks, SingleAndRectangle) {
  const std::pair<std::string, Ids> cases[] = {
      {"0xA9B4", {0xA9B4}},
      {" 0xa9b4\u00A0", {0xA9B4}},
      {"0xA9B4..0xA9B4", {0xA9B4}},
      {"0xA3AE..0xA4AF", {0xA3AE, 0xA3AF, 0xA4AE, 0xA4AF}},
      {"0x0001 .. 0x0002", {0x0001, 0x0002}},
      {"0x0101..0x0302", {0x0101, 0x0102, 0x0201, 0x0202, 0x0301, 0x0302}},
      {"0..0", {0}},
  };
  for (const auto& [text, ids] : cases) {
    auto r = select_landblocks(text);
    ASSERT_TRUE(r.ok()) << text << ": " << r.error().message();
    EXPECT_EQ(*r, ids) << text;
  }
}

TEST(SelectLandblocks, WholeWorldIsColumnMajor) {
  auto r = select_landblocks("0x0000..0xFFFF");
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->size(), 65536u);
  for (std::size_t i = 0; i < r->size(); ++i) ASSERT_EQ((*r)[i], i);
}

TEST(SelectLandblocks, SingleAndRectangleErrors) {
  const std::pair<std::string, Chain> cases[] = {
      {"0x1A9B4", {"landblock id `0x1A9B4` is wider than 16 bits", kOutOfRange}},
      {"  0x10000 ", {"landblock id `0x10000` is wider than 16 bits", kOutOfRange}},
      {"", {"parse hex u32 ``", kEmpty}},
      {" \u2003 ", {"parse hex u32 ``", kEmpty}},
      {"zz", {"parse hex u32 `zz`", kInvalid}},
      {"..0x5", {"parse hex u32 ``", kEmpty}},
      {"0x5..", {"parse hex u32 ``", kEmpty}},
      {"zz..yy", {"parse hex u32 `zz`", kInvalid}},
      {"1..2..3", {"parse hex u32 `2..3`", kInvalid}},
      {"0xA9B4..0xA9B3", {"--landblocks range high `0xA9B3` is below low `0xA9B4`"}},
      // The order check comes before the width checks.
      {"0x1A9B4..0x5", {"--landblocks range high `0x5` is below low `0x1A9B4`"}},
      {"0x10000..0x10001", {"range bound `0x10000` is wider than 16 bits", kOutOfRange}},
      {"0x5..0x1A9B4", {"range bound `0x1A9B4` is wider than 16 bits", kOutOfRange}},
      {"0xA3B4..0xA4AF", {"--landblocks rectangle: hi=(0xA4,0xAF) must dominate lo=(0xA3,0xB4)"}},
      {"0x0105..0x0204", {"--landblocks rectangle: hi=(0x2,0x4) must dominate lo=(0x1,0x5)"}},
      // "@" wins over "..": this is a file name.
      {"@0x1..0x2", {"read landblock list `0x1..0x2`", "No such file or directory (os error 2)"}},
      {"@", {"read landblock list ``", "No such file or directory (os error 2)"}},
  };
  for (const auto& [text, chain] : cases) {
    auto r = select_landblocks(text);
    ASSERT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error().chain(), chain) << text;
  }
}

class ListFile : public ::testing::Test {
 protected:
  // Writes `content` to a list file and selects from it.
  AppResult<Ids> select(const std::string& content) {
    write_file(path_, content);
    return select_landblocks("@" + path_.string());
  }
  std::string path_text() const { return path_.string(); }

  TempDir dir_;
  std::filesystem::path path_ = dir_ / "ids.txt";
};

TEST_F(ListFile, ReadsIdsInFileOrder) {
  const std::pair<std::string, Ids> cases[] = {
      {"", {}},
      {"\n\n# only comments\n   \n\t# indented comment\n", {}},
      {"0xA9B4\n1\n0xA9B4\n", {0xA9B4, 0x0001, 0xA9B4}},
      {"0xA9B4\r\n1\r\n\r\n0xA9B4\r\n", {0xA9B4, 0x0001, 0xA9B4}},
      {"0xA9B4\n  0x0002\u00A0\nFFFF", {0xA9B4, 0x0002, 0xFFFF}},
      {"#x\n+12\n0X34\r", {0x12, 0x34}},
  };
  for (const auto& [content, ids] : cases) {
    auto r = select(content);
    ASSERT_TRUE(r.ok()) << content << ": " << render_report(r.error());
    EXPECT_EQ(*r, ids) << content;
  }
}

TEST_F(ListFile, LineErrors) {
  const std::string p = path_text();
  const std::pair<std::string, Chain> cases[] = {
      {"1\n#c\nzz\n", {"landblock list `" + p + "` line 3", "parse hex u32 `zz`", kInvalid}},
      // Blank, comment and CRLF lines all count.
      {"\r\n# c\r\n\r\n  zz \r\n", {"landblock list `" + p + "` line 4", "parse hex u32 `zz`", kInvalid}},
      {"0x1..0x2\n", {"landblock list `" + p + "` line 1", "parse hex u32 `0x1..0x2`", kInvalid}},
      {"0xA9B4 # note\n", {"landblock list `" + p + "` line 1", "parse hex u32 `0xA9B4 # note`", kInvalid}},
      {"1\n2\n100000000", {"landblock list `" + p + "` line 3", "parse hex u32 `100000000`", kTooLarge}},
      {"1\n 0x1A9B4 \n", {"landblock id `0x1A9B4` is wider than 16 bits \u2014 expected packed key", kOutOfRange}},
  };
  for (const auto& [content, chain] : cases) {
    auto r = select(content);
    ASSERT_FALSE(r.ok()) << content;
    EXPECT_EQ(r.error().chain(), chain) << content;
  }
}

TEST_F(ListFile, UnreadableFiles) {
  const std::string p = path_text();
  const std::string read = "read landblock list `" + p + "`";
  const std::pair<std::string, Chain> invalid_utf8[] = {
      {"1\n\xFF\n", {read, "stream did not contain valid UTF-8 (invalid byte at offset 2)"}},
      {"\xC0\x80", {read, "stream did not contain valid UTF-8 (invalid byte at offset 0)"}},      // overlong
      {"1\n\xED\xA0\x80", {read, "stream did not contain valid UTF-8 (invalid byte at offset 2)"}},  // surrogate
      {"1\n\xF4\x90\x80\x80", {read, "stream did not contain valid UTF-8 (invalid byte at offset 2)"}},
      {"1\n\xE2\x80", {read, "stream did not contain valid UTF-8 (invalid byte at offset 2)"}},  // cut short
  };
  for (const auto& [content, chain] : invalid_utf8) {
    auto r = select(content);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().chain(), chain);
  }

  auto missing = select_landblocks("@" + (dir_ / "missing.txt").string());
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().chain(),
            (Chain{"read landblock list `" + (dir_ / "missing.txt").string() + "`",
                   "No such file or directory (os error 2)"}));

  auto directory = select_landblocks(" @" + dir_.path().string() + " ");
  ASSERT_FALSE(directory.ok());
  EXPECT_EQ(directory.error().chain(),
            (Chain{"read landblock list `" + dir_.path().string() + "`", "Is a directory (os error 21)"}));
}

TEST_F(ListFile, PathAfterTheAtSignIsNotTrimmedAgain) {
  write_file(path_, "1\n");
  auto r = select_landblocks("@ " + path_text());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "read landblock list ` " + path_text() + "`");
}

}  // namespace
}  // namespace strewmill::app
