#include "tools/diff/placement_file.h"

#include <fmt/format.h>

#include <limits>

namespace strewmill::tools {

namespace {

// The literal text between the values of a line, in order.
constexpr std::string_view kOpen = "{\"obj_id\":\"0x";
constexpr std::array<std::string_view, kFloatFields> kBeforeFloat = {
    "\",\"x\":", ",\"y\":", ",\"z\":", ",\"qw\":", ",\"qx\":", ",\"qy\":", ",\"qz\":", ",\"scale\":"};
constexpr std::string_view kBeforeCellX = ",\"source_cell_x\":";
constexpr std::string_view kBeforeCellY = ",\"source_cell_y\":";
constexpr std::string_view kBeforeObjIdx = ",\"source_obj_idx\":";
constexpr std::string_view kBeforeScript = ",\"default_script_id\":\"0x";
constexpr std::string_view kClose = "\"}\n";

// FLT_MAX has 39 integer digits; the writer never writes more.
constexpr std::size_t kMaxSixIntegerDigits = 39;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One pass over the file; `pos` only moves forward.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool at_end() const { return pos_ == text_.size(); }
  std::size_t pos() const { return pos_; }
  std::uint64_t line() const { return line_; }

  common::Result<void, ParseError> literal(std::string_view lit) {
    if (text_.substr(pos_, lit.size()) != lit) {
      // Point at the first byte that differs.
      while (pos_ < text_.size() && text_[pos_] == lit.front()) {
        ++pos_;
        lit.remove_prefix(1);
      }
      return error_here(fmt::format("expected `{}`, found {}", printable(lit), found()));
    }
    pos_ += lit.size();
    if (lit.back() == '\n') {
      ++line_;
      line_start_ = pos_;
    }
    return {};
  }

  common::Result<std::uint32_t, ParseError> hex8(std::string_view field) {
    std::uint32_t v = 0;
    for (int i = 0; i < 8; ++i) {
      const char c = peek();
      int d = -1;
      if (is_digit(c)) d = c - '0';
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) {
        return error_here(fmt::format("\"{}\": expected 8 upper-case hexadecimal digits after `0x`, found {}",
                                      field, found()));
      }
      v = (v << 4) | static_cast<std::uint32_t>(d);
      ++pos_;
    }
    return v;
  }

  // Unsigned decimal: `0` or a digit run without a leading zero, at most
  // 2^32 - 1.
  common::Result<std::uint32_t, ParseError> u32(std::string_view field) {
    const std::size_t start = pos_;
    if (!is_digit(peek())) {
      return error_here(fmt::format("\"{}\": expected an unsigned decimal, found {}", field, found()));
    }
    std::uint64_t v = 0;
    while (is_digit(peek())) {
      v = v * 10 + static_cast<std::uint64_t>(peek() - '0');
      ++pos_;
      if (v > std::numeric_limits<std::uint32_t>::max()) {
        pos_ = start;
        return error_here(fmt::format("\"{}\": value exceeds 4294967295", field));
      }
    }
    if (text_[start] == '0' && pos_ - start > 1) {
      pos_ = start;
      return error_here(fmt::format("\"{}\": leading zero", field));
    }
    return static_cast<std::uint32_t>(v);
  }

  // One float field: its text span, its form and (bits form) its pattern.
  struct FloatToken {
    FloatForm form = FloatForm::none;
    std::uint32_t bits = 0;
    std::size_t at = 0;
    std::size_t len = 0;
  };

  common::Result<FloatToken, ParseError> float_value(std::string_view field) {
    FloatToken t;
    t.at = pos_;
    const char first = peek();
    if (first == 'N' || first == 'i' || (first == '-' && pos_ + 1 < text_.size() && text_[pos_ + 1] == 'i')) {
      const std::string_view rest = text_.substr(pos_);
      for (const std::string_view word : {std::string_view("NaN"), std::string_view("inf"), std::string_view("-inf")}) {
        if (rest.substr(0, word.size()) == word) {
          pos_ += word.size();
          t.form = FloatForm::six_decimal;
          t.len = word.size();
          return t;
        }
      }
    }
    const bool negative = peek() == '-';
    if (negative) ++pos_;
    const std::size_t digits_at = pos_;
    while (is_digit(peek())) ++pos_;
    const std::size_t digits = pos_ - digits_at;
    if (digits == 0) {
      return error_here(fmt::format(
          "\"{}\": expected a float (six decimals, NaN, inf, -inf, or a --bits bit pattern), found {}", field,
          found()));
    }
    if (text_[digits_at] == '0' && digits > 1) {
      pos_ = digits_at;
      return error_here(fmt::format("\"{}\": leading zero", field));
    }

    if (peek() == '.') {
      if (digits > kMaxSixIntegerDigits) {
        pos_ = digits_at;
        return error_here(fmt::format("\"{}\": value out of float range", field));
      }
      ++pos_;
      for (int i = 0; i < 6; ++i) {
        if (!is_digit(peek())) {
          return error_here(fmt::format("\"{}\": expected six decimals, found {}", field, found()));
        }
        ++pos_;
      }
      if (is_digit(peek())) {
        return error_here(fmt::format("\"{}\": more than six decimals", field));
      }
      t.form = FloatForm::six_decimal;
      t.len = pos_ - t.at;
      return t;
    }

    // A bare integer: the --bits form.
    if (negative) {
      pos_ = t.at;
      return error_here(fmt::format("\"{}\": a bit pattern cannot be negative", field));
    }
    std::uint64_t v = 0;
    for (std::size_t i = digits_at; i < pos_; ++i) {
      v = v * 10 + static_cast<std::uint64_t>(text_[i] - '0');
      if (v > std::numeric_limits<std::uint32_t>::max()) {
        pos_ = digits_at;
        return error_here(fmt::format("\"{}\": bit pattern exceeds 4294967295", field));
      }
    }
    t.form = FloatForm::bits;
    t.bits = static_cast<std::uint32_t>(v);
    t.len = pos_ - t.at;
    return t;
  }

