// strewmill-view: draws baked landblocks as an SVG picture. Exit status 0
// when the picture is written, 1 when the input is bad, 2 for a command-line
// error.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "apps/strewmill/error.h"
#include "apps/strewmill/file_io.h"
#include "apps/strewmill/selection.h"
#include "tools/view/view_lib.h"

namespace {

namespace fs = std::filesystem;
using strewmill::app::AppResult;
using strewmill::app::Error;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int report(const strewmill::app::Error& error) { return strewmill::app::print_report(error, kFailed); }

AppResult<void> write_picture(const fs::path& path, const std::string& svg) {
  const std::string shown = strewmill::app::display_path(path);
  std::error_code ec;
  if (path.has_parent_path() && !fs::is_directory(path.parent_path(), ec)) {
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
      return strewmill::common::fail(
          Error::os(ec.value()).context("create directory " + strewmill::app::display_path(path.parent_path())));
    }
  }
  strewmill::app::UniqueFd fd = strewmill::app::create_truncate(path);
  if (!fd) return strewmill::common::fail(Error::os(errno).context("create " + shown));
  if (const int err = strewmill::app::write_all(fd.get(), svg.data(), svg.size()); err != 0) {
    return strewmill::common::fail(Error::os(err).context("write " + shown));
  }
  return {};
}

int real_main(int argc, char** argv) {
  CLI::App app("Draws baked landblocks as an SVG picture: terrain, roads, building and object footprints.\n"
               "Exit status: 0 written, 1 bad input, 2 command-line error.",
               "strewmill-view");
  app.set_version_flag("-V,--version", "strewmill-view 0.1.0");
  std::string dat_dir, bake, landblocks, out, region;
  app.add_option("--dat-dir", dat_dir, "Directory of the archives the bake was made from")->required();
  app.add_option("--bake", bake, "The bake's output directory")->required();
  app.add_option("--landblock,--landblocks", landblocks, "One landblock 0xXXYY, or a rectangle lo..hi")->required();
  app.add_option("--out", out, "The SVG file to write")->required();
  CLI::Option* region_opt =
      app.add_option("--region-did", region, "Region record for the terrain heights (default: the bake's)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kUsage;
  }

  strewmill::tools::ViewRequest request{dat_dir, bake, landblocks, std::nullopt};
  if (region_opt->count() > 0) {
    auto did = strewmill::app::parse_hex_u32(region);
    if (!did) return report(did.error());
    request.region_did = *did;
  }
  auto scene = strewmill::tools::load_view(request);
  if (!scene) return report(scene.error());
  for (const std::string& w : scene->warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
  if (auto written = write_picture(out, strewmill::tools::render_svg(*scene)); !written) {
    return report(written.error());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return strewmill::app::guarded_main(argc, argv, real_main, kFailed);
}
