// Value texts: every rendering rule and edge case of the published texts, as a table.
#include "codec/value_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bacstack/value.hpp"

namespace codec {
namespace {

using namespace bacstack;

constexpr std::uint32_t kAnalogInput = 0, kBinaryValue = 5, kDevice = 8, kAnalogValue = 2;

struct Case {
    const char* name;
    Value value;
    std::uint32_t property;
    std::uint32_t object_type;
    unsigned position;
    std::string text;
};

Value octets(std::vector<std::uint8_t> b) { return Value{OctetString{std::move(b)}}; }
Value chars(std::uint8_t set, std::string s) { return Value{CharacterString{set, std::move(s)}}; }
Value enumerated(std::uint32_t v) { return Value{Enumerated{v}}; }

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::vector<Case> cases() {
    const std::vector<std::uint8_t> zero16(16, 0);
    std::vector<std::uint8_t> fe80 = {0xfe, 0x80, 0,    0,    0,    0,    0,    0,
                                      0x02, 0x0c, 0x29, 0xff, 0xfe, 0x12, 0x34, 0x56};
    std::vector<std::uint8_t> fe80_port = fe80;
    fe80_port.push_back(0xBA);
    fe80_port.push_back(0xC0);
    std::vector<std::uint8_t> uuid = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                                      0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};
    WeeklySchedule week;
    week.days[0].push_back(TimeValue{Time{6, 0, 0, 0}, 21.5f});
    WeeklySchedule single = week;
    single.single_day = true;
    WeeklySchedule kinds;
    kinds.days[1] = {TimeValue{Time{7, 0, 0, 0}, Null{}},
                     TimeValue{Time{7, 1, 0, 0}, true},
                     TimeValue{Time{7, 2, 0, 0}, std::uint64_t{18446744073709551615u}},
                     TimeValue{Time{7, 3, 0, 0}, std::int32_t{-5}},
                     TimeValue{Time{7, 4, 0, 0}, 21.3f},
                     TimeValue{Time{7, 5, 0, 0}, 2.0},
                     TimeValue{Time{7, 6, 0, 0}, Enumerated{1}},
                     TimeValue{Time{7, 7, 0, 0}, CharacterString{0, "x"}},
                     TimeValue{Time{7, 8, 0, 0}, std::numeric_limits<double>::infinity()}};
    SpecialEvent by_calendar;
    by_calendar.period = ObjectId{6, 1};
    by_calendar.priority = 16;
    SpecialEvent dated;
    dated.period = CalendarEntry{{Date{2025, 12, 25, 255}}};
    dated.time_values = {TimeValue{Time{8, 0, 0, 0}, Null{}}};
    dated.priority = 1;
    SpecialEvent ranges;
    ranges.period = CalendarEntry{{DateRange{Date{2025, 1, 1, 255}, Date{2025, 1, 2, 255}}}};
    SpecialEvent weeks;
    weeks.period = CalendarEntry{{WeekNDay{255, 1, 1}, WeekNDay{12, 6, 7}}};

    const std::string empty_day = R"({"time_values":[]})";
    const std::string date_any = R"({"day":255,"month":255,"wday":255,"year":2155})";
    const std::string dec9 = R"({"day":9,"month":12,"wday":2,"year":2025})";

