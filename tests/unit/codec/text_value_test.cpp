// Write payloads to values: the JSON forms, how their members are read, the collection
// walking, the failures, and the round trip through valueToText.
#include "codec/text_value.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bacstack/value_codec.hpp"
#include "codec/value_text.hpp"

namespace bacstack {
// Readable failures: the value text and the tag.
void PrintTo(const Value& v, std::ostream* os) {
    *os << "tag " << int(app_tag(v)) << " " << codec::valueToText(codec::DecodedValue{v, 0, 0, 1});
}
}  // namespace bacstack

namespace codec {
namespace {

using namespace bacstack;

constexpr std::uint32_t kReal = 4, kNull = 0, kUnsigned = 2;

Value one(std::string_view payload, std::uint32_t tag = kNull) {
    auto r = textToValue(tag, payload);
    EXPECT_TRUE(r.ok()) << payload << ": " << r.error;
    EXPECT_EQ(r.values.size(), 1u) << payload;
    return r.values.empty() ? Value{} : r.values.front();
}

struct Case {
    const char* payload;
    std::uint32_t tag;
    Value expected;
};

TEST(TextToValue, Forms) {
    WeeklySchedule three_days;
    three_days.days[0] = {TimeValue{Time{7, 0, 0, 0}, 0.0f}};
    three_days.days[1] = {TimeValue{Time{7, 0, 0, 0}, 20.0f}};
    three_days.days[2] = {};
    SpecialEvent ranged;
    ranged.period = CalendarEntry{{DateRange{Date{125, 1, 1, 0}, Date{125, 1, 2, 0}}}};
    ranged.priority = 3;
    SpecialEvent no_period;
    no_period.period = CalendarEntry{};
    SpecialEvent weeks;
    weeks.period = CalendarEntry{{WeekNDay{255, 1, 1}}};
    SpecialEvent three_zero_weeks;
    three_zero_weeks.period = CalendarEntry{{WeekNDay{}, WeekNDay{}, WeekNDay{}}};
    DateTime lenient_dt;
    lenient_dt.date = Date{125, 0, 0, 0};
    lenient_dt.time = Time{0, 0, 30, 0};

    const Case cases[] = {
        {R"({"date":{"day":9,"month":12,"year":2025,"wday":2}})", kReal,
         Value{Date{125, 12, 9, 2}}},
        {R"({"date":{"year":2155}})", kNull, Value{Date{255, 0, 0, 0}}},
        {R"({"date":{"year":1000}})", kNull, Value{Date{255, 0, 0, 0}}},
        {R"({"date":{"year":99}})", kNull, Value{Date{99, 0, 0, 0}}},
        {R"({"date":{"year":1900}})", kNull, Value{Date{0, 0, 0, 0}}},
        {R"({"date":{"year":67436}})", kNull, Value{Date{0, 0, 0, 0}}},  // low 16 bits: 1900
        {R"({"date":{"day":-1}})", kNull, Value{Date{0, 0, 255, 0}}},
        {R"({"date":{"day":9.9,"month":true}})", kNull, Value{Date{0, 1, 9, 0}}},
        {R"({"date":{"day":-1.5}})", kNull, Value{Date{0, 0, 255, 0}}},
        {R"({"date":5})", kNull, Value{Date{}}},
        {R"({"time":{"hour":6}})", kNull, Value{Time{6, 0, 0, 0}}},
        {R"({"time":{"hour":6,"min":30,"sec":15,"hundredths":50}})", kNull,
         Value{Time{6, 30, 15, 50}}},
        {R"({"datetime":{"date":{"day":-1}}})", kNull, Value{DateTime{}}},
        {R"({"datetime":{"date":{"year":2025,"day":"x","month":1.5},"time":{"sec":30,"min":null}}})",
         kNull, Value{lenient_dt}},
        {R"({"datetime":7})", kNull, Value{DateTime{}}},
        {R"({"date_range":{"start_date":{"year":2025,"month":1,"day":1},"end_date":{"year":2025,"month":12,"day":31}}})",
         kNull, Value{DateRange{Date{125, 1, 1, 0}, Date{125, 12, 31, 0}}}},
        {R"({"date_range":{"start_date":3}})", kNull, Value{DateRange{}}},
        {R"({"date":{"day":1},"weekly_schedule":{}})", kNull, Value{WeeklySchedule{}}},
        {R"({"time":{"hour":1},"date":{"day":1}})", kNull, Value{Date{0, 0, 1, 0}}},
        {R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"hour":7,"tag":4,"value":20}]},{"time_values":[{"hour":7,"tag":4,"value":20.0}]},{}]}})",
         kNull, Value{three_days}},
        {R"({"calendar_entry":[{"week_n_day":{"month":255,"week_of_month":1,"day_of_week":1}}]})",
         kNull, Value{CalendarEntry{{WeekNDay{255, 1, 1}}}}},
        {R"({"calendar_entry":[]})", kNull, Value{CalendarEntry{}}},
        {R"({"calendar_entry":null})", kNull, Value{CalendarEntry{}}},
        {R"({"calendar_entry":[7,{"other":1},{"date":{"day":3}},{"date_range":{},"date":{}}]})",
         kNull, Value{CalendarEntry{{Date{}, Date{}, Date{0, 0, 3, 0}, DateRange{}}}}},
        {R"({"calendar_entry":{"b":{"date":{"day":2}},"a":{"date":{"day":1}}}})", kNull,
         Value{CalendarEntry{{Date{0, 0, 1, 0}, Date{0, 0, 2, 0}}}}},
        {R"({"special_event":{"priority":3,"date":[{"day":1}],"date_range":[{"start_date":{"year":2025,"month":1,"day":1},"end_date":{"year":2025,"month":1,"day":2}}]}})",
         kNull, Value{ranged}},
        {R"({"special_event":{}})", kNull, Value{no_period}},
        {R"({"special_event":{"date":[]}})", kNull, Value{no_period}},
        {R"({"special_event":{"week_n_day":[{"month":255,"week_of_month":1,"day_of_week":1}]}})",
         kNull, Value{weeks}},
        // An object is walked as the collection of its member values: three non-objects.
        {R"({"special_event":{"week_n_day":{"month":255,"week_of_month":1,"day_of_week":1}}})",
         kNull, Value{three_zero_weeks}},
        {R"({"device_object_property_reference":[]})", kNull, Value{Null{}}},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.payload, c.tag), c.expected) << c.payload;
}

