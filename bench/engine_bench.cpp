// Placement engine throughput: one dense landblock (81 vertices, 20
// descriptors each, meshes of a few dozen points, look-ups served from
// memory) and each height sampler on its own.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "lib/engine/height.h"
#include "lib/engine/placement.h"

namespace {

using namespace strewmill;

constexpr int kScenes = 4;
constexpr int kDescriptors = 20;
constexpr int kMeshes = 6;
constexpr int kMeshPoints = 36;

struct DenseLandblock {
  dat::Region region;
  dat::CellLandblock landblock;
  std::unordered_map<std::uint32_t, std::vector<dat::ObjectDesc>> scenes;
  std::unordered_map<std::uint32_t, std::vector<common::Vector3>> meshes;
  std::vector<engine::Box> buildings;

  DenseLandblock() {
    for (int h = 0; h < 256; ++h) region.land_height_table[h] = 0.75f * static_cast<float>(h);
    region.scene.emplace();
    dat::SceneType type;
    for (int s = 0; s < kScenes; ++s) type.scene_ids.push_back(0x12000000u + static_cast<std::uint32_t>(s));
    region.scene->scene_types.push_back(type);
    dat::TerrainType terrain;
    terrain.scene_type_indices = {0};
    region.terrain.terrain_types.push_back(terrain);

    for (int i = 0; i < 81; ++i) landblock.height[i] = static_cast<std::uint8_t>((i * 29) % 97);
    landblock.terrain[40] = 0x1;  // one road vertex

    for (int m = 0; m < kMeshes; ++m) {
      std::vector<common::Vector3> points;
      const float radius = 0.4f + 0.3f * static_cast<float>(m);
      for (int k = 0; k < kMeshPoints; ++k) {
        const float a = 6.2831853f * static_cast<float>(k) / kMeshPoints;
        points.push_back({radius * std::cos(a), 0.6f * radius * std::sin(a), static_cast<float>(k % 5)});
      }
      meshes.emplace(0x01000000u + static_cast<std::uint32_t>(m), std::move(points));
    }

    for (int s = 0; s < kScenes; ++s) {
      std::vector<dat::ObjectDesc> objects;
      for (int n = 0; n < kDescriptors; ++n) {
        dat::ObjectDesc d;
        d.obj_id = n % 7 == 6 ? 0x02000001u : 0x01000000u + static_cast<std::uint32_t>((n + s) % kMeshes);
        d.base_frame.origin = {static_cast<float>(n % 5) * 2.0f, static_cast<float>(n / 5) * 2.0f, 0};
        d.frequency = 0.9f;
        d.displace_x = d.displace_y = 10.0f;
        d.min_scale = 0.8f;
        d.max_scale = n % 4 == 0 ? 0.8f : 1.4f;
        d.max_rotation = 360.0f;
        d.min_slope = 0.0f;
        d.max_slope = 1.0f;
        objects.push_back(d);
      }
      scenes.emplace(0x12000000u + static_cast<std::uint32_t>(s), std::move(objects));
    }
    buildings.push_back({60, 60, 84, 80});
    buildings.push_back({140, 20, 150, 44});
  }

  std::vector<engine::Placement> bake(engine::BakeMode mode) const {
    return engine::bake_landblock_impl(
        region, landblock, 0xA9B40000,
        [this](std::uint32_t id) -> std::optional<std::vector<dat::ObjectDesc>> {
          auto it = scenes.find(id);
          if (it == scenes.end()) return std::nullopt;
          return it->second;
        },
        [this](std::uint32_t id) -> const std::vector<common::Vector3>* {
          auto it = meshes.find(id);
          return it == meshes.end() ? nullptr : &it->second;
        },
        buildings, mode);
  }
};

void BM_BakeLandblock(benchmark::State& state) {
  const DenseLandblock lb;
  const auto mode = state.range(0) == 0 ? engine::BakeMode::AceCompat : engine::BakeMode::Strict;
  std::size_t placed = 0;
  for (auto _ : state) {
    auto out = lb.bake(mode);
    placed = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["placements"] = static_cast<double>(placed);
  state.SetLabel(std::string(engine::to_string(mode)));
}
BENCHMARK(BM_BakeLandblock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// 1024 positions across the landblock and a little outside it.
std::vector<std::pair<float, float>> positions() {
  std::vector<std::pair<float, float>> out;
  std::uint32_t s = 12345;
  for (int i = 0; i < 1024; ++i) {
    s = s * 1664525u + 1013904223u;
    const float x = static_cast<float>(s >> 8) / 16777216.0f * 200.0f - 4.0f;
    s = s * 1664525u + 1013904223u;
    const float y = static_cast<float>(s >> 8) / 16777216.0f * 200.0f - 4.0f;
    out.emplace_back(x, y);
  }
  return out;
}

engine::HeightGrid grid() {
  const DenseLandblock lb;
  return engine::vertex_heights(lb.region, lb.landblock);
}

template <class F>
void run_sampler(benchmark::State& state, F&& sample) {
  const engine::HeightGrid g = grid();
  const auto points = positions();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& [x, y] = points[i++ & 1023];
    benchmark::DoNotOptimize(sample(g, x, y));
  }
}

void BM_TrianglePlaneHeight(benchmark::State& state) {
  run_sampler(state, [](const engine::HeightGrid& g, float x, float y) {
    return engine::triangle_plane_height_from_grid(g, 0xA9B4, x, y);
  });
}
BENCHMARK(BM_TrianglePlaneHeight);

void BM_BilinearHeight(benchmark::State& state) {
  run_sampler(state, [](const engine::HeightGrid& g, float x, float y) {
    return engine::bilinear_height_from_grid(g, x, y);
  });
}
BENCHMARK(BM_BilinearHeight);

void BM_NormalZ(benchmark::State& state) {
  run_sampler(state,
              [](const engine::HeightGrid& g, float x, float y) { return engine::normal_z_at(g, x, y); });
}
BENCHMARK(BM_NormalZ);

void BM_VertexHeights(benchmark::State& state) {
  const DenseLandblock lb;
  for (auto _ : state) {
    auto g = engine::vertex_heights(lb.region, lb.landblock);
    benchmark::DoNotOptimize(g.data());
  }
}
BENCHMARK(BM_VertexHeights);

}  // namespace
