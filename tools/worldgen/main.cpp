// strewmill-worldgen: writes a synthetic world (the three archives) into a
// folder, deterministically from a seed and a landblock rectangle.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <tuple>

#include "lib/common/result.h"
#include "tools/writer/worldgen.h"

namespace {

using strewmill::common::Result;
using strewmill::common::fail;

// Plain decimal digits only: CLI11's own unsigned conversion accepts signs,
// octal and hexadecimal and saturates silently.
Result<std::uint64_t, std::string> parse_decimal(std::string_view name, const std::string& text,
                                                 std::uint64_t max) {
  if (text.empty()) return fail(fmt::format("{}: expected a decimal number, got an empty value", name));
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return fail(fmt::format("{}: `{}` is not a decimal number", name, text));
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (v > (max - d) / 10) return fail(fmt::format("{}: `{}` exceeds {}", name, text, max));
    v = v * 10 + d;
  }
  return v;
}

// Hexadecimal with an optional 0x or 0X prefix.
Result<std::uint32_t, std::string> parse_hex(std::string_view name, std::string_view text, std::uint32_t max) {
  const std::string_view orig = text;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return fail(fmt::format("{}: `{}` is not a hexadecimal id", name, orig));
  std::uint64_t v = 0;
  for (const char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return fail(fmt::format("{}: `{}` is not a hexadecimal id", name, orig));
    v = v * 16 + static_cast<std::uint64_t>(d);
  }
  if (v > max) return fail(fmt::format("{}: `{}` exceeds 0x{:X}", name, orig, max));
  return static_cast<std::uint32_t>(v);
}

// "A9B4" or "A6B1..ADB8".
Result<void, std::string> parse_landblocks(const std::string& text, strewmill::tools::WorldSpec& spec) {
  const auto dots = text.find("..");
  const std::string_view all(text);
  const std::string_view lo = dots == std::string::npos ? all : all.substr(0, dots);
  const std::string_view hi = dots == std::string::npos ? all : all.substr(dots + 2);
  TRY_ASSIGN(const std::uint32_t a, parse_hex("--landblocks", lo, 0xFFFF));
  TRY_ASSIGN(const std::uint32_t b, parse_hex("--landblocks", hi, 0xFFFF));
  spec.lb_lo = static_cast<std::uint16_t>(a);
  spec.lb_hi = static_cast<std::uint16_t>(b);
  return {};
}

struct Options {
  std::string out;
  std::string seed = "1";
  std::string landblocks = "A6B1..ADB8";
  std::string scenes = "300";
  std::string objects = "12";
  std::string block_size = "1024";
  std::string cell_block_size = "256";
  std::string pad_mb = "0";
  // Empty: the archive follows --pad-mb.
  std::string portal_pad_mb, cell_pad_mb, local_pad_mb;
  std::string filler_entries = "0";
  std::string region_parts = "0x317";
};

Result<strewmill::tools::WorldSpec, std::string> to_spec(const Options& o) {
  strewmill::tools::WorldSpec spec;
  TRY_ASSIGN(spec.seed, parse_decimal("--seed", o.seed, UINT64_MAX));
  TRY(parse_landblocks(o.landblocks, spec));
  TRY_ASSIGN(const std::uint64_t scenes, parse_decimal("--scenes", o.scenes, 1'000'000));
  TRY_ASSIGN(const std::uint64_t objects, parse_decimal("--objects", o.objects, 1'000'000));
  spec.scenes = static_cast<int>(scenes);
  spec.objects_per_scene = static_cast<int>(objects);
  TRY_ASSIGN(const std::uint64_t bs, parse_decimal("--block-size", o.block_size, UINT32_MAX));
  TRY_ASSIGN(const std::uint64_t cbs, parse_decimal("--cell-block-size", o.cell_block_size, UINT32_MAX));
  spec.block_size = static_cast<std::uint32_t>(bs);
  spec.cell_block_size = static_cast<std::uint32_t>(cbs);
  TRY_ASSIGN(spec.pad_mb, parse_decimal("--pad-mb", o.pad_mb, UINT32_MAX));
  for (const auto& [name, text, archive] :
       {std::tuple{"--portal-pad-mb", &o.portal_pad_mb, strewmill::tools::WorldArchive::portal},
        std::tuple{"--cell-pad-mb", &o.cell_pad_mb, strewmill::tools::WorldArchive::cell},
        std::tuple{"--local-pad-mb", &o.local_pad_mb, strewmill::tools::WorldArchive::local}}) {
    if (text->empty()) continue;
    TRY_ASSIGN(spec.archive_pad_mb[static_cast<std::size_t>(archive)], parse_decimal(name, *text, UINT32_MAX));
  }
  TRY_ASSIGN(spec.filler_entries, parse_decimal("--filler-entries", o.filler_entries, UINT32_MAX));
  TRY_ASSIGN(spec.region_parts_mask, parse_hex("--region-parts", o.region_parts, UINT32_MAX));
  TRY(strewmill::tools::validate_world_spec(spec));
  return spec;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a synthetic world (client_portal.dat, client_cell_1.dat,\n"
               "client_local_English.dat) into a folder. Same options, same bytes.",
               "strewmill-worldgen"};
  app.option_defaults()->always_capture_default();
  Options o;
  app.add_option("--out", o.out, "Folder to write the three archives into (created if missing)")
      ->required();
  app.add_option("--seed", o.seed, "Seed (decimal)");
  app.add_option("--landblocks", o.landblocks,
                 "One landblock id or a rectangle LO..HI of ids (hexadecimal 0xXXYY)");
  app.add_option("--scenes", o.scenes, "Number of scene records");
  app.add_option("--objects", o.objects, "Typical object descriptors per scene");
  app.add_option("--block-size", o.block_size, "Block size of the portal and local archives");
  app.add_option("--cell-block-size", o.cell_block_size, "Block size of the cell archive");
  app.add_option("--pad-mb", o.pad_mb, "Grow every archive to at least this many MiB with filler records");
  app.add_option("--portal-pad-mb", o.portal_pad_mb, "Pad target of client_portal.dat alone (replaces --pad-mb)");
  app.add_option("--cell-pad-mb", o.cell_pad_mb, "Pad target of client_cell_1.dat alone (replaces --pad-mb)");
  app.add_option("--local-pad-mb", o.local_pad_mb,
                 "Pad target of client_local_English.dat alone (replaces --pad-mb)");
  app.add_option("--filler-entries", o.filler_entries,
                 "Extra small records in the cell archive (large directories)");
  app.add_option("--region-parts", o.region_parts,
                 "Region parts mask (hexadecimal): 0x10 sky, 0x01 sound, 0x02 scene, 0x200 misc");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  auto spec = to_spec(o);
  if (!spec) {
    fmt::print(stderr, "Error: {}\n", spec.error());
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  strewmill::tools::WorldStats stats;
  const auto result = strewmill::tools::generate_world(*spec, o.out, stats);
  if (!result) {
    fmt::print(stderr, "Error: {}\n", result.error());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const auto& [name, s] : {std::pair{"client_portal.dat", stats.portal},
                                std::pair{"client_cell_1.dat", stats.cell},
                                std::pair{"client_local_English.dat", stats.local}}) {
    fmt::print("{}: {} records, {} bytes\n", name, s.records, s.bytes);
  }
  fmt::print("generated in {:.2f} s\n", seconds);
  return 0;
}
