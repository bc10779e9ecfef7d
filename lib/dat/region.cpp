#include "lib/dat/region.h"

#include <new>
#include <stdexcept>

#include "lib/dat/primitives.h"

namespace strewmill::dat {

namespace {

// Reserves room for a list whose count came from the record. A count that
// the remaining bytes cannot hold at `min_size` bytes per element fails as
// end of data before anything is reserved. Minimum sizes count a text as 4
// bytes (length and padding) where more data must follow it inside the
// element or the record, and as 2 where it may end the data.
template <class T>
common::Result<void, DecodeError> reserve_list(const Cursor& cur, std::vector<T>& list,
                                               std::uint32_t count, std::uint64_t min_size) {
  if (!cur.can_hold(count, min_size)) return common::fail(DecodeError::end_of_data());
  try {
    list.reserve(count);
  } catch (const std::bad_alloc&) {
    return common::fail(DecodeError::custom("cannot reserve memory for list", cur.position()));
  } catch (const std::length_error&) {
    return common::fail(DecodeError::custom("cannot reserve memory for list", cur.position()));
  }
  return {};
}

template <std::size_t N>
DecodeResult<std::array<std::uint32_t, N>> read_words(Cursor& cur) {
  std::array<std::uint32_t, N> words{};
  for (auto& w : words) {
    TRY_ASSIGN(w, cur.u32());
  }
  return words;
}

// A counted list of fixed records of N words, optionally realigned after
// every element.
template <std::size_t N>
DecodeResult<std::vector<std::array<std::uint32_t, N>>> read_word_records(Cursor& cur,
                                                                          bool realign) {
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  std::vector<std::array<std::uint32_t, N>> list;
  TRY(reserve_list(cur, list, count, 4 * N));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(auto words, read_words<N>(cur));
    list.push_back(words);
    if (realign) TRY(cur.align4());
  }
  return list;
}

DecodeResult<std::vector<std::uint32_t>> read_u32_list(Cursor& cur) {
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  std::vector<std::uint32_t> list;
  TRY(reserve_list(cur, list, count, 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(const std::uint32_t v, cur.u32());
    list.push_back(v);
  }
  return list;
}

DecodeResult<SkyTimeOfDay> read_sky_time_of_day(Cursor& cur) {
  SkyTimeOfDay t;
  for (std::uint32_t* s : {&t.scalar_1, &t.scalar_2, &t.scalar_3, &t.scalar_4, &t.scalar_5,
                           &t.scalar_6, &t.scalar_7, &t.scalar_8, &t.scalar_9, &t.scalar_10,
                           &t.scalar_11}) {
    TRY_ASSIGN(*s, cur.u32());
  }
  TRY(cur.align4());
  TRY_ASSIGN(t.entries, read_word_records<6>(cur, true));
  return t;
}

DecodeResult<DayGroup> read_day_group(Cursor& cur) {
  DayGroup g;
  TRY_ASSIGN(g.scalar, cur.u32());
  TRY_ASSIGN(g.name, read_pstring_char(cur));
  TRY_ASSIGN(g.sky_objects, read_word_records<9>(cur, true));
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY(reserve_list(cur, g.times, count, 11 * 4 + 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(auto t, read_sky_time_of_day(cur));
    g.times.push_back(std::move(t));
  }
  return g;
}

}  // namespace

DecodeResult<Season> Season::unpack(Cursor& cur) {
  Season s;
  TRY_ASSIGN(s.scalar, cur.u32());
  TRY_ASSIGN(s.name, read_pstring_char(cur));
  return s;
}

DecodeResult<GameTime> GameTime::unpack(Cursor& cur) {
  GameTime g;
  TRY_ASSIGN(g.value, cur.f64());
  TRY_ASSIGN(g.scalar_1, cur.u32());
  TRY_ASSIGN(g.scalar_2, cur.u32());
  TRY_ASSIGN(g.scalar_3, cur.u32());
  TRY_ASSIGN(g.name, read_pstring_char(cur));

  TRY_ASSIGN(const std::uint32_t num_times, cur.u32());
  TRY(reserve_list(cur, g.times_of_day, num_times, 4 + 4 + 4));
  for (std::uint32_t i = 0; i < num_times; ++i) {
    TimeOfDay t;
    TRY_ASSIGN(t.scalar, cur.u32());
    TRY_ASSIGN(const std::uint32_t flag, cur.u32());
    t.flag = flag != 0;
    TRY_ASSIGN(t.name, read_pstring_char(cur));
    g.times_of_day.push_back(std::move(t));
  }

  TRY_ASSIGN(const std::uint32_t num_names, cur.u32());
  TRY(reserve_list(cur, g.names, num_names, 4));
  for (std::uint32_t i = 0; i < num_names; ++i) {
    TRY_ASSIGN(auto name, read_pstring_char(cur));
    g.names.push_back(std::move(name));
  }

  TRY_ASSIGN(const std::uint32_t num_seasons, cur.u32());
  // The last season's text may end the data without its padding.
  TRY(reserve_list(cur, g.seasons, num_seasons, 4 + 2));
  for (std::uint32_t i = 0; i < num_seasons; ++i) {
    TRY_ASSIGN(auto s, Season::unpack(cur));
    g.seasons.push_back(std::move(s));
  }
  return g;
}

DecodeResult<SkyDesc> SkyDesc::unpack(Cursor& cur) {
  SkyDesc s;
  TRY_ASSIGN(s.value_1, cur.f64());
  TRY_ASSIGN(s.value_2, cur.f64());
  TRY(cur.align4());
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  // scalar, name, sky_objects count, times count
  TRY(reserve_list(cur, s.day_groups, count, 4 + 4 + 4 + 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(auto g, read_day_group(cur));
    s.day_groups.push_back(std::move(g));
  }
  return s;
}

DecodeResult<SoundDesc> SoundDesc::unpack(Cursor& cur) {
  SoundDesc s;
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY(reserve_list(cur, s.ambient, count, 4 + 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    AmbientSTBDesc a;
    TRY_ASSIGN(a.scalar, cur.u32());
    TRY_ASSIGN(a.entries, read_word_records<5>(cur, false));
    s.ambient.push_back(std::move(a));
  }
  return s;
}

DecodeResult<SceneDesc> SceneDesc::unpack(Cursor& cur) {
  SceneDesc s;
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY(reserve_list(cur, s.scene_types, count, 4 + 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    SceneType t;
    TRY_ASSIGN(t.scalar, cur.u32());
    TRY_ASSIGN(t.scene_ids, read_u32_list(cur));
    s.scene_types.push_back(std::move(t));
  }
  return s;
}

DecodeResult<TerrainDesc> TerrainDesc::unpack(Cursor& cur) {
  TerrainDesc d;
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  TRY(reserve_list(cur, d.terrain_types, count, 4 + 4 + 4));
  for (std::uint32_t i = 0; i < count; ++i) {
    TerrainType t;
    TRY_ASSIGN(t.name, read_pstring_char(cur));
    TRY_ASSIGN(t.scalar, cur.u32());
    TRY_ASSIGN(t.scene_type_indices, read_u32_list(cur));
    d.terrain_types.push_back(std::move(t));
  }
  TRY_ASSIGN(d.scalar_1, cur.u32());
  TRY_ASSIGN(d.scalar_2, cur.u32());
  TRY_ASSIGN(d.pairs_1, read_word_records<2>(cur, false));
  TRY_ASSIGN(d.pairs_2, read_word_records<2>(cur, false));
  TRY_ASSIGN(d.pairs_3, read_word_records<2>(cur, false));
  TRY_ASSIGN(d.word_records, read_word_records<11>(cur, false));
  return d;
}

DecodeResult<RegionMisc> RegionMisc::unpack(Cursor& cur) {
  RegionMisc m;
  for (std::uint32_t* s :
       {&m.scalar_1, &m.scalar_2, &m.scalar_3, &m.scalar_4, &m.scalar_5, &m.scalar_6}) {
    TRY_ASSIGN(*s, cur.u32());
  }
  return m;
}

DecodeResult<Region> Region::unpack(Cursor& cur) {
  Region r;
  TRY_ASSIGN(r.id, cur.u32());
  TRY_ASSIGN(r.header_1, cur.u32());
  TRY_ASSIGN(r.header_2, cur.u32());
  TRY_ASSIGN(r.name, read_pstring_char(cur));
  for (auto& p : r.params) {
    TRY_ASSIGN(p, cur.u32());
  }
  for (auto& h : r.land_height_table) {
    TRY_ASSIGN(h, cur.f32());
  }
  TRY_ASSIGN(r.game_time, GameTime::unpack(cur));
  TRY_ASSIGN(r.parts_mask, cur.u32());
  // The parts follow in this fixed order whatever the order of their bits.
  if (r.parts_mask & kRegionHasSky) {
    TRY_ASSIGN(r.sky, SkyDesc::unpack(cur));
  }
  if (r.parts_mask & kRegionHasSound) {
    TRY_ASSIGN(r.sound, SoundDesc::unpack(cur));
  }
  if (r.parts_mask & kRegionHasScene) {
    TRY_ASSIGN(r.scene, SceneDesc::unpack(cur));
  }
  TRY_ASSIGN(r.terrain, TerrainDesc::unpack(cur));
  if (r.parts_mask & kRegionHasMisc) {
    TRY_ASSIGN(r.misc, RegionMisc::unpack(cur));
  }
  return r;
}

}  // namespace strewmill::dat
