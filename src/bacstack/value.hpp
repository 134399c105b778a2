// One BACnet application value as read from or written to a device: the primitive
// application types (ASHRAE 135 20.2) and the constructed types of clause 21 that the
// gateway renders, numbered with the reference library's application tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "bacstack/limits.hpp"
#include "bacstack/tag.hpp"

namespace bacstack {

// Application tag numbers of the constructed ("pseudo") types, as the reference
// library numbers them after the primitive tags 0..12.
namespace pseudo_tag {
inline constexpr std::uint8_t kDateRange = 19;
inline constexpr std::uint8_t kDateTime = 20;
inline constexpr std::uint8_t kTimeStamp = 21;
inline constexpr std::uint8_t kDeviceObjectPropertyReference = 23;
inline constexpr std::uint8_t kDestination = 26;
inline constexpr std::uint8_t kCalendarEntry = 29;
inline constexpr std::uint8_t kWeeklySchedule = 30;
inline constexpr std::uint8_t kSpecialEvent = 31;
inline constexpr std::uint8_t kScale = 44;
}  // namespace pseudo_tag

// 21 BACnetDailySchedule / BACnetSpecialEvent: the reference library holds at most 40
// time values per day or event; more cannot be represented and fail to decode.
inline constexpr std::size_t kMaxTimeValues = 40;
// 21 BACnetWeeklySchedule: an array of seven daily schedules, Monday first.
inline constexpr std::size_t kDaysPerWeek = 7;
// 20.2.12: the date octet that means "unspecified".
inline constexpr std::uint8_t kUnspecified = 255;
// 20.2.12: years are sent as years since 1900.
inline constexpr std::uint16_t kYearBase = 1900;

struct Null {
    friend bool operator==(const Null&, const Null&) = default;
};

struct Enumerated {
    std::uint32_t value = 0;
    friend bool operator==(const Enumerated&, const Enumerated&) = default;
};

struct OctetString {
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const OctetString&, const OctetString&) = default;
};

// 20.2.9: the character set code comes first on the wire.
namespace charset {
inline constexpr std::uint8_t kUtf8 = 0;
inline constexpr std::uint8_t kDbcs = 1;
inline constexpr std::uint8_t kJis = 2;
inline constexpr std::uint8_t kUcs4 = 3;
inline constexpr std::uint8_t kUcs2 = 4;
inline constexpr std::uint8_t kIso8859_1 = 5;
}  // namespace charset

struct CharacterString {
    std::uint8_t encoding = charset::kUtf8;
    std::string bytes;
    friend bool operator==(const CharacterString&, const CharacterString&) = default;
};

struct BitString {
    std::vector<bool> bits;  // bit 0 first
    friend bool operator==(const BitString&, const BitString&) = default;
};

// year: the full year as decoded (1900 + wire octet, so 2155 when unspecified). The
// encoder also takes 0..255 as years since 1900, which is what text input stores.
struct Date {
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t wday = 0;  // 1 = Monday .. 7 = Sunday, 255 unspecified
    friend bool operator==(const Date&, const Date&) = default;
};

struct Time {
    std::uint8_t hour = 0;
    std::uint8_t min = 0;
    std::uint8_t sec = 0;
    std::uint8_t hundredths = 0;
    friend bool operator==(const Time&, const Time&) = default;
};

struct DateRange {
    Date start_date;
    Date end_date;
    friend bool operator==(const DateRange&, const DateRange&) = default;
};

struct DateTime {
    Date date;
    Time time;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// 21 BACnetTimeStamp ::= CHOICE { time [0], sequenceNumber [1], dateTime [2] }.
struct TimeStamp {
    std::variant<Time, std::uint16_t, DateTime> choice;
    friend bool operator==(const TimeStamp&, const TimeStamp&) = default;
};

// 21 BACnetDeviceObjectPropertyReference. The optional members are absent when they
// hold their "none" values: array_index kArrayAll, a device whose type is not device.
struct DeviceObjectPropertyReference {
    static constexpr ObjectId kNoDevice{static_cast<std::uint16_t>(kMaxObjectType), kMaxInstance};
    ObjectId object;
    std::uint32_t property = 0;
    std::uint32_t array_index = kArrayAll;
    ObjectId device = kNoDevice;
    bool has_device() const { return device.type == kDeviceObjectType; }
    friend bool operator==(const DeviceObjectPropertyReference&,
                           const DeviceObjectPropertyReference&) = default;

