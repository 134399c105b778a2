#include "logging/logging.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "logging/append_file_sink.hpp"

namespace logging {
namespace {

using SinkList = std::vector<spdlog::sink_ptr>;

std::shared_ptr<spdlog::logger> make_registered(const std::string& name, SinkList sinks) {
    auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    // A set-up that runs again (tests, or a second collector run) must not fail on the
    // names it registered the first time.
    spdlog::drop(name);
    spdlog::register_logger(logger);
    return logger;
}

void finish_setup() {
    spdlog::set_level(spdlog::level::debug);
    spdlog::flush_every(std::chrono::seconds(1));
}

}  // namespace

std::optional<std::string> setup_gateway(const std::string& log_path) {
    std::string error;
    auto file = AppendFileSink::open(log_path, error);
    if (!file) {
        return error;
    }
    try {
        auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>();
        const SinkList sinks{file, console};
        make_registered("main", sinks);
        make_registered("bacnet", sinks);
        make_registered("cache", sinks);
        // Replaces the console-only "config" of the configuration reader.
        make_registered("config", sinks);
        make_registered("mqtt", sinks);
        finish_setup();
    } catch (const spdlog::spdlog_ex& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

std::optional<std::string> setup_collector(const std::string& debug_path,
                                           const std::string& log_path) {
    std::string error;
    auto debug_file = AppendFileSink::open(debug_path, error);
    if (!debug_file) {
        return error;
    }
    auto log_file = AppendFileSink::open(log_path, error);
    if (!log_file) {
        return error;
    }
    try {
        auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>();
        auto console_logger = make_registered("console", {log_file, console});
        console_logger->set_pattern(std::string(kCollectorPattern));
        make_registered("all", {debug_file, log_file, console});
        auto file_logger = make_registered("file", {debug_file});
        file_logger->set_pattern(std::string(kBarePattern));
        make_registered("error", {debug_file});
        finish_setup();
    } catch (const spdlog::spdlog_ex& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

std::shared_ptr<spdlog::logger> register_console(const std::string& name) {
    auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>();
    return make_registered(name, {console});
}

std::shared_ptr<spdlog::logger> get(const std::string& name) {
    if (auto logger = spdlog::get(name)) {
        return logger;
    }
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<spdlog::logger>, std::less<>> stand_ins;
    const std::lock_guard guard(lock);
    auto& logger = stand_ins[name];
    if (!logger) {
        logger = std::make_shared<spdlog::logger>(
            name, std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
        logger->set_level(spdlog::level::debug);
    }
    return logger;
}

}  // namespace logging
