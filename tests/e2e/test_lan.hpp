// The test LAN for end-to-end tests: private network namespaces joined by a bridge,
// device simulators in them, and ways to run code in the client namespace. Everything
// is torn down when the LAN object goes, and leftovers of crashed runs (namespaces of
// the same prefix whose process is gone) are removed before a new LAN is built.
//
//   client   <prefix>Cli  10.78.0.10 (default route on eth0)
//   sim A    <prefix>A    10.78.0.11 and 10.78.0.21
//   sim B    <prefix>B    10.78.0.12
//   sim C    <prefix>C    10.78.0.13
//   bridge   <prefix>Br   br0, where captures are taken
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace testlan {

using namespace std::chrono_literals;

// Empty when this machine can build the LAN; otherwise what is missing (root, ip netns,
// node, the simulator's packages). Tests GTEST_SKIP() with this text.
std::string missing_prerequisites();
// Same for tshark.
std::string missing_tshark();

// Source tree root (for tests/sim) and a scratch directory of this test process.
std::string source_dir();
std::string scratch_dir();

// Runs argv (no shell) and waits; stdout and stderr go to `output` when given.
int run(const std::vector<std::string>& argv, std::string* output = nullptr,
        std::chrono::milliseconds limit = 60s);

class Lan {
  public:
    // Builds the namespaces; check ok() / error().
    Lan();
    ~Lan();
    Lan(const Lan&) = delete;
    Lan& operator=(const Lan&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& prefix() const { return prefix_; }
    std::string client() const { return prefix_ + "Cli"; }
    std::string sim(char which) const { return prefix_ + which; }  // 'A', 'B', 'C'
    std::string bridge() const { return prefix_ + "Br"; }

    // Removes the LANs of processes that no longer exist.
    static void remove_stale(const std::string& base);

  private:
    std::string prefix_;
    std::string error_;
};

// Moves the calling thread into a network namespace and back again.
class InNamespace {
  public:
    explicit InNamespace(const std::string& ns);
    ~InNamespace();
    InNamespace(const InNamespace&) = delete;
    InNamespace& operator=(const InNamespace&) = delete;
    bool ok() const { return ok_; }

  private:
    int original_ = -1;
    bool ok_ = false;
};

// A child process with stdin/stdout pipes; stdout lines are collected by a reader thread.
class Process {
  public:
    Process(const std::vector<std::string>& argv,
            const std::map<std::string, std::string>& extra_env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running() const { return pid_ > 0; }
    bool write_line(const std::string& line);
    // Waits until some output line satisfies `pred`; false after `limit`.
    bool wait_for_line(const std::function<bool(const std::string&)>& pred,
                       std::chrono::milliseconds limit);
    std::vector<std::string> lines() const;
    // Waits for the exit (killing the process after `limit`); the exit status, or -1.
    int wait(std::chrono::milliseconds limit = 10s);
    void kill();
    void signal(int sig);

  private:
    int pid_ = -1;
    int stdin_ = -1;
    int status_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// The device simulator (tests/sim/bacsim.js) in one namespace, with its event stream.
class Simulator {
  public:
    // `config` is the simulator's JSON configuration.
    Simulator(const Lan& lan, char ns, const nlohmann::json& config);
    // Started and listening (all devices and listeners).
    bool ready() const { return ready_; }
    bool command(const nlohmann::json& cmd);
    std::vector<nlohmann::json> events() const;
    // Events with ev == name (and, when given, the extra fields equal).
    std::vector<nlohmann::json> events(const std::string& name,
                                       const nlohmann::json& match = {}) const;
    bool wait_event(const std::string& name, const nlohmann::json& match,
                    std::chrono::milliseconds limit);
    static nlohmann::json load_config(const std::string& file_in_sim_dir);

  private:
    std::unique_ptr<Process> process_;
    bool ready_ = false;
};

// tshark on the bridge, writing a capture file for BACnet/IP (UDP 47808-47809).
class Capture {
  public:
    explicit Capture(const Lan& lan);
    ~Capture();
    bool started() const { return started_; }
    // Stops the capture (idempotent) and returns the path of the file.
    std::string stop();
    // Packets of the stopped capture matching a display filter; -1 when tshark fails.
    int count(const std::string& display_filter);
    // The full decode (tshark -V) of the stopped capture.
    std::string decode();

  private:
    std::string path_;
    std::unique_ptr<Process> tshark_;
    bool started_ = false;
};

// Runs a program in the client namespace with a private mount namespace in which
// `log_dir` is mounted on /var/log (so /var/log/quillon of the program lands in
// log_dir/quillon). Environment entries are added to the current environment.
// Returns the exit status (-1 when killed after `limit`); stdout+stderr in `output`.
int run_in_client(const Lan& lan, const std::vector<std::string>& argv, const std::string& log_dir,
                  const std::map<std::string, std::string>& env = {}, std::string* output = nullptr,
                  std::chrono::milliseconds limit = 120s);

}  // namespace testlan
