#include "test_lan.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testlan {

namespace {

// Namespaces of every LAN start with this; the owner's pid follows.
constexpr const char* kPrefixBase = "qlt";

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string sim_dir() { return source_dir() + "/tests/sim"; }

}  // namespace

std::string source_dir() { return QUILLON_SOURCE_DIR; }

std::string scratch_dir() {
    // Made again on every call: a LAN that went away took the directory with it.
    const std::string dir = "/tmp/quillon-e2e-" + std::to_string(getpid());
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

// --- processes -----------------------------------------------------------------------------

Process::Process(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& extra_env) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Own process group, so a kill reaches whatever the command starts in turn.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (extra_env.count(name) == 0) env_strings.push_back(entry);
    }
    for (const auto& [k, v] : extra_env) env_strings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);

    pid_t pid;
    const int rc = posix_spawnp(&pid, cargs[0], &actions, &attr, cargs.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    pid_ = pid;
    stdin_ = in[1];
    const int read_fd = out[0];
    reader_ = std::thread([this, read_fd] {
        std::string partial;
        char buf[4096];
        while (true) {
            const ssize_t n = ::read(read_fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            partial.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            std::lock_guard<std::mutex> lock(mutex_);
            while ((nl = partial.find('\n')) != std::string::npos) {
                lines_.push_back(partial.substr(0, nl));
                partial.erase(0, nl + 1);
            }
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!partial.empty()) lines_.push_back(partial);
        changed_.notify_all();
        close(read_fd);
    });
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        if (wait(3s) < 0 && pid_ > 0) kill();
    }
    if (stdin_ >= 0) close(stdin_);
    if (reader_.joinable()) reader_.join();
}

bool Process::write_line(const std::string& line) {
    if (stdin_ < 0) return false;
    const std::string text = line + "\n";
    return ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Process::wait_for_line(const std::function<bool(const std::string&)>& pred,
                            std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t checked = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (; checked < lines_.size(); ++checked) {
            if (pred(lines_[checked])) return true;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (; checked < lines_.size(); ++checked) {
                if (pred(lines_[checked])) return true;
            }
            return false;
        }
    }
}

std::vector<std::string> Process::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

int Process::wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (r < 0) {
            pid_ = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(10ms);
    }
    if (reader_.joinable()) reader_.join();
    return status_;
}

void Process::signal(int sig) {
    if (pid_ > 0) ::kill(-pid_, sig);
}

void Process::kill() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = -1;
    if (reader_.joinable()) reader_.join();
}

int run(const std::vector<std::string>& argv, std::string* output,
        std::chrono::milliseconds limit) {
    Process p(argv);
    if (!p.running()) {
        if (output) *output = "cannot start " + argv.at(0);
        return -1;
    }
    int status = p.wait(limit);
    if (status < 0 && p.running()) p.kill();
    if (output) {
        output->clear();
        for (const auto& l : p.lines()) *output += l + "\n";
    }
    return status;
}

// --- prerequisites ---------------------------------------------------------------------------

std::string missing_prerequisites() {
    if (geteuid() != 0) return "needs root (network namespaces)";
    std::string out;
    if (run({"ip", "netns", "list"}, &out, 10s) != 0)
        return "needs iproute2 with 'ip netns': " + out;
    if (run({"node", "--version"}, &out, 10s) != 0) return "needs node (the device simulator)";
    if (!exists(sim_dir() + "/node_modules/@bacnet-js/client")) {
        return "needs the simulator's packages: run scripts/install-deps.sh (npm ci in tests/sim)";
    }
    const std::string probe = std::string(kPrefixBase) + std::to_string(getpid()) + "Probe";
    if (run({"ip", "netns", "add", probe}, &out, 10s) != 0)
        return "cannot create network namespaces: " + out;
    run({"ip", "netns", "del", probe}, nullptr, 10s);
    return {};
}

std::string missing_tshark() {
    std::string out;
    if (run({"tshark", "--version"}, &out, 20s) != 0) return "needs tshark";
    return {};
}

// --- the LAN ----------------------------------------------------------------------------------

void Lan::remove_stale(const std::string& base) {
    DIR* dir = opendir("/var/run/netns");
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind(base, 0) != 0) continue;
        std::size_t i = base.size();
        std::string digits;
        while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])))
            digits += name[i++];
        if (digits.empty()) continue;
        if (exists("/proc/" + digits)) continue;  // its owner still runs
        stale.push_back(base + digits);
    }
    closedir(dir);
    for (const auto& prefix : stale) {
        run({"bash", sim_dir() + "/netns-down.sh", prefix}, nullptr, 30s);
        run({"ip", "netns", "del", prefix + "Probe"}, nullptr, 10s);
    }
}

Lan::Lan() : prefix_(std::string(kPrefixBase) + std::to_string(getpid())) {
    remove_stale(kPrefixBase);
    run({"bash", sim_dir() + "/netns-down.sh", prefix_}, nullptr, 30s);
    std::string out;
    if (run({"bash", sim_dir() + "/netns-up.sh", prefix_}, &out, 60s) != 0) {
        error_ = "netns-up.sh failed: " + out;
        run({"bash", sim_dir() + "/netns-down.sh", prefix_}, nullptr, 30s);
    }
}

Lan::~Lan() {
    run({"bash", sim_dir() + "/netns-down.sh", prefix_}, nullptr, 30s);
    run({"rm", "-rf", scratch_dir()}, nullptr, 30s);
}

