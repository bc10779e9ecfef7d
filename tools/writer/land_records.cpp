#include "tools/writer/land_records.h"

#include <algorithm>
#include <array>

namespace strewmill::tools {

namespace {

void count32(ByteWriter& w, std::size_t n) { w.u32(static_cast<std::uint32_t>(n)); }

std::uint16_t count16(std::size_t n) {
  return static_cast<std::uint16_t>(std::min<std::size_t>(n, 0xFFFF));
}

template <std::size_t N>
void write_word_records(ByteWriter& w, const std::vector<std::array<std::uint32_t, N>>& list,
                        bool realign) {
  count32(w, list.size());
  for (const auto& words : list) {
    for (std::uint32_t v : words) w.u32(v);
    if (realign) w.align4();
  }
}

void write_u32_list(ByteWriter& w, const std::vector<std::uint32_t>& list) {
  count32(w, list.size());
  for (std::uint32_t v : list) w.u32(v);
}

}  // namespace

void write_text(ByteWriter& w, std::string_view utf8) {
  const bool ascii =
      std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    w.pstring(utf8);
    return;
  }
  // The reader decodes BOM-marked bytes as UTF-8 and all others as
  // windows-1252.
  std::string marked = "\xEF\xBB\xBF";
  marked += utf8;
  w.pstring(marked);
}

void write_game_time(ByteWriter& w, const dat::GameTime& g) {
  w.f64(g.value).u32(g.scalar_1).u32(g.scalar_2).u32(g.scalar_3);
  write_text(w, g.name);
  count32(w, g.times_of_day.size());
  for (const auto& t : g.times_of_day) {
    w.u32(t.scalar).u32(t.flag ? 1 : 0);
    write_text(w, t.name);
  }
  count32(w, g.names.size());
  for (const auto& n : g.names) write_text(w, n);
  count32(w, g.seasons.size());
  for (const auto& s : g.seasons) {
    w.u32(s.scalar);
    write_text(w, s.name);
  }
}

void write_sky_desc(ByteWriter& w, const dat::SkyDesc& sky) {
  w.f64(sky.value_1).f64(sky.value_2).align4();
  count32(w, sky.day_groups.size());
  for (const auto& g : sky.day_groups) {
    w.u32(g.scalar);
    write_text(w, g.name);
    write_word_records(w, g.sky_objects, true);
    count32(w, g.times.size());
    for (const auto& t : g.times) {
      for (std::uint32_t v : {t.scalar_1, t.scalar_2, t.scalar_3, t.scalar_4, t.scalar_5,
                              t.scalar_6, t.scalar_7, t.scalar_8, t.scalar_9, t.scalar_10,
                              t.scalar_11})
        w.u32(v);
      w.align4();
      write_word_records(w, t.entries, true);
    }
  }
}

void write_sound_desc(ByteWriter& w, const dat::SoundDesc& sound) {
  count32(w, sound.ambient.size());
  for (const auto& a : sound.ambient) {
    w.u32(a.scalar);
    write_word_records(w, a.entries, false);
  }
}

void write_scene_desc(ByteWriter& w, const dat::SceneDesc& scene) {
  count32(w, scene.scene_types.size());
  for (const auto& t : scene.scene_types) {
    w.u32(t.scalar);
    write_u32_list(w, t.scene_ids);
  }
}

void write_terrain_desc(ByteWriter& w, const dat::TerrainDesc& terrain) {
  count32(w, terrain.terrain_types.size());
  for (const auto& t : terrain.terrain_types) {
    write_text(w, t.name);
    w.u32(t.scalar);
    write_u32_list(w, t.scene_type_indices);
  }
  w.u32(terrain.scalar_1).u32(terrain.scalar_2);
  write_word_records(w, terrain.pairs_1, false);
  write_word_records(w, terrain.pairs_2, false);
  write_word_records(w, terrain.pairs_3, false);
  write_word_records(w, terrain.word_records, false);
}

void write_region_misc(ByteWriter& w, const dat::RegionMisc& m) {
  w.u32(m.scalar_1).u32(m.scalar_2).u32(m.scalar_3).u32(m.scalar_4).u32(m.scalar_5).u32(
      m.scalar_6);
}

