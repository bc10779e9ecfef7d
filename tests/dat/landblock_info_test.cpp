#include "lib/dat/landblock_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/dat/contexts.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"

namespace strewmill::dat {
namespace {

std::string ctx(const std::string& field, const std::string& record) {
  return "While parsing field '" + field + "' in " + record;
}

common::Frame frame(float seed) {
  return {{seed, seed + 1, seed + 2}, {1, 0.5f, -0.5f, seed}};
}

PortalInternal portal(std::uint16_t flags, std::vector<std::uint16_t> stabs) {
  PortalInternal p;
  p.flags = flags;
  p.other_cell_id = 0x0100;
  p.other_portal_id = 7;
  p.num_stabs = static_cast<std::uint16_t>(stabs.size());
  p.stab_list = std::move(stabs);
  return p;
}

BuildInfo building(std::uint32_t model, std::vector<PortalInternal> portals) {
  BuildInfo b;
  b.model_id = model;
  b.frame = frame(static_cast<float>(model & 0xFF));
  b.num_leaves = 3;
  b.num_portals = static_cast<std::uint32_t>(portals.size());
  b.portals = std::move(portals);
  return b;
}

LandblockInfo full_info() {
  LandblockInfo info;
  info.id = 0xA9B4FFFE;
  info.num_cells = 12;
  info.objects = {{0x01000010, frame(1)}, {0x02000020, frame(2)}};
  info.num_objects = 2;
  info.buildings = {
      building(0x01000100, {portal(1, {}), portal(2, {0x100}), portal(3, {1, 2}),
                            portal(4, {1, 2, 3})}),
      building(0x02000200, {}),
  };
  info.num_buildings = 2;
  info.pack_mask = 0x3;
  RestrictionTable t;
  t.count = 3;
  t._bucket_size = 8;
  t.tables = {{0x100, 1}, {0x200, 2}, {0x300, 3}};
  info.restriction_tables = t;
  return info;
}

TEST(LandblockInfo, FullRecordRoundTrips) {
  const LandblockInfo info = full_info();
  auto bytes = tools::encode_landblock_info(info);
  // 16 fixed + 2 stabs + building 1 (40 + portals of 8, 12, 12, 16) + building 2 + table
  EXPECT_EQ(bytes.size(), 16u + 2 * 32 + (40 + 48) + 40 + (4 + 3 * 8));
  auto d = LandblockInfo::unpack(bytes);
  ASSERT_TRUE(d) << d.error().message();
  EXPECT_EQ(*d, info);

  bytes.insert(bytes.end(), {9, 9, 9});
  d = LandblockInfo::unpack(bytes);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, info);
}

TEST(LandblockInfo, SmallestRecordsAndPackMask) {
  struct Case {
    const char* name;
    std::uint16_t pack_mask;
    std::vector<std::uint8_t> tail;
    bool has_table;
  };
  const Case cases[] = {
      {"no table", 0, {}, false},
      {"empty table", 1, {0, 0, 4, 0}, true},
      {"other bits only", 2, {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}, false},
  };
  for (const auto& c : cases) {
    tools::ByteWriter w;
    w.u32(0x12340000).u32(0).u32(0).u16(0).u16(c.pack_mask).append(c.tail);
    auto d = LandblockInfo::unpack(w.bytes());
    ASSERT_TRUE(d) << c.name;
    EXPECT_TRUE(d->objects.empty()) << c.name;
    EXPECT_TRUE(d->buildings.empty()) << c.name;
    EXPECT_EQ(d->pack_mask, c.pack_mask) << c.name;
    ASSERT_EQ(d->restriction_tables.has_value(), c.has_table) << c.name;
    if (c.has_table) {
      EXPECT_TRUE(d->restriction_tables->tables.empty());
      EXPECT_EQ(d->restriction_tables->_bucket_size, 4);
    }
  }
}

TEST(LandblockInfo, PortalPaddingIsSkippedOnlyForOddStabCounts) {
  for (std::uint16_t n : {0, 1, 2, 3}) {
    tools::ByteWriter w;
    w.u16(1).u16(2).u16(3).u16(n);
    for (std::uint16_t i = 0; i < n; ++i) w.u16(static_cast<std::uint16_t>(0x10 + i));
    if (n % 2) w.u16(0xBEEF);  // padding, never read
    w.u32(0xCAFEF00D);
    Cursor cur(w.bytes());
    auto p = PortalInternal::unpack(cur);
    ASSERT_TRUE(p) << n;
    EXPECT_EQ(cur.position(), 8u + 4u * ((n + 1u) / 2u)) << n;
    EXPECT_EQ(p->stab_list.size(), n);
    ASSERT_TRUE(cur.u32());
  }
}

TEST(LandblockInfo, OddStabListMayEndTheRecordWithoutPadding) {
  LandblockInfo info;
  info.buildings = {building(0x01000001, {portal(0, {5})})};
  info.num_buildings = 1;
  auto bytes = tools::encode_landblock_info(info);
  bytes.erase(bytes.end() - 2, bytes.end());
  auto d = LandblockInfo::unpack(bytes);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->buildings.at(0).portals.at(0).stab_list, std::vector<std::uint16_t>{5});

