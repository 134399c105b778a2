#include "bacstack/value.hpp"

#include <array>

namespace bacstack {

namespace {

// Tag of each ValueData alternative, by variant index.
constexpr std::array<std::uint8_t, std::variant_size_v<ValueData>> kValueTags = {
    0,
    1,
    2,
    3,
    4,
    5,
    6,
    7,
    8,
    9,
    10,
    11,
    12,
    pseudo_tag::kDateRange,
    pseudo_tag::kDateTime,
    pseudo_tag::kTimeStamp,
    pseudo_tag::kDeviceObjectPropertyReference,
    pseudo_tag::kDestination,
    pseudo_tag::kCalendarEntry,
    pseudo_tag::kWeeklySchedule,
    pseudo_tag::kSpecialEvent,
    pseudo_tag::kScale};

static_assert(std::variant_size_v<PrimitiveValue> == 13);
static_assert(std::is_same_v<std::variant_alternative_t<12, ValueData>, ObjectId>);
static_assert(std::is_same_v<std::variant_alternative_t<21, ValueData>, Scale>);

}  // namespace

std::uint8_t app_tag(const Value& value) { return kValueTags[value.data.index()]; }

std::uint8_t app_tag(const PrimitiveValue& value) {
    return static_cast<std::uint8_t>(value.index());
}

bool zero_primitive(std::uint32_t tag, PrimitiveValue& out) {
    switch (tag) {
        case 0:
            out = Null{};
            return true;
        case 1:
            out = false;
            return true;
        case 2:
            out = std::uint64_t{0};
            return true;
        case 3:
            out = std::int32_t{0};
            return true;
        case 4:
            out = 0.0f;
            return true;
        case 5:
            out = 0.0;
            return true;
        case 6:
            out = OctetString{};
            return true;
        case 7:
            out = CharacterString{};
            return true;
        case 8:
            out = BitString{};
            return true;
        case 9:
            out = Enumerated{};
            return true;
        case 10:
            out = Date{};
            return true;
        case 11:
            out = Time{};
            return true;
        case 12:
            out = ObjectId{};
            return true;
        default:
            return false;
    }
}

std::uint8_t year_octet(std::uint16_t year) {
    if (year >= kYearBase && year <= kYearBase + 255)
        return static_cast<std::uint8_t>(year - kYearBase);
    if (year <= 255) return static_cast<std::uint8_t>(year);
    return kUnspecified;
}

}  // namespace bacstack