TEST(TextToValue, TimeValueTakesOnlyValuesThatSuitTheTag) {
    const struct {
        const char* tv;
        PrimitiveValue expected;
    } cases[] = {
        {R"({"hour":7,"tag":4,"value":20})", 0.0f},
        {R"({"hour":7,"tag":4,"value":20.0})", 20.0f},
        {R"({"hour":7,"tag":4,"value":21.3})", 21.3f},
        {R"({"hour":7,"tag":5,"value":20})", 20.0},
        {R"({"hour":7,"tag":1,"value":true})", true},
        {R"({"hour":7,"tag":1,"value":1})", false},
        {R"({"hour":7,"tag":2,"value":4294967297})", std::uint64_t{1}},
        {R"({"hour":7,"tag":2,"value":-1})", std::uint64_t{0}},
        {R"({"hour":7,"tag":3,"value":-5})", std::int32_t{-5}},
        {R"({"hour":7,"tag":3,"value":5.5})", std::int32_t{0}},
        {R"({"hour":7,"tag":9,"value":1})", Enumerated{1}},
        {R"({"hour":7,"tag":9,"value":"active"})", Enumerated{0}},
        {R"({"hour":7,"tag":7,"value":"text"})", CharacterString{}},
        {R"({"hour":7,"tag":0,"value":0})", Null{}},
        {R"({"hour":7,"value":21.5})", Null{}},
    };
    for (const auto& c : cases) {
        const std::string payload =
            std::string(R"({"weekly_schedule":{"days_schedule":[{"time_values":[)") + c.tv +
            "]}]}}";
        const Value v = one(payload);
        const auto& w = std::get<WeeklySchedule>(v.data);
        ASSERT_EQ(w.days[0].size(), 1u) << c.tv;
        EXPECT_EQ(w.days[0][0].value, c.expected) << c.tv;
        EXPECT_EQ(w.days[0][0].time, (Time{7, 0, 0, 0})) << c.tv;
    }
}

