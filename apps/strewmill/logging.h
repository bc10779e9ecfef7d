// Logging: one spdlog logger, target "strewmill", writing to standard error.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

namespace strewmill::app {

inline constexpr const char* kLogTarget = "strewmill";
// Comma-separated `target=level` directives plus an optional bare `level`.
inline constexpr const char* kLogFilterEnv = "STREWMILL_LOG";

struct LogFilter {
  spdlog::level::level_enum level = spdlog::level::warn;  // for the target "strewmill"
  std::vector<std::string> ignored;  // directives whose level name is unknown
};

// The command line sets the global level (INFO with --verbose, WARN
// otherwise), replacing a bare level from the environment; a directive for
// our target still overrides it. No length limit: an oversized environment
// value never takes the command-line level down with it.
LogFilter resolve_log_filter(std::string_view env_spec, bool verbose);

// Reads the environment filter, creates and registers the logger, and
// reports ignored directives through it.
std::shared_ptr<spdlog::logger> install_logging(bool verbose);

// False before install_logging.
bool log_enabled(spdlog::level::level_enum level);

template <class... Args>
void log_at(spdlog::level::level_enum level, fmt::format_string<Args...> format, Args&&... args) {
  if (auto logger = spdlog::get(kLogTarget)) logger->log(level, format, std::forward<Args>(args)...);
}

}  // namespace strewmill::app
