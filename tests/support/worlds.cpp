#include "tests/support/worlds.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "lib/dat/gfx_obj.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/object_records.h"

namespace strewmill::test_support {

EditableWorld EditableWorld::generate(const tools::WorldSpec& spec) {
  EditableWorld world;
  world.spec = spec;
  for (const tools::WorldArchive archive : tools::kWorldArchives) {
    RecordMap& map = world.records(archive);
    auto added = tools::for_each_world_record(spec, archive, [&](tools::WorldRecord& rec) {
      map[rec.id] = StoredRecord{std::move(rec.bytes), rec.compress};
      return common::Result<void, std::string>{};
    });
    if (!added) throw std::runtime_error("generate world: " + added.error());
  }
  return world;
}

RecordMap& EditableWorld::records(tools::WorldArchive archive) {
  switch (archive) {
    case tools::WorldArchive::portal: return portal;
    case tools::WorldArchive::cell: return cell;
    case tools::WorldArchive::local: break;
  }
  return local;
}

const RecordMap& EditableWorld::records(tools::WorldArchive archive) const {
  return const_cast<EditableWorld*>(this)->records(archive);
}

void EditableWorld::write(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  for (const tools::WorldArchive archive : tools::kWorldArchives) {
    const dat::DatHeader header = tools::world_header(spec, archive);
    tools::ArchiveWriter writer(header.block_size);
    writer.header() = header;
    for (const auto& [id, rec] : records(archive)) writer.add(id, rec.bytes, rec.compress);
    const std::filesystem::path path = dir / tools::world_file_name(archive);
    auto written = writer.write(path);
    if (!written) throw std::runtime_error("write " + path.string() + ": " + written.error());
  }
}

tools::WorldSpec tiny_world_spec(std::uint16_t lb_lo, std::uint16_t lb_hi) {
  tools::WorldSpec spec;
  spec.lb_lo = lb_lo;
  spec.lb_hi = lb_hi;
  spec.scenes = 40;
  return spec;
}

std::vector<std::uint8_t> gfx_with_points(std::uint32_t id, const std::vector<common::Vector3>& points) {
  dat::GfxObj g;
  g.id = id;
  g.vertex_array.vertex_type = 1;
  for (std::size_t i = 0; i < points.size(); ++i) {
    dat::SWVertex v;
    v.origin = points[i];
    g.vertex_array.vertices.emplace(static_cast<dat::PolyId>(i), v);
  }
  return tools::encode_gfx_obj(g);
}

dat::BuildInfo building(std::uint32_t model_id, common::Vector3 origin, common::Quaternion orientation) {
  dat::BuildInfo b;
  b.model_id = model_id;
  b.frame = common::Frame{origin, orientation};
  return b;
}

std::vector<std::uint8_t> info_with_buildings(std::uint32_t id, std::vector<dat::BuildInfo> buildings) {
  dat::LandblockInfo info;
  info.id = id;
  info.num_buildings = static_cast<std::uint16_t>(buildings.size());
  info.buildings = std::move(buildings);
  return tools::encode_landblock_info(info);
}

}  // namespace strewmill::test_support
