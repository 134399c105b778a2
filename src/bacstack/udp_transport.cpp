#include "bacstack/udp_transport.hpp"

#include <arpa/inet.h>
#include <sys/ioctl.h>

#include <cassert>
#include <cerrno>
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

constexpr std::size_t kControlSpace = 64;  // room for one in_pktinfo control message

}  // namespace

std::string ipv4_text(std::uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

bool query_interface(SocketCalls& calls, const std::string& iface, InterfaceAddress& out,
                     std::string& error) {
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
        if (!(fields >> iface >> destination >> gateway >> flags_text >> refcnt >> use >> metric >>
              mask))
            continue;
        const unsigned long flags = std::strtoul(flags_text.c_str(), nullptr, 16);
        constexpr unsigned long kRouteUp = 0x1;
        if (destination == "00000000" && mask == "00000000" && (flags & kRouteUp)) return iface;
    }
    return {};
}

std::unique_ptr<UdpTransport> UdpTransport::open(const Options& options, SocketCalls& calls,
                                                 std::string& error) {
    const int raw = calls.socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (raw < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    Fd fd(raw, calls);
    const int on = 1;
    // Other BACnet software on the same host may share the port, as the devices expect;
    // the destination of each datagram (IP_PKTINFO) says whether it was a broadcast.
    if (calls.setsockopt(raw, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
        calls.setsockopt(raw, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0 ||
        calls.setsockopt(raw, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0) {
        error = std::string("setsockopt: ") + std::strerror(errno);
        return nullptr;
    }
    // Ties the socket to the interface where allowed; without the privilege the checks of
    // the destination address keep other interfaces' traffic out, so this is not fatal.
    (void)calls.setsockopt(raw, SOL_SOCKET, SO_BINDTODEVICE, options.iface.c_str(),
                           static_cast<socklen_t>(options.iface.size()));
    if (calls.bind(raw, to_sockaddr(Endpoint{0, options.own.port})) < 0) {
        error = "bind port " + std::to_string(options.own.port) + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<UdpTransport>(new UdpTransport(calls, std::move(fd), options));
}

long UdpTransport::send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    sockaddr_in dest = to_sockaddr(to);
    iovec iov{const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
    alignas(cmsghdr) std::uint8_t control[kControlSpace] = {};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    // Our own address as the source, whatever else the interface carries: devices answer
    // to the source and the self-drop check compares with it.
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo));
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    assert(c != nullptr);  // the control buffer is sized for it
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(own_.ip);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    return static_cast<long>(calls_.sendmsg(socket_.get(), msg, 0));
}

bool UdpTransport::set_wait(unsigned wait_ms) {
    if (static_cast<long>(wait_ms) == current_wait_ms_) return true;
    timeval tv{static_cast<time_t>(wait_ms / 1000),
               static_cast<suseconds_t>((wait_ms % 1000) * 1000)};
    if (calls_.setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) < 0) return false;
    current_wait_ms_ = wait_ms;
    return true;
}

Received UdpTransport::receive(std::span<std::uint8_t> buffer, unsigned wait_ms) {
    // A zero timeout would block for ever: a wait of 0 is a non-blocking look.
    const int flags = MSG_TRUNC | (wait_ms == 0 ? MSG_DONTWAIT : 0);
    if (wait_ms != 0 && !set_wait(wait_ms)) return {};
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::uint8_t control[kControlSpace];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = calls_.recvmsg(socket_.get(), msg, flags);
    if (n <= 0) return {};
    std::uint32_t dest = 0;
    bool have_dest = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            dest = ntohl(info.ipi_addr.s_addr);
            have_dest = true;
        }
    }
    Received r;
    if (!have_dest) return r;
    if (dest == own_.ip) {
        r.via_broadcast = false;
    } else if (broadcast_bind_ != own_.ip && (broadcast_bind_ == 0 || dest == broadcast_bind_)) {
        r.via_broadcast = true;  // what the broadcast socket would have got
    } else {
        return r;  // for another address of this host: no socket of ours is bound there
    }
    r.size = static_cast<std::size_t>(n);
    r.from = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    return r;
}

}  // namespace bacstack