  ParseError error_at(std::size_t pos, std::string message) const {
    return ParseError{line_, pos - line_start_ + 1, std::move(message)};
  }
  common::Unexpected<ParseError> error_here(std::string message) const {
    return common::fail(error_at(pos_, std::move(message)));
  }

 private:
  // A NUL past the end, which no check accepts.
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  // The byte at the current position, for messages.
  std::string found() const {
    if (at_end()) return "end of file";
    const auto c = static_cast<unsigned char>(text_[pos_]);
    if (c == '\n') return "end of line";
    if (c >= 0x20 && c < 0x7F) return fmt::format("`{}`", static_cast<char>(c));
    return fmt::format("byte 0x{:02X}", c);
  }

  // A literal for messages: the line feed shown as \n.
  static std::string printable(std::string_view lit) {
    std::string s;
    for (const char c : lit) {
      if (c == '\n') s += "\\n";
      else s += c;
    }
    return s;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_start_ = 0;
  std::uint64_t line_ = 1;
};

}  // namespace

std::string_view float_form_name(FloatForm form) {
  switch (form) {
    case FloatForm::six_decimal: return "six-decimal";
    case FloatForm::bits: return "bits";
    case FloatForm::none: break;
  }
  return "none";
}

std::string ParseError::located(std::string_view file) const {
  return fmt::format("{}:{}:{}: {}", file, line, column, message);
}

common::Result<void, ParseError> parse_placement_file(std::string_view text, PlacementFile& out) {
  out.form = FloatForm::none;
  out.rows.clear();
  // Rows hold 32-bit offsets and line numbers.
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
    return common::fail(ParseError{1, 1, "file too large for a placement file (4 GiB or more)"});
  }
  Reader r(text);
  std::uint64_t form_line = 0;  // the line that set the file's form
  while (!r.at_end()) {
    PlacementRow row;
    row.line = static_cast<std::uint32_t>(r.line());
    TRY(r.literal(kOpen));
    TRY_ASSIGN(row.obj_id, r.hex8("obj_id"));
    for (std::size_t f = 0; f < kFloatFields; ++f) {
      TRY(r.literal(kBeforeFloat[f]));
      TRY_ASSIGN(const Reader::FloatToken t, r.float_value(kFloatFieldNames[f]));
      if (out.form == FloatForm::none) {
        out.form = t.form;
        form_line = r.line();
      } else if (t.form != out.form && !r.at_end()) {  // at the end, a cut-off value: say that instead
        return common::fail(r.error_at(
            t.at, fmt::format("\"{}\": {} float in a file whose floats are {} (since line {})", kFloatFieldNames[f],
                              t.form == FloatForm::bits ? "a --bits" : "a six-decimal",
                              out.form == FloatForm::bits ? "--bits patterns" : "six-decimal", form_line)));
      }
      row.bits[f] = t.bits;
      row.text_at[f] = static_cast<std::uint32_t>(t.at);
      row.text_len[f] = static_cast<std::uint8_t>(t.len);
    }
    TRY(r.literal(kBeforeCellX));
    TRY_ASSIGN(row.key.cell_x, r.u32("source_cell_x"));
    TRY(r.literal(kBeforeCellY));
    TRY_ASSIGN(row.key.cell_y, r.u32("source_cell_y"));
    TRY(r.literal(kBeforeObjIdx));
    TRY_ASSIGN(row.key.obj_idx, r.u32("source_obj_idx"));
    TRY(r.literal(kBeforeScript));
    TRY_ASSIGN(row.default_script_id, r.hex8("default_script_id"));
    TRY(r.literal(kClose));
    try {
      out.rows.push_back(row);
    } catch (const std::bad_alloc&) {
      return common::fail(ParseError{row.line, 1, "out of memory holding the file's rows"});
    }
  }
  return {};
}

}  // namespace strewmill::tools
