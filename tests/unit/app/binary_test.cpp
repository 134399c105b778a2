// The quillon binary end to end: command line, configuration loading, cache rebuild and
// log files. Runs that write under /var/morvel/quillon or /var/log/quillon happen in a
// private mount namespace where those paths are temporary directories.
#include <SQLiteCpp/Database.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

const std::string kBinary = QUILLON_BINARY;
const std::string kExample = std::string(QUILLON_SOURCE_DIR) + "/examples/quillon.json";

std::string read_file(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Console lines without their time stamp.
std::vector<std::string> messages(const std::string& console) {
    static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::vector<std::string> out;
    std::istringstream lines(console);
    for (std::string line; std::getline(lines, line);) {
        out.push_back(std::regex_replace(line, stamp, ""));
    }
    return out;
}

// One run of a child process with its output in files; killed when the object ends.
class Child {
  public:
    Child(const std::vector<std::string>& args, const fs::path& out_dir) : dir_(out_dir) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Whatever the test runner leaks into us stays out: the child's descriptors are its own.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status once the child has ended by itself within `limit`.
    std::optional<int> wait_exit(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!status_ && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        return status_;
    }
    std::string out() const { return read_file(dir_ / "stdout"); }
    std::string err() const { return read_file(dir_ / "stderr"); }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

// Counts on a copy of the file: a reader's lock on the cache itself would make the
// gateway's schema creation fail ("database is locked", no busy timeout) and retry, which
// would add messages the tests do not expect. A copy taken mid-write just fails to count.
std::optional<long long> count_rows(const fs::path& db, const std::string& table) {
    const fs::path copy = db.string() + ".snapshot";
    try {
        std::error_code ec;
        fs::copy_file(db, copy, fs::copy_options::overwrite_existing, ec);
        if (ec) return std::nullopt;
        SQLite::Database reader(copy.string(), SQLite::OPEN_READONLY);
        return reader.execAndGet("SELECT COUNT(*) FROM " + table).getInt64();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

class BinaryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillon-bin-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        fs::create_directories(dir / "db");
        fs::create_directories(dir / "log");
        fs::create_directories(dir / "out");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // The gateway in a mount namespace of its own where /var is a tmpfs holding
    // /var/morvel/quillon -> dir/db and /var/log/quillon -> dir/log.
    std::vector<std::string> isolated(const std::vector<std::string>& args) const {
        std::string script =
            "mount -t tmpfs tmpfs /var || exit 97\n"
            "mkdir -p /var/morvel/quillon /var/log/quillon || exit 97\n"
            "mount --bind '" +
            (dir / "db").string() +
            "' /var/morvel/quillon || exit 97\n"
            "mount --bind '" +
            (dir / "log").string() +
            "' /var/log/quillon || exit 97\n"
            "exec '" +
            kBinary + "'";
        for (const std::string& a : args) script += " '" + a + "'";
        return {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script};
    }

    bool namespaces_available() {
        Child probe({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                     "mount -t tmpfs tmpfs /var"},
                    dir / "out");
        return probe.pid() > 0 && probe.wait_exit(10s) == 0;
    }

    fs::path dir;
};

#define REQUIRE_NAMESPACES()                                                            \
    if (!namespaces_available()) {                                                      \
        GTEST_SKIP() << "no private mount namespace (needs root and unshare): skipped"; \
    }

TEST_F(BinaryTest, MissingValuesEndWithStatusOneAndNoOutput) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{kBinary, "-c"},
                                                 {kBinary, "-c", "a.json", "-l"},
                                                 {kBinary, "-l", "a.log", "-c"}}) {
        Child child(args, dir / "out");
        EXPECT_EQ(child.wait_exit(10s), 1);
        EXPECT_EQ(child.out(), "");
        EXPECT_EQ(child.err(), "");
    }
}

TEST_F(BinaryTest, ALogFileThatCannotBeOpenedStopsTheGateway) {
    { std::ofstream(dir / "plain") << "x"; }
    const std::string log = (dir / "plain" / "q.log").string();
    const std::string config = (dir / "missing.json").string();
    Child child({kBinary, "-c", config, "-l", log}, dir / "out");
    EXPECT_EQ(child.wait_exit(10s), 1);
    EXPECT_EQ(messages(child.out()),
              std::vector<std::string>{"[config] [error] Не удалось открыть файл " + config});
    EXPECT_THAT(child.err(), HasSubstr(log));
    EXPECT_THAT(child.err(), HasSubstr("Not a directory"));
}

