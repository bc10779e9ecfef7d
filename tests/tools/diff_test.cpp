// strewmill-diff: the strict readers on hand-written text, the comparison on
// hand-written placement files, and the binary on real bakes of a small
// generated world edited the ways bakes come to differ.
#include "tools/diff/diff_lib.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "apps/strewmill/sha256.h"
#include "tests/support/process.h"
#include "tests/tools/bake_edit.h"
#include "tests/support/worlds.h"
#include "tools/diff/placement_file.h"
#include "tools/diff/provenance_file.h"

namespace strewmill::tools {
namespace {

namespace fs = std::filesystem;
using test_support::ProcessResult;
using test_support::TempDir;
using test_support::write_file;

using test_support::read_file;

// A placement line with the given float texts (x, y, z, qw, qx, qy, qz, scale).
std::string line(const std::array<std::string, 8>& f, std::uint32_t cell_x, std::uint32_t cell_y,
                 std::uint32_t idx, std::uint32_t obj_id = 0x01001000, std::uint32_t script = 0) {
  return fmt::format(
      "{{\"obj_id\":\"0x{:08X}\",\"x\":{},\"y\":{},\"z\":{},\"qw\":{},\"qx\":{},\"qy\":{},\"qz\":{},\"scale\":{},"
      "\"source_cell_x\":{},\"source_cell_y\":{},\"source_obj_idx\":{},\"default_script_id\":\"0x{:08X}\"}}\n",
      obj_id, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], cell_x, cell_y, idx, script);
}

const std::array<std::string, 8> kSix = {"96.250000", "13.000000", "42.500000", "1.000000",
                                         "0.000000",  "0.000000",  "-0.000000", "NaN"};
// The same values as bit patterns (-0.000000 was a tiny negative).
const std::array<std::string, 8> kBits = {"1119911936", "1095761920", "1110048768", "1065353216",
                                          "0",          "0",          "2147483649", "2143289344"};

// `text` with the value of the first `"field":` replaced by `value`.
std::string with_first(std::string text, const std::string& field, const std::string& value) {
  const std::size_t at = text.find("\"" + field + "\":") + field.size() + 3;
  return text.replace(at, text.find(',', at) - at, value);
}

// ---------------------------------------------------------------- readers

TEST(PlacementFileParse, ReadsBothFormsAndTheEmptyFile) {
  PlacementFile f;
  const std::string six = line(kSix, 4, 0, 2, 0x020001B5, 0x3300000A) + line(kSix, 8, 8, 4294967295u);
  ASSERT_TRUE(parse_placement_file(six, f));
  EXPECT_EQ(f.form, FloatForm::six_decimal);
  ASSERT_EQ(f.rows.size(), 2u);
  EXPECT_EQ(f.rows[0].key, (PlacementKey{4, 0, 2}));
  EXPECT_EQ(f.rows[0].obj_id, 0x020001B5u);
  EXPECT_EQ(f.rows[0].default_script_id, 0x3300000Au);
  EXPECT_EQ(f.rows[1].line, 2u);
  EXPECT_EQ(f.rows[1].key.obj_idx, 4294967295u);
  for (std::size_t i = 0; i < kFloatFields; ++i) EXPECT_EQ(f.rows[0].text(six, i), kSix[i]);

  const std::string bits = line(kBits, 1, 2, 3);
  ASSERT_TRUE(parse_placement_file(bits, f));
  EXPECT_EQ(f.form, FloatForm::bits);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0].bits[3], 1065353216u);
  EXPECT_EQ(f.rows[0].bits[6], 2147483649u);

  ASSERT_TRUE(parse_placement_file("", f));
  EXPECT_EQ(f.form, FloatForm::none);
  EXPECT_TRUE(f.rows.empty());
}

