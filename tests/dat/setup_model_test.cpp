#include "lib/dat/setup_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/dat/contexts.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/object_records.h"

namespace strewmill::dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using common::Frame;
using common::Sphere;
using common::Vector3;
using tools::ByteWriter;

DecodeResult<SetupModel> unpack(const Bytes& bytes) {
  Cursor cur(bytes);
  return SetupModel::unpack(cur);
}

Frame frame(float base) {
  return Frame{{base, base + 1, base + 2}, {base + 3, base + 4, base + 5, base + 6}};
}

// Payload bytes per hook type (type 5 is variable and built apart).
constexpr int kPayloadSize[27] = {0,  4,  4, 28, 0,  -1, 4,  16, 12, 16, 12, 16, 8, 40,
                                  4,  4,  4, 0,  4,  8,  12, 16, 12, 8,  12, 4,  40};

AnimationHook hook(std::uint32_t type) {
  AnimationHook h{type, 0xAB000000u + type, {}};
  for (int i = 0; i < kPayloadSize[type]; ++i) h.payload.push_back(static_cast<std::uint8_t>(type * 3 + i));
  return h;
}

// Every optional part present, every hook type, both type-5 forms with
// non-zero padding (kept as read).
SetupModel full_setup() {
  SetupModel m;
  m.id = 0x02000ABC;
  m.flags = 0x103;  // both per-part blocks, plus a bit without effect
  m.part_ids = {0x01000001, 0x01000002};
  m.part_values = {0x3F800000, 0xFFFFFFFF};
  m.part_vectors = {{1, 2, 3}, {-4, 5.5f, -0.0f}};
  m.locations_1 = {{1, {7, frame(10)}}, {0xFFFFFFFF, {8, frame(20)}}};
  m.locations_2 = {{9, {0, frame(30)}}};
  PlacementType all_hooks;
  all_hooks.frames = {frame(40), frame(50)};
  for (std::uint32_t t = 0; t <= 26; ++t) {
    if (t == 5) {
      all_hooks.hooks.push_back({5, 1, {0x11, 0xFF, 0x7F, 0xEE}});
      all_hooks.hooks.push_back({5, 2, {0x22, 0x00, 0x80, 0x34, 0x12, 0xA1, 0xA2, 0xA3}});
    } else {
      all_hooks.hooks.push_back(hook(t));
    }
  }
  m.placements = {{0, std::move(all_hooks)}, {0x65, {{frame(60), frame(70)}, {}}}};
  m.cyl_spheres = {{{1, 1, 1}, 2, 3}, {{4, 4, 4}, 5, 6}};
  m.spheres = {{{7, 8, 9}, 10}};
  m.scalar_1 = 0x7FC00001;  // a NaN pattern, kept bit for bit
  m.scalar_2 = 2;
  m.scalar_3 = 3;
  m.scalar_4 = 0xFFFFFFFF;
  m.sphere_1 = {{0.5f, 0.25f, 0.125f}, 9};
  m.sphere_2 = {{-1, -2, -3}, 0};
  m.lights = {{3, {frame(80), 0xFF00FF00, 1.5f, 2.5f, 0.75f}}, {4, {frame(90), 1, 0, 0, 0}}};
  m.optional_id_1 = 0x33000001;
  m.default_script_id = 0x33000002;
  m.optional_id_3 = 0x33000003;
  m.optional_id_4 = 0x33000004;
  m.optional_id_5 = 0x33000005;
  return m;
}

// The fixed-size tail of a record whose lists are all empty, from the
// locations_1 count on.
void empty_tail(ByteWriter& w) {
  w.u32(0).u32(0).i32(0).u32(0).u32(0);
  w.zeros(16 + 32).u32(0).zeros(20);
}

TEST(SetupModel, RoundTripsEveryPartAndHookType) {
  const SetupModel m = full_setup();
  const Bytes bytes = tools::encode_setup_model(m);
  Cursor cur(bytes);
  auto r = SetupModel::unpack(cur);
  ASSERT_TRUE(r) << r.error().render();
  EXPECT_EQ(*r, m);
  EXPECT_EQ(cur.position(), bytes.size());
  // Payloads keep their padding: every one is a multiple of 4 long.
  for (const AnimationHook& h : r->placements.at(0).hooks) EXPECT_EQ(h.payload.size() % 4, 0u);

  // Every shorter prefix fails; none crashes or yields a partial record.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(unpack(Bytes(bytes.begin(), bytes.begin() + n))) << "length " << n;
  }
}

