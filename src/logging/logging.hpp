// The two logging set-ups (gateway and data collector) and the look-up every subsystem
// uses to fetch its named logger.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace logging {

// Pattern of the collector's log file and console lines, and of its debug file.
inline constexpr std::string_view kCollectorPattern = "[%Y-%m-%d %H:%M:%S.%e] %^[%n]%$ %v";
inline constexpr std::string_view kBarePattern = "%v";

// Registers "main", "bacnet", "cache", "config" and "mqtt" over one log file (appended)
// and the colour console, sets the level to debug and flushes every second.
// Returns nullopt on success, otherwise a message naming the file and the reason; nothing
// is registered then and the caller must not go on.
[[nodiscard]] std::optional<std::string> setup_gateway(const std::string& log_path);

// Registers "console", "all", "file" and "error" over the debug file, the log file and the
// console; same level, flushing and failure report as the gateway set-up.
[[nodiscard]] std::optional<std::string> setup_collector(const std::string& debug_path,
                                                         const std::string& log_path);

// Creates a logger that writes only to the colour console and registers it under `name`,
// replacing one of that name. The configuration reader reports through it before the log
// file is known.
std::shared_ptr<spdlog::logger> register_console(const std::string& name);

// The registered logger `name`; before a set-up has registered it, a console-only stand-in
// (not registered), so that early messages of the cache still reach the operator.
std::shared_ptr<spdlog::logger> get(const std::string& name);

}  // namespace logging
