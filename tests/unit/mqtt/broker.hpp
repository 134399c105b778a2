// A private mosquitto broker for tests and benchmarks: its own loopback port, a
// generated configuration in a temporary directory, started and stopped on demand.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace quillon::testing {

class Broker {
  public:
    struct Options {
        // When set, the broker refuses anonymous clients and accepts only this login.
        std::string username;
        std::string password;
    };

    // True when the mosquitto binaries are installed.
    static bool available();

    Broker();
    explicit Broker(Options options);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts the broker and waits until it accepts connections (a few seconds at most).
    // Returns false, with the reason in error(), when it does not come up.
    bool start();
    // Stops it (SIGTERM, then SIGKILL) and reaps it.
    void stop();

    int port() const { return port_; }
    bool running() const { return pid_ > 0; }
    const std::string& error() const { return error_; }
    std::string log() const;

  private:
    bool prepare();

    Options options_;
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

// A loopback TCP port nobody listens on right now.
int free_loopback_port();

}  // namespace quillon::testing
