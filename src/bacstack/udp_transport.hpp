// BACnet/IP over a real UDP socket on the BACnet port of one interface. It sees unicasts
// to the interface's own address and broadcasts to the broadcast address, and tells them
// apart by the datagram's destination, as separate unicast and broadcast sockets would.
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
bool query_interface(SocketCalls& calls, const std::string& iface, InterfaceAddress& out,
                     std::string& error);

// The routing table of the calling thread's network namespace (which /proc/net, being
// the process leader's, need not be).
inline constexpr const char* kRouteTable = "/proc/thread-self/net/route";

// The interface of the default route in a /proc/net/route style table; empty when none.
std::string default_route_interface(const std::string& route_table = kRouteTable);

class UdpTransport final : public Transport {
  public:
    struct Options {
        std::string iface;             // SO_BINDTODEVICE; best effort
        Endpoint own;                  // source of everything sent; unicasts to it are received
        std::uint32_t broadcast_bind;  // broadcasts to this address are received; 0: any broadcast
    };
    // nullptr and `error` ("bind port 47808: Address already in use") on failure.
    static std::unique_ptr<UdpTransport> open(const Options& options, SocketCalls& calls,
                                              std::string& error);

    long send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) override;
    // One system call per wait: the socket's receive timeout is only changed when the
    // wait changes. Datagrams to other addresses of the host are dropped (size 0).
    Received receive(std::span<std::uint8_t> buffer, unsigned wait_ms) override;

  private:
    UdpTransport(SocketCalls& calls, Fd socket, const Options& options)
        : calls_(calls),
          socket_(std::move(socket)),
          own_(options.own),
          broadcast_bind_(options.broadcast_bind) {}
    bool set_wait(unsigned wait_ms);

    SocketCalls& calls_;
    Fd socket_;
    Endpoint own_;
    std::uint32_t broadcast_bind_;
    long current_wait_ms_ = -1;  // receive timeout set on the socket
};

std::string ipv4_text(std::uint32_t ip);

}  // namespace bacstack
