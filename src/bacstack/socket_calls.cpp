#include "bacstack/socket_calls.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

namespace bacstack {

int SocketCalls::socket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }

int SocketCalls::setsockopt(int fd, int level, int name, const void* value, socklen_t len) {
    return ::setsockopt(fd, level, name, value, len);
}

int SocketCalls::bind(int fd, const sockaddr_in& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

ssize_t SocketCalls::sendto(int fd, std::span<const std::uint8_t> data, const sockaddr_in& to) {
    return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ssize_t SocketCalls::recvfrom(int fd, std::span<std::uint8_t> buffer, sockaddr_in& from) {
    socklen_t len = sizeof from;
    return ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
}

int SocketCalls::poll(pollfd* fds, nfds_t count, int timeout_ms) { return ::poll(fds, count, timeout_ms); }

int SocketCalls::ioctl(int fd, unsigned long request, ifreq& req) { return ::ioctl(fd, request, &req); }

int SocketCalls::close(int fd) { return ::close(fd); }

SocketCalls& SocketCalls::system() {
    static SocketCalls calls;
    return calls;
}

}  // namespace bacstack
