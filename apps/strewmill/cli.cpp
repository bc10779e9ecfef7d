#include "apps/strewmill/cli.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <charconv>

namespace strewmill::app {

namespace {

constexpr const char* kDescription =
    "Bake AC procedural scenery to explicit per-LB JSONL placement lists (Phase B.3)";

constexpr const char* kDatDirHelp =
    "Directory containing the three retail base DATs: `client_portal.dat`, `client_cell_1.dat`, "
    "`client_local_English.dat`. MUST be retail-clean \u2014 the pre-flight rejects sibling "
    "`custom_textures/` / `iter-*/` / `*.lwproj` and any modder-allocated record IDs";

constexpr const char* kLandblocksHelp =
    "Landblock spec. One of: - hex LB id: `0xA9B4` - inclusive range: `0xA3AE..0xAFBA` "
    "(row-major over 256-cell grid) - file list: `@<path>` reads one hex id per line";

constexpr const char* kRegionDidHelp =
    "Region data id, in hexadecimal. Defaults to `0x13000000`, the main world region. The default "
    "is held as text so that the parser's default handling cannot turn the hexadecimal value into "
    "decimal (the same pattern as `boot_landblock` in `kestrine`)";

constexpr const char* kOutHelp =
    "Output directory. Created if missing. Will contain one `<lbHex>.scenery.jsonl` per landblock "
    "plus a `bake-source.sha256` sidecar";

constexpr const char* kThrottleHelp =
    "Per-LB sleep in milliseconds. Default 0 (no throttling). Useful for sharing CPU on long bakes";

constexpr const char* kVerboseHelp =
    "Emit progress logs (INFO level) to stderr. Without this flag only WARN + ERROR surface";

constexpr const char* kModeHelp =
    "Bake mode. `ace-compat` (the default) replays the reference server's scenery loader bit for "
    "bit (triangle-plane height, no slope check), so that client and server agree one to one with "
    "servers derived from that reference. `strict` is the renderer-friendly variant (bilinear "
    "height, matching the player physics of `vellgrim-world`, slope rejection on). The mode is "
    "written into `bake-source.sha256` so that consumers can refuse a mode they do not expect";

constexpr const char* kBitsHelp =
    "Diagnostic: write each floating-point field as the decimal value of its raw 32-bit IEEE-754 "
    "pattern (negative zero normalised to positive zero) instead of the six-decimal text, for exact "
    "bit-identity comparison against `tallyglass --bits`. The renderer does not consume this output";

constexpr const char* kUsage =
    "Usage: strewmill --dat-dir <PATH> --landblocks <LB_SPEC> --out <DIR> [OPTIONS]";

std::string failure_message(const CLI::App*, const CLI::Error& e) {
  return fmt::format("error: {}\n\n{}\n\nFor more information, try '--help'.\n", e.what(), kUsage);
}

}  // namespace

std::optional<std::uint64_t> parse_decimal_u64(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

common::Result<Cli, CliExit> parse_command_line(int argc, const char* const* argv) {
  Cli cli;
  std::string throttle_text = "0";

  CLI::App app{kDescription, "strewmill"};
  // Declared first so that it wins over the options declared after it.
  app.set_version_flag("-V,--version", fmt::format("strewmill {}", kToolVersion));
  app.failure_message(failure_message);

  app.add_option("--dat-dir", cli.dat_dir, kDatDirHelp)->type_name("PATH")->required();
  app.add_option("--landblocks", cli.landblocks, kLandblocksHelp)->type_name("LB_SPEC")->required();
  app.add_option("--region-did", cli.region_did, kRegionDidHelp)->type_name("DID")->capture_default_str();
  app.add_option("--out", cli.out, kOutHelp)->type_name("DIR")->required();
  // Taken as text: the parser's own unsigned conversion would accept "-1",
  // octal and hexadecimal forms and saturate on overflow.
  app.add_option("--throttle-ms", throttle_text, kThrottleHelp)
      ->type_name("THROTTLE_MS")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            if (parse_decimal_u64(text)) return {};
            return fmt::format("`{}` is not an unsigned decimal number that fits in 64 bits", text);
          },
          ""));
  app.add_flag("--verbose", cli.verbose, kVerboseHelp);
  app.add_option("--mode", cli.mode, kModeHelp)->type_name("MODE")->capture_default_str();
  app.add_flag("--bits", cli.bits, kBitsHelp);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return common::fail(CliExit{rc == 0 ? 0 : 2});
  }
  cli.throttle_ms = *parse_decimal_u64(throttle_text);
  return cli;
}

}  // namespace strewmill::app
