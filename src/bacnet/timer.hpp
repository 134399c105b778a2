// Millisecond timer on the monotonic clock that paces every BACnet waiting loop.
// The clock is a parameter so that tests can drive time by hand.
#pragma once

#include <chrono>
#include <cstdint>

namespace bacnet {

using NowMs = std::int64_t (*)();

inline std::int64_t steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Timer {
public:
    explicit Timer(NowMs now = steady_now_ms) : now_(now) {}

    void start(std::int64_t duration_ms) {
        start_ms_ = last_ms_ = now_();
        duration_ms_ = duration_ms;
    }
    // Moves the last look to now; true once the duration has passed since start.
    bool expired() {
        last_ms_ = now_();
        return last_ms_ - start_ms_ >= duration_ms_;
    }
    // True when at least n ms have passed since the last look; does not move it.
    bool sinceLast(std::int64_t n) const { return now_() - last_ms_ >= n; }
    // May be zero or negative.
    std::int64_t remaining() const { return duration_ms_ - (now_() - start_ms_); }

private:
    NowMs now_;
    std::int64_t start_ms_ = 0;
    std::int64_t duration_ms_ = 0;
    std::int64_t last_ms_ = 0;
};

}  // namespace bacnet
