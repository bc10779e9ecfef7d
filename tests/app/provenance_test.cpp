#include "apps/strewmill/provenance.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace strewmill::app {
namespace {

const std::string kPortal(64, 'a');
const std::string kCell(64, 'b');
const std::string kLocal(64, 'c');

TEST(Provenance, ManifestHasSevenLinesInOrder) {
  EXPECT_EQ(format_manifest(kPortal, kCell, kLocal, 0x13000000u, 1, 0, engine::BakeMode::Strict),
            "client_portal.dat\t" + kPortal + "\n" +
                "client_cell_1.dat\t" + kCell + "\n" +
                "client_local_English.dat\t" + kLocal + "\n" +
                "bake-tool-version\tvellgrim-strewmill/0.1.0 + strewmill-cli/0.1.0\n"
                "region-did\t0x13000000\n"
                "bake-mode\tstrict\n"
                "landblocks\t1 baked, 0 skipped\n");
  const std::string ace =
      format_manifest(kPortal, kCell, kLocal, 0xABCu, 0, 18446744073709551615u,
                      engine::BakeMode::AceCompat);
  EXPECT_NE(ace.find("\nregion-did\t0x00000ABC\nbake-mode\tace-compat\n"), std::string::npos);
  EXPECT_NE(ace.find("\nlandblocks\t0 baked, 18446744073709551615 skipped\n"), std::string::npos);
}

using test_support::read_file;

TEST(Provenance, WriteTruncatesAnEarlierFile) {
  test_support::TempDir dir;
  ASSERT_TRUE(write_provenance(dir.path(), "a much longer earlier text\n").ok());
  ASSERT_TRUE(write_provenance(dir.path(), "short\n").ok());
  EXPECT_EQ(read_file(dir.path() / "bake-source.sha256"), "short\n");
}

TEST(Provenance, WriteFailureNamesThePath) {
  test_support::TempDir dir;
  const auto missing = dir.path() / "no-such-dir";
  auto r = write_provenance(missing, "x\n");
  ASSERT_FALSE(r.ok());
  const std::vector<std::string> want = {
      "write " + (missing / "bake-source.sha256").string(),
      "No such file or directory (os error 2)"};
  EXPECT_EQ(r.error().chain(), want);
}

TEST(DistributionSummary, Table) {
  struct Case {
    std::vector<std::uint64_t> counts;
    std::optional<Summary> want;
  };
  const Case cases[] = {
      {{}, std::nullopt},
      {{0, 5, 3, 9}, Summary{0, 5, 9, 17, 3}},  // even length: upper middle
      {{7}, Summary{7, 7, 7, 7, 1}},
      {{0, 0}, Summary{0, 0, 0, 0, 0}},
      {{4, 1, 2}, Summary{1, 2, 4, 7, 3}},
  };
  for (const Case& c : cases) EXPECT_EQ(distribution_summary(c.counts), c.want);
}

TEST(DistributionSummary, SummaryLines) {
  EXPECT_EQ(summary_line({}, 0), "strewmill done: 0 LBs baked, 0 skipped\n");
  EXPECT_EQ(summary_line({}, 3), "strewmill done: 0 LBs baked, 3 skipped\n");
  const std::vector<std::uint64_t> counts = {0, 5, 3, 9};
  EXPECT_EQ(summary_line(counts, 2),
            "strewmill done: 4 LBs baked, 2 skipped, placements min/p50/max=0/5/9 total=17 "
            "nonzero_lbs=3\n");
}

}  // namespace
}  // namespace strewmill::app
