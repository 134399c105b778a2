// Helpers of the cache tests: a logger that records its messages (and, through
// support/files.hpp, a temporary directory).
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/files.hpp"

namespace test_support {


// Keeps "level message" for every line logged through it.
class RecordingSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    std::vector<std::string> take() {
        const std::lock_guard guard(mutex_);
        return std::exchange(lines_, {});
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.push_back(std::string(spdlog::level::to_string_view(msg.level).data(),
                                     spdlog::level::to_string_view(msg.level).size()) +
                         " " + std::string(msg.payload.data(), msg.payload.size()));
    }
    void flush_() override {}

  private:
    std::vector<std::string> lines_;
};

// Registers `name` over a recording sink for the life of the object.
class RecordedLogger {
  public:
    explicit RecordedLogger(const std::string& name) : name_(name) {
        auto logger = std::make_shared<spdlog::logger>(name, sink_);
        logger->set_level(spdlog::level::debug);
        spdlog::drop(name);
        spdlog::register_logger(logger);
    }
    ~RecordedLogger() { spdlog::drop(name_); }
    RecordedLogger(const RecordedLogger&) = delete;
    RecordedLogger& operator=(const RecordedLogger&) = delete;
    std::vector<std::string> take() { return sink_->take(); }

  private:
    std::string name_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

}  // namespace test_support
