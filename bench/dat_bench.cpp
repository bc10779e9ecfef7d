// Archive reader costs: opening a retail-sized directory, fetching small and
// multi-block records, expanding compressed records, and the directory map
// against std::unordered_map.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <unordered_map>
#include <vector>

#include "lib/dat/dat_database.h"
#include "tools/writer/archive_writer.h"

namespace {

using strewmill::dat::DatDatabase;
using strewmill::dat::DatFileEntry;
using strewmill::dat::Directory;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kEntries = 1'000'000;
constexpr std::uint32_t kBlockSize = 1024;
constexpr std::uint32_t kLarge64K = 0x0F000000;  // 64 KiB, 65 blocks
constexpr std::uint32_t kLarge1M = 0x0F000001;   // 1 MiB, 1029 blocks

// Cell-archive-like ids: 0xXXYYFFFF / 0xXXYYFFFE pairs and then interiors.
std::uint32_t small_id(std::uint32_t i) {
  const std::uint32_t lb = i / 16;
  const std::uint32_t k = i % 16;
  return (lb << 16) | (k < 2 ? 0xFFFFu - k : 0x100u + k);
}

Bytes mixed_data(std::mt19937& rng, std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = (i % 64 < 40) ? static_cast<std::uint8_t>(i / 64) : static_cast<std::uint8_t>(rng() & 7);
  return b;
}

// One archive of 1,000,000 records (one 1 KiB block each, ~1 GB) plus two
// long records, written once and reused by later runs.
const std::filesystem::path& archive_path() {
  static const std::filesystem::path path = [] {
    const std::filesystem::path p = "/tmp/strewmill-dat-bench-1m-v1.dat";
    if (std::filesystem::exists(p)) return p;
    std::mt19937 rng(1);
    strewmill::tools::ArchiveWriter writer(kBlockSize);
    for (std::uint32_t i = 0; i < kEntries; ++i) writer.add(small_id(i), mixed_data(rng, 64 + rng() % 900));
    writer.add(kLarge64K, mixed_data(rng, 64 * 1024));
    writer.add(kLarge1M, mixed_data(rng, 1024 * 1024));
    const std::filesystem::path tmp = p.string() + ".part";
    auto r = writer.write(tmp);
    if (!r) {
      std::fprintf(stderr, "%s\n", r.error().c_str());
      std::abort();
    }
    std::filesystem::rename(tmp, p);
    return p;
  }();
  return path;
}

const DatDatabase& shared_db() {
  static DatDatabase db = [] {
    auto r = DatDatabase::open(archive_path());
    if (!r) {
      std::fprintf(stderr, "%s\n", r.error().message().c_str());
      std::abort();
    }
    return std::move(r).value();
  }();
  return db;
}

void BM_Open1M(benchmark::State& state) {
  const auto& path = archive_path();
  for (auto _ : state) {
    auto db = DatDatabase::open(path);
    if (!db) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(db);
  }
  state.counters["entries"] = kEntries + 2;
}
BENCHMARK(BM_Open1M)->Unit(benchmark::kMillisecond);

void BM_GetFileSmall(benchmark::State& state) {
  const DatDatabase& db = shared_db();
  std::mt19937 rng(3);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    auto r = db.get_file(small_id(rng() % kEntries));
    bytes += static_cast<std::int64_t>(r->size());
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_GetFileSmall);

void BM_GetFileMultiBlock(benchmark::State& state) {
  const DatDatabase& db = shared_db();
  const auto id = static_cast<std::uint32_t>(state.range(0));
  std::int64_t bytes = 0;
  for (auto _ : state) {
    auto r = db.get_file(id);
    bytes += static_cast<std::int64_t>(r->size());
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_GetFileMultiBlock)->Arg(kLarge64K)->Arg(kLarge1M);

void BM_DecompressLrs(benchmark::State& state) {
  std::mt19937 rng(5);
  const Bytes plain = mixed_data(rng, 1 << 20);
  const Bytes packed = strewmill::tools::compress_lrs(plain);
  for (auto _ : state) {
    auto out = strewmill::dat::decompress_lrs(packed);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(plain.size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(plain.size());
}
BENCHMARK(BM_DecompressLrs);

void BM_CompressLrs(benchmark::State& state) {
  std::mt19937 rng(5);
  const Bytes plain = mixed_data(rng, 1 << 20);
  for (auto _ : state) {
    auto out = strewmill::tools::compress_lrs(plain);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(plain.size()));
}
BENCHMARK(BM_CompressLrs);

// The directory map against std::unordered_map: building 1M entries, then
// random hits.
std::vector<DatFileEntry> sample_entries() {
  std::vector<DatFileEntry> v(kEntries);
  for (std::uint32_t i = 0; i < kEntries; ++i) v[i].id = small_id(i);
  return v;
}

void BM_DirectoryBuild(benchmark::State& state) {
  const auto entries = sample_entries();
  for (auto _ : state) {
    Directory d;
    for (const auto& e : entries) d.insert_or_assign(e);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_DirectoryBuild)->Unit(benchmark::kMillisecond);

void BM_UnorderedMapBuild(benchmark::State& state) {
  const auto entries = sample_entries();
  for (auto _ : state) {
    std::unordered_map<std::uint32_t, DatFileEntry> d;
    for (const auto& e : entries) d.insert_or_assign(e.id, e);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_UnorderedMapBuild)->Unit(benchmark::kMillisecond);

void BM_DirectoryFind(benchmark::State& state) {
  const auto entries = sample_entries();
  Directory d;
  for (const auto& e : entries) d.insert_or_assign(e);
  std::mt19937 rng(9);
  for (auto _ : state) benchmark::DoNotOptimize(d.find(small_id(rng() % kEntries)));
}
BENCHMARK(BM_DirectoryFind);

void BM_UnorderedMapFind(benchmark::State& state) {
  const auto entries = sample_entries();
  std::unordered_map<std::uint32_t, DatFileEntry> d;
  for (const auto& e : entries) d.insert_or_assign(e.id, e);
  std::mt19937 rng(9);
  for (auto _ : state) benchmark::DoNotOptimize(d.find(small_id(rng() % kEntries)));
}
BENCHMARK(BM_UnorderedMapFind);

}  // namespace
