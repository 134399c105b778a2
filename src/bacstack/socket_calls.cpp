#include "bacstack/socket_calls.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

namespace bacstack {

int SocketCalls::socket(int domain, int type, int protocol) {
    return ::socket(domain, type, protocol);
}

int SocketCalls::setsockopt(int fd, int level, int name, const void* value, socklen_t len) {
    return ::setsockopt(fd, level, name, value, len);
}

int SocketCalls::bind(int fd, const sockaddr_in& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

ssize_t SocketCalls::sendmsg(int fd, const msghdr& message, int flags) {
    return ::sendmsg(fd, &message, flags);
}

ssize_t SocketCalls::recvmsg(int fd, msghdr& message, int flags) {
    return ::recvmsg(fd, &message, flags);
}

int SocketCalls::ioctl(int fd, unsigned long request, ifreq& req) {
    return ::ioctl(fd, request, &req);
}

int SocketCalls::close(int fd) { return ::close(fd); }

SocketCalls& SocketCalls::system() {
    static SocketCalls calls;
    return calls;
}

}  // namespace bacstack