TEST(PlacementFileParse, RejectsAnythingElseWithLineAndColumn) {
  const std::string good = line(kSix, 0, 0, 0);
  auto replace = [](std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
  };
  struct Case {
    std::string text;
    std::uint64_t line, column;
    std::string message;
  };
  const std::vector<Case> cases = {
      {good + "\n", 2, 1, "expected `{\"obj_id\":\"0x`, found end of line"},
      {good.substr(0, good.size() - 1), 1, good.size(), "expected `\\n`, found end of file"},
      {replace(good, "\n", "\r\n"), 1, good.size(), "expected `\\n`, found byte 0x0D"},
      {replace(good, "0x01001000", "0x0100100a"), 1, 21, "\"obj_id\": expected 8 upper-case hexadecimal digits"},
      {replace(good, "\"x\":96.250000", "\"x\": 96.250000"), 1, 28, "\"x\": expected a float"},
      {replace(good, "96.250000", "96.2500000"), 1, 37, "\"x\": more than six decimals"},
      {replace(good, "96.250000", "96.25"), 1, 33, "\"x\": expected six decimals, found `,`"},
      {replace(good, "96.250000", "096.250000"), 1, 28, "\"x\": leading zero"},
      {replace(good, "96.250000", "1e2"), 1, 29, "expected `,\"y\":`, found `e`"},
      {replace(good, "96.250000", "-12"), 1, 28, "\"x\": a bit pattern cannot be negative"},
      {replace(good, "96.250000", "nan"), 1, 28, "\"x\": expected a float"},
      {replace(good, "96.250000", std::string(40, '9') + ".000000"), 1, 28, "\"x\": value out of float range"},
      {replace(good, "13.000000", "1095761920"), 1, 42, "\"y\": a --bits float in a file whose floats are six-decimal"},
      {replace(good, "\"y\"", "\"Y\""), 1, 39, "expected `y\":`, found `Y`"},
      {replace(good, "\"source_obj_idx\":0", "\"source_obj_idx\":4294967296"), 1, 0, "\"source_obj_idx\": value exceeds 4294967295"},
      {replace(good, "\"source_cell_x\":0", "\"source_cell_x\":00"), 1, 0, "\"source_cell_x\": leading zero"},
      {replace(good, "\"}\n", "\",\"extra\":1}\n"), 1, good.size() - 1, "expected `}\\n`, found `,`"},
      {good + std::string("\x00\xFF", 2), 2, 1, "found byte 0x00"},
      {good + line(kBits, 0, 0, 1), 2, 28, "a --bits float in a file whose floats are six-decimal (since line 1)"},
      {line(kBits, 0, 0, 1) + good, 2, 28, "a six-decimal float in a file whose floats are --bits patterns"},
      {replace(line(kBits, 0, 0, 1), "1119911936", "4294967296"), 1, 28, "\"x\": bit pattern exceeds 4294967295"},
      {good.substr(0, 40), 1, 41, "expected `:`, found end of file"},
      {good + good.substr(0, 43), 2, 44, "expected `,\"z\":`, found end of file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PlacementFile f;
    const auto r = parse_placement_file(c.text, f);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().line, c.line);
    if (c.column != 0) {
      EXPECT_EQ(r.error().column, c.column);
    }
    EXPECT_NE(r.error().message.find(c.message), std::string::npos) << r.error().message;
  }
  PlacementFile f;
  const auto r = parse_placement_file(good + good + "{}\n", f);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().located("dir/0xA9B4.scenery.jsonl"),
            "dir/0xA9B4.scenery.jsonl:3:2: expected `\"obj_id\":\"0x`, found `}`");
}

const std::string kProvenance =
    "client_portal.dat\t" + std::string(64, 'a') + "\nclient_cell_1.dat\t" + std::string(64, 'b') +
    "\nclient_local_English.dat\t" + std::string(64, 'c') +
    "\nbake-tool-version\tvellgrim-strewmill/0.1.0 + strewmill-cli/0.1.0\nregion-did\t0x13000000\n"
    "bake-mode\tace-compat\nlandblocks\t3 baked, 0 skipped\n";

