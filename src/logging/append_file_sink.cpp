#include "logging/append_file_sink.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/common.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace logging {

std::shared_ptr<AppendFileSink> AppendFileSink::open(const std::string& path, std::string& error) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
        if (ec) {
            error = fmt::format("не удалось открыть файл журнала {0}: {1}", path, ec.message());
            return nullptr;
        }
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = fmt::format("не удалось открыть файл журнала {0}: {1}", path, std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "a"));
    if (!file) {
        error = fmt::format("не удалось открыть файл журнала {0}: {1}", path, std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<AppendFileSink>(new AppendFileSink(path, std::move(file)));
}

void AppendFileSink::sink_it_(const spdlog::details::log_msg& msg) {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    if (std::fwrite(formatted.data(), 1, formatted.size(), file_.get()) != formatted.size()) {
        // Reported by the logger's error handler on standard error; the caller goes on.
        throw spdlog::spdlog_ex(fmt::format("Failed writing to file {}", path_), errno);
    }
}

void AppendFileSink::flush_() {
    if (std::fflush(file_.get()) != 0) {
        throw spdlog::spdlog_ex(fmt::format("Failed flush to file {}", path_), errno);
    }
}

}  // namespace logging
