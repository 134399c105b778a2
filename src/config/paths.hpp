// File locations of the gateway and the templates of the per-interface names.
#pragma once

#include <string>
#include <string_view>

namespace paths {

inline constexpr std::string_view kConfig = "/etc/quillon.json";
inline constexpr std::string_view kDatabase = "/var/morvel/quillon/quillon.db";
inline constexpr std::string_view kLog = "/var/log/quillon/quillon.log";
inline constexpr std::string_view kDebugLog = "/var/log/quillon/quillon_debug.log";

}  // namespace paths

// Where read_config puts the cache and the log once the interface is known ({0}), and the
// log path that counts as "not chosen on the command line". Tests point these elsewhere.
struct FileNames {
    std::string database_template = "/var/morvel/quillon/quillon_{0}.db";
    std::string log_template = "/var/log/quillon/quillon_{0}.log";
    std::string default_log = std::string(paths::kLog);
};
