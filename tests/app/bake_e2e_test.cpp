// The whole tool, run as a process on small generated worlds: placement
// files, digests, provenance, summary, skips, failures and re-runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/support/process.h"
#include "tests/support/worlds.h"

namespace strewmill::app {
namespace {

namespace fs = std::filesystem;
using test_support::EditableWorld;
using test_support::ProcessOptions;
using test_support::ProcessResult;
using test_support::run_process;
using test_support::run_strewmill;
using test_support::TempDir;
using test_support::write_file;

// Landblocks 0xA9B4..0xA9B6 of the generated world: all three have terrain,
// the first and last an info record, the first at least two buildings.
constexpr std::uint16_t kLo = 0xA9B4;
constexpr std::uint16_t kMid = 0xA9B5;
constexpr std::uint16_t kHi = 0xA9B6;
const std::string kAll = "0xA9B4..0xA9B6";
const std::string kToolVersion = "vellgrim-strewmill/0.1.0 + strewmill-cli/0.1.0";

using test_support::read_file;

// File name -> contents, for every file in `dir`.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = read_file(entry.path());
  return files;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    lines.push_back(text.substr(at, nl - at));
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return lines;
}

// SHA-256 by coreutils, independent of the tool's own digest code.
std::string sha256sum(const fs::path& path) {
  const ProcessResult r = run_process({"/usr/bin/sha256sum", path.string()});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return r.out.substr(0, 64);
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

std::string lb_name(std::uint16_t lb) { return fmt::format("0x{:04X}.scenery.jsonl", lb); }

// One log record: its level and message (continuation lines included).
struct LogRecord {
  std::string level;
  std::string message;
};

// Splits standard error into log records; the summary line and an error
// report, which carry no log prefix, are returned in `plain`.
struct Stderr {
  std::vector<LogRecord> records;
  std::vector<std::string> plain;
};

Stderr split_stderr(const std::string& err) {
  static const std::regex prefix(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\w+) strewmill: (.*)$)");
  Stderr out;
  bool in_record = false;
  for (const std::string& line : lines_of(err)) {
    std::smatch m;
    if (std::regex_match(line, m, prefix)) {
      out.records.push_back({m[1], m[2]});
      in_record = true;
    } else if (in_record && line.rfind("strewmill done:", 0) != 0 && line.rfind("Error: ", 0) != 0) {
      out.records.back().message += "\n" + line;  // a multi-line message goes on
    } else {
      out.plain.push_back(line);
      in_record = false;
    }
  }
  return out;
}

std::vector<std::string> messages_at(const Stderr& e, const std::string& level) {
  std::vector<std::string> out;
  for (const LogRecord& r : e.records) {
    if (r.level == level) out.push_back(r.message);
  }
  return out;
}

// The summary line as the tool must print it for these per-landblock counts.
std::string expected_summary(std::vector<std::uint64_t> counts, std::uint64_t skipped) {
  if (counts.empty()) return fmt::format("strewmill done: 0 LBs baked, {} skipped", skipped);
  std::sort(counts.begin(), counts.end());
  std::uint64_t total = 0, nonzero = 0;
  for (const std::uint64_t c : counts) {
    total += c;
    nonzero += c != 0 ? 1 : 0;
  }
  return fmt::format("strewmill done: {} LBs baked, {} skipped, placements min/p50/max={}/{}/{} total={} nonzero_lbs={}",
                     counts.size(), skipped, counts.front(), counts[counts.size() / 2], counts.back(), total, nonzero);
}

// The provenance file the tool must write for the archives in `dats`.
std::string expected_provenance(const fs::path& dats, const std::string& mode, std::uint64_t baked,
                                std::uint64_t skipped) {
  return fmt::format(
      "client_portal.dat\t{}\nclient_cell_1.dat\t{}\nclient_local_English.dat\t{}\nbake-tool-version\t{}\n"
      "region-did\t0x13000000\nbake-mode\t{}\nlandblocks\t{} baked, {} skipped\n",
      sha256sum(dats / "client_portal.dat"), sha256sum(dats / "client_cell_1.dat"),
      sha256sum(dats / "client_local_English.dat"), kToolVersion, mode, baked, skipped);
}

// A placement line, the nine float fields captured (groups 2 to 9).
const std::regex& line_pattern(bool bits) {
  static const std::string uint = "(?:0|[1-9][0-9]*)";
  static const std::string six = "(-?(?:0|[1-9][0-9]*)\\.[0-9]{6}|NaN|inf|-inf)";
  auto build = [](const std::string& f) {
    return std::regex("\\{\"obj_id\":\"(0x[0-9A-F]{8})\",\"x\":" + f + ",\"y\":" + f + ",\"z\":" + f + ",\"qw\":" + f +
                      ",\"qx\":" + f + ",\"qy\":" + f + ",\"qz\":" + f + ",\"scale\":" + f + ",\"source_cell_x\":" +
                      uint + ",\"source_cell_y\":" + uint + ",\"source_obj_idx\":" + uint +
                      ",\"default_script_id\":\"0x[0-9A-F]{8}\"\\}");
  };
  static const std::regex six_line = build(six);
  static const std::regex bits_line = build("(" + uint + ")");
  return bits ? bits_line : six_line;
}

// Six-decimal text of a float through printf, which rounds the exact
// binary value (ties to even), as an oracle for the converted bit forms.
std::string six_decimals(float v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return fmt::format("{:.6f}", static_cast<double>(v));
}

// `line` in --bits form with every float field rewritten in six-decimal form.
std::string bits_to_six(const std::string& line) {
  std::smatch m;
  if (!std::regex_match(line, m, line_pattern(true))) return "(not a --bits line) " + line;
  std::string out;
  std::size_t done = 0;
  for (int g = 2; g <= 9; ++g) {
    const auto bits = static_cast<std::uint32_t>(std::stoul(m[g].str()));
    out += line.substr(done, static_cast<std::size_t>(m.position(g)) - done);
    out += six_decimals(std::bit_cast<float>(bits));
    done = static_cast<std::size_t>(m.position(g) + m.length(g));
  }
  return out + line.substr(done);
}

class BakeE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = std::make_unique<EditableWorld>(EditableWorld::generate(test_support::tiny_world_spec(kLo, kHi)));
    shared_ = std::make_unique<TempDir>();
    base_->write(base_dats());
  }
  static void TearDownTestSuite() {
    shared_.reset();
    base_.reset();
  }
  static fs::path base_dats() { return *shared_ / "dats"; }
  // The unchanged world, as records to edit.
  static EditableWorld world() { return *base_; }

  // Runs a bake of `dats` into `out` with `extra` options.
  static ProcessResult bake(const fs::path& dats, const fs::path& out, std::vector<std::string> extra,
                            ProcessOptions options = {}) {
    std::vector<std::string> args{"--dat-dir", dats.string(), "--out", out.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = run_strewmill(args, std::move(options));
    EXPECT_EQ(r.out, "") << "standard output carries only help and version";
    return r;
  }

  // Placement counts of a reference bake of the unchanged world, by landblock.
  static std::map<std::uint16_t, std::uint64_t> reference_counts() {
    static const std::map<std::uint16_t, std::uint64_t> counts = [] {
      TempDir out;
      const ProcessResult r = bake(base_dats(), out.path(), {"--landblocks", kAll});
      EXPECT_EQ(r.exit_status, 0) << r.err;
      std::map<std::uint16_t, std::uint64_t> c;
      for (const std::uint16_t lb : {kLo, kMid, kHi}) c[lb] = lines_of(read_file(out / lb_name(lb))).size();
      return c;
    }();
    return counts;
  }

  TempDir tmp_;

 private:
  static std::unique_ptr<EditableWorld> base_;
  static std::unique_ptr<TempDir> shared_;
};

