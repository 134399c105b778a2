// What the BACnet/IP data link needs from UDP: send a datagram, wait for one. The UDP
// implementation opens real sockets; the in-memory one lets tests script the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bacstack {

struct Endpoint {
    std::uint32_t ip = 0;  // host order
    std::uint16_t port = 0;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

struct Received {
    std::size_t size = 0;  // octets of the datagram (may exceed the buffer: truncated)
    Endpoint from;
    bool via_broadcast = false;  // arrived on the socket that only listens for broadcasts
};

class Transport {
  public:
    virtual ~Transport() = default;
    // Octets sent, or -1 with errno set.
    virtual long send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) = 0;
    // Waits at most wait_ms for one datagram; size 0 when none came.
    virtual Received receive(std::span<std::uint8_t> buffer, unsigned wait_ms) = 0;
};

}  // namespace bacstack