TEST(SetupModel, ReadsFieldsInStreamOrder) {
  // Hand-written, so the encoder cannot hide a field-order mistake.
  ByteWriter w;
  w.u32(0x02000001).u32(3).u32(1).u32(0x01000AAA);  // id, flags, one part
  w.u32(0x11111111);                                // part_values
  w.vector3({1, 2, 3});                             // part_vectors
  w.u32(1).u32(5).u32(0x22).frame(frame(1));        // locations_1
  w.u32(1).u32(6).u32(0x23).frame(frame(2));        // locations_2
  w.i32(1).u32(7).frame(frame(3)).u32(1).u32(4).u32(0x44);  // one placement, hook type 4
  w.u32(1).vector3({4, 5, 6}).f32(7).f32(8);        // cyl_spheres
  w.u32(1).sphere({{9, 10, 11}, 12});               // spheres
  w.u32(21).u32(22).u32(23).u32(24);                // scalars
  w.sphere({{13, 14, 15}, 16}).sphere({{17, 18, 19}, 20});
  w.u32(1).u32(8).frame(frame(4)).u32(0xC0105).f32(0.5f).f32(0.25f).f32(0.125f);
  w.u32(0).u32(0x33000002).u32(0).u32(0).u32(0x33000005);
  w.u32(0xDEADBEEF);  // trailing bytes are ignored

  auto r = unpack(w.bytes());
  ASSERT_TRUE(r) << r.error().render();
  const SetupModel& m = *r;
  EXPECT_EQ(m.id, 0x02000001u);
  EXPECT_EQ(m.part_ids, (std::vector<std::uint32_t>{0x01000AAA}));
  EXPECT_EQ(m.part_values, (std::vector<std::uint32_t>{0x11111111}));
  EXPECT_EQ(m.part_vectors, (std::vector<Vector3>{{1, 2, 3}}));
  EXPECT_EQ(m.locations_1.at(5), (LocationType{0x22, frame(1)}));
  EXPECT_EQ(m.locations_2.at(6), (LocationType{0x23, frame(2)}));
  const PlacementType& p = m.placements.at(7);
  EXPECT_EQ(p.frames, (std::vector<Frame>{frame(3)}));
  EXPECT_EQ(p.hooks, (std::vector<AnimationHook>{{4, 0x44, {}}}));
  EXPECT_EQ(m.cyl_spheres, (std::vector<CylSphere>{{{4, 5, 6}, 7, 8}}));
  EXPECT_EQ(m.spheres, (std::vector<Sphere>{{{9, 10, 11}, 12}}));
  EXPECT_EQ(m.scalar_1, 21u);
  EXPECT_EQ(m.scalar_4, 24u);
  EXPECT_EQ(m.sphere_1, (Sphere{{13, 14, 15}, 16}));
  EXPECT_EQ(m.sphere_2, (Sphere{{17, 18, 19}, 20}));
  EXPECT_EQ(m.lights.at(8), (LightInfo{frame(4), 0xC0105, 0.5f, 0.25f, 0.125f}));
  EXPECT_EQ(m.optional_id_1, std::nullopt);
  EXPECT_EQ(m.default_script_id, 0x33000002u);
  EXPECT_EQ(m.optional_id_3, std::nullopt);
  EXPECT_EQ(m.optional_id_4, std::nullopt);
  EXPECT_EQ(m.optional_id_5, 0x33000005u);
}