InNamespace::InNamespace(const std::string& ns) {
    const std::string self = "/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/ns/net";
    original_ = open(self.c_str(), O_RDONLY | O_CLOEXEC);
    const int target = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (original_ >= 0 && target >= 0) ok_ = setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
}

InNamespace::~InNamespace() {
    if (ok_) setns(original_, CLONE_NEWNET);
    if (original_ >= 0) close(original_);
}

// --- simulator ----------------------------------------------------------------------------------

nlohmann::json Simulator::load_config(const std::string& file_in_sim_dir) {
    std::ifstream in(sim_dir() + "/" + file_in_sim_dir);
    return nlohmann::json::parse(in, nullptr, false);
}

Simulator::Simulator(const Lan& lan, char ns, const nlohmann::json& config) {
    static int counter = 0;
    const std::string path = scratch_dir() + "/sim-" + std::to_string(++counter) + ".json";
    std::ofstream(path) << config.dump(2);
    process_ = std::make_unique<Process>(std::vector<std::string>{
        "ip", "netns", "exec", lan.sim(ns), "node", sim_dir() + "/bacsim.js", path});
    std::size_t expected = config.value("devices", nlohmann::json::array()).size();
    if (config.contains("broadcastListener")) ++expected;
    if (config.contains("routers")) expected += config["routers"].size();
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (process_->running() && std::chrono::steady_clock::now() < deadline) {
        if (events("listening").size() >= expected) {
            ready_ = true;
            break;
        }
        process_->wait_for_line(
            [](const std::string& l) { return l.find("listening") != std::string::npos; }, 100ms);
    }
}

bool Simulator::command(const nlohmann::json& cmd) {
    const std::size_t before = events("ok").size();
    if (!process_->write_line(cmd.dump())) return false;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (events("ok").size() > before) return true;
        process_->wait_for_line(
            [](const std::string& l) { return l.find("\"ok\"") != std::string::npos; }, 50ms);
    }
    return false;
}

std::vector<nlohmann::json> Simulator::events() const {
    std::vector<nlohmann::json> out;
    for (const auto& line : process_->lines()) {
        auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object()) out.push_back(std::move(j));
    }
    return out;
}

std::vector<nlohmann::json> Simulator::events(const std::string& name,
                                              const nlohmann::json& match) const {
    std::vector<nlohmann::json> out;
    for (auto& e : events()) {
        if (e.value("ev", "") != name) continue;
        bool all = true;
        if (match.is_object()) {
            for (const auto& [k, v] : match.items()) all = all && e.contains(k) && e[k] == v;
        }
        if (all) out.push_back(e);
    }
    return out;
}

bool Simulator::wait_event(const std::string& name, const nlohmann::json& match,
                           std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (!events(name, match).empty()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        process_->wait_for_line([](const std::string&) { return false; }, 20ms);
    }
}

// --- capture
// ---------------------------------------------------------------------------------------

Capture::Capture(const Lan& lan)
    : path_(scratch_dir() + "/capture-" + std::to_string(getpid()) + ".pcap") {
    tshark_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", lan.bridge(), "tshark", "-q", "-i", "br0",
                                 "-f", "udp portrange 47808-47809", "-w", path_});
    started_ = tshark_->wait_for_line(
        [](const std::string& l) { return l.find("Capturing on") != std::string::npos; }, 20s);
}

Capture::~Capture() { stop(); }

std::string Capture::stop() {
    if (tshark_ && tshark_->running()) {
        std::this_thread::sleep_for(300ms);  // let the last packets reach the file
        tshark_->signal(SIGINT);             // tshark closes its capture file cleanly on SIGINT
        if (tshark_->wait(10s) < 0 && tshark_->running()) tshark_->kill();
    }
    tshark_.reset();
    return path_;
}

int Capture::count(const std::string& display_filter) {
    stop();
    std::string out;
    if (run({"tshark", "-r", path_, "-Y", display_filter}, &out, 60s) != 0) return -1;
    int n = 0;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("Running as user") != std::string::npos || line.empty()) continue;
        ++n;
    }
    return n;
}

std::string Capture::decode() {
    stop();
    std::string out;
    run({"tshark", "-r", path_, "-V"}, &out, 60s);
    return out;
}

// --- programs in the client namespace
// ----------------------------------------------------------------

int run_in_client(const Lan& lan, const std::vector<std::string>& argv, const std::string& log_dir,
                  const std::map<std::string, std::string>& env, std::string* output,
                  std::chrono::milliseconds limit) {
    ::mkdir(log_dir.c_str(), 0755);
    ::mkdir((log_dir + "/quillon").c_str(), 0755);
    std::vector<std::string> cmd = {"ip",
                                    "netns",
                                    "exec",
                                    lan.client(),
                                    "unshare",
                                    "--mount",
                                    "--propagation",
                                    "private",
                                    "sh",
                                    "-c",
                                    "mount --bind \"$1\" /var/log && shift && exec \"$@\"",
                                    "sh",
                                    log_dir};
    cmd.insert(cmd.end(), argv.begin(), argv.end());
    Process p(cmd, env);
    if (!p.running()) return -1;
    int status = p.wait(limit);
    if (status < 0 && p.running()) p.kill();
    if (output) {
        output->clear();
        for (const auto& l : p.lines()) *output += l + "\n";
    }
    return status;
}

}  // namespace testlan
