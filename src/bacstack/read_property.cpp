#include "bacstack/read_property.hpp"

#include "bacstack/apdu.hpp"
#include "bacstack/limits.hpp"

namespace bacstack {

namespace {

// Context tags of the ReadProperty request and ACK (15.5.1.1, 15.5.1.3).
constexpr std::uint8_t kTagObject = 0;
constexpr std::uint8_t kTagProperty = 1;
constexpr std::uint8_t kTagArrayIndex = 2;
constexpr std::uint8_t kTagValue = 3;
// Closing tag 3 as one octet: 0011 1 111.
constexpr std::uint8_t kClosingTag3 = 0x3F;

bool decode_reference(Reader& r, ObjectId& object, std::uint32_t& property,
                      std::uint32_t& array_index) {
    std::uint32_t prop;
    if (!decode_ctx_object_id(r, kTagObject, object) ||
        !decode_ctx_enumerated(r, kTagProperty, prop))
        return false;
    property = prop;
    array_index = kArrayAll;
    Tag t;
    if (peek_tag(r, t) && t.is_context(kTagArrayIndex)) {
        std::uint64_t index;
        if (!decode_ctx_unsigned(r, kTagArrayIndex, index) || index > 0xFFFFFFFF) return false;
        array_index = static_cast<std::uint32_t>(index);
    }
    return true;
}

}  // namespace

void encode_read_property(Writer& out, std::uint8_t invoke_id, const ReadPropertyRequest& request) {
    encode_confirmed_request_header(out, invoke_id, service::kReadProperty);
    encode_ctx_object_id(out, kTagObject, request.object);
    encode_ctx_enumerated(out, kTagProperty, request.property);
    if (request.array_index != kArrayAll)
        encode_ctx_unsigned(out, kTagArrayIndex, request.array_index);
}

bool decode_read_property(std::span<const std::uint8_t> service, ReadPropertyRequest& out) {
    Reader r(service);
    ReadPropertyRequest req;
    if (!decode_reference(r, req.object, req.property, req.array_index) || !r.empty()) return false;
    out = req;
    return true;
}

bool decode_read_property_ack(std::span<const std::uint8_t> service, ReadPropertyAck& out) {
    Reader r(service);
    ReadPropertyAck ack;
    if (!decode_reference(r, ack.object, ack.property, ack.array_index)) return false;
    Tag t;
    if (!decode_tag(r, t) || !t.is_opening(kTagValue)) return false;
    const std::span<const std::uint8_t> rest = r.rest();
    if (rest.empty() || rest.back() != kClosingTag3) return false;
    ack.application_data = rest.first(rest.size() - 1);
    out = ack;
    return true;
}

}  // namespace bacstack