TEST(SetupModel, EmptyRecordIs104BytesAndFlagsSelectThePerPartBlocks) {
  struct Case {
    std::uint32_t flags;
    std::size_t values;
    std::size_t vectors;
  };
  const Case cases[] = {{0, 0, 0}, {1, 2, 0}, {2, 0, 2}, {3, 2, 2}, {0xFFFFFFFC, 0, 0},
                        {0xFFFFFFFF, 2, 2}};
  for (const Case& c : cases) {
    ByteWriter w;
    w.u32(0x02000002).u32(c.flags).u32(2).u32(10).u32(11);
    for (std::size_t i = 0; i < c.values; ++i) w.u32(0x100 + static_cast<std::uint32_t>(i));
    for (std::size_t i = 0; i < c.vectors; ++i) w.vector3({1, 2, static_cast<float>(i)});
    empty_tail(w);
    Cursor cur(w.bytes());
    auto r = SetupModel::unpack(cur);
    ASSERT_TRUE(r) << "flags " << c.flags << ": " << r.error().render();
    EXPECT_EQ(cur.position(), w.size()) << "flags " << c.flags;
    EXPECT_EQ(r->part_values.size(), c.values) << "flags " << c.flags;
    EXPECT_EQ(r->part_vectors.size(), c.vectors) << "flags " << c.flags;
    EXPECT_EQ(r->flags, c.flags);
  }

  ByteWriter w;
  w.u32(0x02000003).u32(0).u32(0);
  empty_tail(w);
  ASSERT_EQ(w.size(), 104u);
  auto r = unpack(w.bytes());
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->part_ids.empty());
  EXPECT_TRUE(r->placements.empty());
  EXPECT_TRUE(r->lights.empty());
  EXPECT_EQ(r->default_script_id, std::nullopt);  // a stored 0 is absent
}

TEST(SetupModel, LaterEntryOfARepeatedKeyWins) {
  ByteWriter w;
  w.u32(0x02000004).u32(0).u32(0);
  w.u32(2).u32(5).u32(1).frame(frame(1)).u32(5).u32(2).frame(frame(2));
  w.u32(0);
  w.i32(2).u32(9).u32(1).u32(0).u32(0).u32(9).u32(1).u32(17).u32(0xCC);
  w.u32(0).u32(0).zeros(16 + 32);
  w.u32(2).u32(3).frame(frame(3)).u32(1).zeros(12).u32(3).frame(frame(4)).u32(2).zeros(12);
  w.zeros(20);
  auto r = unpack(w.bytes());
  ASSERT_TRUE(r) << r.error().render();
  EXPECT_EQ(r->locations_1.size(), 1u);
  EXPECT_EQ(r->locations_1.at(5).part_id, 2u);
  EXPECT_EQ(r->placements.size(), 1u);
  EXPECT_EQ(r->placements.at(9).hooks, (std::vector<AnimationHook>{{17, 0xCC, {}}}));
  EXPECT_EQ(r->lights.size(), 1u);
  EXPECT_EQ(r->lights.at(3).color, 2u);
}

TEST(SetupModel, TypeFiveHookLengthFollowsTheSignOfItsWord) {
  struct Case {
    std::uint16_t word;
    Bytes payload;
  };
  const Case cases[] = {
      {0x7FFF, {0x5A, 0xFF, 0x7F, 0xD1}},
      {0x8000, {0x5A, 0x00, 0x80, 0xB1, 0xB2, 0xD1, 0xD2, 0xD3}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    w.u32(1).u32(5).u32(0xF00D).append(c.payload);
    Cursor cur(w.bytes());
    auto r = PlacementType::read(cur, 0);
    ASSERT_TRUE(r) << r.error().render();
    EXPECT_EQ(r->hooks, (std::vector<AnimationHook>{{5, 0xF00D, c.payload}}));
    EXPECT_EQ(cur.position(), w.size());
    // Without its last padding byte the hook is cut short.
    Cursor cut(std::span(w.bytes()).first(w.size() - 1));
    auto e = PlacementType::read(cut, 0);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().kind(), DecodeErrorKind::EndOfData);
  }
}

