// Byte cursor over one record's bytes. Positions count from the record's
// first byte; reads past the end fail with the end-of-data error.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "lib/dat/decode_error.h"

namespace strewmill::dat {

class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}

  std::uint64_t position() const { return pos_; }
  std::uint64_t size() const { return data_.size(); }
  // Bytes left to read; 0 once the position has been skipped past the end.
  std::uint64_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
  // Puts the cursor back at a position it held before (field-by-field rewind).
  void seek(std::uint64_t pos) { pos_ = pos; }

  // True when `count` elements of at least `min_element_size` bytes each
  // could still be present; used before reserving storage for a count.
  bool can_hold(std::uint64_t count, std::uint64_t min_element_size) const {
    if (min_element_size == 0) return true;
    return count <= remaining() / min_element_size;
  }

  DecodeResult<std::uint8_t> u8() { return scalar<std::uint8_t>(); }
  DecodeResult<std::uint16_t> u16() { return scalar<std::uint16_t>(); }
  DecodeResult<std::uint32_t> u32() { return scalar<std::uint32_t>(); }
  DecodeResult<std::int32_t> i32() { return scalar<std::int32_t>(); }
  DecodeResult<std::uint64_t> u64() { return scalar<std::uint64_t>(); }
  DecodeResult<float> f32() { return scalar<float>(); }
  DecodeResult<double> f64() { return scalar<double>(); }

  // n bytes as a view into the record; end of data when fewer remain.
  DecodeResult<std::span<const std::uint8_t>> bytes(std::uint64_t n) {
    if (remaining() < n) return common::fail(DecodeError::end_of_data());
    auto s = data_.subspan(static_cast<std::size_t>(pos_), static_cast<std::size_t>(n));
    pos_ += n;
    return s;
  }

  // A fixed-length byte array read in one piece; a short one fails with
  // "not enough bytes in reader" instead of the plain end of data.
  DecodeResult<std::span<const std::uint8_t>> byte_array(std::uint64_t n) {
    if (remaining() < n) return common::fail(DecodeError::short_array());
    return bytes(n);
  }

  // Moves forward without reading; may pass the end of the data. Only an
  // overflow of the 64-bit position fails.
  common::Result<void, DecodeError> skip(std::uint64_t n) {
    if (n > UINT64_MAX - pos_) return common::fail(DecodeError::seek());
    pos_ += n;
    return {};
  }

  // Skips to the next multiple of 4 counted from the record's first byte.
  common::Result<void, DecodeError> align4() { return skip((4 - pos_ % 4) % 4); }

 private:
  template <class T>
  DecodeResult<T> scalar() {
    if (remaining() < sizeof(T)) return common::fail(DecodeError::end_of_data());
    T v;
    std::memcpy(&v, data_.data() + pos_, sizeof(T));  // little-endian host
    pos_ += sizeof(T);
    return v;
  }

  std::span<const std::uint8_t> data_;
  std::uint64_t pos_ = 0;
};

}  // namespace strewmill::dat
