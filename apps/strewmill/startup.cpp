#include "apps/strewmill/startup.h"

#include <fmt/format.h>

#include <system_error>

#include "apps/strewmill/logging.h"
#include "apps/strewmill/selection.h"

namespace strewmill::app {

AppResult<StartupPlan> plan_startup(const Cli& cli) {
  StartupPlan plan;
  // The region id's error is reported as it is, without added context.
  TRY_ASSIGN(plan.region_did, parse_hex_u32(cli.region_did));
  TRY_ASSIGN(plan.landblocks, select_landblocks(cli.landblocks));
  auto mode = engine::bake_mode_from_str(cli.mode);
  if (!mode) return common::fail(Error(fmt::format("--mode parse error: {}", mode.error())));
  plan.mode = *mode;
  plan.throttle_ms = cli.throttle_ms;
  plan.verbose = cli.verbose;
  plan.dat_dir = cli.dat_dir;
  plan.out = cli.out;
  return plan;
}

std::string format_startup_line(const Cli& cli, const StartupPlan& plan) {
  return fmt::format("strewmill: --dat-dir={} --landblocks={} ({} LBs) --region-did=0x{:08X} --mode={} --out={}",
                     plan.dat_dir.string(), cli.landblocks, plan.landblocks.size(), plan.region_did,
                     engine::to_string(plan.mode), plan.out.string());
}

AppResult<void> create_output_dir(const std::filesystem::path& out) {
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    return common::fail(Error(fmt::format("create --out `{}`", out.string())).with_cause(Error::os(ec.value())));
  }
  return {};
}

AppResult<void> run(const Cli& cli) {
  TRY_ASSIGN(const StartupPlan plan, plan_startup(cli));
  if (log_enabled(spdlog::level::info)) log_at(spdlog::level::info, "{}", format_startup_line(cli, plan));
  // Created before the archive directory is checked: a run that fails the
  // pre-flight still leaves the directory behind.
  TRY(create_output_dir(plan.out));

  // ---- Archive stages -------------------------------------------------------
  // 1. Pre-flight: check the archive directory, open the portal and cell
  //    archives and digest the three files.
  // 2. Bake: every landblock of plan.landblocks, the provenance file and the
  //    summary line.
  // Until those stages exist the run must not pretend to succeed.
  return common::fail(Error("bake stage is not available yet"));
}

}  // namespace strewmill::app