std::unique_ptr<EditableWorld> BakeE2E::base_;
std::unique_ptr<TempDir> BakeE2E::shared_;

TEST_F(BakeE2E, NormalBakeInBothModesAndWithBits) {
  struct Run {
    std::vector<std::string> options;
    std::string mode;  // as the provenance file must name it
    bool bits;
  };
  const std::vector<Run> runs = {
      {{"--mode", "ace_compat"}, "ace-compat", false},
      {{"--mode=strict"}, "strict", false},
      {{"--bits"}, "ace-compat", true},
  };
  std::vector<std::map<std::string, std::string>> outputs;
  for (const Run& run : runs) {
    SCOPED_TRACE(run.options.front());
    const fs::path out = tmp_ / run.mode / (run.bits ? "bits" : "six");
    std::vector<std::string> args{"--landblocks", kAll};
    args.insert(args.end(), run.options.begin(), run.options.end());
    const ProcessResult r = bake(base_dats(), out, args);
    ASSERT_EQ(r.exit_status, 0) << r.err;

    std::vector<std::uint64_t> counts;
    for (const std::uint16_t lb : {kLo, kMid, kHi}) {
      const fs::path file = out / lb_name(lb);
      const std::vector<std::string> lines = lines_of(read_file(file));
      counts.push_back(lines.size());
      for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, line_pattern(run.bits))) << line;
      }
      EXPECT_EQ(read_file(out / (lb_name(lb) + ".sha256")), sha256sum(file) + "\n") << lb_name(lb);
    }
    EXPECT_EQ(read_file(out / "bake-source.sha256"), expected_provenance(base_dats(), run.mode, 3, 0));
    // Quiet runs write no log record, only the summary.
    EXPECT_EQ(r.err, expected_summary(counts, 0) + "\n");
    EXPECT_EQ(snapshot(out).size(), 7u) << "two files per landblock and the provenance file";
    outputs.push_back(snapshot(out));
  }

  const auto& ace = outputs[0];
  const auto& strict = outputs[1];
  const auto& bits = outputs[2];
  // The world must exercise the format: placements, setups with scripts.
  const std::string all_ace = ace.at(lb_name(kLo)) + ace.at(lb_name(kMid)) + ace.at(lb_name(kHi));
  EXPECT_GT(lines_of(all_ace).size(), 20u);
  EXPECT_NE(all_ace.find("\"obj_id\":\"0x02"), std::string::npos);
  EXPECT_TRUE(std::regex_search(all_ace, std::regex("\"default_script_id\":\"0x(?!00000000)")));
  // Strict heights come from another interpolation.
  EXPECT_NE(ace.at(lb_name(kLo)), strict.at(lb_name(kLo)));
  // --bits writes the same placements, only the float form differs.
  for (const std::uint16_t lb : {kLo, kMid, kHi}) {
    const std::vector<std::string> six = lines_of(ace.at(lb_name(lb)));
    const std::vector<std::string> raw = lines_of(bits.at(lb_name(lb)));
    ASSERT_EQ(raw.size(), six.size()) << lb_name(lb);
    for (std::size_t i = 0; i < raw.size(); ++i) EXPECT_EQ(bits_to_six(raw[i]), six[i]) << lb_name(lb) << " line " << i;
  }
  EXPECT_EQ(bits.at("bake-source.sha256"), ace.at("bake-source.sha256"));
}

