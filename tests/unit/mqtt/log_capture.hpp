// Registers a fresh "mqtt" logger whose lines are kept in memory, so tests can wait for
// a message and check its level.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon::testing {

struct LogLine {
    spdlog::level::level_enum level;
    std::string text;
};

class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
  public:
    std::vector<LogLine> lines() {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

    // Number of lines with exactly this text (and level, when given).
    std::size_t count(const std::string& text) {
        const std::lock_guard lock(mutex_);
        return count_locked(text);
    }

    // Waits until at least `n` lines read `text`; false after `timeout`.
    bool wait_for(const std::string& text, std::size_t n, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_locked(text) >= n; });
    }

    // Level of the first line with this text, or `off` when there is none.
    spdlog::level::level_enum level_of(const std::string& text) {
        const std::lock_guard lock(mutex_);
        for (const LogLine& line : lines_) {
            if (line.text == text) return line.level;
        }
        return spdlog::level::off;
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.push_back({msg.level, std::string(msg.payload.begin(), msg.payload.end())});
        changed_.notify_all();
    }
    void flush_() override {}

  private:
    std::size_t count_locked(const std::string& text) const {
        std::size_t n = 0;
        for (const LogLine& line : lines_) n += line.text == text;
        return n;
    }

    std::vector<LogLine> lines_;
    std::condition_variable changed_;
};

// Puts a capturing "mqtt" logger in the registry in place of any earlier one.
inline std::shared_ptr<CaptureSink> capture_mqtt_log() {
    auto sink = std::make_shared<CaptureSink>();
    spdlog::drop("mqtt");
    auto logger = std::make_shared<spdlog::logger>("mqtt", sink);
    logger->set_level(spdlog::level::trace);
    spdlog::register_logger(logger);
    return sink;
}

}  // namespace quillon::testing
