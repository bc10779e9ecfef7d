#include "lib/dat/primitives.h"

#include <array>

namespace strewmill::dat {

DecodeResult<std::uint32_t> read_compressed_u32(Cursor& cur) {
  TRY_ASSIGN(const std::uint32_t b0, cur.u8());
  if (b0 < 0x80) return b0;
  TRY_ASSIGN(const std::uint32_t b1, cur.u8());
  if ((b0 & 0x40) == 0) return ((b0 & 0x3F) << 8) + b1;
  TRY_ASSIGN(const std::uint32_t w, cur.u16());
  return ((b0 & 0x3F) << 24) + (b1 << 16) + w;
}

DecodeResult<std::vector<std::uint32_t>> read_smart_vec(Cursor& cur) {
  TRY_ASSIGN(const std::uint32_t n, read_compressed_u32(cur));
  // Never reserve more than the remaining bytes could hold; a longer count
  // fails with end of data when the words run out.
  if (!cur.can_hold(n, 4)) return common::fail(DecodeError::end_of_data());
  std::vector<std::uint32_t> words;
  words.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    TRY_ASSIGN(const std::uint32_t w, cur.u32());
    words.push_back(w);
  }
  return words;
}

namespace {

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr std::uint32_t kReplacement = 0xFFFD;

// WHATWG windows-1252 index for bytes 0x80 to 0x9F; other bytes map to
// the code point of the same value.
constexpr std::array<std::uint16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string decode_windows1252(std::span<const std::uint8_t> in) {
  std::string out;
  out.reserve(in.size());
  for (std::uint8_t b : in)
    append_utf8(out, (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : b);
  return out;
}

// The WHATWG UTF-8 decoder with replacement.
std::string decode_utf8(std::span<const std::uint8_t> in) {
  std::string out;
  out.reserve(in.size());
  std::uint32_t cp = 0, needed = 0, seen = 0, lower = 0x80, upper = 0xBF;
  std::size_t i = 0;
  while (i < in.size()) {
    const std::uint8_t b = in[i];
    if (needed == 0) {
      ++i;
      if (b <= 0x7F) {
        out += static_cast<char>(b);
      } else if (b >= 0xC2 && b <= 0xDF) {
        needed = 1;
        cp = b & 0x1F;
      } else if (b >= 0xE0 && b <= 0xEF) {
        if (b == 0xE0) lower = 0xA0;
        if (b == 0xED) upper = 0x9F;
        needed = 2;
        cp = b & 0x0F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        if (b == 0xF0) lower = 0x90;
        if (b == 0xF4) upper = 0x8F;
        needed = 3;
        cp = b & 0x07;
      } else {
        append_utf8(out, kReplacement);
      }
      continue;
    }
    if (b < lower || b > upper) {
      // The byte is reprocessed as the start of a new sequence.
      cp = needed = seen = 0;
      lower = 0x80;
      upper = 0xBF;
      append_utf8(out, kReplacement);
      continue;
    }
    ++i;
    lower = 0x80;
    upper = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    if (++seen == needed) {
      append_utf8(out, cp);
      cp = needed = seen = 0;
    }
  }
  if (needed != 0) append_utf8(out, kReplacement);
  return out;
}

// The WHATWG shared UTF-16 decoder with replacement.
std::string decode_utf16(std::span<const std::uint8_t> in, bool big_endian) {
  std::string out;
  out.reserve(in.size() * 3 / 2);
  std::uint32_t lead_surrogate = 0;  // 0: none
  std::size_t i = 0;
  for (; i + 1 < in.size(); i += 2) {
    const std::uint32_t unit = big_endian ? (std::uint32_t{in[i]} << 8) | in[i + 1]
                                          : (std::uint32_t{in[i + 1]} << 8) | in[i];
    if (lead_surrogate != 0) {
      const std::uint32_t lead = lead_surrogate;
      lead_surrogate = 0;
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
        continue;
      }
      append_utf8(out, kReplacement);  // then the unit is handled afresh
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      lead_surrogate = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, unit);
    }
  }
  // A dangling byte or lead surrogate ends the stream with one replacement.
  if (i < in.size() || lead_surrogate != 0) append_utf8(out, kReplacement);
  return out;
}

}  // namespace

std::string decode_archive_text(std::span<const std::uint8_t> b) {
  if (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    return decode_utf8(b.subspan(3));
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return decode_utf16(b.subspan(2), false);
  if (b.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return decode_utf16(b.subspan(2), true);
  return decode_windows1252(b);
}

DecodeResult<std::string> read_pstring_char(Cursor& cur) {
  TRY_ASSIGN(std::uint64_t len, cur.u16());
  if (len == 0xFFFF) {
    TRY_ASSIGN(len, cur.u32());
  }
  std::span<const std::uint8_t> raw;
  if (len > 0) {
    TRY_ASSIGN(raw, cur.bytes(len));
  }
  TRY(cur.align4());
  std::size_t end = raw.size();
  while (end > 0 && raw[end - 1] == 0) --end;
  // Cutting zero bytes must not split a UTF-16 code unit: "A" stored as
  // FF FE 41 00 would otherwise lose its high byte and decode as U+FFFD.
  const bool utf16 = raw.size() >= 2 && ((raw[0] == 0xFF && raw[1] == 0xFE) ||
                                         (raw[0] == 0xFE && raw[1] == 0xFF));
  if (utf16 && end >= 2 && (end - 2) % 2 == 1 && end < raw.size()) ++end;
  return decode_archive_text(raw.first(end));
}

}  // namespace strewmill::dat
