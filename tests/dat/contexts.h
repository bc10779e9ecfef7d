// The field-context texts of a decode error, innermost first, for comparing
// whole chains in one assertion.
#pragma once

#include <string>
#include <vector>

#include "lib/dat/decode_error.h"

namespace strewmill::dat {

inline std::vector<std::string> context_texts(const DecodeError& e) {
  std::vector<std::string> out;
  for (const auto& c : e.contexts()) out.push_back(c.text());
  return out;
}

}  // namespace strewmill::dat