std::vector<std::uint8_t> encode_region(const dat::Region& r) {
  ByteWriter w;
  w.u32(r.id).u32(r.header_1).u32(r.header_2);
  write_text(w, r.name);
  for (std::uint32_t p : r.params) w.u32(p);
  for (float h : r.land_height_table) w.f32(h);
  write_game_time(w, r.game_time);
  std::uint32_t mask = r.parts_mask;
  if (r.sky) mask |= dat::kRegionHasSky;
  if (r.sound) mask |= dat::kRegionHasSound;
  if (r.scene) mask |= dat::kRegionHasScene;
  if (r.misc) mask |= dat::kRegionHasMisc;
  w.u32(mask);
  if (mask & dat::kRegionHasSky) write_sky_desc(w, r.sky.value_or(dat::SkyDesc{}));
  if (mask & dat::kRegionHasSound) write_sound_desc(w, r.sound.value_or(dat::SoundDesc{}));
  if (mask & dat::kRegionHasScene) write_scene_desc(w, r.scene.value_or(dat::SceneDesc{}));
  write_terrain_desc(w, r.terrain);
  if (mask & dat::kRegionHasMisc) write_region_misc(w, r.misc.value_or(dat::RegionMisc{}));
  return w.take();
}

void write_object_desc(ByteWriter& w, const dat::ObjectDesc& d) {
  w.u32(d.obj_id).frame(d.base_frame);
  w.f32(d.frequency).f32(d.displace_x).f32(d.displace_y).f32(d.min_scale).f32(d.max_scale);
  w.f32(d.max_rotation).f32(d.min_slope).f32(d.max_slope);
  w.u32(d.scalar_1).u32(d.scalar_2).u32(d.exclude);
}

std::vector<std::uint8_t> encode_scene(const dat::Scene& scene) {
  ByteWriter w;
  w.u32(scene.id);
  count32(w, scene.objects.size());
  for (const auto& d : scene.objects) write_object_desc(w, d);
  return w.take();
}

std::vector<std::uint8_t> encode_cell_landblock(const dat::CellLandblock& lb) {
  ByteWriter w;
  w.u32(lb.id).u32(lb.has_objects);
  for (std::uint16_t t : lb.terrain) w.u16(t);
  for (std::uint8_t h : lb.height) w.u8(h);
  return w.take();
}

void write_stab(ByteWriter& w, const dat::Stab& stab) { w.u32(stab.id).frame(stab.frame); }

void write_portal_internal(ByteWriter& w, const dat::PortalInternal& p) {
  const std::uint16_t n = count16(p.stab_list.size());
  w.u16(p.flags).u16(p.other_cell_id).u16(p.other_portal_id).u16(n);
  for (std::size_t i = 0; i < n; ++i) w.u16(p.stab_list[i]);
  if (n % 2 != 0) w.zeros(2);
}

void write_build_info(ByteWriter& w, const dat::BuildInfo& b) {
  w.u32(b.model_id).frame(b.frame).u32(b.num_leaves);
  count32(w, b.portals.size());
  for (const auto& p : b.portals) write_portal_internal(w, p);
}

void write_restriction_table(ByteWriter& w, const dat::RestrictionTable& t) {
  const std::uint16_t n = count16(t.tables.size());
  w.u16(n).u16(t._bucket_size);
  std::size_t written = 0;
  for (const auto& [key, value] : t.tables) {
    if (written++ == n) break;
    w.u32(key).u32(value);
  }
}

std::vector<std::uint8_t> encode_landblock_info(const dat::LandblockInfo& info) {
  ByteWriter w;
  w.u32(info.id).u32(info.num_cells);
  count32(w, info.objects.size());
  for (const auto& s : info.objects) write_stab(w, s);
  const std::uint16_t num_buildings = count16(info.buildings.size());
  std::uint16_t mask = info.pack_mask;
  if (info.restriction_tables) mask |= dat::kLandblockInfoHasRestrictions;
  w.u16(num_buildings).u16(mask);
  for (std::size_t i = 0; i < num_buildings; ++i) write_build_info(w, info.buildings[i]);
  if (mask & dat::kLandblockInfoHasRestrictions)
    write_restriction_table(w, info.restriction_tables.value_or(dat::RestrictionTable{}));
  return w.take();
}

}  // namespace strewmill::tools
