// Property data decoding, as the answer handlers loop over it, with a round trip per
// value: decode, encode, decode again, and the second encoding must equal the first.
// Input: one octet choosing the property (and so the constructed type), one octet
// choosing the array index, then the property data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "bacstack/limits.hpp"
#include "bacstack/value_codec.hpp"

namespace {

struct Property {
    std::uint32_t object_type;
    std::uint32_t property;
};

// One property per constructed type, and two primitive ones.
constexpr Property kProperties[] = {
    {0, 85},    // present-value: primitive
    {8, 76},    // object-list
    {17, 32},   // effective-period: date range
    {44, 85},   // present-value of datetime-value: date-time
    {0, 130},   // event-time-stamps: time stamp
    {12, 54},   // list-of-object-property-references
    {15, 102},  // recipient-list: destination
    {6, 23},    // datelist: calendar entries
    {17, 123},  // weekly-schedule
    {17, 38},   // exception-schedule: special event
    {23, 187},  // scale
};
constexpr std::uint32_t kArrayIndexes[] = {bacstack::kArrayAll, 0, 1, 7};

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const Property p = kProperties[data[0] % std::size(kProperties)];
    const std::uint32_t index = kArrayIndexes[data[1] % std::size(kArrayIndexes)];
    // Exact-size copy: a read past the end is a sanitizer report.
    const std::vector<std::uint8_t> input(data + 2, data + size);
    std::span<const std::uint8_t> rest(input);
    while (!rest.empty()) {
        bacstack::Value value;
        const int n =
            bacstack::decode_known_array_property(rest, value, p.object_type, p.property, index);
        if (n < 0) break;
        check(n > 0 && static_cast<std::size_t>(n) <= rest.size());

        const bacstack::Value one[] = {value};
        const std::vector<std::uint8_t> first = bacstack::encode_values(one);
        bacstack::Value again;
        const int m =
            bacstack::decode_known_array_property(first, again, p.object_type, p.property, index);
        check(m == static_cast<int>(first.size()));
        const bacstack::Value two[] = {again};
        check(bacstack::encode_values(two) == first);

        rest = rest.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}
