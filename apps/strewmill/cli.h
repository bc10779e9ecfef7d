// The command line: the options record and its parser.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "lib/common/result.h"

namespace strewmill::app {

inline constexpr std::string_view kToolVersion = "0.1.0";
inline constexpr std::uint32_t kDefaultRegionDid = 0x13000000;

struct Cli {
  std::filesystem::path dat_dir;
  std::string landblocks;               // unchanged; parsed by select_landblocks
  std::string region_did = "0x13000000";  // text, parsed by parse_hex_u32
  std::filesystem::path out;
  std::uint64_t throttle_ms = 0;
  bool verbose = false;
  std::string mode = "ace-compat";      // parsed after the landblock list
  bool bits = false;
};

// The status the process ends with instead of running: 0 after help or
// version output, 2 after a command-line error.
struct CliExit {
  int status = 0;
};

// Parses argv. Help and version go to standard output, errors and usage to
// standard error.
common::Result<Cli, CliExit> parse_command_line(int argc, const char* const* argv);

// A plain unsigned decimal that fits in 64 bits (digits only: no sign, no
// prefix, no exponent); nullopt otherwise.
std::optional<std::uint64_t> parse_decimal_u64(std::string_view text);

}  // namespace strewmill::app
