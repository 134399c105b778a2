#include "bacstack/udp_transport.hpp"

#include <arpa/inet.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace bacstack {

namespace {

sockaddr_in to_sockaddr(const Endpoint& e) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(e.ip);
    sa.sin_port = htons(e.port);
    return sa;
}

std::string endpoint_text(const Endpoint& e) { return ipv4_text(e.ip) + ":" + std::to_string(e.port); }

Fd open_socket(SocketCalls& calls, const std::string& iface, const Endpoint& bind_to, std::string& error) {
    const int fd = calls.socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return {};
    }
    Fd owner(fd, calls);
    const int on = 1;
    // Other BACnet software on the same host may share the port, as the devices expect.
    if (calls.setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
        calls.setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        error = std::string("setsockopt: ") + std::strerror(errno);
        return {};
    }
    // Ties the socket to the interface where allowed; without the privilege the bound
    // address already selects it, so a failure here is not fatal.
    (void)calls.setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, iface.c_str(), static_cast<socklen_t>(iface.size()));
    if (calls.bind(fd, to_sockaddr(bind_to)) < 0) {
        error = "bind " + endpoint_text(bind_to) + ": " + std::strerror(errno);
        return {};
    }
    return owner;
}

}  // namespace

std::string ipv4_text(std::uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

bool query_interface(SocketCalls& calls, const std::string& iface, InterfaceAddress& out, std::string& error) {
    if (iface.empty() || iface.size() >= IFNAMSIZ) {
        error = "invalid interface name";
        return false;
    }
    const int raw = calls.socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (raw < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    Fd fd(raw, calls);
    ifreq req{};
    std::memcpy(req.ifr_name, iface.c_str(), iface.size());
    if (calls.ioctl(fd.get(), SIOCGIFADDR, req) < 0) {
        error = errno == ENODEV ? std::string("no such interface")
                                : std::string("no IPv4 address (") + std::strerror(errno) + ")";
        return false;
    }
    sockaddr_in sa;
    std::memcpy(&sa, &req.ifr_addr, sizeof sa);
    InterfaceAddress result;
    result.ip = ntohl(sa.sin_addr.s_addr);
    std::memset(&req.ifr_addr, 0, sizeof req.ifr_addr);
    if (calls.ioctl(fd.get(), SIOCGIFNETMASK, req) == 0) {
        std::memcpy(&sa, &req.ifr_netmask, sizeof sa);
        result.netmask = ntohl(sa.sin_addr.s_addr);
        result.broadcast = result.ip | ~result.netmask;
    } else {
        result.netmask = 0;
        result.broadcast = 0xFFFFFFFF;
    }
    out = result;
    return true;
}

std::string default_route_interface(const std::string& route_table) {
    std::ifstream in(route_table);
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags_text, refcnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags_text >> refcnt >> use >> metric >> mask)) continue;
        const unsigned long flags = std::strtoul(flags_text.c_str(), nullptr, 16);
        constexpr unsigned long kRouteUp = 0x1;
        if (destination == "00000000" && mask == "00000000" && (flags & kRouteUp)) return iface;
    }
    return {};
}

std::unique_ptr<UdpTransport> UdpTransport::open(const Options& options, SocketCalls& calls, std::string& error) {
    Fd unicast = open_socket(calls, options.iface, options.own, error);
    if (!unicast) return nullptr;
    Fd broadcast;
    if (options.broadcast_bind != options.own.ip) {
        broadcast = open_socket(calls, options.iface, Endpoint{options.broadcast_bind, options.own.port}, error);
        if (!broadcast) return nullptr;
    }
    return std::unique_ptr<UdpTransport>(new UdpTransport(calls, std::move(unicast), std::move(broadcast)));
}

long UdpTransport::send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    return static_cast<long>(calls_.sendto(unicast_.get(), datagram, to_sockaddr(to)));
}

Received UdpTransport::read_from(int fd, std::span<std::uint8_t> buffer, bool via_broadcast) {
    sockaddr_in from{};
    const ssize_t n = calls_.recvfrom(fd, buffer, from);
    Received r;
    if (n <= 0) return r;
    r.size = static_cast<std::size_t>(n);
    r.from = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    r.via_broadcast = via_broadcast;
    return r;
}

Received UdpTransport::receive(std::span<std::uint8_t> buffer, unsigned wait_ms) {
    pollfd fds[2] = {{unicast_.get(), POLLIN, 0}, {broadcast_.get(), POLLIN, 0}};
    const nfds_t count = broadcast_ ? 2 : 1;
    const int timeout = wait_ms > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(wait_ms);
    if (calls_.poll(fds, count, timeout) <= 0) return {};
    if (fds[0].revents & POLLIN) return read_from(unicast_.get(), buffer, false);
    if (count == 2 && (fds[1].revents & POLLIN)) return read_from(broadcast_.get(), buffer, true);
    return {};
}

}  // namespace bacstack
