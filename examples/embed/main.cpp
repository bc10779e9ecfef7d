// Bakes one landblock in-process with the installed strewmill libraries and
// prints its placements in the tool's placement-file format, one line each,
// so the output can be compared with `strewmill`'s 0xXXYY.scenery.jsonl.
//
//   strewmill-embed DAT_DIR LANDBLOCK [MODE [REGION_DID]]
//
// LANDBLOCK and REGION_DID are hexadecimal (A9B4, 0x13000000); MODE is
// ace-compat (default) or strict. The look-ups below are the simplest ones
// that agree with the tool: no caching beyond a map per run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/common/geometry.h"
#include "lib/dat/cell_landblock.h"
#include "lib/dat/cursor.h"
#include "lib/dat/dat_database.h"
#include "lib/dat/gfx_obj.h"
#include "lib/dat/landblock_info.h"
#include "lib/dat/region.h"
#include "lib/dat/scene.h"
#include "lib/dat/setup_model.h"
#include "lib/engine/bake_mode.h"
#include "lib/engine/placement.h"

namespace dat = strewmill::dat;
namespace engine = strewmill::engine;
using strewmill::common::Vector3;

namespace {

using Mesh = std::vector<Vector3>;

bool parse_hex(const char* text, std::uint32_t max, std::uint32_t& out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 16);
  if (end == text || *end != '\0' || v > max) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

// The record's bytes decoded by T::unpack(Cursor&); nothing on any failure.
template <class T>
std::optional<T> load(const dat::DatDatabase& archive, std::uint32_t id) {
  auto bytes = archive.get_file(id);
  if (!bytes) return std::nullopt;
  dat::Cursor cur(*bytes);
  auto record = T::unpack(cur);
  if (!record) return std::nullopt;
  return std::move(record).value();
}

// A graphics object's footprint points are its vertex origins.
std::optional<Mesh> gfx_mesh(const dat::DatDatabase& portal, std::uint32_t id) {
  const auto gfx = load<dat::GfxObj>(portal, id);
  if (!gfx || gfx->vertex_array.vertices.empty()) return std::nullopt;
  Mesh points;
  for (const auto& [index, vertex] : gfx->vertex_array.vertices) points.push_back(vertex.origin);
  return points;
}

// A setup's footprint is its parts' meshes, concatenated as stored (no part
// frames applied).
std::optional<Mesh> setup_mesh(const dat::DatDatabase& portal, std::uint32_t id) {
  const auto setup = load<dat::SetupModel>(portal, id);
  if (!setup) return std::nullopt;
  Mesh points;
  for (const std::uint32_t part : setup->part_ids) {
    if (auto mesh = gfx_mesh(portal, part)) points.insert(points.end(), mesh->begin(), mesh->end());
  }
  if (points.empty()) return std::nullopt;
  return points;
}

std::optional<Mesh> object_mesh(const dat::DatDatabase& portal, std::uint32_t id) {
  switch (id >> 24) {
    case 0x01: return gfx_mesh(portal, id);
    case 0x02: return setup_mesh(portal, id);
    default: return std::nullopt;
  }
}

std::uint32_t default_script_id(const dat::DatDatabase& portal, std::uint32_t obj_id) {
  if ((obj_id >> 24) != 0x02) return 0;
  const auto setup = load<dat::SetupModel>(portal, obj_id);
  return setup ? setup->default_script_id.value_or(0) : 0;
}

// Six decimals, exactly rounded (glibc's printf is), zero unsigned.
void print_float(float v) {
  if (v == 0.0f) v = 0.0f;
  if (std::isnan(v)) {
    std::fputs("NaN", stdout);
  } else if (std::isinf(v)) {
    std::fputs(v > 0 ? "inf" : "-inf", stdout);
  } else {
    std::printf("%.6f", static_cast<double>(v));
  }
}

void print_placement(const engine::Placement& p, std::uint32_t script_id) {
  std::printf("{\"obj_id\":\"0x%08X\"", p.obj_id);
  const std::pair<const char*, float> fields[] = {{"x", p.x},   {"y", p.y},   {"z", p.z},
                                                  {"qw", p.qw}, {"qx", p.qx}, {"qy", p.qy},
                                                  {"qz", p.qz}, {"scale", p.scale}};
  for (const auto& [key, value] : fields) {
    std::printf(",\"%s\":", key);
    print_float(value);
  }
  std::printf(",\"source_cell_x\":%u,\"source_cell_y\":%u,\"source_obj_idx\":%u", p.source_cell_x,
              p.source_cell_y, p.source_obj_idx);
  std::printf(",\"default_script_id\":\"0x%08X\"}\n", script_id);
}

int fail(const std::string& message) {
  std::fprintf(stderr, "strewmill-embed: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: strewmill-embed DAT_DIR LANDBLOCK [MODE [REGION_DID]]\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::uint32_t lb = 0;
  std::uint32_t region_did = 0x13000000;
  if (!parse_hex(argv[2], 0xFFFF, lb)) return fail("bad landblock id");
  if (argc >= 5 && !parse_hex(argv[4], 0xFFFFFFFF, region_did)) return fail("bad region id");
  auto mode = engine::bake_mode_from_str(argc >= 4 ? argv[3] : "ace-compat");
  if (!mode) return fail(mode.error());

  auto portal = dat::DatDatabase::open(dir / "client_portal.dat");
  if (!portal) return fail("client_portal.dat: " + portal.error().message());
  auto cell = dat::DatDatabase::open(dir / "client_cell_1.dat");
  if (!cell) return fail("client_cell_1.dat: " + cell.error().message());

  const auto region = load<dat::Region>(*portal, region_did);
  if (!region) return fail("region record missing or undecodable");

  const std::uint32_t base = lb << 16;
  auto terrain_bytes = cell->get_file(base | 0xFFFFu);
  if (!terrain_bytes) return fail(terrain_bytes.error().message());
  auto landblock = dat::CellLandblock::unpack(*terrain_bytes);
  if (!landblock) return fail(landblock.error().message());

  std::map<std::uint32_t, std::optional<Mesh>> meshes;
  auto mesh_lookup = [&](std::uint32_t id) -> const Mesh* {
    auto it = meshes.find(id);
    if (it == meshes.end()) it = meshes.emplace(id, object_mesh(*portal, id)).first;
    return it->second ? &*it->second : nullptr;
  };
  auto scene_lookup = [&](std::uint32_t id) { return load<dat::Scene>(*portal, id); };

  // Buildings block scenery; a missing or undecodable info record has none.
  std::vector<engine::Box> buildings;
  if (auto info_bytes = cell->get_file(base | 0xFFFEu)) {
    if (auto info = dat::LandblockInfo::unpack(*info_bytes)) {
      for (const dat::BuildInfo& b : info->buildings) {
        if (const Mesh* mesh = mesh_lookup(b.model_id)) buildings.push_back(engine::building_box(*mesh, b.frame));
      }
    }
  }

  const std::vector<engine::Placement> placements = engine::bake_landblock_impl(
      *region, *landblock, base, scene_lookup, mesh_lookup, buildings, *mode);
  for (const engine::Placement& p : placements) print_placement(p, default_script_id(*portal, p.obj_id));
  return 0;
}
