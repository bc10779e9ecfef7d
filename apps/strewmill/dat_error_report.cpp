#include "apps/strewmill/dat_error_report.h"

#include <optional>
#include <string>

namespace strewmill::app {

Error from_dat_error(const dat::DatError& e) {
  Error out(e.message());
  if (std::optional<std::string> cause = e.cause_message()) {
    out = std::move(out).with_cause(Error(std::move(*cause)));
  }
  return out;
}

}  // namespace strewmill::app