  // With a restriction table expected, the missing bytes are end of data.
  bytes[14] = 1;  // pack_mask (no objects before it)
  auto e = LandblockInfo::unpack(bytes);
  ASSERT_FALSE(e);
  EXPECT_EQ(context_texts(*e.error().decode_error()),
            (std::vector<std::string>{ctx("count", "RestrictionTable"),
                                      ctx("restriction_tables", "LandblockInfo")}));
}

TEST(LandblockInfo, RepeatedRestrictionKeyKeepsTheLaterValue) {
  tools::ByteWriter w;
  w.u32(1).u32(0).u32(0).u16(0).u16(1);
  w.u16(4).u16(0).u32(7).u32(100).u32(8).u32(200).u32(7).u32(300).u32(7).u32(400);
  auto d = LandblockInfo::unpack(w.bytes());
  ASSERT_TRUE(d);
  const auto& t = d->restriction_tables->tables;
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t.at(7), 400u);
  EXPECT_EQ(t.at(8), 200u);
  EXPECT_EQ(d->restriction_tables->count, 4);
}

// Huge counts read what is there and then fail in the element that ran out,
// without reserving for the declared count.
TEST(LandblockInfo, HugeCountsFailAfterTheElementsPresent) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> contexts;
  };
  std::vector<Case> cases;
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0xFFFFFFFF).u32(5).frame(frame(1)).u32(6).frame(frame(2));
    cases.push_back({"objects", w.take(), {ctx("id", "Stab"), ctx("objects", "LandblockInfo")}});
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0).u16(1).u16(0).u32(2).frame(frame(1)).u32(0).u32(0xFFFFFFFF);
    w.u16(0).u16(0).u16(0).u16(0);
    cases.push_back({"portals", w.take(),
                     {ctx("flags", "PortalInternal"), ctx("portals", "BuildInfo"),
                      ctx("buildings", "LandblockInfo")}});
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0).u16(1).u16(0).u32(2).frame(frame(1)).u32(0).u32(1);
    w.u16(0).u16(0).u16(0).u16(0xFFFF).u16(1).u16(2).u16(3);
    cases.push_back({"stab_list", w.take(),
                     {ctx("stab_list", "PortalInternal"), ctx("portals", "BuildInfo"),
                      ctx("buildings", "LandblockInfo")}});
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0).u16(0xFFFF).u16(0).u32(2).frame(frame(1)).u32(0).u32(0);
    cases.push_back({"buildings", w.take(),
                     {ctx("model_id", "BuildInfo"), ctx("buildings", "LandblockInfo")}});
  }
  {
    tools::ByteWriter w;
    w.u32(1).u32(0).u32(0).u16(0).u16(1).u16(0xFFFF).u16(0).u32(1).u32(2).u32(3);
    cases.push_back({"tables", w.take(),
                     {ctx("tables", "RestrictionTable"),
                      ctx("restriction_tables", "LandblockInfo")}});
  }
  for (const auto& c : cases) {
    auto d = LandblockInfo::unpack(c.bytes);
    ASSERT_FALSE(d) << c.name;
    ASSERT_EQ(d.error().kind(), DatErrorKind::Decode) << c.name;
    const DecodeError& e = *d.error().decode_error();
    EXPECT_EQ(e.kind(), DecodeErrorKind::EndOfData) << c.name;
    EXPECT_EQ(context_texts(e), c.contexts) << c.name;
  }
}

