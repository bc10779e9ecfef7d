// The error of the archive layer and of the cell-record decoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/common/io_error.h"
#include "lib/common/result.h"
#include "lib/dat/decode_error.h"

namespace strewmill::dat {

enum class DatErrorKind : std::uint8_t {
  Io,
  Decode,
  NotFound,
  DuplicateId,
  DuplicateNamespacedId,
  InvalidMagic,
  UnsupportedVersion,
  InvalidNamespace,
  Corruption,
  DecompressionFailed,
  PathError,
  Other,
};

class DatError {
 public:
  static DatError io(common::IoError e);
  static DatError not_found(std::uint32_t id);
  static DatError duplicate_id(std::uint32_t id);
  static DatError duplicate_namespaced_id(std::string ns, std::uint32_t file_id);
  static DatError invalid_magic(std::string text);
  static DatError unsupported_version(std::uint32_t version);
  static DatError invalid_namespace(std::string text);
  static DatError corruption(std::string text);
  static DatError decompression_failed(std::uint32_t id);
  static DatError path_error(std::string path, common::IoError source);
  static DatError other(std::string text);

  // A decode error converts implicitly, so record readers can TRY into a
  // Result<T, DatError>.
  DatError(DecodeError e);  // NOLINT(google-explicit-constructor)

  DatErrorKind kind() const { return kind_; }
  std::uint32_t id() const { return id_; }
  const std::optional<DecodeError>& decode_error() const { return decode_; }
  const std::optional<common::IoError>& io_error() const { return io_; }

  // The display text, e.g. "File ID 13000000 not found in provider".
  std::string message() const;
  // The underlying cause's text, when the variant has one (Io, Decode,
  // PathError).
  std::optional<std::string> cause_message() const;

 private:
  DatError() = default;
  DatErrorKind kind_ = DatErrorKind::Other;
  std::uint32_t id_ = 0;
  std::string text_;  // namespace, path or free text
  std::optional<common::IoError> io_;
  std::optional<DecodeError> decode_;
};

template <class T>
using DatResult = common::Result<T, DatError>;

}  // namespace strewmill::dat
