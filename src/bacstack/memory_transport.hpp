// A scripted network for unit tests and the fuzzer: datagrams queued by the test come
// out of receive() at once, sent ones are kept for inspection. Never sleeps.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "bacstack/transport.hpp"

namespace bacstack {

class MemoryTransport final : public Transport {
  public:
    struct Datagram {
        Endpoint peer;  // destination of a sent datagram, source of a queued one
        std::vector<std::uint8_t> bytes;
        bool via_broadcast = false;
    };

    long send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) override;
    Received receive(std::span<std::uint8_t> buffer, unsigned wait_ms) override;

    void queue(const Endpoint& from, std::span<const std::uint8_t> bytes,
               bool via_broadcast = false);

    // Called for every sent datagram after it is recorded; a test peer can queue its answer.
    std::function<void(const Datagram&)> on_send;
    // When set, send_to fails with this errno.
    int fail_send_errno = 0;
    // Total wait asked for by receive() calls that found nothing (how long a real link
    // would have slept).
    unsigned long long waited_ms = 0;

    std::vector<Datagram> sent;
    std::deque<Datagram> inbox;
};

}  // namespace bacstack