TEST_F(BinaryTest, TheExampleLoadsRebuildsTheCacheAndIdles) {
    REQUIRE_NAMESPACES();
    const fs::path log = dir / "q.log";
    { std::ofstream(log) << "kept\n"; }
    Child child(isolated({"-c", kExample, "-l", log.string()}), dir / "out");
    const fs::path db = dir / "db" / "quillon_eth0.db";
    ASSERT_TRUE(eventually([&] { return count_rows(db, "topics_out") == 4; }, 20s))
        << child.out() << child.err();
    EXPECT_EQ(count_rows(db, "devices"), 2);
    EXPECT_EQ(count_rows(db, "objects"), 10);
    EXPECT_FALSE(child.wait_exit(300ms).has_value()) << "the gateway must keep running";

    // Every descriptor of the running program is close-on-exec (it re-executes itself).
    ASSERT_TRUE(eventually(
        [&] {
            return fs::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe") == kBinary;
        },
        10s));
    const fs::path fds = "/proc/" + std::to_string(child.pid()) + "/fdinfo";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(fds)) {
        if (std::stoi(entry.path().filename().string()) <= 2) continue;
        const std::string info = read_file(entry.path());
        std::smatch m;
        ASSERT_TRUE(std::regex_search(info, m, std::regex(R"(flags:\s*([0-7]+))"))) << info;
        EXPECT_TRUE(std::stoul(m[1].str(), nullptr, 8) & O_CLOEXEC) << fs::read_symlink(
            "/proc/" + std::to_string(child.pid()) + "/fd/" + entry.path().filename().string());
        ++checked;
    }
    EXPECT_GE(checked, 2);  // at least the cache and the log file

    EXPECT_EQ(child.out(), "");  // a complete configuration: no message
    EXPECT_EQ(child.err(), "");
    EXPECT_EQ(read_file(log), "kept\n");     // opened for appending
    EXPECT_TRUE(fs::is_empty(dir / "log"));  // "-l" chose the log file
}

TEST_F(BinaryTest, FaultsAreReportedOnTheConsoleAndTheLogFollowsTheInterface) {
    REQUIRE_NAMESPACES();
    const fs::path config = dir / "faulty.json";
    {
        std::ofstream(config) << R"({"log": {}, "ports": [{
          "connection": {"type": "bacnet", "enabled": false, "bacnet_iface": "veth7",
                         "poll_interval": 1000, "timeout": 1000, "timeout_tsm": 100, "delay": 10},
          "devices": [{"name": "AHU", "sid": 7}, {"name": "FCU", "sid": 8, "cname": "c"}],
          "parameters": [{"cname": "c", "config": {"channels": [
            {"name": "t1", "object_number": 3, "value_type": "analog-input"},
            {"name": "t2", "object_number": 4, "scale": 0.5, "value_type": 1, "tag": "real"}]}}]
        }]})";
    }
    Child child(isolated({"-c", config.string()}), dir / "out");
    const fs::path db = dir / "db" / "quillon_veth7.db";
    ASSERT_TRUE(eventually([&] { return count_rows(db, "objects") == 1; }, 20s))
        << child.out() << child.err();
    ASSERT_TRUE(eventually([&] { return fs::exists(dir / "log" / "quillon_veth7.log"); }, 10s));
    EXPECT_FALSE(child.wait_exit(300ms).has_value()) << "a disabled gateway waits";
    EXPECT_EQ(messages(child.out()),
              (std::vector<std::string>{
                  "[config] [error] Данные отсутствуют : cname : AHU : 7",
                  "[config] [error] Данные отсутствуют : tag : scale : t1 : 3 : analog-input"}));
}

TEST_F(BinaryTest, AnUnusableFileIsReadAgainUntilRepaired) {
    REQUIRE_NAMESPACES();
    const fs::path config = dir / "q.json";
    { std::ofstream(config) << R"({"log": {}})"; }
    Child child(isolated({"-c", config.string(), "-l", (dir / "q.log").string()}), dir / "out");
    const std::string missing = "[config] [error] Данные отсутствуют : read_config : ports";
    // One attempt at once and one every 5 seconds after it.
    ASSERT_TRUE(eventually([&] { return messages(child.out()).size() >= 2; }, 15s)) << child.out();
    EXPECT_EQ(messages(child.out()), (std::vector<std::string>{missing, missing}));
    EXPECT_FALSE(fs::exists(dir / "q.log"));  // no logging before the configuration is usable

    fs::copy_file(kExample, config, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(eventually([&] { return fs::exists(dir / "q.log"); }, 15s));
    EXPECT_EQ(count_rows(dir / "db" / "quillon_eth0.db", "objects"), 10);
}

}  // namespace
