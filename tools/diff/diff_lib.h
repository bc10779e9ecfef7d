// strewmill-diff: an exact comparison of two bakes, landblock by landblock
// and placement by placement, with provenance and digest checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "apps/strewmill/error.h"

namespace strewmill::tools {

struct DiffOptions {
  bool json = false;      // JSON Lines records instead of the human report
  std::size_t show = 5;   // differences detailed per landblock (human report only)
};

// Everything the comparison counted.
struct DiffTotals {
  std::uint64_t landblocks = 0;             // with a placement file on either side
  std::uint64_t landblocks_different = 0;   // objects differ, or only one side has or can read the file
  std::uint64_t landblocks_only_a = 0;
  std::uint64_t landblocks_only_b = 0;
  std::uint64_t landblocks_unreadable = 0;  // a damaged placement file that does not parse
  std::uint64_t landblocks_six_decimal = 0; // compared at six decimals: the float forms differ
  std::uint64_t objects_a = 0;
  std::uint64_t objects_b = 0;
  std::uint64_t only_a = 0;
  std::uint64_t only_b = 0;
  std::uint64_t changed = 0;         // matched objects with at least one differing field
  std::uint64_t changed_fields = 0;
  std::uint64_t digest_problems = 0;
  std::uint64_t provenance_differences = 0;  // differing lines, or 1 when one side has none

  bool identical() const {
    return landblocks_different == 0 && digest_problems == 0 && provenance_differences == 0;
  }
};

// Where the report goes: text gathers in a buffer that is written to `file`
// whenever it grows large, so a long report streams; with no file all of it
// stays in the buffer (for tests).
class ReportSink {
 public:
  explicit ReportSink(std::FILE* file = nullptr) : file_(file) {}

  std::string& out() { return buf_; }
  const std::string& text() const { return buf_; }

  app::AppResult<void> flush_if_large();
  app::AppResult<void> flush();

 private:
  std::FILE* file_;
  std::string buf_;
};

// Compares `a` and `b`: two bake output directories or two placement files.
// The report goes to `sink`; a malformed or unreadable input is an error
// naming the file (and line). A placement file whose digest check failed
// and which does not parse is reported as unreadable instead, as what an
// interrupted bake leaves behind.
app::AppResult<DiffTotals> diff_bakes(const std::filesystem::path& a, const std::filesystem::path& b,
                                      const DiffOptions& options, ReportSink& sink);

}  // namespace strewmill::tools
