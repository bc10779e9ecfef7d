// Gathering a picture's contents: the bake's files first (cheap, and the
// likeliest to be wrong), then the archives.
#include <fmt/format.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include "apps/strewmill/bake_run.h"
#include "apps/strewmill/caches.h"
#include "apps/strewmill/cli.h"
#include "apps/strewmill/dat_error_report.h"
#include "apps/strewmill/file_io.h"
#include "apps/strewmill/float_text.h"
#include "apps/strewmill/provenance.h"
#include "apps/strewmill/selection.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/cell_landblock.h"
#include "lib/dat/dat_database.h"
#include "tools/diff/bake_files.h"
#include "tools/diff/placement_file.h"
#include "tools/view/view_lib.h"

namespace strewmill::tools {

namespace fs = std::filesystem;
using app::AppResult;
using app::Error;

namespace {

struct Rectangle {
  std::uint8_t x_lo, x_hi, y_lo, y_hi;
};

AppResult<Rectangle> parse_rectangle(std::string_view text) {
  const std::string_view spec = app::trim_white_space(text);
  if (!spec.empty() && spec.front() == '@') {
    return common::fail(Error(fmt::format("--landblock `{}`: one id or a rectangle lo..hi, not a list file", spec)));
  }
  TRY_ASSIGN(const std::vector<std::uint16_t> ids, app::select_landblocks(spec));
  // One id, or a rectangle listed X outer, Y inner: its corners come first and last.
  const Rectangle r{static_cast<std::uint8_t>(ids.front() >> 8), static_cast<std::uint8_t>(ids.back() >> 8),
                    static_cast<std::uint8_t>(ids.front() & 0xFF), static_cast<std::uint8_t>(ids.back() & 0xFF)};
  const unsigned w = r.x_hi - r.x_lo + 1u;
  const unsigned h = r.y_hi - r.y_lo + 1u;
  if (w > kMaxViewSide || h > kMaxViewSide) {
    return common::fail(Error(fmt::format("--landblock `{}` spans {} x {} landblocks; a picture holds at most {} x {}",
                                          spec, w, h, kMaxViewSide, kMaxViewSide)));
  }
  return r;
}

AppResult<std::uint32_t> parse_region_text(const std::string& text, const fs::path& path) {
  auto did = app::parse_hex_u32(text);
  if (!did) return common::fail(std::move(did).error().context(fmt::format("region-did in {}", app::display_path(path))));
  return *did;
}

AppResult<dat::DatDatabase> open_archive(const fs::path& dat_dir, std::string_view name) {
  const fs::path path = dat_dir / name;
  auto db = dat::DatDatabase::open(path);
  if (!db) return common::fail(app::from_dat_error(db.error()).context("open " + app::display_path(path)));
  return std::move(db).value();
}

float parse_float(const PlacementFile& file, const PlacementRow& row, std::string_view text, std::size_t field) {
  if (file.form == FloatForm::bits) return std::bit_cast<float>(row.bits[field]);
  const std::string_view t = row.text(text, field);
  float v = 0;
  // The reader accepted it, so this cannot fail: six decimals, NaN, inf or -inf.
  std::from_chars(t.data(), t.data() + t.size(), v);
  if (t == "NaN") v = std::nanf("");
  return v;
}

std::string float_text(const PlacementFile& file, const PlacementRow& row, std::string_view text,
                       std::size_t field, float value) {
  if (file.form == FloatForm::bits) return app::format_f32_six_sig(value);
  return std::string(row.text(text, field));
}

// Says what is wrong with the digest of `path`, or nothing when it matches.
AppResult<std::optional<std::string>> digest_problem(const fs::path& path, app::Sha256Hasher& hasher,
                                                     std::string& buf) {
  const std::string name = app::display_path(path.filename());
  fs::path digest_path = path;
  digest_path += ".sha256";
  std::error_code ec;
  if (!fs::exists(digest_path, ec)) return std::optional<std::string>(fmt::format("{} has no digest file", name));
  TRY(read_whole(digest_path, buf, 66));
  if (!is_digest_text(buf)) {
    return std::optional<std::string>(fmt::format("{}.sha256 is not a digest file", name));
  }
  TRY_ASSIGN(const std::string actual, hasher.digest_file(path));
  if (std::string_view(buf).substr(0, 64) != actual) {
    return std::optional<std::string>(
        fmt::format("{} does not match its digest file (an interrupted or edited bake?)", name));
  }
  return std::optional<std::string>();
}

fs::path placement_path(const fs::path& bake, std::uint16_t lb) {
  return bake / fmt::format("0x{:04X}.scenery.jsonl", lb);
}

AppResult<std::vector<ViewPlacement>> load_placements(const fs::path& path, app::Sha256Hasher& hasher,
                                                      ViewScene& scene) {
  std::string buf;
  TRY_ASSIGN(const std::optional<std::string> problem, digest_problem(path, hasher, buf));
  if (problem) scene.warnings.push_back(*problem);

  TRY(read_whole(path, buf));
  PlacementFile file;
  if (auto parsed = parse_placement_file(buf, file); !parsed) {
    std::string top = fmt::format("{} is not a placement file", app::display_path(path));
    if (problem) top += "; " + *problem;  // the likely reason: an interrupted bake
    return common::fail(Error(parsed.error().located(app::display_path(path))).context(std::move(top)));
  }
  std::vector<ViewPlacement> out;
  out.reserve(file.rows.size());
  for (const PlacementRow& row : file.rows) {
    ViewPlacement p;
    p.obj_id = row.obj_id;
    p.default_script_id = row.default_script_id;
    p.x = parse_float(file, row, buf, 0);
    p.y = parse_float(file, row, buf, 1);
    p.z = parse_float(file, row, buf, 2);
    p.qw = parse_float(file, row, buf, 3);
    p.qz = parse_float(file, row, buf, 6);
    p.scale = parse_float(file, row, buf, 7);
    p.x_text = float_text(file, row, buf, 0, p.x);
    p.y_text = float_text(file, row, buf, 1, p.y);
    p.z_text = float_text(file, row, buf, 2, p.z);
    p.scale_text = float_text(file, row, buf, 7, p.scale);
    p.source_cell_x = row.key.cell_x;
    p.source_cell_y = row.key.cell_y;
    p.source_obj_idx = row.key.obj_idx;
    // The placement's yaw, recovered as building footprints recover theirs.
    p.theta = 2.0f * ::atan2f(p.qz, p.qw);
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace

AppResult<ViewScene> load_view(const ViewRequest& request) {
  ViewScene scene;
  TRY_ASSIGN(const Rectangle rect, parse_rectangle(request.landblocks));
  scene.x_lo = rect.x_lo;
  scene.x_hi = rect.x_hi;
  scene.y_lo = rect.y_lo;
  scene.y_hi = rect.y_hi;

  std::error_code ec;
  if (!fs::is_directory(request.bake, ec)) {
    return common::fail(Error(fmt::format("bake `{}` is not a directory", app::display_path(request.bake))));
  }
  std::optional<std::uint32_t> bake_region;
  const fs::path provenance_path = request.bake / app::kProvenanceFileName;
  if (fs::exists(provenance_path, ec)) {
    std::string buf;
    TRY_ASSIGN(const Provenance provenance, read_provenance_file(provenance_path, buf));
    TRY_ASSIGN(bake_region, parse_region_text(provenance.values[4], provenance_path));
    scene.mode = provenance.values[5];
  } else {
    scene.warnings.push_back(fmt::format("the bake has no {}: its region and mode are unknown",
                                         app::kProvenanceFileName));
  }
  scene.region_did = request.region_did.value_or(bake_region.value_or(app::kDefaultRegionDid));

  TRY_ASSIGN(app::Sha256Hasher hasher, app::Sha256Hasher::create());
  // The bake's files before the archives: a landblock missing from the bake
  // is the commonest mistake and should not wait for an archive to open.
  const bool single = rect.x_lo == rect.x_hi && rect.y_lo == rect.y_hi;
  bool any_baked = false;
  for (unsigned x = rect.x_lo; x <= rect.x_hi; ++x) {
    for (unsigned y = rect.y_lo; y <= rect.y_hi; ++y) {
      ViewLandblock lb;
      lb.id = static_cast<std::uint16_t>(x << 8 | y);
      const fs::path path = placement_path(request.bake, lb.id);
      if (fs::is_regular_file(path, ec)) {
        TRY_ASSIGN(lb.placements, load_placements(path, hasher, scene));
        any_baked = true;
      } else if (single) {
        return common::fail(Error(fmt::format("landblock 0x{:04X} is not in the bake: no {}", lb.id,
                                              app::display_path(path))));
      } else {
        // The bake skips landblocks without terrain, so a rectangle may have holes.
        lb.baked = false;
        scene.warnings.push_back(fmt::format("landblock 0x{:04X} is not in the bake: drawn empty", lb.id));
      }
      scene.landblocks.push_back(std::move(lb));
    }
  }
  if (!any_baked) {
    return common::fail(Error(fmt::format("none of the landblocks 0x{:02X}{:02X}..0x{:02X}{:02X} is in the bake {}",
                                          rect.x_lo, rect.y_lo, rect.x_hi, rect.y_hi,
                                          app::display_path(request.bake))));
  }

  TRY_ASSIGN(const dat::DatDatabase portal, open_archive(request.dat_dir, "client_portal.dat"));
  TRY_ASSIGN(const dat::DatDatabase cell, open_archive(request.dat_dir, "client_cell_1.dat"));
  TRY_ASSIGN(const dat::Region region, app::load_region(portal, scene.region_did));
  app::MeshCache meshes;

  for (ViewLandblock& lb : scene.landblocks) {
    if (!lb.baked) continue;
    const std::uint32_t terrain_id = app::landblock_terrain_id(lb.id);
    auto bytes = cell.get_file(terrain_id);
    if (!bytes) {
      return common::fail(app::from_dat_error(bytes.error())
                              .context(fmt::format("fetch CellLandblock 0x{:08X} from cell.dat", terrain_id)));
    }
    auto terrain = dat::CellLandblock::unpack(*bytes);
    if (!terrain) {
      return common::fail(app::from_dat_error(terrain.error())
                              .context(fmt::format("parse CellLandblock 0x{:08X}", terrain_id)));
    }
    lb.terrain = terrain->terrain;
    lb.heights = engine::vertex_heights(region, *terrain);

    auto buildings = app::landblock_buildings(cell, lb.id);
    if (!buildings) {
      scene.warnings.push_back(fmt::format("LB 0x{:04X}: LandblockInfo 0x{:08X} parse failed: {}", lb.id,
                                           app::landblock_info_id(lb.id), buildings.error().message()));
    } else {
      for (const dat::BuildInfo& b : *buildings) {
        ViewBuilding v{b.model_id, b.frame, std::nullopt};
        if (const auto* mesh = meshes.lookup(portal, b.model_id)) v.box = engine::building_box(*mesh, b.frame);
        lb.buildings.push_back(v);
      }
    }
    for (ViewPlacement& p : lb.placements) {
      if (const auto* mesh = meshes.lookup(portal, p.obj_id)) {
        p.box = engine::placement_steps::object_box(*mesh, p.theta, p.scale, p.x, p.y);
      }
    }
  }
  return scene;
}

}  // namespace strewmill::tools
