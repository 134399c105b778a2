#include "logging/logging.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.hpp"

namespace fs = std::filesystem;

namespace {


std::vector<std::string> lines_of(const fs::path& file) {
    spdlog::apply_all([](const std::shared_ptr<spdlog::logger>& l) { l->flush(); });
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A date and time in the library's default form, in brackets.
const std::string kStamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";

class LoggingTest : public ::testing::Test {
  protected:
    void TearDown() override { spdlog::shutdown(); }
    test_support::TempDir dir;
};

TEST_F(LoggingTest, GatewayLoggersShareOneFileInTheDefaultFormatAndAppend) {
    const fs::path file = dir.path() / "sub" / "quillon.log";  // the directory is created
    fs::create_directories(file.parent_path());
    { std::ofstream(file) << "earlier line\n"; }
    // The configuration reader's console-only logger is already there.
    logging::register_console("config");

    ::testing::internal::CaptureStdout();
    ASSERT_EQ(logging::setup_gateway(file.string()), std::nullopt);
    spdlog::get("main")->info("старт {0}", 1);
    spdlog::get("bacnet")->debug("detail");
    spdlog::get("cache")->trace("never written");
    spdlog::get("config")->error("Не удалось открыть файл {0}", "/x.json");
    spdlog::get("mqtt")->warn("w");
    const std::string console = ::testing::internal::GetCapturedStdout();

    const auto lines = lines_of(file);
    ASSERT_EQ(lines.size(), 5u) << console;
    EXPECT_EQ(lines[0], "earlier line");
    const std::vector<std::string> expected = {
        R"( \[main\] \[info\] старт 1)", R"( \[bacnet\] \[debug\] detail)",
        R"( \[config\] \[error\] Не удалось открыть файл /x.json)", R"( \[mqtt\] \[warning\] w)"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i + 1], std::regex(kStamp + expected[i])))
            << lines[i + 1];
    }
    // Standard output is not a terminal here: the same lines, without colour codes.
    EXPECT_EQ(console.find('\x1b'), std::string::npos);
    std::istringstream console_lines(console);
    std::vector<std::string> printed;
    for (std::string line; std::getline(console_lines, line);) printed.push_back(line);
    EXPECT_EQ(printed, std::vector<std::string>(lines.begin() + 1, lines.end()));
}

TEST_F(LoggingTest, CollectorLoggersWriteBareAndPatternedLines) {
    const fs::path debug = dir.path() / "debug.log";
    const fs::path log = dir.path() / "quillon.log";
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(logging::setup_collector(debug.string(), log.string()), std::nullopt);
    spdlog::get("file")->info("bare file line");
    spdlog::get("all")->debug("to all {}", 3);
    spdlog::get("console")->warn("console only");
    spdlog::get("error")->error("bare error line");
    spdlog::get("all")->trace("never written");
    const std::string console = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(lines_of(debug),
              (std::vector<std::string>{"bare file line", "to all 3", "bare error line"}));
    const auto logged = lines_of(log);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_TRUE(std::regex_match(logged[0], std::regex(kStamp + R"( \[all\] to all 3)")))
        << logged[0];
    EXPECT_TRUE(std::regex_match(logged[1], std::regex(kStamp + R"( \[console\] console only)")))
        << logged[1];
    std::istringstream console_lines(console);
    std::vector<std::string> printed;
    for (std::string line; std::getline(console_lines, line);) printed.push_back(line);
    EXPECT_EQ(printed, logged);
}

TEST_F(LoggingTest, AFileThatCannotBeOpenedIsNamedWithItsReasonAndNothingIsRegistered) {
    const fs::path not_a_dir = dir.path() / "plain";
    { std::ofstream(not_a_dir) << "x"; }
    struct Case {
        fs::path path;
        std::string reason;
    };
    const Case cases[] = {
        {not_a_dir / "quillon.log", "Not a directory"},
        {dir.path(), "Is a directory"},
    };
    for (const Case& c : cases) {
        const auto error = logging::setup_gateway(c.path.string());
        ASSERT_TRUE(error.has_value()) << c.path;
        EXPECT_NE(error->find(c.path.string()), std::string::npos) << *error;
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
        EXPECT_EQ(spdlog::get("main"), nullptr);

        // The collector fails the same way on either of its two files.
        const auto collector_error =
            logging::setup_collector((dir.path() / "debug.log").string(), c.path.string());
        ASSERT_TRUE(collector_error.has_value());
        EXPECT_NE(collector_error->find(c.reason), std::string::npos) << *collector_error;
        EXPECT_EQ(spdlog::get("console"), nullptr);
    }
}

TEST_F(LoggingTest, LogFileDescriptorsAreCloseOnExec) {
    const fs::path debug = dir.path() / "debug.log";
    const fs::path log = dir.path() / "quillon.log";
    ASSERT_EQ(logging::setup_collector(debug.string(), log.string()), std::nullopt);
    int seen = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec || target.parent_path() != dir.path()) continue;
        const int fd = std::stoi(entry.path().filename().string());
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << target;
        ++seen;
    }
    EXPECT_EQ(seen, 2);
}

TEST_F(LoggingTest, LinesReachTheFileWithoutAnExplicitFlush) {
    const fs::path file = dir.path() / "quillon.log";
    ASSERT_EQ(logging::setup_gateway(file.string()), std::nullopt);
    // No stdout capture here: ending a capture flushes every C stream.
    spdlog::get("main")->info("flushed by the periodic flusher");
    // The flusher runs once a second; allow generous slack on a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        found = text.str().find("flushed by the periodic flusher") != std::string::npos;
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(found);
}

TEST_F(LoggingTest, LookupFallsBackToAConsoleLoggerBeforeTheSetUp) {
    auto cache = logging::get("cache");
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->name(), "cache");
    EXPECT_EQ(spdlog::get("cache"), nullptr);  // a stand-in, so the set-up can register its own
    ::testing::internal::CaptureStdout();
    cache->error("create_database error: {}", "boom");
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(
        printed, std::regex(kStamp + R"( \[cache\] \[error\] create_database error: boom\n)")))
        << printed;

    ASSERT_EQ(logging::setup_gateway((dir.path() / "q.log").string()), std::nullopt);
    EXPECT_EQ(logging::get("cache"), spdlog::get("cache"));
}

}  // namespace
