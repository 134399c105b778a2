// BACnet/IP over real UDP sockets: one socket bound to the interface's own address
// (all sending, unicast receive) and one bound to the broadcast address (receive only).
#pragma once

#include <memory>
#include <string>

#include "bacstack/socket_calls.hpp"
#include "bacstack/transport.hpp"

namespace bacstack {

struct InterfaceAddress {
    std::uint32_t ip = 0;
    std::uint32_t netmask = 0;
    std::uint32_t broadcast = 0;  // ip | ~netmask; 255.255.255.255 when the mask is unknown
};

// The interface's primary IPv4 address and netmask. On failure `error` says why.
bool query_interface(SocketCalls& calls, const std::string& iface, InterfaceAddress& out, std::string& error);

// The interface of the default route in a /proc/net/route style table; empty when none.
std::string default_route_interface(const std::string& route_table = "/proc/net/route");

class UdpTransport final : public Transport {
public:
    struct Options {
        std::string iface;            // SO_BINDTODEVICE; best effort
        Endpoint own;                 // bound for sending and unicast receive
        std::uint32_t broadcast_bind;  // address the receive-only broadcast socket binds to
    };
    // nullptr and `error` ("bind 10.78.0.10:47808: Address already in use") on failure.
    static std::unique_ptr<UdpTransport> open(const Options& options, SocketCalls& calls, std::string& error);

    long send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) override;
    Received receive(std::span<std::uint8_t> buffer, unsigned wait_ms) override;

private:
    UdpTransport(SocketCalls& calls, Fd unicast, Fd broadcast)
        : calls_(calls), unicast_(std::move(unicast)), broadcast_(std::move(broadcast)) {}
    Received read_from(int fd, std::span<std::uint8_t> buffer, bool via_broadcast);

    SocketCalls& calls_;
    Fd unicast_;
    Fd broadcast_;  // empty when it would be the same address as the unicast socket
};

std::string ipv4_text(std::uint32_t ip);

}  // namespace bacstack