TEST(TextToValue, CapacitiesOfSchedules) {
    std::string tvs;
    for (int i = 0; i < 45; ++i)
        tvs += std::string(i ? "," : "") + R"({"hour":)" + std::to_string(i % 24) + "}";
    std::string days;
    for (int i = 0; i < 9; ++i)
        days += std::string(i ? "," : "") + R"({"time_values":[)" + tvs + "]}";
    const Value w =
        one(R"({"weekly_schedule":{"single_day":true,"days_schedule":[)" + days + "]}}");
    const auto& week = std::get<WeeklySchedule>(w.data);
    EXPECT_TRUE(week.single_day);
    for (const auto& day : week.days) EXPECT_EQ(day.size(), kMaxTimeValues);

    const Value e = one(R"({"special_event":{"exceptions":[)" + tvs + "]}}");
    EXPECT_EQ(std::get<SpecialEvent>(e.data).time_values.size(), kMaxTimeValues);
}

TEST(TextToValue, ReferencesBecomeOneValueEach) {
    auto r = textToValue(
        kNull,
        R"({"device_object_property_reference":[{"object_identifier":{"type":0,"instance":5},"property_identifier":85},{"array_index":2,"device_identifier":{"type":8,"instance":9},"object_identifier":{"type":2,"instance":1},"property_identifier":87}]})");
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.values.size(), 2u);
    DeviceObjectPropertyReference first{ObjectId{0, 5}, 85, 0, ObjectId{}};
    EXPECT_EQ(r.values[0], Value{first});
    DeviceObjectPropertyReference second{ObjectId{2, 1}, 87, 2, ObjectId{8, 9}};
    EXPECT_EQ(r.values[1], Value{second});
    // On the wire: index 0 is written, a device of zeros is not (it is not a device).
    EXPECT_EQ(
        encode_values(r.values),
        (std::vector<std::uint8_t>{0x0C, 0, 0,    0,  5,    0x19, 85,   0x29, 0, 0x0C, 0x00, 0x80,
                                   0,    1, 0x19, 87, 0x29, 2,    0x3C, 0x02, 0, 0,    9}));

    // The single object valueToText writes is a collection of four members: four
    // references of zeros.
    auto four = textToValue(
        kNull,
        R"({"device_object_property_reference":{"array_index":4294967295,"device_identifier":{"instance":4194303,"type":1023},"object_identifier":{"instance":5,"type":0},"property_identifier":85}})");
    ASSERT_TRUE(four.ok());
    ASSERT_EQ(four.values.size(), 4u);
    for (const auto& v : four.values)
        EXPECT_EQ(v, (Value{DeviceObjectPropertyReference{{}, 0, 0, {}}}));
}

TEST(TextToValue, Failures) {
    const struct {
        const char* payload;
        std::uint32_t tag;
        std::string_view error;
    } cases[] = {
        {R"({"foo":1})", kNull, kValueInputError},
        {R"({})", kReal, kValueInputError},
        {R"({"date":{"day":"9"}})", kNull, kValueInputError},
        {R"({"date":{"day":null}})", kNull, kValueInputError},
        {R"({"date":{"day":[1]}})", kNull, kValueInputError},
        {R"({"time":{"hour":{}}})", kNull, kValueInputError},
        {R"({"weekly_schedule":{"single_day":1}})", kNull, kValueInputError},
        {R"({"weekly_schedule":{"single_day":"true"}})", kNull, kValueInputError},
        {R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"hour":"7"}]}]}})", kNull,
         kValueInputError},
        {R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"tag":12000}]}]}})", kNull,
         kValueInputError},
        {R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"tag":"4"}]}]}})", kNull,
         kValueInputError},
        {R"({"device_object_property_reference":[{"array_index":true}]})", kNull, kValueInputError},
        {R"({"device_object_property_reference":[{"property_identifier":false}]})", kNull,
         kValueInputError},
        {R"({"device_object_property_reference":[{"object_identifier":{"type":true}}]})", kNull,
         kValueInputError},
        {R"({"special_event":{"priority":"1"}})", kNull, kValueInputError},
        {R"({"calendar_entry":[{"week_n_day":{"month":"x"}}]})", kNull, kValueInputError},
        {"21.5", 100, kParseValueError},
        {"abc", kReal, kParseValueError},
        {"1,5", kReal, kParseValueError},
        {"-1", kUnsigned, kParseValueError},
        {"1e39", kReal, kParseValueError},
        {R"("21.5")", kReal, kParseValueError},
        {"[1,2]", kReal, kParseValueError},
        {"{\"date\":1} x", kReal, kParseValueError},
        {"anything", 19, kParseValueError},
        {"anything", 29, kParseValueError},
        {"anything", 31, kParseValueError},
    };
    for (const auto& c : cases) {
        auto r = textToValue(c.tag, c.payload);
        EXPECT_EQ(r.error, c.error) << c.payload;
        EXPECT_TRUE(r.values.empty()) << c.payload;
    }
}

