// Application values on the wire. Every expected octet string below was worked out by
// hand from ASHRAE 135 clause 20.2 (tag octet: tag number << 4 | class bit 0x08 | length;
// length 5 means an extended length octet, 254 a 16-bit one; opening/closing context
// tags 0xN6/0xN7) and the productions of clause 21, not produced by our encoder.
#include "bacstack/value_codec.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bacstack/limits.hpp"
#include "test_hex.hpp"

namespace bacstack {
namespace {

using testing_hex::hex;
using testing_hex::to_hex;

// Object types and properties that select a constructed decoding.
constexpr std::uint32_t kAnalogInput = 0, kDatetimeValue = 44, kSchedule = 17, kCalendar = 6,
                        kNotificationClass = 15, kLoop = 12, kAccumulator = 23;
constexpr std::uint32_t kPresentValue = 85, kEffectivePeriod = 32, kWeeklySchedule = 123,
                        kExceptionSchedule = 38, kDateList = 23, kRecipientList = 102,
                        kListOfReferences = 54, kEventTimeStamps = 130, kScaleProperty = 187,
                        kObjectList = 76;

Value v(ValueData d) { return Value{std::move(d)}; }

BitString bits(std::string_view s) {
    BitString b;
    for (char c : s) b.bits.push_back(c == '1');
    return b;
}

struct Case {
    const char* name;
    Value value;
    std::uint32_t object_type;
    std::uint32_t property;
    std::uint32_t array_index;
    std::string octets;
};

WeeklySchedule monday_at_six() {
    WeeklySchedule w;
    w.days[0].push_back(TimeValue{Time{6, 0, 0, 0}, 21.5f});
    return w;
}

std::vector<Case> cases() {
    const Date dec9{2025, 12, 9, 2};
    const Date any{2155, 255, 255, 255};
    SpecialEvent dated;
    dated.period = CalendarEntry{{Date{2025, 12, 25, 255}}};
    dated.time_values = {TimeValue{Time{8, 0, 0, 0}, Null{}}};
    dated.priority = 16;
    SpecialEvent by_calendar;
    by_calendar.period = ObjectId{6, 3};
    by_calendar.priority = 16;
    WeeklySchedule single = monday_at_six();
    single.single_day = true;
    Destination to_device{
        bits("1111111"), Time{0, 0, 0, 0}, Time{23, 59, 59, 99}, ObjectId{8, 1}, 1,
        false,           bits("111")};
    Destination to_address = to_device;
    to_address.recipient = RecipientAddress{5, {0xAA, 0xBB}};
    to_address.issue_confirmed_notifications = true;
    DeviceObjectPropertyReference plain{ObjectId{0, 5}, kPresentValue};
    DeviceObjectPropertyReference full{ObjectId{0, 5}, kPresentValue, 3, ObjectId{8, 1234}};
    const std::string long_octets = "65 FE 01 2C" + std::string(300 * 3, ' ');

    std::vector<Case> c = {
        {"null", v(Null{}), kAnalogInput, kPresentValue, kArrayAll, "00"},
        {"false", v(false), kAnalogInput, kPresentValue, kArrayAll, "10"},
        {"true", v(true), kAnalogInput, kPresentValue, kArrayAll, "11"},
        {"unsigned 0", v(std::uint64_t{0}), kAnalogInput, kPresentValue, kArrayAll, "21 00"},
        {"unsigned 256", v(std::uint64_t{256}), kAnalogInput, kPresentValue, kArrayAll, "22 01 00"},
        {"unsigned 2^32 (extended length)", v(std::uint64_t{1} << 32), kAnalogInput, kPresentValue,
         kArrayAll, "25 05 01 00 00 00 00"},
        {"unsigned max", v(std::numeric_limits<std::uint64_t>::max()), kAnalogInput, kPresentValue,
         kArrayAll, "25 08 FF FF FF FF FF FF FF FF"},
        {"signed -1", v(std::int32_t{-1}), kAnalogInput, kPresentValue, kArrayAll, "31 FF"},
        {"signed 128", v(std::int32_t{128}), kAnalogInput, kPresentValue, kArrayAll, "32 00 80"},
        {"signed -129", v(std::int32_t{-129}), kAnalogInput, kPresentValue, kArrayAll, "32 FF 7F"},
        {"signed min", v(std::numeric_limits<std::int32_t>::min()), kAnalogInput, kPresentValue,
         kArrayAll, "34 80 00 00 00"},
        {"real 21.5", v(21.5f), kAnalogInput, kPresentValue, kArrayAll, "44 41 AC 00 00"},
        {"double 1.0", v(1.0), kAnalogInput, kPresentValue, kArrayAll,
         "55 08 3F F0 00 00 00 00 00 00"},
        {"empty octet string", v(OctetString{}), kAnalogInput, kPresentValue, kArrayAll, "60"},
        {"octet string", v(OctetString{{1, 2, 3}}), kAnalogInput, kPresentValue, kArrayAll,
         "63 01 02 03"},
        {"octet string of 5", v(OctetString{{1, 2, 3, 4, 5}}), kAnalogInput, kPresentValue,
         kArrayAll, "65 05 01 02 03 04 05"},
        {"character string", v(CharacterString{charset::kUtf8, "ABC"}), kAnalogInput, kPresentValue,
         kArrayAll, "74 00 41 42 43"},
        {"empty character string", v(CharacterString{charset::kUcs2, ""}), kAnalogInput,
         kPresentValue, kArrayAll, "71 04"},
        {"empty bit string", v(BitString{}), kAnalogInput, kPresentValue, kArrayAll, "81 00"},
        {"bit string 1011", v(bits("1011")), kAnalogInput, kPresentValue, kArrayAll, "82 04 B0"},
        {"bit string of 9", v(bits("100000001")), kAnalogInput, kPresentValue, kArrayAll,
         "83 07 80 80"},
        {"enumerated 256", v(Enumerated{256}), kAnalogInput, kPresentValue, kArrayAll, "92 01 00"},
        {"date", v(dec9), kAnalogInput, kPresentValue, kArrayAll, "A4 7D 0C 09 02"},
        {"date unspecified", v(any), kAnalogInput, kPresentValue, kArrayAll, "A4 FF FF FF FF"},
        {"date 1900", v(Date{1900, 1, 1, 1}), kAnalogInput, kPresentValue, kArrayAll,
         "A4 00 01 01 01"},
        {"time", v(Time{6, 30, 15, 50}), kAnalogInput, kPresentValue, kArrayAll, "B4 06 1E 0F 32"},
        {"object id", v(ObjectId{8, 7}), 8, kObjectList, kArrayAll, "C4 02 00 00 07"},
        {"object id max instance", v(ObjectId{0, kMaxInstance}), 8, kObjectList, kArrayAll,
         "C4 00 3F FF FF"},
        {"date range", v(DateRange{Date{2025, 1, 1, 3}, dec9}), kSchedule, kEffectivePeriod,
         kArrayAll, "A4 7D 01 01 03 A4 7D 0C 09 02"},
        {"date-time", v(DateTime{dec9, Time{12, 0, 0, 0}}), kDatetimeValue, kPresentValue,
         kArrayAll, "A4 7D 0C 09 02 B4 0C 00 00 00"},
        {"time stamp: time", v(TimeStamp{Time{1, 2, 3, 4}}), kAnalogInput, kEventTimeStamps,
         kArrayAll, "0C 01 02 03 04"},
        {"time stamp: sequence", v(TimeStamp{std::uint16_t{300}}), kAnalogInput, kEventTimeStamps,
         kArrayAll, "1A 01 2C"},
        {"time stamp: date-time", v(TimeStamp{DateTime{dec9, Time{1, 2, 3, 4}}}), kAnalogInput,
         kEventTimeStamps, kArrayAll, "2E A4 7D 0C 09 02 B4 01 02 03 04 2F"},
        {"reference", v(plain), kLoop, kListOfReferences, kArrayAll, "0C 00 00 00 05 19 55"},
        {"reference with index and device", v(full), kLoop, kListOfReferences, kArrayAll,
         "0C 00 00 00 05 19 55 29 03 3C 02 00 04 D2"},
        {"destination to a device", v(to_device), kNotificationClass, kRecipientList, kArrayAll,
         "82 01 FE B4 00 00 00 00 B4 17 3B 3B 63 0C 02 00 00 01 21 01 10 82 05 E0"},
        {"destination to an address", v(to_address), kNotificationClass, kRecipientList, kArrayAll,
         "82 01 FE B4 00 00 00 00 B4 17 3B 3B 63 1E 21 05 62 AA BB 1F 21 01 11 82 05 E0"},
        {"calendar entries",
         v(CalendarEntry{{Date{2025, 12, 25, 255}, DateRange{dec9, dec9}, WeekNDay{255, 1, 1}}}),
         kCalendar, kDateList, kArrayAll,
         "0C 7D 0C 19 FF 1E A4 7D 0C 09 02 A4 7D 0C 09 02 1F 2B FF 01 01"},
        {"weekly schedule", v(monday_at_six()), kSchedule, kWeeklySchedule, kArrayAll,
         "0E B4 06 00 00 00 44 41 AC 00 00 0F 0E 0F 0E 0F 0E 0F 0E 0F 0E 0F 0E 0F"},
        {"weekly schedule, one day", v(single), kSchedule, kWeeklySchedule, 1,
         "0E B4 06 00 00 00 44 41 AC 00 00 0F"},
        {"special event on a date", v(dated), kSchedule, kExceptionSchedule, kArrayAll,
         "0E 0C 7D 0C 19 FF 0F 2E B4 08 00 00 00 00 2F 39 10"},
        {"special event by calendar", v(by_calendar), kSchedule, kExceptionSchedule, kArrayAll,
         "1C 01 80 00 03 2E 2F 39 10"},
        {"float scale", v(Scale{true, 1.5f, 0}), kAccumulator, kScaleProperty, kArrayAll,
         "0C 3F C0 00 00"},
        {"integer scale", v(Scale{false, 0.0f, -2}), kAccumulator, kScaleProperty, kArrayAll,
         "19 FE"},
    };
    // 20.2.1.3.1: 300 octets take the 16-bit extended length 0xFE 0x012C.
    std::vector<std::uint8_t> many(300, 0xAB);
    std::string text = "65 FE 01 2C";
    for (int i = 0; i < 300; ++i) text += " AB";
    c.push_back({"octet string of 300", v(OctetString{many}), kAnalogInput, kPresentValue,
                 kArrayAll, text});
    return c;
}

TEST(ValueCodec, EncodesByteExact) {
    for (const auto& c : cases()) {
        std::vector<std::uint8_t> got;
        Writer out(got);
        encode_value(out, c.value);
        EXPECT_EQ(to_hex(got), to_hex(hex(c.octets))) << c.name;
    }
}

TEST(ValueCodec, DecodesWhatItEncodes) {
    for (const auto& c : cases()) {
        const auto octets = hex(c.octets);
        Value got;
        const int n =
            decode_known_array_property(octets, got, c.object_type, c.property, c.array_index);
        EXPECT_EQ(n, static_cast<int>(octets.size())) << c.name;
        EXPECT_EQ(got, c.value) << c.name;
        EXPECT_EQ(app_tag(got), app_tag(c.value)) << c.name;
    }
}

TEST(ValueCodec, TruncationFailsCleanly) {
    for (const auto& c : cases()) {
        const auto octets = hex(c.octets);
        for (std::size_t len = 0; len < octets.size(); ++len) {
            // Exact-size copy so that an overread is a sanitizer report.
            const std::vector<std::uint8_t> prefix(octets.begin(),
                                                   octets.begin() + static_cast<long>(len));
            Value out{CharacterString{0, "untouched"}};
            const Value before = out;
            const int n =
                decode_known_array_property(prefix, out, c.object_type, c.property, c.array_index);
            if (n < 0) {
                EXPECT_EQ(out, before) << c.name << " at " << len;
            } else {
                // A shorter value may end inside the prefix (a list element boundary, an
                // optional member left out, the first primitive of a fallback), never past it.
                EXPECT_GT(n, 0) << c.name << " at " << len;
                EXPECT_LE(static_cast<std::size_t>(n), len) << c.name << " at " << len;
                EXPECT_NE(out, c.value) << c.name << " at " << len;
            }
        }
    }
}

TEST(ValueCodec, RejectsMalformedData) {
    const struct {
        const char* name;
        std::uint32_t object_type, property, array_index;
        const char* octets;
    } bad[] = {
        {"empty", kAnalogInput, kPresentValue, kArrayAll, ""},
        {"reserved application tag 13", kAnalogInput, kPresentValue, kArrayAll, "D1 00"},
        {"null with content", kAnalogInput, kPresentValue, kArrayAll, "01 00"},
        {"boolean with length 2", kAnalogInput, kPresentValue, kArrayAll, "12"},
        {"unsigned of no octets", kAnalogInput, kPresentValue, kArrayAll, "20"},
        {"unsigned of 9 octets", kAnalogInput, kPresentValue, kArrayAll,
         "25 09 01 01 01 01 01 01 01 01 01"},
        {"signed beyond 32 bits", kAnalogInput, kPresentValue, kArrayAll, "35 05 01 00 00 00 00"},
        {"real of 3 octets", kAnalogInput, kPresentValue, kArrayAll, "43 41 AC 00"},
        {"double of 4 octets", kAnalogInput, kPresentValue, kArrayAll, "54 3F F0 00 00"},
        {"character string without charset", kAnalogInput, kPresentValue, kArrayAll, "70"},
        {"bit string without unused count", kAnalogInput, kPresentValue, kArrayAll, "80"},
        {"bit string with 8 unused bits", kAnalogInput, kPresentValue, kArrayAll, "82 08 FF"},
        {"empty bit string with unused bits", kAnalogInput, kPresentValue, kArrayAll, "81 03"},
        {"enumerated of 5 octets", kAnalogInput, kPresentValue, kArrayAll, "95 05 00 00 00 00 01"},
        {"date of 3 octets", kAnalogInput, kPresentValue, kArrayAll, "A3 7D 0C 09"},
        {"object id of 5 octets", kAnalogInput, kPresentValue, kArrayAll, "C5 05 02 00 00 07 00"},
        {"length beyond the data", kAnalogInput, kPresentValue, kArrayAll, "65 10 01 02"},
        {"32-bit length beyond the data", kAnalogInput, kPresentValue, kArrayAll,
         "65 FF FF FF FF FF 01"},
        {"context data of a primitive property", kAnalogInput, kPresentValue, kArrayAll, "09 01"},
        {"opening tag of a primitive property", kAnalogInput, kPresentValue, kArrayAll,
         "0E 21 01 0F"},
        {"closing tag first", kSchedule, kWeeklySchedule, kArrayAll, "0F"},
        {"day not closed", kSchedule, kWeeklySchedule, kArrayAll, "0E B4 06 00 00 00 10"},
        {"day closed by the wrong tag", kSchedule, kWeeklySchedule, kArrayAll, "0E 1F"},
        {"time value without its value", kSchedule, kWeeklySchedule, kArrayAll,
         "0E B4 06 00 00 00 0F"},
        {"time value with a context value", kSchedule, kWeeklySchedule, kArrayAll,
         "0E B4 06 00 00 00 09 01 0F"},
        {"time stamp sequence above 65535", kAnalogInput, kEventTimeStamps, kArrayAll,
         "1B 01 00 00"},
        {"reference to a device that is not one", kLoop, kListOfReferences, kArrayAll,
         "0C 00 00 00 05 19 55 3C 00 00 04 D2"},
        {"reference without property", kLoop, kListOfReferences, kArrayAll, "0C 00 00 00 05"},
        {"week-n-day of 2 octets", kCalendar, kDateList, kArrayAll, "2A FF 01"},
        {"special event priority above 255", kSchedule, kExceptionSchedule, kArrayAll,
         "1C 01 80 00 03 2E 2F 3A 01 00"},
        {"special event with two period entries", kSchedule, kExceptionSchedule, kArrayAll,
         "0E 0C 7D 0C 19 FF 0C 7D 0C 19 FF 0F 2E 2F 39 10"},
        {"scale of another choice", kAccumulator, kScaleProperty, kArrayAll, "29 01"},
        {"integer scale beyond 32 bits", kAccumulator, kScaleProperty, kArrayAll,
         "1D 05 01 00 00 00 00"},
    };
    for (const auto& b : bad) {
        const auto octets = hex(b.octets);
        Value out{Enumerated{42}};
        EXPECT_LT(
            decode_known_array_property(octets, out, b.object_type, b.property, b.array_index), 0)
            << b.name;
        EXPECT_EQ(out, Value{Enumerated{42}}) << b.name;
    }
}

TEST(ValueCodec, MoreThanFortyTimeValuesFail) {
    std::string day = "0E";
    for (int i = 0; i <= static_cast<int>(kMaxTimeValues); ++i) day += " B4 06 00 00 00 00";
    const auto ok = hex(day.substr(0, 2 + 18 * kMaxTimeValues) + " 0F");
    const auto too_many = hex(day + " 0F");
    Value out;
    EXPECT_EQ(decode_known_array_property(ok, out, kSchedule, kWeeklySchedule, 2),
              static_cast<int>(ok.size()));
    EXPECT_EQ(std::get<WeeklySchedule>(out.data).days[0].size(), kMaxTimeValues);
    EXPECT_LT(decode_known_array_property(too_many, out, kSchedule, kWeeklySchedule, 2), 0);
}

// The callers' loop: decode, advance by the octets taken, stop on failure or at the end.
std::vector<Value> decode_all(const std::vector<std::uint8_t>& data, std::uint32_t type,
                              std::uint32_t property, std::uint32_t index = kArrayAll) {
    std::vector<Value> values;
    std::span<const std::uint8_t> rest(data);
    while (!rest.empty()) {
        Value one;
        const int n = decode_known_array_property(rest, one, type, property, index);
        if (n <= 0) break;
        values.push_back(std::move(one));
        rest = rest.subspan(static_cast<std::size_t>(n));
    }
    return values;
}

TEST(ValueCodec, FramingOfPropertyData) {
    // An object-list: one value per identifier.
    auto list = decode_all(hex("C4 02 00 00 07 C4 00 00 00 01 C4 00 40 00 02"), 8, kObjectList);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2], (Value{ObjectId{1, 2}}));

