#include "lib/engine/bake_mode.h"

#include <fmt/format.h>

namespace strewmill::engine {

std::string_view to_string(BakeMode mode) {
  switch (mode) {
    case BakeMode::AceCompat:
      return "ace-compat";
    case BakeMode::Strict:
      return "strict";
  }
  return "ace-compat";  // unreachable for valid enumerators
}

common::Result<BakeMode, std::string> bake_mode_from_str(std::string_view text) {
  if (text == "ace-compat" || text == "ace_compat" || text == "acecompat") return BakeMode::AceCompat;
  if (text == "strict") return BakeMode::Strict;
  return common::fail(
      fmt::format("unknown BakeMode `{}` (expected `ace-compat` or `strict`)", text));
}

}  // namespace strewmill::engine
