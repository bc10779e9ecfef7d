// Reading a bake's files back: whole-file reads with located errors, the
// digest file's form and the provenance file. Shared by the tools that
// inspect bakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "apps/strewmill/error.h"
#include "tools/diff/provenance_file.h"

namespace strewmill::tools {

inline constexpr std::size_t kNoLimit = SIZE_MAX;

// Reads `path` into `buf`, whose storage is reused: the whole file, or its
// first `limit` bytes. Errors are "read {path}" with the cause below.
app::AppResult<void> read_whole(const std::filesystem::path& path, std::string& buf,
                                std::size_t limit = kNoLimit);

// 64 lower-case hexadecimal digits and a line feed: what a digest file holds.
bool is_digest_text(std::string_view s);

// Reads and parses a provenance file (`buf` is reused); an error names the
// file, and the line and column for a malformed one.
app::AppResult<Provenance> read_provenance_file(const std::filesystem::path& path, std::string& buf);

}  // namespace strewmill::tools
