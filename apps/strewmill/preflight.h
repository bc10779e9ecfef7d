// The archive directory check that runs before anything is baked: the
// three retail archives must be present, unmodified as far as the directory
// can tell, and are fingerprinted for the provenance file.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "apps/strewmill/error.h"
#include "apps/strewmill/sha256.h"
#include "lib/dat/dat_database.h"

namespace strewmill::app {

struct ArchiveFile {
  std::string_view file_name;
  std::string_view short_name;  // as messages name it
};

// Every step treats the archives in this order.
inline constexpr std::array<ArchiveFile, 3> kArchiveFiles = {{
    {"client_portal.dat", "portal.dat"},
    {"client_cell_1.dat", "cell.dat"},
    {"client_local_English.dat", "local.dat"},
}};

struct DatDirCheck {
  dat::DatDatabase portal;
  dat::DatDatabase cell;
  std::string portal_hash;
  std::string cell_hash;
  std::string local_hash;
};

// 0xTTFFxxxx with TT from 0x01 to 0x78: the ids world-editing tools allocate.
constexpr bool is_modder_allocated(std::uint32_t id) {
  const std::uint32_t kind = id >> 24;
  return kind >= 0x01 && kind <= 0x78 && ((id >> 16) & 0xFF) == 0xFF;
}

// Checks `dat_dir` in order, stopping at the first failure: it is a
// directory; the three archives are regular files (links followed); no
// entry is a non-empty `custom_textures`, an `iter-*` marker or a
// `*.lwproj` project; the archives open; none holds a modder-allocated id;
// then digests all three, keeps portal and cell open and logs the INFO
// line. Nothing is written anywhere.
AppResult<DatDirCheck> run_preflight(const std::filesystem::path& dat_dir, Sha256Hasher& hasher);

}  // namespace strewmill::app
