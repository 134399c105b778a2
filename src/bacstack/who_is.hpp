// Who-Is and I-Am (clauses 16.10 and 16.9): device discovery and the binding it yields.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "bacstack/bytes.hpp"

namespace bacstack {

// 21: Segmentation; a device without segmentation says no-segmentation (3).
inline constexpr std::uint32_t kSegmentationNone = 3;
// 21: object type of a device.
inline constexpr std::uint16_t kObjectTypeDevice = 8;

struct WhoIsRange {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

struct IAm {
    std::uint32_t device_id = 0;
    unsigned max_apdu = 0;
    std::uint32_t segmentation = 0;
    std::uint16_t vendor_id = 0;
};

// The whole unconfirmed APDU. A range is encoded when both limits lie in 0..4194303,
// as the callers pass -1 for "every device".
void encode_who_is(Writer& out, std::int32_t low, std::int32_t high);
// Service data only. nullopt range = every device. Fails on a lone or malformed limit.
bool decode_who_is(std::span<const std::uint8_t> service, std::optional<WhoIsRange>& range);

void encode_i_am(Writer& out, const IAm& i_am);
// Service data only: device object id, max APDU, segmentation, vendor id. Fails when an
// element is missing or out of range (not a device, max APDU or vendor id over 16 bits,
// unknown segmentation); `out` is then untouched.
bool decode_i_am(std::span<const std::uint8_t> service, IAm& out);

}  // namespace bacstack
