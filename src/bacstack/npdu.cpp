#include "bacstack/npdu.hpp"

namespace bacstack {

namespace {

// 6.2.2: bits of the control octet.
constexpr std::uint8_t kNetworkLayerMessage = 0x80;
constexpr std::uint8_t kDestinationPresent = 0x20;
constexpr std::uint8_t kSourcePresent = 0x08;
constexpr std::uint8_t kExpectingReply = 0x04;
constexpr std::uint8_t kPriorityMask = 0x03;
// 6.2.4: message types from 0x80 carry a vendor identifier.
constexpr std::uint8_t kProprietaryMessageType = 0x80;

bool read_remote(Reader& r, std::uint16_t& net, std::uint8_t& len,
                 std::array<std::uint8_t, kMaxMacLen>& adr) {
    std::span<const std::uint8_t> octets;
    if (!r.read_u16(net) || !r.read_u8(len) || len > kMaxMacLen || !r.read_span(len, octets))
        return false;
    adr = {};
    std::copy(octets.begin(), octets.end(), adr.begin());
    return true;
}

}  // namespace

NpduData npdu_data_for_apdu(bool data_expecting_reply) {
    NpduData d;
    d.data_expecting_reply = data_expecting_reply;
    return d;
}

void encode_npdu(Writer& out, const Address* dest, const Address* src, const NpduData& data) {
    const bool has_dest = dest != nullptr && dest->net != 0;
    const bool has_src =
        src != nullptr && src->net != 0 && src->net != kBroadcastNetwork && src->len != 0;
    std::uint8_t control = static_cast<std::uint8_t>(data.priority) & kPriorityMask;
    if (data.network_layer_message) control |= kNetworkLayerMessage;
    if (has_dest) control |= kDestinationPresent;
    if (has_src) control |= kSourcePresent;
    if (data.data_expecting_reply) control |= kExpectingReply;
    out.u8(kNpduVersion);
    out.u8(control);
    if (has_dest) {
        const std::uint8_t len = dest->len <= kMaxMacLen ? dest->len : 0;
        out.u16(dest->net);
        out.u8(len);
        out.bytes(std::span<const std::uint8_t>(dest->adr.data(), len));
    }
    if (has_src) {
        const std::uint8_t len = src->len <= kMaxMacLen ? src->len : 0;
        out.u16(src->net);
        out.u8(len);
        out.bytes(std::span<const std::uint8_t>(src->adr.data(), len));
    }
    if (has_dest) out.u8(data.hop_count);
    if (data.network_layer_message) {
        out.u8(data.message_type);
        if (data.message_type >= kProprietaryMessageType) out.u16(data.vendor_id);
    }
}

bool decode_npdu(Reader& in, Address& dest, Address& src, NpduData& data) {
    Reader r = in;
    std::uint8_t version, control;
    if (!r.read_u8(version) || version != kNpduVersion || !r.read_u8(control)) return false;
    NpduData d;
    d.network_layer_message = (control & kNetworkLayerMessage) != 0;
    d.data_expecting_reply = (control & kExpectingReply) != 0;
    d.priority = static_cast<MessagePriority>(control & kPriorityMask);
    d.hop_count = 0;
    std::uint16_t dnet = 0, snet = 0;
    std::uint8_t dlen = 0, slen = 0;
    std::array<std::uint8_t, kMaxMacLen> dadr{}, sadr{};
    if (control & kDestinationPresent) {
        if (!read_remote(r, dnet, dlen, dadr) || dnet == 0) return false;
    }
    if (control & kSourcePresent) {
        // 6.2.2: SLEN 0 is invalid and SNET cannot be the broadcast network.
        if (!read_remote(r, snet, slen, sadr) || slen == 0 || snet == 0 ||
            snet == kBroadcastNetwork)
            return false;
    }
    if (control & kDestinationPresent) {
        if (!r.read_u8(d.hop_count)) return false;
    }
    if (d.network_layer_message) {
        if (!r.read_u8(d.message_type)) return false;
        if (d.message_type >= kProprietaryMessageType && !r.read_u16(d.vendor_id)) return false;
    }
    dest.net = dnet;
    dest.len = dlen;
    dest.adr = dadr;
    src.net = snet;
    src.len = slen;
    src.adr = sadr;
    data = d;
    in = r;
    return true;
}

bool npdu_is_confirmed_request(std::span<const std::uint8_t> npdu) {
    Reader r(npdu);
    Address dest, src;
    NpduData data;
    std::uint8_t first;
    if (!decode_npdu(r, dest, src, data) || data.network_layer_message || !r.peek_u8(first))
        return false;
    return (first >> 4) == 0;  // 20.1.2: PDU type 0
}

}  // namespace bacstack