TEST(SetupModel, CustomErrorsCarryTheirTextAndPosition) {
  struct Case {
    std::string name;
    std::function<void(ByteWriter&)> build;
    std::string message;
    std::uint64_t position;
  };
  const Case cases[] = {
      {"placement count 0x80000000",
       [](ByteWriter& w) { w.u32(0x02ABCDEF).u32(0).u32(0).u32(0).u32(0).u32(0x80000000); },
       "SetupModel 0x02ABCDEF declared negative placement count -2147483648", 24},
      {"placement count -1",
       [](ByteWriter& w) { w.u32(0x0200000A).u32(0).u32(0).u32(0).u32(0).i32(-1); },
       "SetupModel 0x0200000A declared negative placement count -1", 24},
      {"hook type 27 after a valid hook",
       [](ByteWriter& w) {
         w.u32(0x02000001).u32(0).u32(0).u32(0).u32(0).i32(1).u32(0);
         w.u32(2).u32(26).u32(0).zeros(40).u32(27).u32(0);
       },
       "Unsupported AnimationHook type: 0x0000001B", 32 + 48 + 8},
      {"hook type 0xFFFFFFFF",
       [](ByteWriter& w) {
         w.u32(0x02000001).u32(0).u32(0).u32(0).u32(0).i32(1).u32(0);
         w.u32(1).u32(0xFFFFFFFF).u32(0);
       },
       "Unsupported AnimationHook type: 0xFFFFFFFF", 32 + 8},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    empty_tail(w);  // a complete record after the fault changes nothing
    auto r = unpack(w.bytes());
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::Custom) << c.name;
    EXPECT_EQ(r.error().message(), c.message) << c.name;
    EXPECT_EQ(r.error().position(), c.position) << c.name;
    EXPECT_TRUE(r.error().contexts().empty()) << c.name;
  }
}

// Record prefixes up to a list, for the truncation table.
void head(ByteWriter& w, std::uint32_t flags = 0, std::uint32_t parts = 0) {
  w.u32(0x02000001).u32(flags).u32(parts);
  for (std::uint32_t i = 0; i < parts; ++i) w.u32(0x01000000 + i);
}
void up_to_cyl_spheres(ByteWriter& w) {
  head(w);
  w.u32(0).u32(0).i32(0);
}
void up_to_lights(ByteWriter& w) {
  up_to_cyl_spheres(w);
  w.u32(0).u32(0).zeros(16 + 32);
}

TEST(SetupModel, TruncationsFailWithEndOfDataAndTheFieldContexts) {
  struct Case {
    std::string name;
    std::function<void(ByteWriter&)> build;
    std::vector<std::string> contexts;
  };
  const std::string vec_x = "While parsing field 'x' in Vector3";
  const std::string vec_y = "While parsing field 'y' in Vector3";
  const std::string vec_z = "While parsing field 'z' in Vector3";
  const std::string frame_origin = "While parsing field 'origin' in Frame";
  const Case cases[] = {
      {"part count", [](ByteWriter& w) { head(w); w.bytes().resize(11); }, {}},
      {"part vector", [](ByteWriter& w) { head(w, 2, 1); w.zeros(5); }, {vec_y}},
      {"location key", [](ByteWriter& w) { head(w); w.u32(1).zeros(3); }, {}},
      {"location part_id",
       [](ByteWriter& w) { head(w); w.u32(1).u32(5).zeros(3); },
       {"While parsing field 'part_id' in LocationType"}},
      {"location frame quaternion z",
       [](ByteWriter& w) { head(w); w.u32(0).u32(1).u32(5).u32(0).zeros(12 + 12 + 2); },
       {"While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame",
        "While parsing field 'frame' in LocationType"}},
      {"placement frame",
       [](ByteWriter& w) { head(w, 0, 1); w.u32(0).u32(0).i32(1).u32(3).zeros(10); },
       {vec_z, frame_origin}},
      {"hook count", [](ByteWriter& w) { head(w); w.u32(0).u32(0).i32(1).u32(3).zeros(2); }, {}},
      {"hook payload",
       [](ByteWriter& w) { head(w); w.u32(0).u32(0).i32(1).u32(3).u32(1).u32(3).u32(0).zeros(27); },
       {}},
      {"type 5 second word",
       [](ByteWriter& w) {
         head(w);
         w.u32(0).u32(0).i32(1).u32(3).u32(1).u32(5).u32(0).u8(1).u16(0x8000).u8(0);
       },
       {}},
      {"cyl sphere origin",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(1).zeros(6); },
       {vec_y, "While parsing field 'origin' in CylSphere"}},
      {"cyl sphere height",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(1).zeros(18); },
       {"While parsing field 'height' in CylSphere"}},
      {"sphere radius",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(0).u32(1).zeros(13); },
       {"While parsing field 'radius' in Sphere"}},
      {"sphere_2 centre",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(0).u32(0).zeros(16 + 16 + 1); },
       {vec_x, "While parsing field 'center' in Sphere"}},
      {"light location",
       [](ByteWriter& w) { up_to_lights(w); w.u32(1).u32(2).zeros(1); },
       {vec_x, frame_origin, "While parsing field 'viewer_space_location' in LightInfo"}},
      {"light color",
       [](ByteWriter& w) { up_to_lights(w); w.u32(1).u32(2).zeros(28 + 3); },
       {"While parsing field 'color' in LightInfo"}},
      {"light intensity",
       [](ByteWriter& w) { up_to_lights(w); w.u32(1).u32(2).zeros(32); },
       {"While parsing field 'intensity' in LightInfo"}},
      {"light falloff",
       [](ByteWriter& w) { up_to_lights(w); w.u32(1).u32(2).zeros(36); },
       {"While parsing field 'falloff' in LightInfo"}},
      {"light cone_angle",
       [](ByteWriter& w) { up_to_lights(w); w.u32(1).u32(2).zeros(43); },
       {"While parsing field 'cone_angle' in LightInfo"}},
      {"fifth optional id",
       [](ByteWriter& w) { up_to_lights(w); w.u32(0).u32(1).u32(2).u32(3).u32(4).zeros(3); },
       {}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    auto r = unpack(w.bytes());
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(r.error().cause_text(), "failed to fill whole buffer") << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
  }
}

