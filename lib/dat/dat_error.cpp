#include "lib/dat/dat_error.h"

#include <fmt/format.h>

namespace strewmill::dat {

DatError DatError::io(common::IoError e) {
  DatError d;
  d.kind_ = DatErrorKind::Io;
  d.io_ = std::move(e);
  return d;
}

DatError::DatError(DecodeError e) : kind_(DatErrorKind::Decode), decode_(std::move(e)) {}

#define DAT_ERROR_WITH_ID(fn, kind)      \
  DatError DatError::fn(std::uint32_t id) { \
    DatError d;                          \
    d.kind_ = DatErrorKind::kind;        \
    d.id_ = id;                          \
    return d;                            \
  }
DAT_ERROR_WITH_ID(not_found, NotFound)
DAT_ERROR_WITH_ID(duplicate_id, DuplicateId)
DAT_ERROR_WITH_ID(unsupported_version, UnsupportedVersion)
DAT_ERROR_WITH_ID(decompression_failed, DecompressionFailed)
#undef DAT_ERROR_WITH_ID

#define DAT_ERROR_WITH_TEXT(fn, kind)         \
  DatError DatError::fn(std::string text) {   \
    DatError d;                               \
    d.kind_ = DatErrorKind::kind;             \
    d.text_ = std::move(text);                \
    return d;                                 \
  }
DAT_ERROR_WITH_TEXT(invalid_magic, InvalidMagic)
DAT_ERROR_WITH_TEXT(invalid_namespace, InvalidNamespace)
DAT_ERROR_WITH_TEXT(corruption, Corruption)
DAT_ERROR_WITH_TEXT(other, Other)
#undef DAT_ERROR_WITH_TEXT

DatError DatError::duplicate_namespaced_id(std::string ns, std::uint32_t file_id) {
  DatError d;
  d.kind_ = DatErrorKind::DuplicateNamespacedId;
  d.text_ = std::move(ns);
  d.id_ = file_id;
  return d;
}

DatError DatError::path_error(std::string path, common::IoError source) {
  DatError d;
  d.kind_ = DatErrorKind::PathError;
  d.text_ = std::move(path);
  d.io_ = std::move(source);
  return d;
}

std::string DatError::message() const {
  switch (kind_) {
    case DatErrorKind::Io: return fmt::format("IO error: {}", io_->message());
    case DatErrorKind::Decode: return fmt::format("Binary read error: {}", decode_->render());
    case DatErrorKind::NotFound: return fmt::format("File ID {:08X} not found in provider", id_);
    case DatErrorKind::DuplicateId: return fmt::format("Duplicate File ID {:08X} detected", id_);
    case DatErrorKind::DuplicateNamespacedId:
      return fmt::format("Duplicate namespaced file {}:{:08X} detected", text_, id_);
    case DatErrorKind::InvalidMagic: return fmt::format("Invalid magic for format: {}", text_);
    case DatErrorKind::UnsupportedVersion: return fmt::format("Unsupported version: {}", id_);
    case DatErrorKind::InvalidNamespace: return fmt::format("Invalid namespace: {}", text_);
    case DatErrorKind::Corruption: return fmt::format("Corruption detected: {}", text_);
    case DatErrorKind::DecompressionFailed:
      return fmt::format("Failed to recover compressed file {:08X}", id_);
    case DatErrorKind::PathError:
      return fmt::format("Failed to open file at {}: {}", text_, io_->message());
    case DatErrorKind::Other: return fmt::format("Other error: {}", text_);
  }
  return {};
}

std::optional<std::string> DatError::cause_message() const {
  switch (kind_) {
    case DatErrorKind::Io:
    case DatErrorKind::PathError: return io_->message();
    case DatErrorKind::Decode: return decode_->render();
    default: return std::nullopt;
  }
}

}  // namespace strewmill::dat