TEST(ProvenanceParse, ReadsTheSevenLinesAndRejectsOtherText) {
  const auto p = parse_provenance(kProvenance);
  ASSERT_TRUE(p) << p.error().message;
  EXPECT_EQ(p->values[1], std::string(64, 'b'));
  EXPECT_EQ(p->values[5], "ace-compat");
  EXPECT_EQ(p->values[6], "3 baked, 0 skipped");

  auto replace = [](std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
  };
  struct Case {
    std::string text;
    std::uint64_t line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", 1, "expected 7 lines, the file ends after 0"},
      {kProvenance.substr(0, kProvenance.size() - 1), 7, "line has no line feed"},
      {kProvenance + "extra\n", 8, "unexpected text after the seventh line"},
      {replace(kProvenance, std::string(64, 'b'), std::string(64, 'B')), 2, "client_cell_1.dat: expected 64 lower-case"},
      {replace(kProvenance, "region-did\t0x13000000", "region-did\t13000000"), 5, "region-did: expected \"0x\""},
      {replace(kProvenance, "bake-mode\t", "bake-mode "), 6, "expected the key `bake-mode` and a tab"},
      {replace(kProvenance, "3 baked", "03 baked"), 7, "expected \"N baked, M skipped\""},
      {replace(kProvenance, "client_cell_1.dat", "client_cell_2.dat"), 2, "expected the key `client_cell_1.dat`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto r = parse_provenance(c.text);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().line, c.line);
    EXPECT_NE(r.error().message.find(c.message), std::string::npos) << r.error().message;
  }
}

// ---------------------------------------------------------------- comparison of two files

struct FileDiff {
  app::AppResult<DiffTotals> totals;
  std::string report;
};

FileDiff diff_texts(const std::string& a, const std::string& b, DiffOptions options = {}) {
  TempDir dir;
  write_file(dir / "a" , a);
  fs::create_directories(dir / "b");
  write_file(dir / "b" / "0xA9B4.scenery.jsonl", b);
  ReportSink sink;
  auto totals = diff_bakes(dir / "a", dir / "b" / "0xA9B4.scenery.jsonl", options, sink);
  return FileDiff{std::move(totals), sink.text()};
}

TEST(DiffFiles, FloatDifferencesInUlpsInEachPairOfForms) {
  struct Case {
    std::string name;
    std::string a, b;
    std::string human;  // expected in the report
    std::string json;   // expected in the JSON records
  };
  auto set = [](std::array<std::string, 8> f, std::size_t i, std::string v) {
    f[i] = std::move(v);
    return f;
  };
  const std::vector<Case> cases = {
      {"one bit, both bits", line(kBits, 4, 0, 2), line(set(kBits, 3, "1065353217"), 4, 0, 2),
       "changed: cell (4,0) idx 2, 0x01001000: qw 1.000000 -> 1.000000 (bits 1065353216 -> 1065353217, +1 ulp)",
       "\"field\":\"qw\",\"a\":\"1065353216\",\"b\":\"1065353217\",\"a_six\":\"1.000000\",\"b_six\":\"1.000000\","
       "\"ulps\":1,\"exact\":true"},
      {"across zero, both bits", line(set(kBits, 4, "1"), 0, 0, 0), line(set(kBits, 4, "2147483650"), 0, 0, 0),
       "qx 0.000000 -> -0.000000 (bits 1 -> 2147483650, -3 ulps)", "\"ulps\":-3,\"exact\":true"},
      {"NaN payloads, both bits", line(kBits, 0, 0, 0), line(set(kBits, 7, "2143289345"), 0, 0, 0),
       "scale NaN -> NaN (bits 2143289344 -> 2143289345)\n", "\"ulps\":null,\"exact\":true"},
      {"six decimals", line(kSix, 0, 0, 0), line(set(kSix, 2, "42.500004"), 0, 0, 0),
       "z 42.500000 -> 42.500004 (~+1 ulp)", "\"a_six\":\"42.500000\",\"b_six\":\"42.500004\",\"ulps\":1,\"exact\":false"},
      {"tiny negative against zero, six decimals", line(kSix, 0, 0, 0), line(set(kSix, 6, "0.000000"), 0, 0, 0),
       "qz -0.000000 -> 0.000000", "\"field\":\"qz\""},
      {"bits against six decimals", line(kBits, 0, 0, 0), line(set(kSix, 0, "96.250008"), 0, 0, 0),
       "x 96.250000 -> 96.250008 (~+1 ulp)\n", "\"a\":\"1119911936\",\"b\":\"96.250008\""},
      {"ids", line(kSix, 0, 0, 0), line(kSix, 0, 0, 0, 0x01001001, 0x33000001),
       "obj_id 0x01001000 -> 0x01001001; default_script_id 0x00000000 -> 0x33000001",
       "\"field\":\"default_script_id\",\"a\":\"0x00000000\",\"b\":\"0x33000001\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileDiff human = diff_texts(c.a, c.b);
    ASSERT_TRUE(human.totals) << human.totals.error().message();
    EXPECT_FALSE(human.totals->identical());
    EXPECT_EQ(human.totals->changed, 1u);
    EXPECT_NE(human.report.find(c.human), std::string::npos) << human.report;
    DiffOptions json;
    json.json = true;
    const FileDiff records = diff_texts(c.a, c.b, json);
    EXPECT_NE(records.report.find(c.json), std::string::npos) << records.report;
    EXPECT_NE(records.report.find("{\"type\":\"changed\",\"landblock\":\"0xA9B4\""), std::string::npos);
  }
}

TEST(DiffFiles, EqualAtTheFormsPrecisionIsIdentical) {
  struct Case {
    std::string name;
    std::string a, b;
  };
  const std::vector<Case> cases = {
      {"bits against six", line(kBits, 0, 0, 0) + line(kBits, 0, 0, 1), line(kSix, 0, 0, 1) + line(kSix, 0, 0, 0)},
      // 1.0 + 1 ulp still reads 1.000000.
      {"below six decimals", line(kSix, 0, 0, 0),
       line({"1119911936", "1095761920", "1110048768", "1065353217", "0", "0", "2147483649", "2143289344"}, 0, 0, 0)},
      {"both empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileDiff d = diff_texts(c.a, c.b);
    ASSERT_TRUE(d.totals) << d.totals.error().message();
    EXPECT_TRUE(d.totals->identical()) << d.report;
    EXPECT_EQ(d.report.rfind("identical: 1 landblock, ", 0), 0u) << d.report;
  }
  // Only a landblock with floats on both sides is compared at six decimals.
  EXPECT_NE(diff_texts(line(kBits, 0, 0, 0), line(kSix, 0, 0, 0)).report.find("compared at six decimals"),
            std::string::npos);
  const FileDiff empty = diff_texts("", line(kBits, 0, 0, 0));
  EXPECT_EQ(empty.report.find("six decimals"), std::string::npos);
  EXPECT_EQ(empty.totals->only_b, 1u);
}

TEST(DiffFiles, MatchesByKeyAndLimitsTheDetails) {
  std::string a, b;
  for (std::uint32_t i = 0; i < 10; ++i) a += line(kSix, 1, 1, i);
  for (std::uint32_t i = 9; i >= 3; --i) b += line(kSix, 1, 1, i);  // other order, 0..2 missing
  b += line(kSix, 1, 2, 0) + line(kSix, 1, 2, 0);                    // extra, twice
  DiffOptions show2;
  show2.show = 2;
  const FileDiff d = diff_texts(a, b, show2);
  ASSERT_TRUE(d.totals);
  EXPECT_EQ(d.totals->only_a, 3u);
  EXPECT_EQ(d.totals->only_b, 2u);
  EXPECT_EQ(d.totals->changed, 0u);
  EXPECT_EQ(d.report,
            "0xA9B4: 3 only in A, 2 only in B, 0 changed (A 10 objects, B 9)\n"
            "  only in A: cell (1,1) idx 0, 0x01001000, line 1\n"
            "  only in A: cell (1,1) idx 1, 0x01001000, line 2\n"
            "  ... and 3 more\n"
            "different: 1 of 1 landblock (0 only in A, 0 only in B, 0 unreadable); objects: 3 only in A, 2 only in "
            "B, 0 changed (0 fields); 0 digest problems; 0 provenance differences\n");
}

// ---------------------------------------------------------------- the binary on real bakes

ProcessResult run_diff(const std::vector<std::string>& args) {
  std::vector<std::string> argv{STREWMILL_DIFF_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return test_support::run_process(argv);
}

constexpr std::uint16_t kLo = 0xA9B4;
constexpr std::uint16_t kHi = 0xA9B6;

std::string lb_file(std::uint16_t lb) { return fmt::format("0x{:04X}.scenery.jsonl", lb); }

class DiffE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = std::make_unique<TempDir>();
    const test_support::EditableWorld world =
        test_support::EditableWorld::generate(test_support::tiny_world_spec(kLo, kHi));
    world.write(*shared_ / "dats");
    for (const bool bits : {false, true}) {
      std::vector<std::string> args{"--dat-dir", (*shared_ / "dats").string(), "--landblocks", "0xA9B4..0xA9B6",
                                    "--out", bake(bits).string()};
      if (bits) args.push_back("--bits");
      const ProcessResult r = test_support::run_strewmill(args);
      ASSERT_EQ(r.exit_status, 0) << r.err;
    }
  }
  static void TearDownTestSuite() { shared_.reset(); }

  static fs::path bake(bool bits) { return *shared_ / (bits ? "bits" : "six"); }

  // A copy of a bake to edit.
  fs::path copy_of(bool bits, const std::string& name) {
    const fs::path to = tmp_ / name;
    fs::copy(bake(bits), to, fs::copy_options::recursive);
    return to;
  }

  // The first landblock with at least two placements, and its text.
  static std::uint16_t busy_landblock(const fs::path& dir) {
    for (std::uint16_t lb = kLo; lb <= kHi; ++lb) {
      const std::string text = read_file(dir / lb_file(lb));
      if (std::count(text.begin(), text.end(), '\n') >= 2) return lb;
    }
    ADD_FAILURE() << "no landblock with two placements";
    return kLo;
  }

  TempDir tmp_;
  static std::unique_ptr<TempDir> shared_;
};

std::unique_ptr<TempDir> DiffE2E::shared_;

TEST_F(DiffE2E, IdenticalBakesInEitherFormExitZero) {
  struct Case {
    bool a_bits, b_bits;
  };
  for (const Case c : {Case{false, false}, Case{true, true}, Case{false, true}, Case{true, false}}) {
    SCOPED_TRACE(fmt::format("{} vs {}", c.a_bits, c.b_bits));
    const fs::path b = copy_of(c.b_bits, fmt::format("copy{}{}", c.a_bits, c.b_bits));
    const ProcessResult r = run_diff({bake(c.a_bits).string(), b.string()});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("identical: 3 landblocks, ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("compared at six decimals") != std::string::npos, c.a_bits != c.b_bits) << r.out;
    EXPECT_EQ(r.err, "");
    const ProcessResult j = run_diff({"--json", bake(c.a_bits).string(), b.string()});
    EXPECT_EQ(j.exit_status, 0);
    EXPECT_EQ(j.out.rfind("{\"type\":\"summary\",\"identical\":true,\"landblocks\":3,", 0), 0u) << j.out;
  }
}

TEST_F(DiffE2E, OneBitChangeIsNamedByLandblockObjectAndField) {
  const fs::path b = copy_of(true, "b");
  const std::uint16_t lb = busy_landblock(b);
  const std::string text = read_file(b / lb_file(lb));
  // Second line: bump z by one bit.
  const std::size_t second = text.find('\n') + 1;
  const std::size_t z_at = text.find("\"z\":", second) + 4;
  const std::size_t z_end = text.find(',', z_at);
  const std::uint32_t z = static_cast<std::uint32_t>(std::stoul(text.substr(z_at, z_end - z_at)));
  std::string edited = text;
  edited.replace(z_at, z_end - z_at, std::to_string(z + 1));
  rewrite_with_digest(b / lb_file(lb), edited);
  PlacementFile parsed;
  ASSERT_TRUE(parse_placement_file(text, parsed));
  const PlacementRow& row = parsed.rows[1];

  const ProcessResult r = run_diff({bake(true).string(), b.string()});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: 0 only in A, 0 only in B, 1 changed", lb)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(fmt::format("  changed: cell ({},{}) idx {}, 0x{:08X}: z ", row.key.cell_x, row.key.cell_y,
                                   row.key.obj_idx, row.obj_id)),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(fmt::format("(bits {} -> {}, +1 ulp)\n", z, z + 1)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("different: 1 of 3 landblocks"), std::string::npos) << r.out;

  const ProcessResult j = run_diff({"--json", bake(true).string(), b.string()});
  EXPECT_EQ(j.exit_status, 1);
  EXPECT_NE(j.out.find(fmt::format("{{\"type\":\"changed\",\"landblock\":\"0x{:04X}\",\"source_cell_x\":{},"
                                   "\"source_cell_y\":{},\"source_obj_idx\":{},\"a_line\":2,\"b_line\":2,"
                                   "\"field\":\"z\",\"a\":\"{}\",\"b\":\"{}\"",
                                   lb, row.key.cell_x, row.key.cell_y, row.key.obj_idx, z, z + 1)),
            std::string::npos)
      << j.out;
}

TEST_F(DiffE2E, MissingAndExtraObjectsAndLandblocks) {
  const fs::path b = copy_of(false, "b");
  const std::uint16_t lb = busy_landblock(b);
  std::string text = read_file(b / lb_file(lb));
  const std::size_t second = text.find('\n') + 1;
  const std::string removed = text.substr(0, second);
  text.erase(0, second);
  text += line(kSix, 8, 8, 999, 0x02001001, 0x33000005);
  rewrite_with_digest(b / lb_file(lb), text);
  fs::remove(b / lb_file(kHi));
  fs::remove(b / (lb_file(kHi) + ".sha256"));
  ASSERT_NE(lb, kHi);
  const std::size_t hi_count = [&] {
    const std::string t = read_file(bake(false) / lb_file(kHi));
    return static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n'));
  }();

  const ProcessResult r = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  PlacementFile parsed;
  ASSERT_TRUE(parse_placement_file(removed, parsed));
  const PlacementRow& gone = parsed.rows[0];
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: 1 only in A, 1 only in B, 0 changed", lb)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(fmt::format("  only in A: cell ({},{}) idx {}, 0x{:08X}, line 1\n", gone.key.cell_x,
                                   gone.key.cell_y, gone.key.obj_idx, gone.obj_id)),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  only in B: cell (8,8) idx 999, 0x02001001, line "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: only in A ({} objects)\n", kHi, hi_count)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(fmt::format("objects: {} only in A, 1 only in B", hi_count + 1)), std::string::npos) << r.out;
}

