#include "lib/dat/geometry_read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dat/contexts.h"
#include "tools/writer/byte_writer.h"

namespace strewmill::dat {
namespace {

TEST(GeometryRead, QuaternionReadsWFirst) {
  tools::ByteWriter w;
  w.f32(1.0f).f32(0).f32(0).f32(0);
  Cursor cur(w.bytes());
  auto q = read_quaternion(cur);
  ASSERT_TRUE(q);
  EXPECT_EQ(*q, (common::Quaternion{1, 0, 0, 0}));
}

TEST(GeometryRead, FrameRoundTrip) {
  const common::Frame f{{1.5f, -2.0f, 3.25f}, {0.5f, 0.25f, -0.125f, 2.0f}};
  tools::ByteWriter w;
  w.frame(f).u8(0x77);
  Cursor cur(w.bytes());
  auto r = read_frame(cur);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, f);
  EXPECT_EQ(cur.position(), 28u);
}

struct TruncationCase {
  const char* name;
  std::size_t bytes_present;
  std::vector<std::string> contexts;
};

TEST(GeometryRead, TruncatedRecordsCarryNestedContextsAndRewind) {
  const TruncationCase vector_cases[] = {
      {"no x", 0, {"While parsing field 'x' in Vector3"}},
      {"no z", 11, {"While parsing field 'z' in Vector3"}},
  };
  for (const auto& c : vector_cases) {
    std::vector<std::uint8_t> b(c.bytes_present + 4, 0);
    Cursor cur(std::span<const std::uint8_t>(b).first(c.bytes_present));
    auto r = read_vector3(cur);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
    EXPECT_EQ(cur.position(), 0u) << c.name;
  }
  const TruncationCase frame_cases[] = {
      {"inside origin", 5,
       {"While parsing field 'y' in Vector3", "While parsing field 'origin' in Frame"}},
      {"inside quaternion z", 26,
       {"While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame"}},
  };
  for (const auto& c : frame_cases) {
    std::vector<std::uint8_t> b(c.bytes_present + 4, 0);
    // Start the frame at offset 4 to show the rewind goes to the frame's start.
    std::vector<std::uint8_t> rec(4, 0);
    rec.insert(rec.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(c.bytes_present));
    Cursor cur(rec);
    ASSERT_TRUE(cur.skip(4));
    auto r = read_frame(cur);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
    EXPECT_EQ(cur.position(), 4u) << c.name;
  }
}

TEST(DecodeError, RendersBacktraceWithCauseInFirstEntry) {
  std::vector<std::uint8_t> b(26, 0);
  Cursor cur(b);
  auto r = read_frame(cur);
  ASSERT_FALSE(r);
  const std::string text = r.error().render();
  const std::string expected =
      std::string("─────────────────────── Backtrace ───────────────────────\n")
      + " 0: Error: failed to fill whole buffer\n"
      "    While parsing field 'z' in Quaternion\n"
      "     at lib/dat/geometry_read.cpp:" + std::to_string(r.error().contexts()[0].line) + "\n"
      " 1: While parsing field 'orientation' in Frame\n"
      "     at lib/dat/geometry_read.cpp:" + std::to_string(r.error().contexts()[1].line) + "\n"
      "─────────────────────────────────────────────────────────";
  EXPECT_EQ(text, expected);
}

TEST(DecodeError, CustomErrorShowsPositionInLowerHex) {
  auto e = DecodeError::custom("Unsupported AnimationHook type: 0x0000001B", 0x2C);
  EXPECT_EQ(e.render(), "Unsupported AnimationHook type: 0x0000001B at 0x2c");
}

}  // namespace
}  // namespace strewmill::dat
