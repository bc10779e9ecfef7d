#include "apps/strewmill/bake_run.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>

#include "apps/strewmill/caches.h"
#include "apps/strewmill/dat_error_report.h"
#include "apps/strewmill/logging.h"
#include "apps/strewmill/output.h"
#include "apps/strewmill/provenance.h"
#include "lib/dat/cell_landblock.h"
#include "lib/dat/cursor.h"
#include "lib/dat/landblock_info.h"
#include "lib/dat/region.h"

namespace strewmill::app {

namespace {

constexpr std::uint64_t kProgressEvery = 25;

}  // namespace

AppResult<dat::Region> load_region(const dat::DatDatabase& portal, std::uint32_t region_did) {
  auto bytes = portal.get_file(region_did);
  if (!bytes) {
    return common::fail(from_dat_error(bytes.error())
                            .context(fmt::format("fetch Region 0x{:08X} from portal.dat", region_did)));
  }
  dat::Cursor cur(*bytes);
  auto region = dat::Region::unpack(cur);
  if (!region) {
    return common::fail(from_dat_error(dat::DatError(std::move(region).error()))
                            .context(fmt::format("parse Region 0x{:08X}", region_did)));
  }
  return std::move(region).value();
}

dat::DatResult<std::vector<dat::BuildInfo>> landblock_buildings(const dat::DatDatabase& cell,
                                                                std::uint16_t lb) {
  auto bytes = cell.get_file(landblock_info_id(lb));
  if (!bytes) return std::vector<dat::BuildInfo>();
  TRY_ASSIGN(dat::LandblockInfo info, dat::LandblockInfo::unpack(*bytes));
  return std::move(info.buildings);
}

std::vector<engine::Box> building_boxes(const dat::DatDatabase& portal, MeshCache& meshes,
                                        std::span<const dat::BuildInfo> buildings) {
  std::vector<engine::Box> boxes;
  boxes.reserve(buildings.size());
  for (const dat::BuildInfo& b : buildings) {
    const std::vector<common::Vector3>* mesh = meshes.lookup(portal, b.model_id);
    if (mesh == nullptr) continue;
    boxes.push_back(engine::building_box(*mesh, b.frame));
  }
  return boxes;
}

void throttle_sleep(std::uint64_t ms) {
  if (ms == 0) return;
  timespec req{};
  req.tv_sec = static_cast<time_t>(ms / 1000);
  req.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

AppResult<void> run_bake(const DatDirCheck& archives, const BakeSettings& settings,
                         Sha256Hasher& hasher) {
  const dat::DatDatabase& portal = archives.portal;
  const dat::DatDatabase& cell = archives.cell;

  TRY_ASSIGN(const dat::Region region, load_region(portal, settings.region_did));
  SceneCache scenes;
  MeshCache meshes;
  DefaultScriptCache scripts;
  std::vector<std::uint64_t> counts;
  counts.reserve(settings.landblocks.size());
  std::uint64_t processed = 0;
  std::uint64_t skipped = 0;

  auto scene_lookup = [&](std::uint32_t id, std::vector<dat::ObjectDesc>& objects) {
    return scenes.lookup(portal, id, objects);
  };
  auto mesh_lookup = [&](std::uint32_t id) { return meshes.lookup(portal, id); };

  for (const std::uint16_t lb : settings.landblocks) {
    const std::uint32_t base = std::uint32_t{lb} << 16;
    const std::uint32_t terrain_id = landblock_terrain_id(lb);
    if (auto bytes = cell.get_file(terrain_id); !bytes) {
      log_at(spdlog::level::warn, "LB 0x{:04X}: CellLandblock 0x{:08X} not in cell.dat — skipping", lb,
             terrain_id);
      ++skipped;
    } else {
      auto landblock = dat::CellLandblock::unpack(*bytes);
      if (!landblock) {
        return common::fail(from_dat_error(landblock.error())
                                .context(fmt::format("parse CellLandblock 0x{:08X}", terrain_id)));
      }
      std::vector<dat::BuildInfo> buildings;
      if (auto listed = landblock_buildings(cell, lb)) {
        buildings = std::move(listed).value();
      } else {
        log_at(spdlog::level::warn, "LB 0x{:04X}: LandblockInfo 0x{:08X} parse failed: {}", lb,
               landblock_info_id(lb), listed.error().message());
      }
      const std::vector<engine::Box> boxes = building_boxes(portal, meshes, buildings);
      const std::vector<engine::Placement> placements = engine::bake_landblock_impl(
          region, *landblock, base, scene_lookup, mesh_lookup, boxes, settings.mode);
      TRY_ASSIGN(const std::filesystem::path path,
                 write_placement_output(lb, settings.out, placements, portal, scripts, hasher));
      if (log_enabled(spdlog::level::debug)) {
        log_at(spdlog::level::debug, "LB 0x{:04X}: {} placements ({} buildings collide-blocking) → {}", lb,
               placements.size(), boxes.size(), path.string());
      }
      counts.push_back(placements.size());
    }

    throttle_sleep(settings.throttle_ms);
    ++processed;
    if (settings.verbose && processed % kProgressEvery == 0 && log_enabled(spdlog::level::info)) {
      log_at(spdlog::level::info, "progress: {}/{} LBs baked ({} skipped so far)", processed,
             settings.landblocks.size(), skipped);
    }
  }

  TRY(write_provenance(settings.out,
                       format_manifest(archives.portal_hash, archives.cell_hash, archives.local_hash,
                                       settings.region_did, counts.size(), skipped, settings.mode)));
  const std::string line = summary_line(counts, skipped);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return {};
}

}  // namespace strewmill::app
