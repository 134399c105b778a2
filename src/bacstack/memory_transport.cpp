#include "bacstack/memory_transport.hpp"

#include <algorithm>
#include <cerrno>

namespace bacstack {

long MemoryTransport::send_to(const Endpoint& to, std::span<const std::uint8_t> datagram) {
    if (fail_send_errno != 0) {
        errno = fail_send_errno;
        return -1;
    }
    sent.push_back(Datagram{to, {datagram.begin(), datagram.end()}, false});
    if (on_send) on_send(sent.back());
    return static_cast<long>(datagram.size());
}

Received MemoryTransport::receive(std::span<std::uint8_t> buffer, unsigned wait_ms) {
    if (inbox.empty()) {
        waited_ms += wait_ms;
        return {};
    }
    Datagram d = std::move(inbox.front());
    inbox.pop_front();
    const std::size_t n = std::min(buffer.size(), d.bytes.size());
    std::copy_n(d.bytes.begin(), n, buffer.begin());
    return Received{d.bytes.size(), d.peer, d.via_broadcast};
}

void MemoryTransport::queue(const Endpoint& from, std::span<const std::uint8_t> bytes,
                            bool via_broadcast) {
    inbox.push_back(Datagram{from, {bytes.begin(), bytes.end()}, via_broadcast});
}

}  // namespace bacstack
