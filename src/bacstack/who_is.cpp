#include "bacstack/who_is.hpp"

#include "bacstack/apdu.hpp"
#include "bacstack/limits.hpp"
#include "bacstack/tag.hpp"

namespace bacstack {

namespace {
// 21: Segmentation is 0..3 (both, transmit, receive, none).
constexpr std::uint32_t kSegmentationMax = 3;
}  // namespace

void encode_who_is(Writer& out, std::int32_t low, std::int32_t high) {
    encode_unconfirmed_request_header(out, service::kWhoIs);
    const auto in_range = [](std::int32_t v) {
        return v >= 0 && static_cast<std::uint32_t>(v) <= kMaxInstance;
    };
    if (in_range(low) && in_range(high)) {
        encode_ctx_unsigned(out, 0, static_cast<std::uint32_t>(low));
        encode_ctx_unsigned(out, 1, static_cast<std::uint32_t>(high));
    }
}

bool decode_who_is(std::span<const std::uint8_t> service, std::optional<WhoIsRange>& range) {
    if (service.empty()) {
        range.reset();
        return true;
    }
    Reader r(service);
    std::uint64_t low, high;
    if (!decode_ctx_unsigned(r, 0, low) || !decode_ctx_unsigned(r, 1, high)) return false;
    if (low > kMaxInstance || high > kMaxInstance) return false;
    range = WhoIsRange{static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)};
    return true;
}

void encode_i_am(Writer& out, const IAm& i_am) {
    encode_unconfirmed_request_header(out, service::kIAm);
    encode_app_object_id(out, ObjectId{kObjectTypeDevice, i_am.device_id});
    encode_app_unsigned(out, i_am.max_apdu);
    encode_app_enumerated(out, i_am.segmentation);
    encode_app_unsigned(out, i_am.vendor_id);
}

bool decode_i_am(std::span<const std::uint8_t> service, IAm& out) {
    Reader r(service);
    ObjectId id;
    std::uint64_t max_apdu, vendor;
    std::uint32_t segmentation;
    if (!decode_app_object_id(r, id) || id.type != kObjectTypeDevice) return false;
    if (!decode_app_unsigned(r, max_apdu) || max_apdu > 0xFFFF) return false;
    if (!decode_app_enumerated(r, segmentation) || segmentation > kSegmentationMax) return false;
    if (!decode_app_unsigned(r, vendor) || vendor > 0xFFFF) return false;
    out = IAm{id.instance, static_cast<unsigned>(max_apdu), segmentation,
              static_cast<std::uint16_t>(vendor)};
    return true;
}

}  // namespace bacstack
