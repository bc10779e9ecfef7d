// Tool-level costs: float text, one landblock's output files, the file
// digest, and how one landblock's bake grows with its candidate objects
// (through the run's real caches over a generated portal archive).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/strewmill/caches.h"
#include "apps/strewmill/emit_bits.h"
#include "apps/strewmill/float_text.h"
#include "apps/strewmill/output.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/dat_database.h"
#include "lib/engine/placement.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/worldgen.h"

namespace {

using namespace strewmill;
namespace fs = std::filesystem;

[[noreturn]] void fatal(const std::string& what) {
  std::fprintf(stderr, "app_bench: %s\n", what.c_str());
  std::abort();
}

// One scratch folder per process, removed at exit.
const fs::path& scratch() {
  struct Dir {
    fs::path path;
    Dir() {
      std::string tmpl = (fs::temp_directory_path() / "strewmill-app-bench-XXXXXX").string();
      if (mkdtemp(tmpl.data()) == nullptr) fatal("mkdtemp failed");
      path = tmpl;
    }
    ~Dir() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Dir dir;
  return dir.path;
}

// Small deterministic generator for benchmark inputs.
struct Lcg {
  std::uint32_t s;
  std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
  float uniform(float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(next() >> 8) / 16777216.0f;
  }
};

// Placements as the engine produces them: positions inside the landblock,
// heights of a hilly terrain, turns about z, scales near 1, ids of the
// generated world's graphics objects and setup models.
std::vector<engine::Placement> sample_placements(std::size_t n) {
  Lcg r{7};
  std::vector<engine::Placement> out;
  for (std::size_t i = 0; i < n; ++i) {
    engine::Placement p;
    p.obj_id = i % 3 == 0 ? tools::world_setup_id(static_cast<int>(r.next() % 60))
                          : tools::world_gfx_id(static_cast<int>(r.next() % 150));
    p.x = r.uniform(0, 192);
    p.y = r.uniform(0, 192);
    p.z = r.uniform(0, 250);
    const float half = r.uniform(0, 3.14159f);
    p.qw = std::cos(half);
    p.qz = std::sin(half);
    p.scale = i % 4 == 0 ? 1.0f : r.uniform(0.6f, 1.8f);
    p.source_cell_x = static_cast<std::uint32_t>(i % 9);
    p.source_cell_y = static_cast<std::uint32_t>((i / 9) % 9);
    p.source_obj_idx = static_cast<std::uint32_t>(i % 14);
    out.push_back(p);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The generated world's portal records, plus scenes that give landblocks an
// exact number of candidate objects. The 1000 candidates of one dense
// landblock are the same descriptors as those of 20 landblocks with 50 (or
// 5 with 200), so comparing their costs compares like with like: what
// grows faster than the candidate count shows, nothing else.

constexpr std::uint16_t kLandblock = 0xA9B4;
constexpr int kVertices = 81;
constexpr int kSceneTypesPerTerrain = 32;  // a terrain word's scene type has 5 bits
constexpr int kDenseCandidates = 1000;
constexpr int kCandidateCounts[] = {50, 200, 1000};

// Scene of vertex `vertex` of landblock `part` in the split into
// kDenseCandidates / candidates landblocks.
std::uint32_t bench_scene_id(int candidates, int part, int vertex) {
  return 0x12800000u + static_cast<std::uint32_t>(candidates) * 8192u +
         static_cast<std::uint32_t>(part) * 128u + static_cast<std::uint32_t>(vertex);
}

// Descriptors of vertex i when a landblock has `candidates` in all, spread
// evenly: (i+1)N/81 - iN/81 of them.
int vertex_candidates(int candidates, int i) {
  return (i + 1) * candidates / kVertices - i * candidates / kVertices;
}

struct BenchWorld {
  dat::DatDatabase portal;
  dat::Region world_region;
  dat::CellLandblock landblock;

  static BenchWorld& get() {
    static BenchWorld w = make();
    return w;
  }

  // The world's region with one scene type per vertex: vertex i has terrain
  // type i / 32 and scene type i % 32, which select scene type i, which
  // lists the one scene of that vertex.
  dat::Region region_for(int candidates, int part) const {
    dat::Region region = world_region;
    auto& types = region.terrain.terrain_types;
    types.resize((kVertices + kSceneTypesPerTerrain - 1) / kSceneTypesPerTerrain);
    for (std::size_t t = 0; t < types.size(); ++t) {
      types[t].scene_type_indices.clear();
      for (int s = 0; s < kSceneTypesPerTerrain; ++s)
        types[t].scene_type_indices.push_back(static_cast<std::uint32_t>(t * kSceneTypesPerTerrain + s));
    }
    region.scene.emplace();
    for (int i = 0; i < kVertices; ++i) {
      dat::SceneType type;
      type.scene_ids.push_back(bench_scene_id(candidates, part, i));
      region.scene->scene_types.push_back(type);
    }
    return region;
  }

 private:
  static BenchWorld make() {
    tools::WorldSpec spec;  // the default catalogue: 300 scenes of about 12 descriptors
    tools::ArchiveWriter writer(spec.block_size);
    dat::Region region;
    std::vector<dat::ObjectDesc> pool;  // every descriptor of every world scene
    auto visited = tools::for_each_world_record(
        spec, tools::WorldArchive::portal, [&](tools::WorldRecord& rec) -> common::Result<void, std::string> {
          if (const auto* r = std::get_if<dat::Region>(&rec.value)) region = *r;
          if (const auto* s = std::get_if<dat::Scene>(&rec.value))
            pool.insert(pool.end(), s->objects.begin(), s->objects.end());
          writer.add(rec.id, std::move(rec.bytes), rec.compress);
          return {};
        });
    if (!visited || pool.size() < kDenseCandidates) fatal("world generation failed");

    // The dense landblock's descriptors: a stretch of the world's scenes.
    const std::vector<dat::ObjectDesc> dense(pool.begin() + 100, pool.begin() + 100 + kDenseCandidates);
    for (const int n : kCandidateCounts) {
      std::size_t next = 0;
      for (int part = 0; part < kDenseCandidates / n; ++part) {
        for (int i = 0; i < kVertices; ++i) {
          dat::Scene scene;
          scene.id = bench_scene_id(n, part, i);
          for (int k = vertex_candidates(n, i); k > 0; --k) scene.objects.push_back(dense[next++]);
          writer.add(scene.id, tools::encode_scene(scene));
        }
      }
    }
    const fs::path path = scratch() / "portal.dat";
    if (auto r = writer.write(path); !r) fatal(r.error());
    auto db = dat::DatDatabase::open(path);
    if (!db) fatal(db.error().message());

    dat::CellLandblock lb;
    for (int i = 0; i < kVertices; ++i) {
      const int t = i / kSceneTypesPerTerrain;
      const int s = i % kSceneTypesPerTerrain;
      lb.terrain[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>((t << 2) | (s << 11));
      // Rolling hills: a few dozen height steps across the landblock.
      const double x = i / 9, y = i % 9;
      lb.height[static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(60 + 25 * std::sin(x * 0.7) + 20 * std::cos(y * 0.9));
    }
    return BenchWorld{std::move(db).value(), std::move(region), lb};
  }
};

// ---------------------------------------------------------------------------

std::vector<float> sample_floats() {
  const auto placements = sample_placements(128);
  std::vector<float> v;
  for (const auto& p : placements)
    for (float f : {p.x, p.y, p.z, p.qw, p.qx, p.qy, p.qz, p.scale}) v.push_back(f);
  return v;  // 1024 values
}

// Float text of the fields of 128 placements (1024 values) per iteration.
void BM_FormatF32SixSig(benchmark::State& state) {
  const std::vector<float> values = sample_floats();
  app::EMIT_BITS.store(state.range(0) != 0);
  char buf[app::kF32TextMax];
  for (auto _ : state) {
    for (const float v : values) {
      char* end = app::append_f32_six_sig(buf, v);
      benchmark::DoNotOptimize(end);
    }
    benchmark::ClobberMemory();
  }
  app::EMIT_BITS.store(false);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  state.SetLabel(state.range(0) != 0 ? "raw bits" : "six decimals");
}
BENCHMARK(BM_FormatF32SixSig)->Arg(0)->Arg(1);

// The allocating form, one value per call.
void BM_FormatF32SixSigString(benchmark::State& state) {
  const std::vector<float> values = sample_floats();
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s = app::format_f32_six_sig(values[i++ & 1023]);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_FormatF32SixSigString);

// Large magnitudes up to FLT_MAX, written with all their integer digits.
void BM_FormatF32SixSigLarge(benchmark::State& state) {
  std::vector<float> values;
  Lcg r{3};
  for (int i = 0; i < 1024; ++i) values.push_back(std::ldexp(r.uniform(1, 2), static_cast<int>(r.next() % 127)));
  char buf[app::kF32TextMax];
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(app::append_f32_six_sig(buf, values[i++ & 1023]));
}
BENCHMARK(BM_FormatF32SixSigLarge);

// One landblock's output: the placement file through its 8 KiB buffer, the
// read-back digest and the digest file; default script ids served from the
// cache. Second argument 1: both files are new (the files of the previous
// iteration are removed untimed), as in a bake into an empty folder; 0:
// they are truncated and rewritten, as in a bake again into the same
// folder (on ext4 that also starts the write-back of the old blocks).
void BM_WritePlacementOutput(benchmark::State& state) {
  const auto placements = sample_placements(static_cast<std::size_t>(state.range(0)));
  const bool fresh = state.range(1) != 0;
  BenchWorld& world = BenchWorld::get();
  auto hasher = app::Sha256Hasher::create();
  if (!hasher) fatal(hasher.error().message());
  app::DefaultScriptCache scripts;
  const fs::path dir = scratch() / "out";
  fs::create_directories(dir);
  const fs::path file = dir / app::placement_file_name(kLandblock);
  fs::path digest_file = file;
  digest_file += ".sha256";
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    auto path = app::write_placement_output(kLandblock, dir, placements, world.portal, scripts, *hasher);
    if (!path) fatal(path.error().message());
    if (fresh) {
      state.PauseTiming();
      bytes = fs::file_size(file);
      fs::remove(file);
      fs::remove(digest_file);
      state.ResumeTiming();
    }
  }
  if (!fresh) bytes = fs::file_size(file);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * placements.size()));
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WritePlacementOutput)
    ->ArgNames({"placements", "fresh"})
    ->Args({0, 1})
    ->Args({60, 1})
    ->Args({300, 1})
    ->Args({60, 0})
    ->Unit(benchmark::kMicrosecond);

fs::path file_of_size(std::int64_t bytes) {
  const fs::path path = scratch() / ("data-" + std::to_string(bytes));
  if (fs::exists(path)) return path;
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 16);
  Lcg r{11};
  for (char& c : block) c = static_cast<char>(r.next() >> 24);
  for (std::int64_t left = bytes; left > 0; left -= static_cast<std::int64_t>(block.size()))
    out.write(block.data(), std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
  return path;
}

// The digest of a file through one reused hasher (as the pre-flight and the
// output writer use it): a placement file, and archive-sized reads.
void BM_Sha256File(benchmark::State& state) {
  const fs::path path = file_of_size(state.range(0));
  auto hasher = app::Sha256Hasher::create();
  if (!hasher) fatal(hasher.error().message());
  for (auto _ : state) {
    auto digest = hasher->digest_file(path);
    if (!digest) fatal(digest.error().message());
    benchmark::DoNotOptimize(digest->data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sha256File)->Arg(16 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);

// sha256_file on its own: sets up a digest context per call.
void BM_Sha256FileOneOff(benchmark::State& state) {
  const fs::path path = file_of_size(state.range(0));
  for (auto _ : state) {
    auto digest = app::sha256_file(path);
    if (!digest) fatal(digest.error().message());
    benchmark::DoNotOptimize(digest->data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sha256FileOneOff)->Arg(16 << 10)->Unit(benchmark::kMicrosecond);

// One landblock through the engine and the run's caches (warm, as in a long
// run) with the given number of candidate objects: descriptors summed over
// its 81 vertices. Below 1000, each iteration bakes the next of the
// landblocks that share the dense landblock's descriptors, so the time is
// their mean.
void BM_BakeCandidates(benchmark::State& state) {
  const int candidates = static_cast<int>(state.range(0));
  const auto mode = state.range(1) == 0 ? engine::BakeMode::AceCompat : engine::BakeMode::Strict;
  BenchWorld& world = BenchWorld::get();
  std::vector<dat::Region> regions;
  for (int part = 0; part < kDenseCandidates / candidates; ++part) regions.push_back(world.region_for(candidates, part));
  app::SceneCache scenes;
  app::MeshCache meshes;
  auto scene_lookup = [&](std::uint32_t id, std::vector<dat::ObjectDesc>& objects) {
    return scenes.lookup(world.portal, id, objects);
  };
  auto mesh_lookup = [&](std::uint32_t id) { return meshes.lookup(world.portal, id); };
  const std::uint32_t base = std::uint32_t{kLandblock} << 16;
  auto bake = [&](const dat::Region& region) {
    return engine::bake_landblock_impl(region, world.landblock, base, scene_lookup, mesh_lookup,
                                       std::span<const engine::Box>{}, mode);
  };
  // Fill the caches first: a long run serves almost every look-up from them.
  std::size_t placed = 0;
  for (const dat::Region& region : regions) placed += bake(region).size();
  std::size_t next = 0;
  for (auto _ : state) {
    auto out = bake(regions[next]);
    next = next + 1 == regions.size() ? 0 : next + 1;
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["placements"] = static_cast<double>(placed) / static_cast<double>(regions.size());
  state.SetLabel(std::string(engine::to_string(mode)));
}
// Arguments: candidates, then 0 for ace-compat or 1 for strict.
BENCHMARK(BM_BakeCandidates)
    ->Args({50, 0})
    ->Args({200, 0})
    ->Args({1000, 0})
    ->Args({50, 1})
    ->Args({1000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
