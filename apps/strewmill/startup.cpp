#include "apps/strewmill/startup.h"

#include <fmt/format.h>

#include <system_error>

#include "apps/strewmill/bake_run.h"
#include "apps/strewmill/logging.h"
#include "apps/strewmill/preflight.h"
#include "apps/strewmill/sha256.h"
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

  TRY_ASSIGN(Sha256Hasher hasher, Sha256Hasher::create());
  TRY_ASSIGN(const DatDirCheck archives, run_preflight(plan.dat_dir, hasher));
  const BakeSettings settings{plan.region_did, plan.landblocks, plan.mode,
                              plan.throttle_ms, plan.verbose,   plan.out};
  return run_bake(archives, settings, hasher);
}

}  // namespace strewmill::app
