#include "broker.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace quillon::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto start_limit = std::chrono::seconds(5);
constexpr auto stop_limit = std::chrono::seconds(5);
constexpr auto poll_step = std::chrono::milliseconds(10);

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

std::string find_program(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        std::string path = std::string(dir) + name;
        if (executable(path.c_str())) return path;
    }
    return {};
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool accepts_connections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_in address = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Starts a program with its standard output and error appended to `output`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Descriptors of the test process (client sockets above all) stay out of the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

bool run(const std::vector<std::string>& argv, const std::string& output) {
    const pid_t pid = spawn(argv, output);
    if (pid < 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string user_name() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw != nullptr ? pw->pw_name : "root";
}

}  // namespace

int free_loopback_port() {
    // Ephemeral ports come and go; asking the kernel for one and letting it go again
    // leaves a small window, which the broker start reports if it is ever hit.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Broker::available() {
    return !find_program("mosquitto").empty() && !find_program("mosquitto_passwd").empty();
}

Broker::Broker() : Broker(Options{}) {}

Broker::Broker(Options options) : options_(std::move(options)) {
    char pattern[] = "/tmp/quillon-broker-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) dir_ = pattern;
    port_ = free_loopback_port();
}

Broker::~Broker() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool Broker::prepare() {
    if (dir_.empty() || port_ == 0) {
        error_ = "no temporary directory or port";
        return false;
    }
    const std::string config = dir_ + "/mosquitto.conf";
    std::ofstream out(config, std::ios::trunc);
    out << "listener " << port_ << " 127.0.0.1\n"
        << "persistence false\n"
        << "log_dest stderr\n"
        << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
        // Running as root, mosquitto would otherwise drop to its own user and lose
        // access to the files here.
        << "user " << user_name() << "\n";
    if (options_.username.empty()) {
        out << "allow_anonymous true\n";
    } else {
        const std::string passwords = dir_ + "/passwords";
        if (!run({find_program("mosquitto_passwd"), "-b", "-c", passwords, options_.username,
                  options_.password},
                 dir_ + "/passwd.log")) {
            error_ = "mosquitto_passwd failed";
            return false;
        }
        out << "allow_anonymous false\npassword_file " << passwords << "\n";
    }
    return static_cast<bool>(out.flush());
}

bool Broker::start() {
    if (running()) return true;
    if (!prepare()) return false;
    pid_ = spawn({find_program("mosquitto"), "-c", dir_ + "/mosquitto.conf"}, dir_ + "/broker.log");
    if (pid_ < 0) {
        error_ = "cannot start mosquitto";
        return false;
    }
    const auto deadline = Clock::now() + start_limit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "mosquitto exited: " + log();
            return false;
        }
        if (accepts_connections(port_)) return true;
        std::this_thread::sleep_for(poll_step);
    }
    stop();
    error_ = "mosquitto did not come up: " + log();
    return false;
}

void Broker::stop() {
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + stop_limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(poll_step);
    }
    pid_ = -1;
}

std::string Broker::log() const {
    std::ifstream in(dir_ + "/broker.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace quillon::testing
