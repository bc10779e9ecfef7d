#include "lib/dat/landblock_info.h"

#include <algorithm>
#include <utility>

#include "lib/dat/geometry_read.h"

namespace strewmill::dat {

namespace {

// Lists start with room for at most 4 entries and grow as entries are
// actually read, so a corrupt count costs no more than the bytes present.
template <class T, class ReadOne>
DecodeResult<std::vector<T>> read_growing(Cursor& cur, std::uint32_t count, ReadOne&& read_one) {
  std::vector<T> list;
  list.reserve(std::min<std::uint32_t>(count, 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(auto item, read_one(cur));
    list.push_back(std::move(item));
  }
  return list;
}

}  // namespace

DecodeResult<Stab> Stab::unpack(Cursor& cur) {
  const std::uint64_t start = cur.position();
  Stab s;
  DAT_FIELD(s.id, cur, start, cur.u32(), "id", "Stab");
  DAT_FIELD(s.frame, cur, start, read_frame(cur), "frame", "Stab");
  return s;
}

DecodeResult<PortalInternal> PortalInternal::unpack(Cursor& cur) {
  static constexpr std::string_view kRecord = "PortalInternal";
  const std::uint64_t start = cur.position();
  PortalInternal p;
  DAT_FIELD(p.flags, cur, start, cur.u16(), "flags", kRecord);
  DAT_FIELD(p.other_cell_id, cur, start, cur.u16(), "other_cell_id", kRecord);
  DAT_FIELD(p.other_portal_id, cur, start, cur.u16(), "other_portal_id", kRecord);
  DAT_FIELD(p.num_stabs, cur, start, cur.u16(), "num_stabs", kRecord);
  DAT_FIELD(p.stab_list, cur, start,
            read_growing<std::uint16_t>(cur, p.num_stabs, [](Cursor& c) { return c.u16(); }),
            "stab_list", kRecord);
  // An odd stab list is padded to 4 bytes. The padding is skipped, not
  // read: it may lie past the end of the data.
  if (p.num_stabs % 2 != 0) {
    auto skipped = cur.skip(2);
    if (!skipped) {
      cur.seek(start);
      return common::fail(std::move(skipped).error());
    }
  }
  return p;
}

DecodeResult<BuildInfo> BuildInfo::unpack(Cursor& cur) {
  static constexpr std::string_view kRecord = "BuildInfo";
  const std::uint64_t start = cur.position();
  BuildInfo b;
  DAT_FIELD(b.model_id, cur, start, cur.u32(), "model_id", kRecord);
  DAT_FIELD(b.frame, cur, start, read_frame(cur), "frame", kRecord);
  DAT_FIELD(b.num_leaves, cur, start, cur.u32(), "num_leaves", kRecord);
  DAT_FIELD(b.num_portals, cur, start, cur.u32(), "num_portals", kRecord);
  DAT_FIELD(b.portals, cur, start,
            read_growing<PortalInternal>(cur, b.num_portals, PortalInternal::unpack), "portals",
            kRecord);
  return b;
}

DecodeResult<RestrictionTable> RestrictionTable::unpack(Cursor& cur) {
  static constexpr std::string_view kRecord = "RestrictionTable";
  const std::uint64_t start = cur.position();
  RestrictionTable t;
  DAT_FIELD(t.count, cur, start, cur.u16(), "count", kRecord);
  DAT_FIELD(t._bucket_size, cur, start, cur.u16(), "_bucket_size", kRecord);
  using Pair = std::pair<std::uint32_t, std::uint32_t>;
  const auto read_pair = [](Cursor& c) -> DecodeResult<Pair> {
    TRY_ASSIGN(const std::uint32_t key, c.u32());
    TRY_ASSIGN(const std::uint32_t value, c.u32());
    return Pair{key, value};
  };
  DAT_FIELD(const std::vector<Pair> pairs, cur, start, read_growing<Pair>(cur, t.count, read_pair),
            "tables", kRecord);
  // Inserted in stream order: a repeated key keeps its last value.
  t.tables.reserve(pairs.size());
  for (const auto& [key, value] : pairs) t.tables.insert_or_assign(key, value);
  return t;
}

DatResult<LandblockInfo> LandblockInfo::unpack(std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kRecord = "LandblockInfo";
  Cursor cur(bytes);
  const std::uint64_t start = cur.position();
  LandblockInfo info;
  DAT_FIELD(info.id, cur, start, cur.u32(), "id", kRecord);
  DAT_FIELD(info.num_cells, cur, start, cur.u32(), "num_cells", kRecord);
  DAT_FIELD(info.num_objects, cur, start, cur.u32(), "num_objects", kRecord);
  DAT_FIELD(info.objects, cur, start, read_growing<Stab>(cur, info.num_objects, Stab::unpack),
            "objects", kRecord);
  DAT_FIELD(info.num_buildings, cur, start, cur.u16(), "num_buildings", kRecord);
  DAT_FIELD(info.pack_mask, cur, start, cur.u16(), "pack_mask", kRecord);
  DAT_FIELD(info.buildings, cur, start,
            read_growing<BuildInfo>(cur, info.num_buildings, BuildInfo::unpack), "buildings",
            kRecord);
  if (info.pack_mask & kLandblockInfoHasRestrictions) {
    DAT_FIELD(info.restriction_tables, cur, start, RestrictionTable::unpack(cur),
              "restriction_tables", kRecord);
  }
  return info;
}

}  // namespace strewmill::dat