TEST_F(DiffE2E, ProvenanceDifferencesAreNamed) {
  const fs::path b = copy_of(false, "b");
  std::string prov = read_file(b / "bake-source.sha256");
  const std::size_t cell = prov.find("client_cell_1.dat\t") + 18;
  prov.replace(cell, 4, "0000");
  prov.replace(prov.find("ace-compat"), 10, "strict");
  prov.replace(prov.find("0x13000000"), 10, "0x13000001");
  write_file(b / "bake-source.sha256", prov);
  const ProcessResult r = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(r.out.rfind("bake-source.sha256 differs:\n  input client_cell_1.dat: A ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(", B 0000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n  region region-did: A 0x13000000, B 0x13000001\n  mode bake-mode: A ace-compat, B strict\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("version"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("; 3 provenance differences"), std::string::npos) << r.out;
  const ProcessResult j = run_diff({"--json", bake(false).string(), b.string()});
  EXPECT_NE(j.out.find("{\"type\":\"provenance\",\"key\":\"bake-mode\",\"category\":\"mode\",\"a\":\"ace-compat\","
                       "\"b\":\"strict\"}\n"),
            std::string::npos)
      << j.out;

  fs::remove(b / "bake-source.sha256");
  const ProcessResult missing = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.out.rfind("bake-source.sha256: missing in B\n", 0), 0u) << missing.out;
}

TEST_F(DiffE2E, PlacementFilesThatDoNotMatchTheirDigests) {
  const fs::path b = copy_of(false, "b");
  const std::uint16_t lb = busy_landblock(b);
  ASSERT_NE(lb, kHi);
  const std::string text = read_file(b / lb_file(lb));
  // Interrupted mid-line: the old digest stays, the file does not parse.
  write_file(b / lb_file(lb), text.substr(0, text.find('\n') + 30));
  // Same content, digest file emptied.
  write_file(b / (lb_file(kHi) + ".sha256"), "");
  const ProcessResult r = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: B: placement file does not match its digest (interrupted bake?)", lb)),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: cannot compare, B's placement file is damaged: {}:2:", lb,
                                   (b / lb_file(lb)).string())),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(fmt::format("0x{:04X}: B: digest file is not 64 lower-case", kHi)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 digest problems"), std::string::npos) << r.out;

  // A whole but changed file under a stale digest: both reported.
  write_file(b / lb_file(lb), with_first(text, "qw", "0.500000"));
  fs::remove(b / (lb_file(kHi) + ".sha256"));
  const ProcessResult stale = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(stale.exit_status, 1) << stale.err;
  EXPECT_NE(stale.out.find(fmt::format("0x{:04X}: B: placement file does not match its digest", lb)),
            std::string::npos);
  EXPECT_NE(stale.out.find(fmt::format("0x{:04X}: B: placement file has no digest file", kHi)), std::string::npos);
}