    static constexpr std::uint16_t kDeviceObjectType = 8;
};

// 21 BACnetRecipient ::= CHOICE { device [0] BACnetObjectIdentifier, address [1] BACnetAddress }.
struct RecipientAddress {
    std::uint16_t network = 0;
    std::vector<std::uint8_t> mac;
    friend bool operator==(const RecipientAddress&, const RecipientAddress&) = default;
};

// 21 BACnetDestination (notification class recipient-list).
struct Destination {
    BitString valid_days;
    Time from_time;
    Time to_time;
    std::variant<ObjectId, RecipientAddress> recipient;
    std::uint32_t process_identifier = 0;
    bool issue_confirmed_notifications = false;
    BitString transitions;
    friend bool operator==(const Destination&, const Destination&) = default;
};

// 21 BACnetWeekNDay: month, week of month, day of week (255 = any).
struct WeekNDay {
    std::uint8_t month = 0;
    std::uint8_t week_of_month = 0;
    std::uint8_t day_of_week = 0;
    friend bool operator==(const WeekNDay&, const WeekNDay&) = default;
};

// 21 BACnetCalendarEntry ::= CHOICE { date [0], dateRange [1], weekNDay [2] }; the
// variant index is the choice number.
using CalendarEntryItem = std::variant<Date, DateRange, WeekNDay>;

// A list of calendar entries (a calendar's date-list in one value); never empty.
struct CalendarEntry {
    std::vector<CalendarEntryItem> entries{CalendarEntryItem{}};
    friend bool operator==(const CalendarEntry&, const CalendarEntry&) = default;
};

// The primitive value of a time value: an application tag 0..12 and its content.
using PrimitiveValue =
    std::variant<Null, bool, std::uint64_t, std::int32_t, float, double, OctetString,
                 CharacterString, BitString, Enumerated, Date, Time, ObjectId>;

// 21 BACnetTimeValue.
struct TimeValue {
    Time time;
    PrimitiveValue value;
    friend bool operator==(const TimeValue&, const TimeValue&) = default;
};

// 21 BACnetWeeklySchedule: seven days of at most kMaxTimeValues time values. single_day
// marks one element of the array (a read or write with an array index): only days[0].
struct WeeklySchedule {
    std::vector<TimeValue> days[kDaysPerWeek];
    bool single_day = false;
    friend bool operator==(const WeeklySchedule&, const WeeklySchedule&) = default;
};

// 21 BACnetSpecialEvent: period (calendar entries, or a calendar object reference), at
// most kMaxTimeValues time values, event priority.
struct SpecialEvent {
    std::variant<CalendarEntry, ObjectId> period;
    std::vector<TimeValue> time_values;
    std::uint8_t priority = 0;
    friend bool operator==(const SpecialEvent&, const SpecialEvent&) = default;
};

// 21 BACnetScale ::= CHOICE { floatScale [0] REAL, integerScale [1] INTEGER }.
struct Scale {
    bool is_float = false;
    float float_scale = 0.0f;
    std::int32_t integer_scale = 0;
    friend bool operator==(const Scale&, const Scale&) = default;
};

// Alternatives in application tag order; app_tag() gives the library's tag number.
using ValueData = std::variant<Null, bool, std::uint64_t, std::int32_t, float, double, OctetString,
                               CharacterString, BitString, Enumerated, Date, Time, ObjectId,
                               DateRange, DateTime, TimeStamp, DeviceObjectPropertyReference,
                               Destination, CalendarEntry, WeeklySchedule, SpecialEvent, Scale>;

struct Value {
    ValueData data;
    friend bool operator==(const Value&, const Value&) = default;
};

// Application tag number (0..12, or the pseudo tags above) of a value.
std::uint8_t app_tag(const Value& value);
std::uint8_t app_tag(const PrimitiveValue& value);

// A primitive value of the given tag (0..12) holding zeros; false for other tags.
bool zero_primitive(std::uint32_t tag, PrimitiveValue& out);

// The date octet for a year as Date::year holds it: 1900..2155 are full years, 0..255
// already years since 1900, anything else unspecified.
std::uint8_t year_octet(std::uint16_t year);

}  // namespace bacstack
