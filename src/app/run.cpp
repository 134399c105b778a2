#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/command_line.hpp"
#include "cache/database.hpp"
#include "collector/collector.hpp"
#include "config/paths.hpp"
#include "config/read_config.hpp"
#include "config/settings.hpp"
#include "logging/logging.hpp"

namespace app {
namespace {

using namespace std::chrono_literals;

// The gateway never returns from here except when its log file cannot be opened.
int run_gateway(CommandLine& line, char** /*argv: for the configuration watcher*/) {
    std::string db_path(paths::kDatabase);
    // The file is read again, unwatched, until it is usable; sleep_for resumes after signals.
    while (read_config(settings, line.config_path, db_path, line.log_path, database)) {
        std::this_thread::sleep_for(5s);
    }

    if (const auto error = logging::setup_gateway(line.log_path)) {
        std::fprintf(stderr, "quillon: %s\n", error->c_str());
        return 1;
    }
    [[maybe_unused]] const auto log = spdlog::get("main");

    // The configuration watcher thread starts here, before the wait for "enabled", so that
    // an edit of a disabled configuration restarts the program.

    while (!settings.enabled) {
        std::this_thread::sleep_for(5s);
    }

    // The gateway start-up sequence runs here.

    for (;;) {
        std::this_thread::sleep_for(3s);
    }
}

}  // namespace

int run(int argc, char** argv) {
    CommandLine line = parse_command_line(argc, argv);
    switch (line.mode) {
        case CommandLine::Mode::MissingValue:
            return 1;
        case CommandLine::Mode::Collector: {
            std::string debug_log_path(paths::kDebugLog);
            collector::runCollector(argc, argv, debug_log_path, line.log_path);
            return 0;
        }
        case CommandLine::Mode::Gateway:
            break;
    }
    return run_gateway(line, argv);
}

}  // namespace app
