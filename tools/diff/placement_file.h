// A strict reader of placement files (`0xXXYY.scenery.jsonl`): exactly the
// line format the tool writes, in either float form, and nothing else.
// Hand-written rather than a general JSON parser: it must reject anything the
// tool could not have written, say where, and cost no allocation per line.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lib/common/result.h"

namespace strewmill::tools {

// How a file writes its floats. A file's form is set by its first float; an
// empty file has none and matches either.
enum class FloatForm : std::uint8_t { none, six_decimal, bits };

std::string_view float_form_name(FloatForm form);  // "none", "six-decimal", "bits"

inline constexpr std::size_t kFloatFields = 8;
inline constexpr std::array<std::string_view, kFloatFields> kFloatFieldNames = {
    "x", "y", "z", "qw", "qx", "qy", "qz", "scale"};

// What matches a placement across two bakes.
struct PlacementKey {
  std::uint32_t cell_x = 0;
  std::uint32_t cell_y = 0;
  std::uint32_t obj_idx = 0;

  friend auto operator<=>(const PlacementKey&, const PlacementKey&) = default;
};

// One parsed line. Float texts stay in the file's buffer; rows refer to them
// by offset, so the buffer must outlive the rows.
struct PlacementRow {
  PlacementKey key;
  std::uint32_t line = 0;  // 1-based
  std::uint32_t obj_id = 0;
  std::uint32_t default_script_id = 0;
  std::array<std::uint32_t, kFloatFields> bits{};     // bits form only: the pattern
  std::array<std::uint32_t, kFloatFields> text_at{};  // offset of the float's text in the file
  std::array<std::uint8_t, kFloatFields> text_len{};

  std::string_view text(std::string_view file, std::size_t field) const {
    return file.substr(text_at[field], text_len[field]);
  }
};

struct PlacementFile {
  FloatForm form = FloatForm::none;
  std::vector<PlacementRow> rows;  // in file order
};

// Where and why a file failed to parse; line and column are 1-based, the
// column counts bytes.
struct ParseError {
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  std::string message;

  // "{file}:{line}:{column}: {message}"
  std::string located(std::string_view file) const;
};

// Parses a whole placement file into `out`, whose row storage is reused.
// Accepts exactly: `{"obj_id":"0x` 8 upper-case hex digits `","x":` F
// `,"y":` F ... `,"scale":` F `,"source_cell_x":` U `,"source_cell_y":` U
// `,"source_obj_idx":` U `,"default_script_id":"0x` 8 hex digits `"}` and a
// line feed, where F is `-?(0|[1-9][0-9]*)\.[0-9]{6}`, `NaN`, `inf`, `-inf`
// or (bits form) an unsigned 32-bit decimal, and U an unsigned 32-bit
// decimal; no leading zeros, no spaces, one form per file.
common::Result<void, ParseError> parse_placement_file(std::string_view text, PlacementFile& out);

}  // namespace strewmill::tools
