// Little-endian byte builder used by the record encoders to produce the
// exact bytes the decoders read.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "lib/common/geometry.h"

namespace strewmill::tools {

class ByteWriter {
 public:
  std::vector<std::uint8_t>& bytes() { return buf_; }
  const std::vector<std::uint8_t>& bytes() const { return buf_; }
  std::vector<std::uint8_t> take() { return std::move(buf_); }
  std::size_t size() const { return buf_.size(); }

  ByteWriter& u8(std::uint8_t v) { return raw(&v, 1); }
  ByteWriter& u16(std::uint16_t v) { return raw(&v, 2); }
  ByteWriter& u32(std::uint32_t v) { return raw(&v, 4); }
  ByteWriter& i32(std::int32_t v) { return raw(&v, 4); }
  ByteWriter& u64(std::uint64_t v) { return raw(&v, 8); }
  ByteWriter& f32(float v) { return raw(&v, 4); }
  ByteWriter& f64(double v) { return raw(&v, 8); }
  ByteWriter& append(std::span<const std::uint8_t> b) {
    buf_.insert(buf_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& zeros(std::size_t n) {
    buf_.insert(buf_.end(), n, 0);
    return *this;
  }
  // Pads with zero bytes to a multiple of 4 from the start of the buffer
  // (the record's first byte).
  ByteWriter& align4() { return zeros((4 - buf_.size() % 4) % 4); }

  // The packed count: 1 byte below 0x80, 2 bytes below 0x4000, else 4.
  ByteWriter& compressed_u32(std::uint32_t v) {
    if (v < 0x80) return u8(static_cast<std::uint8_t>(v));
    if (v < 0x4000) return u8(static_cast<std::uint8_t>(0x80 | (v >> 8))).u8(v & 0xFF);
    return u8(static_cast<std::uint8_t>(0xC0 | ((v >> 24) & 0x3F)))
        .u8((v >> 16) & 0xFF)
        .u16(v & 0xFFFF);
  }
  // Length-prefixed text (raw bytes, any encoding) plus alignment to 4.
  ByteWriter& pstring(std::string_view raw_bytes) {
    if (raw_bytes.size() >= 0xFFFF) {
      u16(0xFFFF).u32(static_cast<std::uint32_t>(raw_bytes.size()));
    } else {
      u16(static_cast<std::uint16_t>(raw_bytes.size()));
    }
    raw(raw_bytes.data(), raw_bytes.size());
    return align4();
  }

  ByteWriter& vector3(const common::Vector3& v) { return f32(v.x).f32(v.y).f32(v.z); }
  ByteWriter& quaternion(const common::Quaternion& q) { return f32(q.w).f32(q.x).f32(q.y).f32(q.z); }
  ByteWriter& plane(const common::Plane& p) { return vector3(p.normal).f32(p.d); }
  ByteWriter& sphere(const common::Sphere& s) { return vector3(s.center).f32(s.radius); }
  ByteWriter& frame(const common::Frame& f) { return vector3(f.origin).quaternion(f.orientation); }

 private:
  ByteWriter& raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
    return *this;
  }
  std::vector<std::uint8_t> buf_;
};

}  // namespace strewmill::tools
