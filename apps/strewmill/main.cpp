// strewmill: bakes procedural scenery into per-landblock placement lists.
#include <cstdio>
#include <exception>
#include <string>

#include <fmt/format.h>

#include "apps/strewmill/cli.h"
#include "apps/strewmill/emit_bits.h"
#include "apps/strewmill/error.h"
#include "apps/strewmill/logging.h"
#include "apps/strewmill/startup.h"

namespace {

int report(const strewmill::app::Error& error) {
  const std::string text = strewmill::app::render_report(error);
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  return 1;
}

int real_main(int argc, char** argv) {
  using namespace strewmill::app;
  auto cli = parse_command_line(argc, argv);
  if (!cli) return cli.error().status;
  if (cli->bits) EMIT_BITS = true;
  install_logging(cli->verbose);
  if (auto result = run(*cli); !result) return report(result.error());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Errors travel as values; this only stops a stray exception (allocation
  // failure, a library throwing) from escaping as an abort.
  try {
    return real_main(argc, argv);
  } catch (const std::exception& e) {
    try {
      return report(strewmill::app::Error(fmt::format("internal error: {}", e.what())));
    } catch (...) {
    }
  } catch (...) {
  }
  std::fputs("Error: internal error\n", stderr);
  return 1;
}
