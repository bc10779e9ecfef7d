// Readers for the encodings that recur across record types.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lib/dat/cursor.h"

namespace strewmill::dat {

// Packed count: 1, 2 or 4 bytes chosen by the top bits of the first byte.
DecodeResult<std::uint32_t> read_compressed_u32(Cursor& cur);

// A packed count n followed by n 32-bit words.
DecodeResult<std::vector<std::uint32_t>> read_smart_vec(Cursor& cur);

// Length-prefixed text, realigned to 4 bytes from the record start, trailing
// zero bytes cut, decoded to UTF-8.
DecodeResult<std::string> read_pstring_char(Cursor& cur);

// Decodes archive text bytes (already cut at their last non-zero byte) to
// UTF-8: UTF-8 or UTF-16 when a byte-order mark says so, windows-1252
// otherwise. Malformed sequences become U+FFFD; never fails.
std::string decode_archive_text(std::span<const std::uint8_t> bytes);

}  // namespace strewmill::dat
