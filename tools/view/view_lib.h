// strewmill-view: a picture of baked landblocks. Loads what a bake wrote
// (its placement files, checked against their digests) together with the
// terrain and buildings from the archives, and draws them as one SVG.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "apps/strewmill/error.h"
#include "lib/common/geometry.h"
#include "lib/engine/height.h"
#include "lib/engine/placement.h"

namespace strewmill::tools {

struct ViewRequest {
  std::filesystem::path dat_dir;  // the archives the bake was made from
  std::filesystem::path bake;     // the bake's output directory
  std::string landblocks;         // one id, or a rectangle "lo..hi"
  // The region record for the terrain heights; otherwise the one the bake's
  // provenance file names, otherwise the default region.
  std::optional<std::uint32_t> region_did;
};

// A picture holds at most this many landblocks along each side.
inline constexpr unsigned kMaxViewSide = 16;

struct ViewBuilding {
  std::uint32_t model_id = 0;
  common::Frame frame;
  std::optional<engine::Box> box;  // as the bake computes it; none without a footprint mesh
};

struct ViewPlacement {
  std::uint32_t obj_id = 0;
  std::uint32_t default_script_id = 0;
  float x = 0, y = 0, z = 0, scale = 1, qw = 1, qz = 0;
  // The file's six-decimal texts (computed for a --bits bake).
  std::string x_text, y_text, z_text, scale_text;
  std::uint32_t source_cell_x = 0, source_cell_y = 0, source_obj_idx = 0;
  float theta = 0;                 // yaw in radians, from the quaternion
  std::optional<engine::Box> box;  // footprint as placed; none without a footprint mesh
};

struct ViewLandblock {
  std::uint16_t id = 0;
  bool baked = true;  // false: a rectangle's landblock the bake has no file for, drawn empty
  engine::HeightGrid heights{};
  std::array<std::uint16_t, 81> terrain{};
  std::vector<ViewBuilding> buildings;
  std::vector<ViewPlacement> placements;  // in file order
};

struct ViewScene {
  std::uint8_t x_lo = 0, x_hi = 0, y_lo = 0, y_hi = 0;
  std::uint32_t region_did = 0;
  std::string mode;  // the bake's mode; empty when it has no provenance file
  std::vector<ViewLandblock> landblocks;  // X outer, Y inner
  std::vector<std::string> warnings;      // also shown in the picture
};

// Loads everything the picture shows. A landblock missing from the bake (or,
// for a rectangle, all of them), placement files that are not the tool's and
// unreadable archives are errors; a rectangle's landblock missing from the
// bake (as the bake skips those without terrain), a placement file that does
// not match its digest and a bake without a provenance file are warnings.
app::AppResult<ViewScene> load_view(const ViewRequest& request);

// The picture: north up, x to the right, in world units.
std::string render_svg(const ViewScene& scene);

}  // namespace strewmill::tools