TEST_F(DiffE2E, MalformedOrForeignInputIsAnErrorNamingFileAndLine) {
  const fs::path b = copy_of(false, "b");
  const std::uint16_t lb = busy_landblock(b);
  // A file that matches its digest but is not a placement file.
  std::string text = read_file(b / lb_file(lb));
  text.insert(text.find('\n') + 1, "{\"obj_id\":1}\n");
  rewrite_with_digest(b / lb_file(lb), text);
  const ProcessResult r = run_diff({bake(false).string(), b.string()});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err, fmt::format("Error: {}:2:11: expected `\"0x`, found `1`\n", (b / lb_file(lb)).string()));

  const fs::path c = copy_of(false, "c");
  write_file(c / "bake-source.sha256", "client_portal.dat\tnot a digest\n");
  const ProcessResult prov = run_diff({bake(false).string(), c.string()});
  EXPECT_EQ(prov.exit_status, 2);
  EXPECT_EQ(prov.err, fmt::format("Error: {}:1:19: client_portal.dat: expected 64 lower-case hexadecimal digits\n",
                                  (c / "bake-source.sha256").string()));

  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{bake(false).string(), (b / lb_file(lb)).string()}, "give two bake output directories or two placement files"},
      {{bake(false).string(), (tmp_ / "nowhere").string()}, "Error: open " + (tmp_ / "nowhere").string()},
      {{bake(false).string(), tmp_.path().string()}, "not a bake output directory"},
      {{"--show", "x1", bake(false).string(), b.string()}, "--show: `x1` is not a decimal count"},
      {{bake(false).string()}, "B is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const ProcessResult e = run_diff(c.args);
    EXPECT_EQ(e.exit_status, 2);
    EXPECT_NE(e.err.find(c.err), std::string::npos) << e.err;
  }
}

}  // namespace
}  // namespace strewmill::tools
