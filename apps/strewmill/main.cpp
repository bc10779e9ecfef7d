// strewmill: bakes procedural scenery into per-landblock placement lists.
#include "apps/strewmill/cli.h"
#include "apps/strewmill/emit_bits.h"
#include "apps/strewmill/error.h"
#include "apps/strewmill/logging.h"
#include "apps/strewmill/startup.h"

namespace {

int report(const strewmill::app::Error& error) { return strewmill::app::print_report(error, 1); }

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
  return strewmill::app::guarded_main(argc, argv, real_main, 1);
}
