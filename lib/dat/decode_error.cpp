#include "lib/dat/decode_error.h"

#include <fmt/format.h>

namespace strewmill::dat {

std::string FieldContext::text() const {
  return fmt::format("While parsing field '{}' in {}", field, record);
}

DecodeError::DecodeError(Payload p) : p_(std::make_unique<Payload>(std::move(p))) {}

DecodeError::DecodeError(const DecodeError& other)
    : p_(std::make_unique<Payload>(*other.p_)) {}

DecodeError& DecodeError::operator=(const DecodeError& other) {
  if (this != &other) p_ = std::make_unique<Payload>(*other.p_);
  return *this;
}

DecodeError DecodeError::end_of_data() {
  return DecodeError(Payload{DecodeErrorKind::EndOfData, "failed to fill whole buffer", 0, {}});
}
DecodeError DecodeError::short_array() {
  return DecodeError(Payload{DecodeErrorKind::ShortArray, "not enough bytes in reader", 0, {}});
}
DecodeError DecodeError::seek() {
  return DecodeError(
      Payload{DecodeErrorKind::Seek, "invalid seek to a negative or overflowing position", 0, {}});
}
DecodeError DecodeError::custom(std::string message, std::uint64_t position) {
  return DecodeError(Payload{DecodeErrorKind::Custom, std::move(message), position, {}});
}
DecodeError DecodeError::io(common::IoError error) {
  if (error.is_unexpected_eof()) return end_of_data();
  return DecodeError(Payload{DecodeErrorKind::Io, error.message(), 0, {}});
}

DecodeError&& DecodeError::with_context(FieldContext ctx) && {
  p_->contexts.push_back(ctx);
  return std::move(*this);
}

DecodeError& DecodeError::add_context(FieldContext ctx) & {
  p_->contexts.push_back(ctx);
  return *this;
}

std::string DecodeError::cause_text() const {
  if (p_->kind == DecodeErrorKind::Custom)
    return fmt::format("{} at 0x{:x}", p_->message, p_->position);
  return p_->message;
}

std::string DecodeError::render() const {
  if (p_->contexts.empty()) return cause_text();
  static constexpr std::string_view kTop =
      "─────────────────────── Backtrace ───────────────────────";
  static constexpr std::string_view kBottom =
      "─────────────────────────────────────────────────────────";
  std::string out;
  out += kTop;
  out += '\n';
  for (std::size_t i = 0; i < p_->contexts.size(); ++i) {
    const FieldContext& c = p_->contexts[i];
    if (i == 0)
      out += fmt::format(" {}: Error: {}\n    {}\n", i, cause_text(), c.text());
    else
      out += fmt::format(" {}: {}\n", i, c.text());
    out += fmt::format("     at {}:{}\n", c.file, c.line);
  }
  out += kBottom;
  return out;
}

}  // namespace strewmill::dat
