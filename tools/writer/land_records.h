// Encoders for the region, scene, landblock terrain and landblock info
// records: each produces exactly the bytes the matching decoder reads.
//
// Counts and presence bits come from the values, not from the stored count
// fields: a list is written with its own size, and a mask is written with
// the bits of the parts that are present added (a part whose bit is set but
// that is absent is written empty). 16-bit counts cap their lists at 65535
// entries. Texts are written as plain bytes when ASCII and as UTF-8 with a
// byte-order mark otherwise, so every text decodes back unchanged (except
// trailing U+0000 characters, which the reader cuts). Use ByteWriter::pstring
// directly for other raw text bytes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lib/dat/cell_landblock.h"
#include "lib/dat/landblock_info.h"
#include "lib/dat/region.h"
#include "lib/dat/scene.h"
#include "tools/writer/byte_writer.h"

namespace strewmill::tools {

std::vector<std::uint8_t> encode_region(const dat::Region& region);
std::vector<std::uint8_t> encode_scene(const dat::Scene& scene);
std::vector<std::uint8_t> encode_cell_landblock(const dat::CellLandblock& landblock);
std::vector<std::uint8_t> encode_landblock_info(const dat::LandblockInfo& info);

// Sub-record writers, for building partial or hand-made records. Texts and
// realignments count from the start of the writer's buffer, which must be
// the record's first byte.
void write_text(ByteWriter& w, std::string_view utf8);
void write_game_time(ByteWriter& w, const dat::GameTime& game_time);
void write_sky_desc(ByteWriter& w, const dat::SkyDesc& sky);
void write_sound_desc(ByteWriter& w, const dat::SoundDesc& sound);
void write_scene_desc(ByteWriter& w, const dat::SceneDesc& scene);
void write_terrain_desc(ByteWriter& w, const dat::TerrainDesc& terrain);
void write_region_misc(ByteWriter& w, const dat::RegionMisc& misc);
void write_object_desc(ByteWriter& w, const dat::ObjectDesc& desc);
void write_stab(ByteWriter& w, const dat::Stab& stab);
void write_portal_internal(ByteWriter& w, const dat::PortalInternal& portal);
void write_build_info(ByteWriter& w, const dat::BuildInfo& building);
void write_restriction_table(ByteWriter& w, const dat::RestrictionTable& table);

}  // namespace strewmill::tools