// One object, one building with one three-stab portal, and a two-pair
// restriction table, cut at every length: the context chain names each
// field from the innermost outwards.
TEST(LandblockInfo, TruncationContextChains) {
  LandblockInfo info;
  info.id = 0x0101FFFE;
  info.objects = {{0x01000001, frame(1)}};
  info.num_objects = 1;
  info.buildings = {building(0x01000002, {portal(9, {1, 2, 3})})};
  info.num_buildings = 1;
  info.pack_mask = 1;
  info.restriction_tables = RestrictionTable{2, 0, {{1, 10}, {2, 20}}};
  const auto bytes = tools::encode_landblock_info(info);
  ASSERT_EQ(bytes.size(), 124u);

  using Chain = std::vector<std::string>;
  struct Span {
    std::size_t begin, end;
    Chain chain;
  };
  std::vector<Span> spans;
  const auto add = [&](std::size_t begin, std::size_t size, Chain inner, const Chain& outer) {
    inner.insert(inner.end(), outer.begin(), outer.end());
    spans.push_back({begin, begin + size, inner});
  };
  // A Frame at `at`, inside the given outer chain.
  const auto add_frame = [&](std::size_t at, const Chain& outer) {
    const char* v[] = {"x", "y", "z"};
    const char* q[] = {"w", "x", "y", "z"};
    for (std::size_t i = 0; i < 3; ++i)
      add(at + 4 * i, 4, {ctx(v[i], "Vector3"), ctx("origin", "Frame")}, outer);
    for (std::size_t i = 0; i < 4; ++i)
      add(at + 12 + 4 * i, 4, {ctx(q[i], "Quaternion"), ctx("orientation", "Frame")}, outer);
  };
  const Chain objects = {ctx("objects", "LandblockInfo")};
  const Chain buildings = {ctx("buildings", "LandblockInfo")};
  const Chain portals = {ctx("portals", "BuildInfo"), ctx("buildings", "LandblockInfo")};
  const Chain tables = {ctx("restriction_tables", "LandblockInfo")};
  add(0, 4, {ctx("id", "LandblockInfo")}, {});
  add(4, 4, {ctx("num_cells", "LandblockInfo")}, {});
  add(8, 4, {ctx("num_objects", "LandblockInfo")}, {});
  add(12, 4, {ctx("id", "Stab")}, objects);
  add_frame(16, {ctx("frame", "Stab"), ctx("objects", "LandblockInfo")});
  add(44, 2, {ctx("num_buildings", "LandblockInfo")}, {});
  add(46, 2, {ctx("pack_mask", "LandblockInfo")}, {});
  add(48, 4, {ctx("model_id", "BuildInfo")}, buildings);
  add_frame(52, {ctx("frame", "BuildInfo"), ctx("buildings", "LandblockInfo")});
  add(80, 4, {ctx("num_leaves", "BuildInfo")}, buildings);
  add(84, 4, {ctx("num_portals", "BuildInfo")}, buildings);
  add(88, 2, {ctx("flags", "PortalInternal")}, portals);
  add(90, 2, {ctx("other_cell_id", "PortalInternal")}, portals);
  add(92, 2, {ctx("other_portal_id", "PortalInternal")}, portals);
  add(94, 2, {ctx("num_stabs", "PortalInternal")}, portals);
  add(96, 6, {ctx("stab_list", "PortalInternal")}, portals);
  // The padding at 102 is skipped even when missing; the table then fails.
  add(102, 4, {ctx("count", "RestrictionTable")}, tables);
  add(106, 2, {ctx("_bucket_size", "RestrictionTable")}, tables);
  add(108, 16, {ctx("tables", "RestrictionTable")}, tables);

  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    auto d = LandblockInfo::unpack(cut);
    ASSERT_FALSE(d) << n;
    ASSERT_EQ(d.error().kind(), DatErrorKind::Decode) << n;
    const DecodeError& e = *d.error().decode_error();
    EXPECT_EQ(e.cause_text(), "failed to fill whole buffer") << n;
    Chain expected;
    for (const auto& s : spans)
      if (n >= s.begin && n < s.end) expected = s.chain;
    ASSERT_FALSE(expected.empty()) << n;
    EXPECT_EQ(context_texts(e), expected) << n;
  }
}

}  // namespace
}  // namespace strewmill::dat
