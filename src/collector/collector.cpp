#include "collector/collector.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bacnet/timer.hpp"
#include "bacstack/limits.hpp"
#include "bacstack/stack.hpp"
#include "collector/options.hpp"
#include "collector/scan.hpp"
#include "logging/logging.hpp"

namespace collector {

namespace {

constexpr const char* kDefaultIface = "eth0";
constexpr const char* kDebugLogTemplate = "/var/log/quillon/quillon_debug_{0}.log";
constexpr const char* kLogTemplate = "/var/log/quillon/quillon_{0}.log";

}  // namespace

void runCollector(int argc, char** argv, std::string& debug_log_path, std::string& log_path) {
    const char* env_iface = std::getenv("BACNET_IFACE");
    const std::string iface = env_iface != nullptr ? env_iface : kDefaultIface;
    debug_log_path = fmt::format(kDebugLogTemplate, iface);
    log_path = fmt::format(kLogTemplate, iface);

    if (const auto failure = logging::setup_collector(debug_log_path, log_path)) {
        std::cerr << *failure << std::endl;
        std::exit(1);
    }
    const auto console = logging::get("console");

    bacstack::Stack stack;
    stack.set_device_instance(bacstack::kMaxInstance);
    stack.address_init();
    Collector collector(stack);
    if (!stack.init_datalink_from_environment()) std::exit(1);

    CollectorOptions options;
    OptionParser parser(options);
    for (int i = 1; i < argc; ++i) {
        if (!parser.feed(argv[i])) {
            std::cerr << "Неизвестный аргумент: " << argv[i] << std::endl;
            spdlog::shutdown();
            return;
        }
    }

    const auto duration_line = [&](std::int64_t t0) {
        console->debug("Выполнения скрипта сбора информации завершено за {0}",
                       formatDuration(bacnet::steady_now_ms() - t0));
    };
    const auto as_u32 = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };

    if (options.help) {
        console->debug(kHelpText);
    } else if (!options.dcollector) {
        if (options.has_type && options.has_id && options.has_property && options.has_instance) {
            collector.readWithTimeout(options.timeout, as_u32(options.id), as_u32(options.type),
                                      as_u32(options.instance), as_u32(options.property));
            collector.logCollectorAnswer(as_u32(options.id));
            collector.resetAnswer();
        }
    } else if (!options.has_property && options.has_id) {
        const std::int64_t t0 = bacnet::steady_now_ms();
        ObjectList list;
        collector.scanDevice(options.timeout, list, as_u32(options.id));
        duration_line(t0);
    } else if (!options.has_property) {
        const std::int64_t t0 = bacnet::steady_now_ms();
        collector.discover(options.timeout);
        for (auto& [device, list] : collector.discovered()) collector.scanDevice(options.timeout, list, device);
        duration_line(t0);
    } else {
        const std::int64_t t0 = bacnet::steady_now_ms();
        collector.discover(options.timeout);
        for (auto& [device, list] : collector.discovered()) {
            collector.scanProperty(options.timeout, list, device, as_u32(options.property));
        }
        duration_line(t0);
    }
    // Whatever the flusher has not written yet goes out before the process ends.
    spdlog::shutdown();
}

}  // namespace collector
