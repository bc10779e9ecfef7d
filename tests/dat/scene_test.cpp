#include "lib/dat/scene.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/dat/contexts.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"

namespace strewmill::dat {
namespace {

DecodeResult<Scene> decode(const std::vector<std::uint8_t>& bytes, std::uint64_t* end = nullptr) {
  Cursor cur(bytes);
  auto s = Scene::unpack(cur);
  if (end) *end = cur.position();
  return s;
}

ObjectDesc sample_desc(std::uint32_t seed) {
  const float f = static_cast<float>(seed);
  ObjectDesc d;
  d.obj_id = 0x01000000 + seed;
  d.base_frame = {{f + 0.5f, f + 1.5f, -f}, {1.0f, 0.0f, -0.25f, f}};
  d.frequency = 0.125f * f;
  d.displace_x = 3.0f;
  d.displace_y = -0.0f;
  d.min_scale = 0.75f;
  d.max_scale = std::numeric_limits<float>::infinity();
  d.max_rotation = 360.0f;
  d.min_slope = 0.0f;
  d.max_slope = 1.0f;
  d.scalar_1 = 0xFFFFFFFF;
  d.scalar_2 = seed;
  d.exclude = seed % 2;
  return d;
}

TEST(Scene, RoundTripKeepsEveryDescriptorInOrder) {
  Scene s{0x12000007, {sample_desc(1), sample_desc(2), sample_desc(3)}};
  const auto bytes = tools::encode_scene(s);
  ASSERT_EQ(bytes.size(), 8u + 76u * 3);
  std::uint64_t end = 0;
  auto d = decode(bytes, &end);
  ASSERT_TRUE(d) << d.error().render();
  EXPECT_EQ(*d, s);
  EXPECT_EQ(end, bytes.size());

  // Trailing bytes are ignored.
  auto longer = bytes;
  longer.push_back(0xAB);
  d = decode(longer, &end);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, s);
  EXPECT_EQ(end, bytes.size());
}

TEST(Scene, ValuesAreKeptAsStoredIncludingNaN) {
  ObjectDesc nan_desc = sample_desc(4);
  const float nan = std::bit_cast<float>(0x7FC01234u);
  nan_desc.frequency = nan;
  nan_desc.obj_id = 0x13000000;  // not a placeable kind; still decoded
  const auto bytes = tools::encode_scene(Scene{1, {nan_desc}});
  auto d = decode(bytes);
  ASSERT_TRUE(d);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(d->objects[0].frequency), 0x7FC01234u);
  EXPECT_EQ(d->objects[0].obj_id, 0x13000000u);
}

TEST(Scene, EmptySceneConsumesEightBytes) {
  tools::ByteWriter w;
  w.u32(5).u32(0).u32(0xCCCCCCCC);
  std::uint64_t end = 0;
  auto d = decode(w.bytes(), &end);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->id, 5u);
  EXPECT_TRUE(d->objects.empty());
  EXPECT_EQ(end, 8u);
}

TEST(Scene, DescriptorFieldsFollowTheirOrderOnDisk) {
  tools::ByteWriter w;
  w.u32(9).u32(1).u32(0x02000001).frame(common::Frame{{1, 2, 3}, {1, 0, 0, 0}});
  for (int i = 1; i <= 11; ++i) w.f32(static_cast<float>(i));
  auto d = decode(w.bytes());
  ASSERT_TRUE(d);
  const ObjectDesc& o = d->objects.at(0);
  EXPECT_EQ(o.frequency, 1.0f);
  EXPECT_EQ(o.displace_x, 2.0f);
  EXPECT_EQ(o.displace_y, 3.0f);
  EXPECT_EQ(o.min_scale, 4.0f);
  EXPECT_EQ(o.max_scale, 5.0f);
  EXPECT_EQ(o.max_rotation, 6.0f);
  EXPECT_EQ(o.min_slope, 7.0f);
  EXPECT_EQ(o.max_slope, 8.0f);
  EXPECT_EQ(o.scalar_1, std::bit_cast<std::uint32_t>(9.0f));
  EXPECT_EQ(o.scalar_2, std::bit_cast<std::uint32_t>(10.0f));
  EXPECT_EQ(o.exclude, std::bit_cast<std::uint32_t>(11.0f));
  EXPECT_NE(o.exclude, 0u);
}

TEST(Scene, CountsBeyondTheBytesFailAsEndOfData) {
  for (std::uint32_t count : {3u, 4u, 1000u, 0xFFFFFFFFu}) {
    auto bytes = tools::encode_scene(Scene{1, {sample_desc(1), sample_desc(2), sample_desc(3)}});
    std::memcpy(bytes.data() + 4, &count, 4);
    auto d = decode(bytes);
    if (count == 3) {
      EXPECT_TRUE(d);
      continue;
    }
    ASSERT_FALSE(d) << count;
    EXPECT_EQ(d.error().kind(), DecodeErrorKind::EndOfData) << count;
    EXPECT_TRUE(d.error().contexts().empty()) << count;
  }
}

// Cutting a descriptor at every length: only failures inside the base
// frame carry contexts, and those come from the frame reader.
TEST(Scene, DescriptorTruncationContextsComeOnlyFromTheFrame) {
  tools::ByteWriter w;
  tools::write_object_desc(w, sample_desc(1));
  const auto bytes = w.take();
  ASSERT_EQ(bytes.size(), ObjectDesc::kSize);
  const char* vec_fields[] = {"x", "y", "z"};
  const char* quat_fields[] = {"w", "x", "y", "z"};
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    Cursor cur(cut);
    auto d = ObjectDesc::unpack(cur);
    ASSERT_FALSE(d) << n;
    EXPECT_EQ(d.error().kind(), DecodeErrorKind::EndOfData) << n;
    std::vector<std::string> expected;
    if (n >= 4 && n < 16) {
      expected = {std::string("While parsing field '") + vec_fields[(n - 4) / 4] + "' in Vector3",
                  "While parsing field 'origin' in Frame"};
    } else if (n >= 16 && n < 32) {
      expected = {std::string("While parsing field '") + quat_fields[(n - 16) / 4] +
                      "' in Quaternion",
                  "While parsing field 'orientation' in Frame"};
    }
    EXPECT_EQ(context_texts(d.error()), expected) << n;
  }
}

// Inside a scene, a descriptor that the remaining bytes cannot complete is
// refused by the count check, before any descriptor is read.
TEST(Scene, TruncatedSceneFailsAsPlainEndOfData) {
  const auto bytes = tools::encode_scene(Scene{1, {sample_desc(1), sample_desc(2)}});
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    auto d = decode(cut);
    ASSERT_FALSE(d) << n;
    EXPECT_EQ(d.error().render(), "failed to fill whole buffer") << n;
  }
}

}  // namespace
}  // namespace strewmill::dat