TEST_F(BakeE2E, RerunReproducesEveryFileByteForByte) {
  const fs::path first = tmp_ / "first";
  const fs::path second = tmp_ / "second";
  const std::vector<std::string> args{"--landblocks", kAll, "--mode", "strict"};
  ASSERT_EQ(bake(base_dats(), first, args).exit_status, 0);
  const auto before = snapshot(first);
  // Again into the same directory (files truncated in place) and a new one.
  ASSERT_EQ(bake(base_dats(), first, args).exit_status, 0);
  ASSERT_EQ(bake(base_dats(), second, args).exit_status, 0);
  EXPECT_EQ(snapshot(first), before);
  EXPECT_EQ(snapshot(second), before);
}

TEST_F(BakeE2E, RefusedArchiveDirectoryWritesNothing) {
  // Archives reached through symbolic links pass; the refusals come from
  // what else the directory or the archives hold.
  const fs::path marked = tmp_ / "marked";
  fs::create_directories(marked / "iter-2");
  for (const tools::WorldArchive a : tools::kWorldArchives) {
    fs::create_symlink(base_dats() / tools::world_file_name(a), marked / tools::world_file_name(a));
  }
  EditableWorld modded = world();
  modded.cell[0x05FF0001] = {{1, 2, 3}, false};
  modded.write(tmp_ / "modded");

  struct Case {
    fs::path dats;
    std::string report;
  };
  const std::vector<Case> cases = {
      {marked, "Error: --dat-dir contains modder-iteration marker `iter-2` — bake refuses to run against custom DATs\n"},
      {tmp_ / "modded",
       "Error: --dat-dir contains modder-allocated record 0x05FF0001 in cell.dat — bake refuses to run against custom "
       "DATs\n"},
  };
  for (const Case& c : cases) {
    const fs::path out = tmp_ / "out" / c.dats.filename();
    const ProcessResult r = bake(c.dats, out, {"--landblocks", kAll});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, c.report);
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out)) << c.dats;
  }
}

