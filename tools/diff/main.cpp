// strewmill-diff: compares two bakes exactly. Exit status as diff's: 0 when
// identical, 1 when different, 2 on an error.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>
#include <string>

#include "apps/strewmill/error.h"
#include "tools/diff/diff_lib.h"

namespace {

constexpr int kIdentical = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

int report(const strewmill::app::Error& error) { return strewmill::app::print_report(error, kTrouble); }

// Plain decimal digits only: CLI11's own unsigned conversion accepts signs,
// octal and hexadecimal and saturates silently.
bool parse_count(const std::string& text, std::size_t& out) {
  if (text.empty() || text.size() > 9) return false;
  std::size_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  out = v;
  return true;
}

int real_main(int argc, char** argv) {
  CLI::App app("Compares two strewmill bakes: two output directories, or two placement files.\n"
               "Exit status: 0 identical, 1 different, 2 on an error.",
               "strewmill-diff");
  app.set_version_flag("-V,--version", "strewmill-diff 0.1.0");
  std::string a, b, show = "5";
  bool json = false;
  app.add_option("A", a, "First bake: output directory or placement file")->required();
  app.add_option("B", b, "Second bake: output directory or placement file")->required();
  app.add_flag("--json", json, "Write JSON Lines records (every difference) instead of the summary");
  app.add_option("--show", show, "Differences detailed per landblock in the summary")->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kTrouble;
  }

  strewmill::tools::DiffOptions options;
  options.json = json;
  if (!parse_count(show, options.show)) {
    return report(strewmill::app::Error(fmt::format("--show: `{}` is not a decimal count", show)));
  }
  strewmill::tools::ReportSink sink(stdout);
  auto totals = strewmill::tools::diff_bakes(a, b, options, sink);
  if (!totals) return report(totals.error());
  return totals->identical() ? kIdentical : kDifferent;
}

}  // namespace

int main(int argc, char** argv) {
  return strewmill::app::guarded_main(argc, argv, real_main, kTrouble);
}
