// Start-up after the command line is parsed: typed values from the options,
// the start-up log line, the output directory, then the archive stages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/strewmill/cli.h"
#include "apps/strewmill/error.h"
#include "lib/engine/bake_mode.h"

namespace strewmill::app {

// The values start-up derives from `Cli` and hands to the later stages.
struct StartupPlan {
  std::uint32_t region_did = 0;
  std::vector<std::uint16_t> landblocks;
  engine::BakeMode mode = engine::BakeMode::AceCompat;
  std::uint64_t throttle_ms = 0;
  bool verbose = false;
  std::filesystem::path dat_dir, out;
};

// Region id, then landblock list, then mode: the first bad one is reported.
AppResult<StartupPlan> plan_startup(const Cli& cli);

// "strewmill: --dat-dir=... --landblocks=... (N LBs) --region-did=0x... --mode=... --out=..."
std::string format_startup_line(const Cli& cli, const StartupPlan& plan);

// Creates `out` with any missing parents; an existing directory is fine.
AppResult<void> create_output_dir(const std::filesystem::path& out);

// Everything after logging is installed, up to the end of the bake.
AppResult<void> run(const Cli& cli);

}  // namespace strewmill::app
