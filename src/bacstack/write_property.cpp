#include "bacstack/write_property.hpp"

#include "bacstack/apdu.hpp"
#include "bacstack/limits.hpp"

namespace bacstack {

namespace {
constexpr std::uint8_t kTagObject = 0;
constexpr std::uint8_t kTagProperty = 1;
constexpr std::uint8_t kTagArrayIndex = 2;
constexpr std::uint8_t kTagValue = 3;
constexpr std::uint8_t kTagPriority = 4;

// Walks tags from just after opening tag 3 to its matching closing tag; the span between.
bool find_value(Reader& r, std::span<const std::uint8_t>& value) {
    const std::span<const std::uint8_t> start = r.rest();
    Reader probe = r;
    int depth = 0;
    while (true) {
        const std::size_t before = probe.position();
        Tag t;
        if (!decode_tag(probe, t)) return false;
        if (t.kind == Tag::Kind::Opening) {
            if (++depth > kMaxNesting) return false;
        } else if (t.kind == Tag::Kind::Closing) {
            if (depth == 0) {
                if (!t.is_closing(kTagValue)) return false;
                value = start.first(before - r.position());
                r = probe;
                return true;
            }
            --depth;
        } else if (!t.is_application(AppTag::Boolean)) {
            if (!probe.skip(t.lvt)) return false;
        }
    }
}

}  // namespace

void encode_write_property(Writer& out, std::uint8_t invoke_id,
                           const WritePropertyRequest& request) {
    encode_confirmed_request_header(out, invoke_id, service::kWriteProperty);
    encode_ctx_object_id(out, kTagObject, request.object);
    encode_ctx_enumerated(out, kTagProperty, request.property);
    if (request.array_index != kArrayAll)
        encode_ctx_unsigned(out, kTagArrayIndex, request.array_index);
    encode_opening_tag(out, kTagValue);
    out.bytes(request.value);
    encode_closing_tag(out, kTagValue);
    if (request.priority != kNoPriority) encode_ctx_unsigned(out, kTagPriority, request.priority);
}

bool decode_write_property(std::span<const std::uint8_t> service, WritePropertyRequest& out) {
    Reader r(service);
    WritePropertyRequest req;
    std::uint32_t prop;
    if (!decode_ctx_object_id(r, kTagObject, req.object) ||
        !decode_ctx_enumerated(r, kTagProperty, prop)) {
        return false;
    }
    req.property = prop;
    Tag t;
    if (peek_tag(r, t) && t.is_context(kTagArrayIndex)) {
        std::uint64_t index;
        if (!decode_ctx_unsigned(r, kTagArrayIndex, index) || index > 0xFFFFFFFF) return false;
        req.array_index = static_cast<std::uint32_t>(index);
    }
    if (!decode_tag(r, t) || !t.is_opening(kTagValue) || !find_value(r, req.value)) return false;
    if (!r.empty()) {
        std::uint64_t priority;
        if (!decode_ctx_unsigned(r, kTagPriority, priority) || priority < 1 ||
            priority > kLowestPriority || !r.empty()) {
            return false;
        }
        req.priority = static_cast<std::uint8_t>(priority);
    }
    out = req;
    return true;
}

}  // namespace bacstack