TEST(TextToValue, NonObjectsGoToTheParserAsReceived) {
    EXPECT_EQ(one("21.5", kReal), Value{21.5f});
    EXPECT_EQ(one("21.5", 5), Value{21.5});
    EXPECT_EQ(one("true", 1), Value{true});
    EXPECT_EQ(one("null", kNull), Value{Null{}});
    // A JSON string reaches the parser with its quotation marks.
    EXPECT_EQ(one(R"("hello")", 7), (Value{CharacterString{0, "\"hello\""}}));
    // Not JSON at all (a comment is not allowed either).
    EXPECT_EQ(one("{\"date\":{}} // c", 7), (Value{CharacterString{0, "{\"date\":{}} // c"}}));
    EXPECT_EQ(one("2025/12/9", 10), (Value{Date{2025, 12, 9, 2}}));
}

TEST(TextToValue, WhatValueToTextWritesReadsBack) {
    // Date, time, range, date-time, calendar entries, schedules and events come back as
    // the same value, years aside (full years are written, years since 1900 read back).
    WeeklySchedule week;
    week.days[0] = {TimeValue{Time{6, 0, 0, 0}, 21.5f}, TimeValue{Time{18, 0, 0, 0}, Null{}}};
    week.days[4] = {TimeValue{Time{8, 30, 0, 0}, true},
                    TimeValue{Time{9, 0, 0, 0}, std::uint64_t{3}},
                    TimeValue{Time{9, 1, 0, 0}, std::int32_t{-3}},
                    TimeValue{Time{9, 2, 0, 0}, 2.25},
                    TimeValue{Time{9, 3, 0, 0}, Enumerated{2}},
                    TimeValue{Time{9, 4, 0, 0}, 21.3f}};
    SpecialEvent event;
    event.period = CalendarEntry{{DateRange{Date{2025, 1, 1, 3}, Date{2025, 1, 7, 2}}}};
    event.time_values = {TimeValue{Time{0, 0, 0, 0}, 16.0f}};
    event.priority = 10;
    const Value values[] = {
        Value{Date{2025, 12, 9, 2}},
        Value{Date{2155, 255, 255, 255}},
        Value{Time{23, 59, 59, 99}},
        Value{DateRange{Date{2025, 1, 1, 3}, Date{2155, 255, 255, 255}}},
        Value{DateTime{Date{2025, 12, 9, 2}, Time{6, 30, 0, 0}}},
        Value{CalendarEntry{{Date{2025, 12, 25, 255}, WeekNDay{255, 255, 7}}}},
        Value{week},
        Value{event},
    };
    for (const auto& v : values) {
        const std::string text = valueToText(DecodedValue{v, 0, 0, 1});
        auto back = textToValue(kNull, text);
        ASSERT_TRUE(back.ok()) << text;
        ASSERT_EQ(back.values.size(), 1u);
        // Same octets on the wire is what matters to the device.
        EXPECT_EQ(encode_values(back.values), encode_values({&v, 1})) << text;
    }
}

}  // namespace
}  // namespace codec