TEST_F(BakeE2E, MissingTerrainRecordSkipsTheLandblock) {
  EditableWorld w = world();
  w.cell.erase(test_support::terrain_id(kMid));
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  const fs::path out = tmp_ / "out";
  const ProcessResult r = bake(dats, out, {"--landblocks", kAll});
  ASSERT_EQ(r.exit_status, 0) << r.err;

  const Stderr e = split_stderr(r.err);
  ASSERT_EQ(e.records.size(), 1u) << r.err;
  EXPECT_EQ(e.records[0].level, "warning");
  EXPECT_EQ(e.records[0].message, "LB 0xA9B5: CellLandblock 0xA9B5FFFF not in cell.dat — skipping");
  const auto counts = reference_counts();
  EXPECT_EQ(e.plain, std::vector<std::string>{expected_summary({counts.at(kLo), counts.at(kHi)}, 1)});
  EXPECT_FALSE(fs::exists(out / lb_name(kMid)));
  EXPECT_FALSE(fs::exists(out / (lb_name(kMid) + ".sha256")));
  EXPECT_EQ(snapshot(out).size(), 5u);
  EXPECT_EQ(read_file(out / "bake-source.sha256"), expected_provenance(dats, "ace-compat", 2, 1));
}

TEST_F(BakeE2E, VerboseProgressEveryTwentyFiveLandblocksSkippedOnesIncluded) {
  EditableWorld w = world();
  w.cell.erase(test_support::terrain_id(kMid));
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  // One baked landblock, then 50 without terrain.
  std::string list = "0xA9B4\n";
  for (int i = 0; i < 50; ++i) list += "0xA9B5\n";
  write_file(tmp_ / "list.txt", list);

  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = bake(dats, tmp_ / "out", {"--landblocks", "@" + (tmp_ / "list.txt").string(), "--verbose",
                                                    "--throttle-ms", "2"});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const Stderr e = split_stderr(r.err);
  std::vector<std::string> progress;
  for (const std::string& m : messages_at(e, "info")) {
    if (m.rfind("progress: ", 0) == 0) progress.push_back(m);
  }
  EXPECT_EQ(progress, (std::vector<std::string>{"progress: 25/51 LBs baked (24 skipped so far)",
                                                "progress: 50/51 LBs baked (49 skipped so far)"}));
  EXPECT_EQ(messages_at(e, "warning").size(), 50u);
  EXPECT_EQ(e.plain, std::vector<std::string>{expected_summary({reference_counts().at(kLo)}, 50)});
  // The pause follows every landblock, skipped ones too.
  EXPECT_GE(elapsed, std::chrono::milliseconds(51 * 2));
}

TEST_F(BakeE2E, UndecodableInfoRecordWarnsAndBakesWithoutBuildings) {
  EditableWorld w = world();
  auto& info = w.cell.at(test_support::info_id(kLo));
  info.bytes.resize(6);  // ends inside num_cells
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  const fs::path out = tmp_ / "out";
  const ProcessResult r = bake(dats, out, {"--landblocks", kAll});
  ASSERT_EQ(r.exit_status, 0) << r.err;

  const Stderr e = split_stderr(r.err);
  ASSERT_EQ(e.records.size(), 1u) << r.err;
  EXPECT_EQ(e.records[0].level, "warning");
  const std::string& m = e.records[0].message;
  EXPECT_EQ(m.rfind("LB 0xA9B4: LandblockInfo 0xA9B4FFFE parse failed: Binary read error: ", 0), 0u) << m;
  EXPECT_NE(m.find("While parsing field 'num_cells' in LandblockInfo"), std::string::npos) << m;
  EXPECT_NE(m.find("failed to fill whole buffer"), std::string::npos) << m;
  EXPECT_EQ(e.plain.size(), 1u);
  EXPECT_EQ(e.plain.front().rfind("strewmill done: 3 LBs baked, 0 skipped, ", 0), 0u) << r.err;
  EXPECT_TRUE(fs::exists(out / lb_name(kLo)));
  EXPECT_EQ(read_file(out / (lb_name(kLo) + ".sha256")), sha256sum(out / lb_name(kLo)) + "\n");
}

TEST_F(BakeE2E, UndecodableTerrainRecordStopsTheRunKeepingEarlierFiles) {
  EditableWorld w = world();
  w.cell.at(test_support::terrain_id(kMid)).bytes.resize(100);  // ends inside the terrain words
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  const fs::path out = tmp_ / "out";
  fs::create_directories(out);
  write_file(out / "bake-source.sha256", "from an earlier run\n");

  const ProcessResult r = bake(dats, out, {"--landblocks", kAll});
  EXPECT_EQ(r.exit_status, 1);
  // The decode error is the second cause; the first is the archive error
  // that shows it after its own text. Continuation lines are indented by 7.
  const std::size_t second = r.err.find("\n    1: ");
  ASSERT_NE(second, std::string::npos) << r.err;
  const std::string decode = replace_all(r.err.substr(second + 8, r.err.size() - 1 - (second + 8)), "\n       ", "\n");
  const std::string shown = replace_all(decode, "\n", "\n       ");
  EXPECT_EQ(r.err, "Error: parse CellLandblock 0xA9B5FFFF\n\nCaused by:\n    0: Binary read error: " + shown +
                       "\n    1: " + shown + "\n");
  EXPECT_NE(decode.find("While parsing field 'terrain' in CellLandblock"), std::string::npos) << decode;
  EXPECT_NE(decode.find("failed to fill whole buffer"), std::string::npos) << decode;
  EXPECT_EQ(r.err.find("strewmill done"), std::string::npos);

  EXPECT_TRUE(fs::exists(out / lb_name(kLo)));
  EXPECT_TRUE(fs::exists(out / (lb_name(kLo) + ".sha256")));
  EXPECT_FALSE(fs::exists(out / lb_name(kMid)));
  EXPECT_FALSE(fs::exists(out / lb_name(kHi)));
  EXPECT_EQ(read_file(out / "bake-source.sha256"), "from an earlier run\n") << "left as it was";
}

