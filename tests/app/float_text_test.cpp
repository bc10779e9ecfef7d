#include "apps/strewmill/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "apps/strewmill/emit_bits.h"

namespace strewmill::app {
namespace {

// Sets EMIT_BITS for one test and restores it afterwards.
class EmitBitsScope {
 public:
  explicit EmitBitsScope(bool on) : saved_(EMIT_BITS.exchange(on)) {}
  ~EmitBitsScope() { EMIT_BITS.store(saved_); }

 private:
  bool saved_;
};

float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }

struct Case {
  float value;
  const char* text;
};

TEST(FloatText, SixDecimalsOfTheExactValue) {
  EmitBitsScope bits(false);
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {0.0f, "0.000000"},
      {-0.0f, "0.000000"},  // only an exact zero loses its sign
      {1.0f, "1.000000"},
      {0.5f, "0.500000"},
      {-1.5f, "-1.500000"},
      {96.25f, "96.250000"},
      // Exact binary ties at the sixth decimal go to the even digit.
      {1.0f / 128, "0.007812"},
      {3.0f / 128, "0.023438"},
      {5.0f / 128, "0.039062"},
      {7.0f / 128, "0.054688"},
      {-1.0f / 128, "-0.007812"},
      {1000.0f + 1.0f / 128, "1000.007812"},
      // Not ties: the float lies just off the decimal midpoint.
      {0.1f, "0.100000"},
      {0.0000015f, "0.000002"},  // 1.50000005e-6 > the midpoint
      {0.0000025f, "0.000002"},  // 2.49999994e-6 < the midpoint
      {std::ldexp(1.0f, -21), "0.000000"},  // 4.77e-7, below half a step
      {std::ldexp(1.0f, -20), "0.000001"},  // 9.54e-7
      {-1e-9f, "-0.000000"},
      {from_bits(0x80000001u), "-0.000000"},  // smallest negative subnormal
      {0.9999995f, "1.000000"},  // rounding carries into the integer part
      {999999.9375f, "999999.937500"},
      {16777216.0f, "16777216.000000"},
      {std::ldexp(1.0f, 63), "9223372036854775808.000000"},
      {std::ldexp(1.0f, 64), "18446744073709551616.000000"},
      {std::numeric_limits<float>::denorm_min(), "0.000000"},
      {std::numeric_limits<float>::max(), "340282346638528859811704183484516925440.000000"},
      {-std::numeric_limits<float>::max(), "-340282346638528859811704183484516925440.000000"},
      {1e20f, "100000002004087734272.000000"},
      {inf, "inf"},
      {-inf, "-inf"},
      {std::numeric_limits<float>::quiet_NaN(), "NaN"},
      {-std::numeric_limits<float>::quiet_NaN(), "NaN"},
      {from_bits(0x7F800001u), "NaN"},  // signalling pattern
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_f32_six_sig(c.value), c.text) << "bits 0x" << std::hex
                                                   << std::bit_cast<std::uint32_t>(c.value);
  }
}

TEST(FloatText, RawBitsUnderEmitBits) {
  EmitBitsScope bits(true);
  const Case cases[] = {
      {1.0f, "1065353216"},
      {-1.0f, "3212836864"},
      {0.0f, "0"},
      {-0.0f, "0"},
      {from_bits(0xFFFFFFFFu), "4294967295"},  // a NaN keeps its pattern
      {std::numeric_limits<float>::infinity(), "2139095040"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_f32_six_sig(c.value), c.text);
}

// Cross-check against glibc's printf, which rounds the exact value too, over
// a spread of bit patterns; the buffer variant must also stay within its
// declared size.
TEST(FloatText, AgreesWithExactPrintfAcrossBitPatterns) {
  EmitBitsScope bits(false);
  std::mt19937 rng(7);
  char expected[512];
  for (int i = 0; i < 200000; ++i) {
    const float v = from_bits(static_cast<std::uint32_t>(rng()));
    if (!std::isfinite(v) || v == 0.0f) continue;
    std::snprintf(expected, sizeof expected, "%.6f", static_cast<double>(v));
    char buf[kF32TextMax];
    char* end = append_f32_six_sig(buf, v);
    ASSERT_LE(end - buf, static_cast<std::ptrdiff_t>(kF32TextMax));
    ASSERT_EQ(std::string(buf, end), expected) << std::bit_cast<std::uint32_t>(v);
  }
}

// The same cross-check where placement fields live: magnitudes below 2000,
// where the integer part takes its short paths, including values that
// round up into one more integer digit.
TEST(FloatText, AgreesWithExactPrintfForFieldSizedValues) {
  EmitBitsScope bits(false);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> field(-2000.0f, 2000.0f);
  std::vector<float> values = {9.9999995f, 99.9999995f, 999.9999995f, 0.9999996f, -9.9999995f, 1000.0f, 999.0f};
  for (int i = 0; i < 200000; ++i) values.push_back(field(rng));
  char expected[512];
  for (const float v : values) {
    std::snprintf(expected, sizeof expected, "%.6f", static_cast<double>(v));
    ASSERT_EQ(format_f32_six_sig(v), expected) << v;
  }
}

}  // namespace
}  // namespace strewmill::app
