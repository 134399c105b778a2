#include "bacstack/bip.hpp"

#include <cerrno>
#include <cstring>

#include "bacstack/bytes.hpp"
#include "bacstack/npdu.hpp"

namespace bacstack {

namespace {

bool read_endpoint(Reader& r, Endpoint& e) {
    std::uint32_t ip;
    std::uint16_t port;
    if (!r.read_u32(ip) || !r.read_u16(port)) return false;
    e = Endpoint{ip, port};
    return true;
}

}  // namespace

BipLink::BipLink(std::unique_ptr<Transport> transport, Endpoint own, Endpoint broadcast)
    : transport_(std::move(transport)), own_(own), broadcast_(broadcast) {
    frame_.reserve(kMaxMpdu);
}

Address BipLink::broadcast_address() const {
    Address a = Address::ipv4(broadcast_.ip, broadcast_.port);
    a.net = kBroadcastNetwork;
    return a;
}

int BipLink::send_pdu(const Address& dest, std::span<const std::uint8_t> npdu) {
    if (npdu.size() + kBvlcHeader > kMaxMpdu) {
        errno = EMSGSIZE;
        return -1;
    }
    Endpoint to = broadcast_;
    BvlcFunction function = BvlcFunction::OriginalBroadcastNpdu;
    std::uint32_t ip;
    std::uint16_t port;
    if (dest.net != kBroadcastNetwork && dest.to_ipv4(ip, port)) {
        to = Endpoint{ip, port};
        function = to == broadcast_ ? BvlcFunction::OriginalBroadcastNpdu
                                    : BvlcFunction::OriginalUnicastNpdu;
    }
    frame_.clear();
    Writer w(frame_);
    w.u8(kBvlcTypeBip);
    w.u8(static_cast<std::uint8_t>(function));
    w.u16(static_cast<std::uint16_t>(npdu.size() + kBvlcHeader));
    w.bytes(npdu);
    const long sent = transport_->send_to(to, frame_);
    if (sent < 0) return -1;
    return static_cast<int>(npdu.size());
}

std::size_t BipLink::accept(const Received& meta, std::span<const std::uint8_t> datagram,
                            Address& src, std::span<std::uint8_t> pdu) const {
    if (meta.size == 0 || meta.size > datagram.size()) return 0;  // nothing, or truncated
    Reader r(datagram.first(meta.size));
    std::uint8_t type, function_octet;
    std::uint16_t length;
    if (!r.read_u8(type) || type != kBvlcTypeBip || !r.read_u8(function_octet) ||
        !r.read_u16(length))
        return 0;
    // J.2: the length covers the whole BVLL message; trailing octets beyond it are ignored.
    if (length < kBvlcHeader || length > meta.size) return 0;
    Reader body(datagram.subspan(kBvlcHeader, length - kBvlcHeader));
    Endpoint origin = meta.from;
    switch (static_cast<BvlcFunction>(function_octet)) {
        case BvlcFunction::OriginalUnicastNpdu:
            if (meta.via_broadcast) return 0;
            break;
        case BvlcFunction::OriginalBroadcastNpdu:
            break;
        case BvlcFunction::ForwardedNpdu:
            if (!read_endpoint(body, origin)) return 0;
            break;
        default:
            return 0;  // BBMD and foreign-device messages: we are neither
    }
    if (origin == own_) return 0;  // our own broadcast looped back
    const std::span<const std::uint8_t> npdu = body.rest();
    if (npdu.empty() || npdu.size() > pdu.size()) return 0;
    const bool by_broadcast =
        static_cast<BvlcFunction>(function_octet) != BvlcFunction::OriginalUnicastNpdu;
    // Confirmed services are always unicast; one that came by broadcast is not answered.
    if (by_broadcast && npdu_is_confirmed_request(npdu)) return 0;
    std::memmove(pdu.data(), npdu.data(), npdu.size());
    src = Address::ipv4(origin.ip, origin.port);
    return npdu.size();
}

std::size_t BipLink::receive(Address& src, std::span<std::uint8_t> pdu, unsigned wait_ms) {
    const Received meta = transport_->receive(rx_, wait_ms);
    return accept(meta, std::span<const std::uint8_t>(rx_.data(), rx_.size()), src, pdu);
}

}  // namespace bacstack