TEST_F(BakeE2E, ListFilesWithoutIdsAndWithRepeatedIds) {
  write_file(tmp_ / "empty.txt", "# nothing to bake\n\n   # still nothing\n");
  write_file(tmp_ / "twice.txt", "0xA9B6\n# again\n0xA9B6\n");

  const ProcessResult empty = bake(base_dats(), tmp_ / "empty", {"--landblocks", "@" + (tmp_ / "empty.txt").string()});
  EXPECT_EQ(empty.exit_status, 0);
  EXPECT_EQ(empty.err, "strewmill done: 0 LBs baked, 0 skipped\n");
  EXPECT_EQ(snapshot(tmp_ / "empty"),
            (std::map<std::string, std::string>{
                {"bake-source.sha256", expected_provenance(base_dats(), "ace-compat", 0, 0)}}));

  const ProcessResult twice = bake(base_dats(), tmp_ / "twice", {"--landblocks", "@" + (tmp_ / "twice.txt").string()});
  EXPECT_EQ(twice.exit_status, 0);
  const std::uint64_t n = reference_counts().at(kHi);
  EXPECT_EQ(twice.err, expected_summary({n, n}, 0) + "\n");
  EXPECT_EQ(lines_of(read_file(tmp_ / "twice" / lb_name(kHi))).size(), n);
  EXPECT_EQ(read_file(tmp_ / "twice" / "bake-source.sha256"), expected_provenance(base_dats(), "ace-compat", 2, 0));
}

TEST_F(BakeE2E, MissingRegionRecord) {
  EditableWorld w = world();
  w.portal.erase(tools::kWorldRegionId);
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  const ProcessResult r = bake(dats, tmp_ / "out", {"--landblocks", kAll});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "Error: fetch Region 0x13000000 from portal.dat\n\nCaused by:\n"
            "    File ID 13000000 not found in provider\n");
  EXPECT_TRUE(fs::is_empty(tmp_ / "out"));
}

TEST_F(BakeE2E, BuildingFootprintsBlockScenery) {
  const std::uint32_t cover = 0x0100F000;    // a mesh wider than the landblock
  const std::uint32_t no_mesh = 0x0100F001;  // not in the archive: no box
  ASSERT_GT(reference_counts().at(kHi), 0u);
  EditableWorld w = world();
  w.portal[cover] = {test_support::gfx_with_points(cover, {{-10, -10, 0}, {202, -10, 0}, {-10, 202, 0}, {202, 202, 5}}),
                     false};
  w.cell[test_support::info_id(kHi)] = {
      test_support::info_with_buildings(test_support::info_id(kHi),
                                        {test_support::building(no_mesh, {96, 96, 0}),
                                         test_support::building(cover, {0, 0, 0})}),
      false};
  const fs::path dats = tmp_ / "dats";
  w.write(dats);
  const fs::path out = tmp_ / "out";
  ProcessOptions options;
  options.env["STREWMILL_LOG"] = "strewmill=debug";
  const ProcessResult r = bake(dats, out, {"--landblocks", "0xA9B6"}, options);
  ASSERT_EQ(r.exit_status, 0) << r.err;

  EXPECT_EQ(read_file(out / lb_name(kHi)), "");
  const Stderr e = split_stderr(r.err);
  EXPECT_EQ(messages_at(e, "debug"),
            std::vector<std::string>{"LB 0xA9B6: 0 placements (1 buildings collide-blocking) → " +
                                     (out / lb_name(kHi)).string()});
  EXPECT_EQ(e.plain, std::vector<std::string>{expected_summary({0}, 0)});
}

}  // namespace
}  // namespace strewmill::app