// Counts far beyond the bytes present end like any truncation: quickly,
// without reserving for the count (a sanitizer build aborts on a
// multi-gigabyte request), and with the error of the element that runs out.
TEST(SetupModel, HostileCountsEndAtTheDataNotInAReservation) {
  struct Case {
    std::string name;
    std::function<void(ByteWriter&)> build;
    std::vector<std::string> contexts;
  };
  const Case cases[] = {
      {"part count", [](ByteWriter& w) { w.u32(1).u32(3).u32(0xFFFFFFFF).u32(1); }, {}},
      {"location count", [](ByteWriter& w) { head(w); w.u32(0xFFFFFFFF).zeros(2); }, {}},
      {"placement count, no parts",
       [](ByteWriter& w) { head(w); w.u32(0).u32(0).i32(0x7FFFFFFF).u32(1).u32(0).u32(2); },
       {}},
      {"placement count, many parts",
       [](ByteWriter& w) { head(w, 0, 1000); w.u32(0).u32(0).i32(0x7FFFFFFF).u32(1); },
       {"While parsing field 'x' in Vector3", "While parsing field 'origin' in Frame"}},
      {"hook count",
       [](ByteWriter& w) { head(w); w.u32(0).u32(0).i32(1).u32(1).u32(0xFFFFFFFF).u32(0); }, {}},
      {"cyl sphere count",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(0xFFFFFFFF).zeros(20); },
       {"While parsing field 'x' in Vector3", "While parsing field 'origin' in CylSphere"}},
      {"sphere count",
       [](ByteWriter& w) { up_to_cyl_spheres(w); w.u32(0).u32(0xFFFFFFFF).zeros(16); },
       {"While parsing field 'x' in Vector3", "While parsing field 'center' in Sphere"}},
      {"light count", [](ByteWriter& w) { up_to_lights(w); w.u32(0xFFFFFFFF); }, {}},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    c.build(w);
    auto r = unpack(w.bytes());
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(context_texts(r.error()), c.contexts) << c.name;
  }

  // A placement read on its own with a part count the bytes cannot hold.
  const Bytes few(100, 0);
  Cursor cur(few);
  auto p = PlacementType::read(cur, 0xFFFFFFFF);
  ASSERT_FALSE(p);
  EXPECT_EQ(p.error().kind(), DecodeErrorKind::EndOfData);
}

}  // namespace
}  // namespace strewmill::dat
