// The provenance file `bake-source.sha256` and the run's closing statistics.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "apps/strewmill/error.h"
#include "lib/engine/bake_mode.h"

namespace strewmill::app {

inline constexpr std::string_view kEngineId = "vellgrim-strewmill/0.1.0";
inline constexpr std::string_view kToolId = "strewmill-cli/0.1.0";
inline constexpr std::string_view kProvenanceFileName = "bake-source.sha256";

// Seven "key\tvalue\n" lines: the three archive digests, the tool version,
// the region id, the mode's canonical name and the baked/skipped counts.
std::string format_manifest(std::string_view portal_hash, std::string_view cell_hash,
                            std::string_view local_hash, std::uint32_t region_did,
                            std::uint64_t baked, std::uint64_t skipped, engine::BakeMode mode);

// Creates or truncates `out_dir`/bake-source.sha256 and writes `text`.
// Error: "write {path}" with the OS error as cause.
AppResult<void> write_provenance(const std::filesystem::path& out_dir, std::string_view text);

// Placement-count statistics over the baked landblocks.
struct Summary {
  std::uint64_t min = 0;
  std::uint64_t p50 = 0;  // element n/2 of the sorted counts (the upper middle)
  std::uint64_t max = 0;
  std::uint64_t total = 0;
  std::uint64_t nonzero = 0;

  friend bool operator==(const Summary&, const Summary&) = default;
};

// Nothing for no counts.
std::optional<Summary> distribution_summary(std::span<const std::uint64_t> counts);

// The closing line on standard error, line feed included: the short form
// when nothing was baked, otherwise with the placement statistics.
std::string summary_line(std::span<const std::uint64_t> counts, std::uint64_t skipped);

}  // namespace strewmill::app
