// A log-file output that appends to its file and keeps the descriptor out of exec'd images.
// The library's own file sink opens with plain fopen, which would leak the log files into
// the image that replaces the gateway after a configuration change.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace logging {

class AppendFileSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    // Creates the missing directories of `path` and opens it for appending, close-on-exec.
    // On failure returns null and puts a message naming the path and the reason in `error`.
    static std::shared_ptr<AppendFileSink> open(const std::string& path, std::string& error);

    const std::string& path() const { return path_; }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };

    AppendFileSink(std::string path, std::unique_ptr<std::FILE, FileCloser> file)
        : path_(std::move(path)), file_(std::move(file)) {}

    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace logging
