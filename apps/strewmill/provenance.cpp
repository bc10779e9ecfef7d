#include "apps/strewmill/provenance.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "apps/strewmill/file_io.h"

namespace strewmill::app {

std::string format_manifest(std::string_view portal_hash, std::string_view cell_hash,
                            std::string_view local_hash, std::uint32_t region_did,
                            std::uint64_t baked, std::uint64_t skipped, engine::BakeMode mode) {
  return fmt::format(
      "client_portal.dat\t{}\n"
      "client_cell_1.dat\t{}\n"
      "client_local_English.dat\t{}\n"
      "bake-tool-version\t{} + {}\n"
      "region-did\t0x{:08X}\n"
      "bake-mode\t{}\n"
      "landblocks\t{} baked, {} skipped\n",
      portal_hash, cell_hash, local_hash, kEngineId, kToolId, region_did,
      engine::to_string(mode), baked, skipped);
}

AppResult<void> write_provenance(const std::filesystem::path& out_dir, std::string_view text) {
  const std::filesystem::path path = out_dir / kProvenanceFileName;
  UniqueFd fd = create_truncate(path);
  int err = fd ? write_all(fd.get(), text.data(), text.size()) : errno;
  if (err != 0) return common::fail(Error::os(err).context("write " + display_path(path)));
  return {};
}

std::optional<Summary> distribution_summary(std::span<const std::uint64_t> counts) {
  if (counts.empty()) return std::nullopt;
  std::vector<std::uint64_t> sorted(counts.begin(), counts.end());
  std::sort(sorted.begin(), sorted.end());
  Summary s;
  s.min = sorted.front();
  s.p50 = sorted[sorted.size() / 2];
  s.max = sorted.back();
  for (std::uint64_t c : sorted) {
    s.total += c;
    s.nonzero += c != 0 ? 1 : 0;
  }
  return s;
}

std::string summary_line(std::span<const std::uint64_t> counts, std::uint64_t skipped) {
  const std::optional<Summary> s = distribution_summary(counts);
  if (!s) return fmt::format("strewmill done: 0 LBs baked, {} skipped\n", skipped);
  return fmt::format(
      "strewmill done: {} LBs baked, {} skipped, placements min/p50/max={}/{}/{} total={} "
      "nonzero_lbs={}\n",
      counts.size(), skipped, s->min, s->p50, s->max, s->total, s->nonzero);
}

}  // namespace strewmill::app
