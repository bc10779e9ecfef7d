// The text of one float field in a placement line.
#pragma once

#include <cstddef>
#include <string>

namespace strewmill::app {

// Room for the longest text: "-", 39 integer digits (FLT_MAX), ".", six
// decimals; the raw-bits form needs at most 10 digits.
inline constexpr std::size_t kF32TextMax = 48;

// Writes the text of `v` at `out`, which must have kF32TextMax bytes of room,
// and returns one past the last byte written. No allocation.
//
// Zero of either sign is written as positive zero. With EMIT_BITS set the
// text is the value's IEEE-754 bit pattern as an unsigned decimal; otherwise
// it is the exact binary value rounded to six decimals (ties to even), in
// fixed notation with no exponent, or "NaN", "inf", "-inf". Negative values
// that round to zero keep their sign ("-0.000000").
char* append_f32_six_sig(char* out, float v);

std::string format_f32_six_sig(float v);

}  // namespace strewmill::app
