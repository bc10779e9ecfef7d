#include "tools/diff/provenance_file.h"

#include <fmt/format.h>

namespace strewmill::tools {

namespace {

bool all_of(std::string_view s, bool (*pred)(char)) {
  for (const char c : s) {
    if (!pred(c)) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }
bool is_upper_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F'); }
bool is_mode_char(char c) { return (c >= 'a' && c <= 'z') || is_digit(c) || c == '-' || c == '_'; }
bool is_text_char(char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F; }

// Plain decimal without a leading zero.
bool is_count(std::string_view s) {
  return !s.empty() && s.size() <= 20 && all_of(s, is_digit) && (s[0] != '0' || s.size() == 1);
}

// "N baked, M skipped".
bool is_landblocks_value(std::string_view v) {
  const std::size_t baked = v.find(" baked, ");
  if (baked == std::string_view::npos) return false;
  constexpr std::string_view kSkipped = " skipped";
  const std::string_view rest = v.substr(baked + 8);
  if (rest.size() <= kSkipped.size() || rest.substr(rest.size() - kSkipped.size()) != kSkipped) return false;
  return is_count(v.substr(0, baked)) && is_count(rest.substr(0, rest.size() - kSkipped.size()));
}

// Empty when `value` has the form of line `index`, otherwise what it should be.
std::string_view value_problem(std::size_t index, std::string_view value) {
  switch (index) {
    case 0:
    case 1:
    case 2:
      if (value.size() != 64 || !all_of(value, is_lower_hex)) return "expected 64 lower-case hexadecimal digits";
      return {};
    case 3:
      if (value.empty() || !all_of(value, is_text_char)) return "expected the tool's version text";
      return {};
    case 4:
      if (value.size() != 10 || value.substr(0, 2) != "0x" || !all_of(value.substr(2), is_upper_hex)) {
        return "expected \"0x\" and 8 upper-case hexadecimal digits";
      }
      return {};
    case 5:
      if (value.empty() || !all_of(value, is_mode_char)) return "expected a bake mode such as ace-compat or strict";
      return {};
    default:
      if (!is_landblocks_value(value)) return "expected \"N baked, M skipped\"";
      return {};
  }
}

}  // namespace

std::string_view provenance_category(std::size_t key_index) {
  switch (key_index) {
    case 0:
    case 1:
    case 2: return "input";
    case 3: return "version";
    case 4: return "region";
    case 5: return "mode";
    default: return "landblocks";
  }
}

common::Result<Provenance, ParseError> parse_provenance(std::string_view text) {
  Provenance p;
  std::size_t at = 0;
  for (std::size_t i = 0; i < kProvenanceLines; ++i) {
    const std::uint64_t line = i + 1;
    if (at == text.size()) {
      return common::fail(ParseError{line, 1, fmt::format("expected {} lines, the file ends after {}",
                                                          kProvenanceLines, i)});
    }
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) {
      return common::fail(ParseError{line, text.size() - at + 1, "line has no line feed"});
    }
    const std::string_view whole = text.substr(at, nl - at);
    const std::string_view key = kProvenanceKeys[i];
    if (whole.substr(0, key.size()) != key || whole.size() == key.size() || whole[key.size()] != '\t') {
      return common::fail(ParseError{line, 1, fmt::format("expected the key `{}` and a tab", key)});
    }
    const std::string_view value = whole.substr(key.size() + 1);
    if (const std::string_view problem = value_problem(i, value); !problem.empty()) {
      return common::fail(ParseError{line, key.size() + 2, fmt::format("{}: {}", key, problem)});
    }
    p.values[i] = std::string(value);
    at = nl + 1;
  }
  if (at != text.size()) {
    return common::fail(ParseError{kProvenanceLines + 1, 1, "unexpected text after the seventh line"});
  }
  return p;
}

}  // namespace strewmill::tools
