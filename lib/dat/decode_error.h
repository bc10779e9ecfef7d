// The error of every record reader: one cause plus the field contexts that
// were added while the failure travelled outwards (innermost first).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/common/io_error.h"
#include "lib/common/result.h"

namespace strewmill::dat {

enum class DecodeErrorKind : std::uint8_t {
  EndOfData,   // "failed to fill whole buffer"
  ShortArray,  // "not enough bytes in reader"
  Seek,        // "invalid seek to a negative or overflowing position"
  Custom,      // a decoder's own message plus the stream position
  Io,          // any other I/O error
};

struct FieldContext {
  std::string_view field;   // static strings only
  std::string_view record;
  const char* file = "";
  unsigned line = 0;

  std::string text() const;  // "While parsing field '{field}' in {record}"
};

class DecodeError {
 public:
  static DecodeError end_of_data();
  static DecodeError short_array();
  static DecodeError seek();
  static DecodeError custom(std::string message, std::uint64_t position);
  static DecodeError io(common::IoError error);

  DecodeError(const DecodeError& other);
  DecodeError& operator=(const DecodeError& other);
  DecodeError(DecodeError&&) noexcept = default;
  DecodeError& operator=(DecodeError&&) noexcept = default;
  ~DecodeError() = default;

  DecodeErrorKind kind() const { return p_->kind; }
  // Custom message (without position), or the I/O error's text.
  const std::string& message() const { return p_->message; }
  std::uint64_t position() const { return p_->position; }
  std::span<const FieldContext> contexts() const { return p_->contexts; }

  // Appends one context (the next one further out).
  DecodeError&& with_context(FieldContext ctx) &&;
  DecodeError& add_context(FieldContext ctx) &;

  // The cause alone: "failed to fill whole buffer", "msg at 0x1f", ...
  std::string cause_text() const;
  // The whole error: the cause alone when there is no context, otherwise the
  // numbered backtrace of contexts (entry 0 carries the cause).
  std::string render() const;

 private:
  struct Payload {
    DecodeErrorKind kind;
    std::string message;
    std::uint64_t position = 0;
    std::vector<FieldContext> contexts;
  };
  explicit DecodeError(Payload p);
  // Heap-held so that a successful Result<T, DecodeError> stays small.
  std::unique_ptr<Payload> p_;
};

template <class T>
using DecodeResult = common::Result<T, DecodeError>;

}  // namespace strewmill::dat

// Reads one field of a field-by-field record. On failure the field's context
// is added, the cursor goes back to the record's start and the error is
// returned. `decl` receives the value, e.g.
//   DAT_FIELD(float x, cur, start, cur.f32(), "x", "Vector3");
#define DAT_FIELD(decl, cursor, start, expr, field, record)                        \
  auto SM_UNIQ(dat_field_) = (expr);                                               \
  if (!SM_UNIQ(dat_field_)) {                                                      \
    (cursor).seek(start);                                                          \
    return ::strewmill::common::fail(std::move(SM_UNIQ(dat_field_)).error().with_context( \
        ::strewmill::dat::FieldContext{field, record, __FILE__, __LINE__}));       \
  }                                                                                \
  decl = std::move(SM_UNIQ(dat_field_)).value()

// Same, for a field read only for its effect (a Result<void, DecodeError>).
#define DAT_FIELD_VOID(cursor, start, expr, field, record)                         \
  do {                                                                             \
    auto dat_field_void_ = (expr);                                                 \
    if (!dat_field_void_) {                                                        \
      (cursor).seek(start);                                                        \
      return ::strewmill::common::fail(std::move(dat_field_void_).error().with_context( \
          ::strewmill::dat::FieldContext{field, record, __FILE__, __LINE__}));     \
    }                                                                              \
  } while (0)
