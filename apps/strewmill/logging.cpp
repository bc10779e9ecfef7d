#include "apps/strewmill/logging.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

namespace strewmill::app {

namespace {

std::string_view trim_ascii(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Level names as spdlog spells them, case-insensitive.
std::optional<spdlog::level::level_enum> level_from_name(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const spdlog::level::level_enum level = spdlog::level::from_str(lower);
  if (level == spdlog::level::off && lower != "off") return std::nullopt;
  return level;
}

}  // namespace

LogFilter resolve_log_filter(std::string_view env_spec, bool verbose) {
  LogFilter filter;
  std::optional<spdlog::level::level_enum> target_level;
  while (!env_spec.empty()) {
    const std::size_t comma = env_spec.find(',');
    const std::string_view directive = trim_ascii(env_spec.substr(0, comma));
    env_spec = comma == std::string_view::npos ? std::string_view() : env_spec.substr(comma + 1);
    if (directive.empty()) continue;

    const std::size_t eq = directive.find('=');
    const std::string_view target = eq == std::string_view::npos ? std::string_view() : trim_ascii(directive.substr(0, eq));
    const std::string_view name = eq == std::string_view::npos ? directive : trim_ascii(directive.substr(eq + 1));
    const auto level = level_from_name(name);
    if (!level) {
      filter.ignored.emplace_back(directive);
      continue;
    }
    // A bare level is the global one, which the command line replaces;
    // directives for other targets concern no logger of ours.
    if (target == kLogTarget) target_level = *level;
  }
  filter.level = target_level.value_or(verbose ? spdlog::level::info : spdlog::level::warn);
  return filter;
}

std::shared_ptr<spdlog::logger> install_logging(bool verbose) {
  const char* env = std::getenv(kLogFilterEnv);
  const LogFilter filter = resolve_log_filter(env ? std::string_view(env) : std::string_view(), verbose);

  auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>(spdlog::color_mode::automatic);
  auto logger = std::make_shared<spdlog::logger>(kLogTarget, std::move(sink));
  logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%Y-%m-%dT%H:%M:%S.%eZ %^%l%$ %n: %v", spdlog::pattern_time_type::utc));
  logger->set_level(filter.level);
  logger->flush_on(spdlog::level::trace);
  spdlog::drop(kLogTarget);
  spdlog::register_logger(logger);

  for (const std::string& directive : filter.ignored) {
    logger->warn("ignoring {} directive `{}`: unknown level", kLogFilterEnv, directive);
  }
  return logger;
}

bool log_enabled(spdlog::level::level_enum level) {
  const auto logger = spdlog::get(kLogTarget);
  return logger && logger->should_log(level);
}

}  // namespace strewmill::app