    // Array index 0 of a schedule property is its length, an Unsigned.
    auto length = decode_all(hex("21 07"), kSchedule, kWeeklySchedule, 0);
    ASSERT_EQ(length.size(), 1u);
    EXPECT_EQ(length[0], Value{std::uint64_t{7}});

    // A date-list is one value holding every entry.
    auto dates = decode_all(hex("0C 7D 0C 19 FF 0C 7D 0C 1A FF"), kCalendar, kDateList);
    ASSERT_EQ(dates.size(), 1u);
    EXPECT_EQ(std::get<CalendarEntry>(dates[0].data).entries.size(), 2u);

    // An exception-schedule gives one value per special event.
    auto events = decode_all(hex("1C 01 80 00 03 2E 2F 39 10 1C 01 80 00 04 2E 2F 39 0F"),
                             kSchedule, kExceptionSchedule);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<SpecialEvent>(events[1].data).priority, 15);

    // event-time-stamps: three time stamps, three values.
    auto stamps =
        decode_all(hex("0C 01 02 03 04 1A 01 2C 0C FF FF FF FF"), kAnalogInput, kEventTimeStamps);
    EXPECT_EQ(stamps.size(), 3u);

    // A device-address-binding is plain application data, three values per binding.
    auto binding = decode_all(hex("C4 02 00 00 07 21 00 65 06 C0 A8 01 0A BA C0"), 8, 30);
    ASSERT_EQ(binding.size(), 3u);
    EXPECT_EQ(binding[2], (Value{OctetString{{0xC0, 0xA8, 0x01, 0x0A, 0xBA, 0xC0}}}));

    // A date range property holding a lone date falls back to that date.
    auto lone = decode_all(hex("A4 7D 0C 09 02"), kSchedule, kEffectivePeriod);
    ASSERT_EQ(lone.size(), 1u);
    EXPECT_EQ(lone[0], (Value{Date{2025, 12, 9, 2}}));

    // Present-value of an ordinary object stays primitive even when a weekly schedule
    // would have been possible for another property.
    auto real = decode_all(hex("44 41 AC 00 00"), kAnalogInput, kPresentValue);
    ASSERT_EQ(real.size(), 1u);

    // A whole weekly schedule is seven days: an eighth is left over, six are not enough.
    std::string days;
    for (int i = 0; i < 8; ++i) days += "0E 0F ";
    EXPECT_EQ(decode_all(hex(days), kSchedule, kWeeklySchedule).size(), 1u);
    EXPECT_EQ(decode_all(hex(days.substr(0, 6 * 6)), kSchedule, kWeeklySchedule).size(), 0u);

    // Decoding stops at the first undecodable value and keeps those before it.
    auto partial = decode_all(hex("21 01 21 02 D1 00 21 03"), kAnalogInput, kPresentValue);
    EXPECT_EQ(partial.size(), 2u);
}

