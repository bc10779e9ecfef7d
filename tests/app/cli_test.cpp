// The command line and start-up, run through the real binary.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apps/strewmill/logging.h"
#include "lib/engine/bake_mode.h"
#include "tests/support/process.h"

namespace strewmill::app {
namespace {

namespace fs = std::filesystem;
using test_support::ProcessOptions;
using test_support::ProcessResult;
using test_support::run_strewmill;
using test_support::TempDir;
using test_support::write_file;

const std::string kUsageLine = "Usage: strewmill --dat-dir <PATH> --landblocks <LB_SPEC> --out <DIR> [OPTIONS]";

// Runs with a bogus archive directory and `out` as --out, plus `extra`.
class Startup : public ::testing::Test {
 protected:
  ProcessResult run(std::vector<std::string> extra, ProcessOptions options = {}) {
    std::vector<std::string> args{"--dat-dir", dat_.string(), "--out=" + out_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = run_strewmill(args, std::move(options));
    EXPECT_EQ(r.out, "") << "standard output carries only help and version";
    return r;
  }

  // The start-up record's text after the log prefix, or "" when absent.
  static std::string startup_line(const std::string& err) {
    const std::size_t at = err.find("strewmill: --dat-dir=");
    if (at == std::string::npos) return "";
    return err.substr(at, err.find('\n', at) - at);
  }

  TempDir dir_;
  fs::path dat_ = dir_ / "dats";
  fs::path out_ = dir_ / "out" / "nested";
};

TEST(CommandLine, HelpAndVersionGoToStandardOutput) {
  for (const char* flag : {"-h", "--help"}) {
    ProcessResult r = run_strewmill({flag});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Bake AC procedural scenery to explicit per-LB JSONL placement lists (Phase B.3)\n", 0), 0u)
        << r.out;
    for (const char* option : {"--dat-dir PATH", "--landblocks LB_SPEC", "--region-did DID=0x13000000", "--out DIR",
                               "--throttle-ms THROTTLE_MS=0", "--verbose", "--mode MODE=ace-compat", "--bits"}) {
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
  }
  for (const char* flag : {"-V", "--version"}) {
    ProcessResult r = run_strewmill({flag, "--no-such-option"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "strewmill 0.1.0\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Startup, CommandLineErrorsExitTwoAndCreateNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"--landblocks", "0xA9B4", "--no-such-option"},
      {"--landblocks", "0xA9B4", "stray"},
      {"--landblocks", "0xA9B4", "-l", "1"},
      {},  // --landblocks missing
      {"--landblocks", "0xA9B4", "--throttle-ms", "-1"},
      {"--landblocks", "0xA9B4", "--throttle-ms=+5"},
      {"--landblocks", "0xA9B4", "--throttle-ms=0x10"},
      {"--landblocks", "0xA9B4", "--throttle-ms=1e3"},
      {"--landblocks", "0xA9B4", "--throttle-ms= 5"},
      {"--landblocks", "0xA9B4", "--throttle-ms="},
      {"--landblocks", "0xA9B4", "--throttle-ms=18446744073709551616"},
      {"--landblocks", "0xA9B4", "--throttle-ms=99999999999999999999999"},
  };
  for (const auto& extra : cases) {
    ProcessResult r = run(extra);
    const std::string where = extra.empty() ? "(no --landblocks)" : extra.back();
    EXPECT_EQ(r.exit_status, 2) << where;
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << where << "\n" << r.err;
    EXPECT_NE(r.err.find(kUsageLine), std::string::npos) << where;
  }
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST(CommandLine, MissingOutExitsTwoAndCreatesNothing) {
  TempDir cwd;
  ProcessOptions options;
  options.cwd = cwd.path();
  ProcessResult r = run_strewmill({"--dat-dir", "dats", "--landblocks", "0xA9B4"}, options);
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error: --out is required\n\n" + kUsageLine + "\n\nFor more information, try '--help'.\n");
  EXPECT_TRUE(fs::is_empty(cwd.path()));
}

TEST_F(Startup, AcceptedThrottleValuesReachTheRun) {
  for (const char* value : {"0", "010", "18446744073709551615"}) {
    ProcessResult r = run({"--landblocks", "0xA9B4", "--throttle-ms", value});
    EXPECT_EQ(r.exit_status, 1) << value << "\n" << r.err;
    EXPECT_TRUE(fs::is_directory(out_)) << value;
  }
}

TEST_F(Startup, StartupLineShowsParsedValues) {
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const std::string common = "strewmill: --dat-dir=" + dat_.string();
  const std::string tail = " --out=" + out_.string();
  const std::vector<Case> cases = {
      {{"--landblocks", "0xA9B4"},
       common + " --landblocks=0xA9B4 (1 LBs) --region-did=0x13000000 --mode=ace-compat" + tail},
      {{"--landblocks= 0xA3AE..0xA4AF ", "--mode", "ace_compat", "--region-did", "13000000"},
       common + " --landblocks= 0xA3AE..0xA4AF  (4 LBs) --region-did=0x13000000 --mode=ace-compat" + tail},
      {{"--landblocks", "1", "--mode=acecompat", "--region-did=0x0x2a", "--bits"},
       common + " --landblocks=1 (1 LBs) --region-did=0x0000002A --mode=ace-compat" + tail},
      {{"--landblocks", "1", "--mode=strict", "--throttle-ms=5"},
       common + " --landblocks=1 (1 LBs) --region-did=0x13000000 --mode=strict" + tail},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--verbose");
    ProcessResult r = run(args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(startup_line(r.err), c.line);
    EXPECT_NE(r.err.find(" info strewmill: "), std::string::npos) << "prefix carries level and target";
    EXPECT_TRUE(fs::is_directory(out_));
  }
}

TEST_F(Startup, EnvironmentFilterAndVerbose) {
  struct Case {
    const char* env;  // nullptr: unset
    bool verbose;
    bool shows_info;
  };
  const std::string oversized = std::string(600, 'x') + ",strewmill=trace";
  const std::string oversized_junk(600, 'x');
  const Case cases[] = {
      {nullptr, false, false},
      {nullptr, true, true},
      // The command line replaces a bare level from the environment...
      {"info", false, false},
      {"off", true, true},
      // ...while a directive for our target stays in force.
      {"strewmill=debug", false, true},
      {"warn,strewmill=info", false, true},
      {"strewmill=error", true, false},
      {"other=trace", false, false},
      // Unusable filters keep the command-line level.
      {oversized_junk.c_str(), true, true},
      {oversized.c_str(), false, true},
      {"strewmill=loud", true, true},
  };
  for (const Case& c : cases) {
    ProcessOptions options;
    if (c.env) options.env["STREWMILL_LOG"] = c.env;
    std::vector<std::string> args{"--landblocks", "0xA9B4"};
    if (c.verbose) args.push_back("--verbose");
    ProcessResult r = run(args, options);
    const std::string label = std::string(c.env ? c.env : "(unset)").substr(0, 40) + (c.verbose ? " --verbose" : "");
    EXPECT_EQ(r.exit_status, 1) << label;
    EXPECT_EQ(!startup_line(r.err).empty(), c.shows_info) << label << "\n" << r.err;
  }
}

TEST_F(Startup, QuietRunWritesOnlyTheReport) {
  ProcessResult r = run({"--landblocks", "0xA9B4"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find(" info "), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_directory(out_));
}

TEST_F(Startup, ReportsWithOneCause) {
  ProcessResult r = run({"--region-did", " zz ", "--landblocks", "..", "--mode", "bad"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Error: parse hex u32 `zz`\n\nCaused by:\n    invalid digit found in string\n");
  EXPECT_FALSE(fs::exists(dir_ / "out"));

  r = run({"--landblocks", "0x1A9B4", "--mode", "bad"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "Error: landblock id `0x1A9B4` is wider than 16 bits\n\nCaused by:\n"
            "    out of range integral type conversion attempted\n");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(Startup, ReportsWithNumberedCausesForARelativeListFile) {
  write_file(dir_ / "ids.txt", "0xA9B4\n# next is bad\nzz\n");
  ProcessOptions options;
  options.cwd = dir_.path();
  ProcessResult r = run({"--landblocks", "@ids.txt"}, options);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "Error: landblock list `ids.txt` line 3\n\nCaused by:\n"
            "    0: parse hex u32 `zz`\n"
            "    1: invalid digit found in string\n");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(Startup, ModeErrorsAreWrapped) {
  for (const char* mode : {"Strict", " strict", "ace compat", ""}) {
    ProcessResult r = run({"--landblocks", "0xA9B4", "--mode", mode});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, std::string("Error: --mode parse error: unknown BakeMode `") + mode +
                         "` (expected `ace-compat` or `strict`)\n");
  }
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(Startup, OutputDirectoryFailure) {
  write_file(dir_ / "out", "a file, not a directory");
  ProcessResult r = run({"--landblocks", "0xA9B4"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Error: create --out `" + out_.string() + "`\n\nCaused by:\n    Not a directory (os error 20)\n");
}

TEST(BakeMode, Names) {
  using engine::BakeMode;
  const std::pair<const char*, BakeMode> accepted[] = {
      {"ace-compat", BakeMode::AceCompat},
      {"ace_compat", BakeMode::AceCompat},
      {"acecompat", BakeMode::AceCompat},
      {"strict", BakeMode::Strict},
  };
  for (const auto& [text, mode] : accepted) {
    auto r = engine::bake_mode_from_str(text);
    ASSERT_TRUE(r.ok()) << text;
    EXPECT_EQ(*r, mode);
  }
  EXPECT_EQ(engine::to_string(BakeMode::AceCompat), "ace-compat");
  EXPECT_EQ(engine::to_string(BakeMode::Strict), "strict");
  for (const char* text : {"STRICT", "Ace-Compat", "strict\n", "ace-compat ", "acecompat2"}) {
    auto r = engine::bake_mode_from_str(text);
    ASSERT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error(), std::string("unknown BakeMode `") + text + "` (expected `ace-compat` or `strict`)");
  }
}

TEST(LogFilter, ResolvesTheTargetLevel) {
  using spdlog::level::level_enum;
  struct Case {
    const char* env;
    bool verbose;
    level_enum level;
    std::size_t ignored;
  };
  const Case cases[] = {
      {"", false, level_enum::warn, 0},
      {"", true, level_enum::info, 0},
      {"trace", false, level_enum::warn, 0},
      {"strewmill=DEBUG", false, level_enum::debug, 0},
      {" strewmill = err , strewmill=critical", true, level_enum::critical, 0},
      {"strewmill=warn,", true, level_enum::warn, 0},
      {"strewmill=bogus,nope", true, level_enum::info, 2},
      {"strewmill=off", true, level_enum::off, 0},
  };
  for (const Case& c : cases) {
    const LogFilter f = resolve_log_filter(c.env, c.verbose);
    EXPECT_EQ(f.level, c.level) << c.env;
    EXPECT_EQ(f.ignored.size(), c.ignored) << c.env;
  }
}

}  // namespace
}  // namespace strewmill::app