    return {
        {"null", Value{Null{}}, 85, kAnalogInput, 1, "null"},
        {"false", Value{false}, 85, kAnalogInput, 1, "false"},
        {"true", Value{true}, 85, kAnalogInput, 1, "true"},
        {"unsigned max", Value{std::uint64_t{18446744073709551615u}}, 85, kAnalogInput, 1,
         "18446744073709551615"},
        {"signed -5", Value{std::int32_t{-5}}, 85, kAnalogInput, 1, "-5"},
        {"real 21.5", Value{21.5f}, 85, kAnalogInput, 1, "21.500000"},
        {"real 21.3", Value{21.3f}, 85, kAnalogInput, 1, "21.299999"},
        {"real negative zero", Value{-0.0f}, 85, kAnalogInput, 1, "-0.000000"},
        {"real nan", Value{std::numeric_limits<float>::quiet_NaN()}, 85, kAnalogInput, 1, "nan"},
        {"real inf", Value{-std::numeric_limits<float>::infinity()}, 85, kAnalogInput, 1, "-inf"},
        {"double 1e20", Value{1e20}, 85, kAnalogInput, 1, "100000000000000000000.000000"},
        {"double tie rounds to even", Value{0.0078125}, 85, kAnalogInput, 1, "0.007812"},
        {"bit string 0000", Value{BitString{{false, false, false, false}}}, 111, kAnalogInput, 1,
         "0000"},
        {"bit string 1010", Value{BitString{{true, false, true, false}}}, 111, kAnalogInput, 1,
         "1010"},
        {"bit string empty", Value{BitString{}}, 111, kAnalogInput, 1, ""},
        // Octet strings.
        {"empty octets for ip-address", octets({}), 400, kAnalogInput, 1, "[empty]"},
        {"empty octets elsewhere", octets({}), 85, kAnalogInput, 1, "[empty]"},
        {"ip-address", octets({192, 168, 1, 10}), 400, kAnalogInput, 1, "192.168.1.10"},
        {"ip-subnet-mask", octets({255, 255, 255, 0}), 411, kAnalogInput, 1, "255.255.255.0"},
        {"ip-default-gateway", octets({10, 0, 0, 1}), 401, kAnalogInput, 1, "10.0.0.1"},
        {"ip-dhcp-server", octets({10, 0, 0, 2}), 405, kAnalogInput, 1, "10.0.0.2"},
        {"ip-dns-server", octets({10, 0, 0, 3}), 406, kAnalogInput, 1, "10.0.0.3"},
        {"bacnet-ip-multicast-address", octets({239, 0, 0, 1}), 409, kAnalogInput, 1, "239.0.0.1"},
        {"ip-address of five bytes", octets({1, 2, 3, 4, 5}), 400, kAnalogInput, 1,
         "[invalid IPv4 length]"},
        {"mac-address", octets({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), 423, kAnalogInput, 1,
         "00:1a:2b:3c:4d:5e"},
        {"mac-address of four", octets({1, 2, 3, 4}), 423, kAnalogInput, 1,
         "[invalid macAddress length]"},
        {"ipv6 zero", octets(zero16), 439, kAnalogInput, 1, "0:0:0:0:0:0:0:0"},
        {"ipv6 dns", octets(fe80), 441, kAnalogInput, 1, "fe80:0:0:0:20c:29ff:fe12:3456"},
        {"ipv6 dhcp", octets(fe80), 445, kAnalogInput, 1, "fe80:0:0:0:20c:29ff:fe12:3456"},
        {"ipv6 of 4", octets({1, 2, 3, 4}), 439, kAnalogInput, 1, "[invalid IPv6 length]"},
        {"ipv6 multicast with port", octets(fe80_port), 440, kAnalogInput, 1,
         "fe80:0:0:0:20c:29ff:fe12:3456:47808"},
        {"ipv6 multicast of 16", octets(fe80), 440, kAnalogInput, 1,
         "[invalid IPv6 + port length]"},
        {"uuid", octets(uuid), 507, kAnalogInput, 1, "123e4567-e89b-12d3-a456-426614174000"},
        {"uuid of 15", octets(std::vector<std::uint8_t>(15, 1)), 507, kAnalogInput, 1,
         "[invalid UUID length]"},
        {"text octets", octets({0x41, 0x42, 0x43}), 85, kAnalogInput, 1, "ABC"},
        {"text octets of ip-address neighbour 402", octets({0x41, 0x42}), 402, kAnalogInput, 1,
         "AB"},
        {"binary octets", octets({0xff, 0x00}), 85, kAnalogInput, 1, "ff 00"},
        {"truncated UTF-8 octets", octets({0x41, 0xD0}), 85, kAnalogInput, 1, "41 d0"},
        {"five-byte lead octets", octets({0xF8, 0x80, 0x80, 0x80, 0x80}), 85, kAnalogInput, 1,
         "f8 80 80 80 80"},
        // Character strings.
        {"utf-8 unchanged", chars(0, "Привет"), 77, kAnalogInput, 1, "Привет"},
        {"utf-8 falls back to 1251", chars(0, "\xCF\xF0"), 77, kAnalogInput, 1, "Пр"},
        {"iso 8859-1 read as 1251", chars(5, "\xCF\xF0"), 77, kAnalogInput, 1, "Пр"},
        {"1251 byte 0x98 is a zero", chars(5, "a\x98z"), 77, kAnalogInput, 1,
         std::string("a\0z", 3)},
        {"1251 upper half", chars(5, "\x80\xA8\xB9\xFF"), 77, kAnalogInput, 1, "ЂЁ№я"},
        {"ucs-2", chars(4, std::string("\x04\x1F\x04\x40", 4)), 77, kAnalogInput, 1, "Пр"},
        {"ucs-2 of 3 bytes", chars(4, std::string("\x04\x1F\x04", 3)), 77, kAnalogInput, 1,
         "[invalid UCS2 length]"},
        {"ucs-2 surrogate pair", chars(4, std::string("\xD8\x3D\xDE\x00", 4)), 77, kAnalogInput, 1,
         "😀"},
        {"ucs-2 lone high surrogate", chars(4, std::string("\xD8\x3D\x00\x41", 4)), 77,
         kAnalogInput, 1,
         "\xEF\xBF\xBD"
         "A"},
        {"ucs-2 lone low surrogate", chars(4, std::string("\xDE\x00", 2)), 77, kAnalogInput, 1,
         "\xEF\xBF\xBD"},
        {"ucs-4", chars(3, std::string("\x00\x00\x04\x1F\x00\x01\xF6\x00", 8)), 77, kAnalogInput, 1,
         "П😀"},
        {"ucs-4 of 5 bytes", chars(3, std::string("\x00\x00\x00\x41\x00", 5)), 77, kAnalogInput, 1,
         "[invalid UCS4 length]"},
        {"ucs-4 beyond U+10FFFF", chars(3, std::string("\x00\x11\x00\x00", 4)), 77, kAnalogInput, 1,
         "\xEF\xBF\xBD"},
        {"ucs-4 surrogate", chars(3, std::string("\x00\x00\xD8\x00", 4)), 77, kAnalogInput, 1,
         "\xEF\xBF\xBD"},
        {"ucs-4 huge", chars(3, std::string("\xFF\xFF\xFF\xFF", 4)), 77, kAnalogInput, 1,
         "\xEF\xBF\xBD"},
        {"dbcs", chars(1, "ab"), 77, kAnalogInput, 1, "[unsupported character encoding]"},
        {"jis", chars(2, "ab"), 77, kAnalogInput, 1, "[unsupported character encoding]"},
        {"unknown set", chars(9, "ab"), 77, kAnalogInput, 1, "[unsupported character encoding]"},
        {"empty utf-8", chars(0, ""), 77, kAnalogInput, 1, ""},
        {"empty ucs-2", chars(4, ""), 77, kAnalogInput, 1, ""},
        // Enumerations.
        {"event-state", enumerated(3), 36, kAnalogInput, 1, "high limit"},
        {"event-state unnamed", enumerated(9), 36, kAnalogInput, 1, "Reserved for Use by ASHRAE"},
        {"object-type 8", enumerated(8), 79, kAnalogInput, 1, "device"},
        {"object-type 31", enumerated(31), 79, kAnalogInput, 1, "Reserved for Use by ASHRAE"},
        {"object-type 65", enumerated(65), 79, kAnalogInput, 1, "Reserved for Use by ASHRAE"},
        {"object-type 66", enumerated(66), 79, kAnalogInput, 1, "reserved 66"},
        {"object-type 127", enumerated(127), 79, kAnalogInput, 1, "reserved 127"},
        {"object-type 128", enumerated(128), 79, kAnalogInput, 1, "proprietary 128"},
        {"polarity", enumerated(1), 84, kAnalogInput, 1, "reverse"},
        {"present-value", enumerated(1), 85, kBinaryValue, 1, "active"},
        {"present-value 2", enumerated(2), 85, kBinaryValue, 1, "Reserved for Use by ASHRAE"},
        {"reliability", enumerated(25), 103, kAnalogInput, 1, "multi-state-out-of-range"},
        {"relinquish-default binary", enumerated(1), 104, kBinaryValue, 1, "active"},
        {"relinquish-default binary-input", enumerated(0), 104, 3, 1, "inactive"},
        {"relinquish-default binary-output", enumerated(1), 104, 4, 1, "active"},
        {"relinquish-default analog", enumerated(1), 104, kAnalogValue, 1, "1"},
        {"segmentation", enumerated(3), 107, kDevice, 1, "no-segmentation"},
        {"system-status", enumerated(1), 112, kDevice, 1, "operational-read-only"},
        {"units 0", enumerated(0), 117, kAnalogInput, 1, "square-meters"},
        {"units 255 unnamed or named", enumerated(62), 117, kAnalogInput, 1, "degrees-celsius"},
        {"units 256", enumerated(256), 117, kAnalogInput, 1, "proprietary 256"},
        {"units 47808", enumerated(47808), 117, kAnalogInput, 1, "proprietary 47808"},
        {"node-type", enumerated(8), 208, kAnalogInput, 1, "collection"},
        {"other enumerated", enumerated(4294967295u), 72, kAnalogInput, 1, "4294967295"},
        // Object identifiers.
        {"object id row", Value{ObjectId{8, 7}}, 76, kDevice, 1,
         "  1 |  8 device                 7"},
        {"object id row, three digits", Value{ObjectId{0, 4194303}}, 76, kDevice, 123,
         "123 |  0 analog-input           4194303"},
        {"object id long name", Value{ObjectId{43, 1}}, 76, kDevice, 1000,
         "1000 | 43 datetime-pattern-value 1"},
        {"object id name of 26", Value{ObjectId{127, 1}}, 76, kDevice, 1,
         "  1 | 127 Reserved for Use by ASHRAE1"},
        {"object id unnamed", Value{ObjectId{31, 2}}, 76, kDevice, 5,
         "  5 | 31 Reserved for Use by ASHRAE2"},
        {"object id proprietary", Value{ObjectId{130, 2}}, 76, kDevice, 5,
         "  5 | 130 Vendor Proprietary Value2"},
        {"object id in device-address-binding", Value{ObjectId{8, 7}}, 30, kDevice, 1,
         "  1 |  8 device                 7\t"},
        // JSON forms.
        {"date", Value{Date{2025, 12, 9, 2}}, 85, kAnalogInput, 1, R"({"date":)" + dec9 + "}"},
        {"date unspecified", Value{Date{2155, 255, 255, 255}}, 85, kAnalogInput, 1,
         R"({"date":)" + date_any + "}"},
        {"time", Value{Time{6, 30, 15, 50}}, 85, kAnalogInput, 1,
         R"({"time":{"hour":6,"hundredths":50,"min":30,"sec":15}})"},
        {"date range", Value{DateRange{Date{2025, 12, 9, 2}, Date{2155, 255, 255, 255}}}, 32, 17, 1,
         R"({"date_range":{"end_date":)" + date_any + R"(,"start_date":)" + dec9 + "}}"},
        {"date-time", Value{DateTime{Date{2025, 12, 9, 2}, Time{1, 2, 3, 4}}}, 85, 44, 1,
         R"({"datetime":{"date":)" + dec9 +
             R"(,"time":{"hour":1,"hundredths":4,"min":2,"sec":3}}})"},
        {"time stamp", Value{TimeStamp{Time{}}}, 130, kAnalogInput, 1,
         "Отсутствует обработка параметра"},
        {"destination", Value{Destination{}}, 102, 15, 1, "Отсутствует обработка параметра"},
        {"reference",
         Value{DeviceObjectPropertyReference{ObjectId{0, 5}, 85, 4294967295u, ObjectId{8, 9}}}, 54,
         12, 1,
         R"({"device_object_property_reference":{"array_index":4294967295,"device_identifier":{"instance":9,"type":8},"object_identifier":{"instance":5,"type":0},"property_identifier":85}})"},
        {"reference without device", Value{DeviceObjectPropertyReference{ObjectId{0, 5}, 85}}, 54,
         12, 1,
         R"({"device_object_property_reference":{"array_index":4294967295,"device_identifier":{"instance":4194303,"type":1023},"object_identifier":{"instance":5,"type":0},"property_identifier":85}})"},
        {"calendar entries",
         Value{CalendarEntry{{Date{2025, 12, 9, 2},
                              DateRange{Date{2025, 12, 9, 2}, Date{2025, 12, 9, 2}},
                              WeekNDay{255, 1, 1}}}},
         23, 6, 1,
         R"({"calendar_entry":[{"date":)" + dec9 + R"(},{"date_range":{"end_date":)" + dec9 +
             R"(,"start_date":)" + dec9 +
             R"(}},{"week_n_day":{"day_of_week":1,"month":255,"week_of_month":1}}]})"},
        {"weekly schedule", Value{week}, 123, 17, 1,
         R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"hour":6,"hundredths":0,"min":0,"sec":0,"tag":4,"value":21.5}]},)" +
             repeat(empty_day + ",", 5) + empty_day + R"(],"single_day":false}})"},
        {"weekly schedule, single day lists seven", Value{single}, 123, 17, 1,
         R"({"weekly_schedule":{"days_schedule":[{"time_values":[{"hour":6,"hundredths":0,"min":0,"sec":0,"tag":4,"value":21.5}]},)" +
             repeat(empty_day + ",", 5) + empty_day + R"(],"single_day":true}})"},
        {"time value kinds", Value{kinds}, 123, 17, 1,
         R"({"weekly_schedule":{"days_schedule":[)" + empty_day +
             R"(,{"time_values":[)"
             R"({"hour":7,"hundredths":0,"min":0,"sec":0,"tag":0,"value":0},)"
             R"({"hour":7,"hundredths":0,"min":1,"sec":0,"tag":1,"value":true},)"
             R"({"hour":7,"hundredths":0,"min":2,"sec":0,"tag":2,"value":18446744073709551615},)"
             R"({"hour":7,"hundredths":0,"min":3,"sec":0,"tag":3,"value":-5},)"
             R"({"hour":7,"hundredths":0,"min":4,"sec":0,"tag":4,"value":21.299999237060547},)"
             R"({"hour":7,"hundredths":0,"min":5,"sec":0,"tag":5,"value":2.0},)"
             R"({"hour":7,"hundredths":0,"min":6,"sec":0,"tag":9,"value":1},)"
             R"({"hour":7,"hundredths":0,"min":7,"sec":0,"tag":7},)"
             R"({"hour":7,"hundredths":0,"min":8,"sec":0,"tag":5,"value":null}]},)" +
             repeat(empty_day + ",", 4) + empty_day + R"(],"single_day":false}})"},
        {"special event by calendar reference", Value{by_calendar}, 38, 17, 1,
         R"({"special_event":{"exceptions":[],"priority":16}})"},
        {"special event on a date", Value{dated}, 38, 17, 1,
         R"({"special_event":{"date":[{"day":25,"month":12,"wday":255,"year":2025}],"exceptions":[{"hour":8,"hundredths":0,"min":0,"sec":0,"tag":0,"value":0}],"priority":1}})"},
        {"special event on a range", Value{ranges}, 38, 17, 1,
         R"({"special_event":{"date_range":[{"end_date":{"day":2,"month":1,"wday":255,"year":2025},"start_date":{"day":1,"month":1,"wday":255,"year":2025}}],"exceptions":[],"priority":0}})"},
        {"special event on week-n-days", Value{weeks}, 38, 17, 1,
         R"({"special_event":{"exceptions":[],"priority":0,"week_n_day":[{"day_of_week":1,"month":255,"week_of_month":1},{"day_of_week":7,"month":12,"week_of_month":6}]}})"},
        {"float scale", Value{Scale{true, 1.5f, 0}}, 187, 23, 1, "1.500000"},
        {"integer scale", Value{Scale{false, 0.0f, -3}}, 187, 23, 1, "-3"},
    };
}

TEST(ValueToText, RendersEveryForm) {
    for (const auto& c : cases()) {
        EXPECT_EQ(valueToText(DecodedValue{c.value, c.property, c.object_type, c.position}), c.text)
            << c.name;
    }
}

}  // namespace
}  // namespace codec