TEST(ValueCodec, YearOctet) {
    const struct {
        std::uint16_t year;
        std::uint8_t octet;
    } cases[] = {{2025, 125}, {125, 125}, {0, 0},      {255, 255},  {256, 255},
                 {1899, 255}, {1900, 0},  {2155, 255}, {2156, 255}, {65535, 255}};
    for (const auto& c : cases) EXPECT_EQ(year_octet(c.year), c.octet) << c.year;
}

TEST(ValueCodec, EncodesListsOneAfterAnother) {
    const Value refs[] = {Value{DeviceObjectPropertyReference{ObjectId{0, 5}, kPresentValue}},
                          Value{DeviceObjectPropertyReference{ObjectId{0, 6}, kPresentValue}}};
    EXPECT_EQ(to_hex(encode_values(refs)), "0C 00 00 00 05 19 55 0C 00 00 00 06 19 55");
}

TEST(ValueCodec, SpecialEventWritesOnlyTheFirstPeriodEntry) {
    SpecialEvent e;
    e.period = CalendarEntry{{Date{2025, 1, 1, 255}, Date{2025, 1, 2, 255}}};
    e.priority = 1;
    const Value value{e};
    EXPECT_EQ(to_hex(encode_values({&value, 1})), "0E 0C 7D 01 01 FF 0F 2E 2F 39 01");
}

}  // namespace
}  // namespace bacstack
