// The one thin layer over the socket and interface system calls the data link uses,
// so tests can make any of them fail on purpose; plus an owner for descriptors.
#pragma once

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <span>

namespace bacstack {

class SocketCalls {
  public:
    virtual ~SocketCalls() = default;
    virtual int socket(int domain, int type, int protocol);
    virtual int setsockopt(int fd, int level, int name, const void* value, socklen_t len);
    virtual int bind(int fd, const sockaddr_in& address);
    virtual ssize_t sendmsg(int fd, const msghdr& message, int flags);
    virtual ssize_t recvmsg(int fd, msghdr& message, int flags);
    virtual int ioctl(int fd, unsigned long request, ifreq& req);
    virtual int close(int fd);

    // The real calls.
    static SocketCalls& system();
};

// Move-only owner of a descriptor, closed through the calls that opened it.
class Fd {
  public:
    Fd() = default;
    Fd(int fd, SocketCalls& calls) : fd_(fd), calls_(&calls) {}
    Fd(Fd&& other) noexcept : fd_(other.fd_), calls_(other.calls_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            calls_ = other.calls_;
            other.fd_ = -1;
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() noexcept {
        if (fd_ >= 0 && calls_ != nullptr) calls_->close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    SocketCalls* calls_ = nullptr;
};

}  // namespace bacstack
