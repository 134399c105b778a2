// The text forms of the write path, with the mends: nothing left unread after a number,
// no minus for unsigned types, no float overflow, no constructed type without a text form.
#include "bacstack/value_parse.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace bacstack {
namespace {

struct Case {
    std::uint32_t tag;
    std::string text;
    std::optional<Value> expected;  // nullopt: the text is refused
};

Value v(ValueData d) { return Value{std::move(d)}; }

WeeklySchedule week_real() {
    WeeklySchedule w;
    w.days[0] = {TimeValue{Time{6, 0, 0, 0}, 21.5f}, TimeValue{Time{18, 0, 0, 0}, Null{}}};
    w.days[2] = {TimeValue{Time{7, 30, 15, 50}, 20.0f}};
    return w;
}

WeeklySchedule week_of(TimeValue monday) {
    WeeklySchedule w;
    w.days[0] = {std::move(monday)};
    return w;
}
const std::nullopt_t refused = std::nullopt;

TEST(ParseApplicationData, Forms) {
    const Case cases[] = {
        // Null takes anything.
        {0, "", v(Null{})},
        {0, "garbage", v(Null{})},
        // Boolean.
        {1, "true", v(true)},
        {1, "TRUE", v(true)},
        {1, "Active", v(true)},
        {1, "false", v(false)},
        {1, "inactive", v(false)},
        {1, "0x0", v(false)},
        {1, "-5", v(true)},
        {1, "2", v(true)},
        {1, "  0 ", v(false)},
        {1, "2abc", refused},
        {1, "yes", refused},
        {1, "", refused},
        {1, "99999999999999999999", refused},
        // Unsigned.
        {2, "42", v(std::uint64_t{42})},
        {2, "+42", v(std::uint64_t{42})},
        {2, "0x10", v(std::uint64_t{16})},
        {2, "010", v(std::uint64_t{8})},
        {2, "18446744073709551615", v(std::uint64_t{18446744073709551615u})},
        {2, "18446744073709551616", refused},
        {2, "-1", refused},
        {2, " -1", refused},
        {2, "42abc", refused},
        {2, "1.9", refused},
        {2, "1,5", refused},
        {2, "08", refused},
        {2, "", refused},
        {2, "0x", refused},
        // Signed.
        {3, "-0x10", v(std::int32_t{-16})},
        {3, "010", v(std::int32_t{8})},
        {3, "-2147483648", v(std::int32_t{-2147483647 - 1})},
        {3, "2147483647", v(std::int32_t{2147483647})},
        {3, "2147483648", refused},
        {3, "-2147483649", refused},
        {3, "12.7", refused},
        {3, "abc", refused},
        // Real.
        {4, "21.5", v(21.5f)},
        {4, " 21.5\n", v(21.5f)},
        {4, "-2.5e1", v(-25.0f)},
        {4, "0x1p4", v(16.0f)},
        {4, "inf", v(std::numeric_limits<float>::infinity())},
        {4, "3.4028234e38", v(std::numeric_limits<float>::max())},
        {4, "1e-50", v(0.0f)},
        {4, "1e39", refused},
        {4, "-1e39", refused},
        {4, "3.5e38", refused},
        {4, "1e309", refused},
        {4, "1,5", refused},
        {4, "-2.5xyz", refused},
        {4, "21.5 degrees", refused},
        {4, "", refused},
        {4, "\"21.5\"", refused},
        // Double.
        {5, "1e300", v(1e300)},
        {5, "1e309", refused},
        {5, "1e-400", refused},
        // Octet string.
        {6, "", v(OctetString{})},
        {6, "0102A0ff", v(OctetString{{0x01, 0x02, 0xA0, 0xFF}})},
        {6, "01-02 03:04", v(OctetString{{1, 2, 3, 4}})},
        {6, "0x12", v(OctetString{{0x00, 0x12}})},
        {6, "zz", v(OctetString{{0x00}})},
        {6, "g1", v(OctetString{{0x00}})},
        {6, "1 ", v(OctetString{{0x01}})},
        {6, "123", refused},
        {6, "1-2", refused},
        {6, "--", refused},
        {6, std::string(2 * kMaxParsedOctets, 'a'),
         v(OctetString{std::vector<std::uint8_t>(kMaxParsedOctets, 0xAA)})},
        {6, std::string(2 * kMaxParsedOctets + 2, 'a'), refused},
        // Character string.
        {7, "", v(CharacterString{0, ""})},
        {7, "Привет, \"мир\"", v(CharacterString{0, "Привет, \"мир\""})},
        {7, std::string(kMaxParsedCharacters, 'x'),
         v(CharacterString{0, std::string(kMaxParsedCharacters, 'x')})},
        {7, std::string(kMaxParsedCharacters + 1, 'x'), refused},
        // Bit string.
        {8, "", v(BitString{})},
        {8, "1,0,1 1", v(BitString{{true, false, true, true}})},
        {8, "abc", refused},
        {8, "{true,false}", refused},
        {8, std::string(120, '1'), v(BitString{std::vector<bool>(120, true)})},
        {8, std::string(121, '1'), refused},
        // Enumerated.
        {9, "4294967295", v(Enumerated{4294967295u})},
        {9, "4294967296", refused},
        {9, "-1", refused},
        {9, "active", refused},
        {9, "3 ", v(Enumerated{3})},
        // Date: the weekday is computed when not given.
        {10, "2025/12/9", v(Date{2025, 12, 9, 2})},
        {10, "2024/2/29", v(Date{2024, 2, 29, 4})},
        {10, "2025/12/9:5", v(Date{2025, 12, 9, 5})},
        {10, "24/1/1", v(Date{24, 1, 1, 1})},
        {10, "255/255/255:255", v(Date{255, 255, 255, 255})},
        {10, "2024/13/45", v(Date{2024, 13, 45, 5})},  // counted on: 2025-02-14, a Friday
        {10, "2024-02-29", refused},
        {10, "2024/2", refused},
        {10, "2024/2/29x", refused},
        {10, "20245/1/1", refused},
        // Time.
        {11, "6:30", v(Time{6, 30, 0, 0})},
        {11, "12:30:15", v(Time{12, 30, 15, 0})},
        {11, "12:30:15.5", v(Time{12, 30, 15, 5})},
        {11, "300:1", v(Time{44, 1, 0, 0})},
        {11, "1234", refused},
        {11, "12:", refused},
        {11, "12:30:15.", refused},
        // Object identifier.
        {12, "8:1234", v(ObjectId{8, 1234})},
        {12, "1023:4194303", v(ObjectId{1023, 4194303})},
        {12, "1024:1", refused},
        {12, "8:4194304", refused},
        {12, "device:1234", refused},
        {12, "8", refused},
        // Date-time.
        {20, "2025/12/9", v(DateTime{Date{2025, 12, 9, 2}, Time{}})},
        {20, "2025/12/9-6", v(DateTime{Date{2025, 12, 9, 2}, Time{6, 0, 0, 0}})},
        {20, "2025/12/9-6:30:15.50", v(DateTime{Date{2025, 12, 9, 2}, Time{6, 30, 15, 50}})},
        {20, "13:45", refused},
        // Time stamp.
        {21, "6:30", v(TimeStamp{Time{6, 30, 0, 0}})},
        {21, "2025/12/9-6:30", v(TimeStamp{DateTime{Date{2025, 12, 9, 2}, Time{6, 30, 0, 0}}})},
        {21, "1234", v(TimeStamp{std::uint16_t{1234}})},
        {21, "65536", refused},
        // Device object property reference.
        {23, "0:5,85", v(DeviceObjectPropertyReference{ObjectId{0, 5}, 85})},
        {23, "0:5,85,-1", v(DeviceObjectPropertyReference{ObjectId{0, 5}, 85})},
        {23, "0:5,85,3,8:1234",
         v(DeviceObjectPropertyReference{ObjectId{0, 5}, 85, 3, ObjectId{8, 1234}})},
        {23, "0:5", refused},
        {23, "0:5,present-value", refused},
        // Scale.
        {44, "1.5", v(Scale{true, 1.5f, 0})},
        {44, "-3", v(Scale{false, 0.0f, -3})},
        {44, "3x", refused},
        // Weekly schedule: days in order from Monday, names optional, empty days stay empty.
        {30, "(Real; Mon: [6:00 21.5, 18:00 null]; Tue: []; Wed: [7:30:15.50 20])", v(week_real())},
        {30, "( 4 ;[6:00 21.5, 18:00 NULL] ; [] ;[7:30:15.50 20] )", v(week_real())},
        {30, "(Boolean; [8:00 active])", v(week_of(TimeValue{Time{8, 0, 0, 0}, true}))},
        {30, "(Real; [6:00 abc])", refused},
        {30, "(Real; [6:00 1,5])", refused},
        {30, "(Foo; [])", refused},
        {30, "(19; [])", refused},
        {30, "(Real)", refused},
        {30, "Real; [6:00 1]", refused},
        {30, "(Real; [600 1])", refused},
        {30, "(Real; [];[];[];[];[];[];[];[])", refused},
        // Destination.
        {26,
         "(ValidDays=[1,2,3,4,5];FromTime=6:00;ToTime=18:00;Recipient=Device(type=8,instance=1234);"
         "ProcessIdentifier=7;ConfirmedNotify=true;Transitions=[to-offnormal,to-normal])",
         v(Destination{BitString{{true, true, true, true, true, false, false}}, Time{6, 0, 0, 0},
                       Time{18, 0, 0, 0}, ObjectId{8, 1234}, 7, true,
                       BitString{{true, false, true}}})},
        {26, "(Recipient=Device(instance=5))",
         v(Destination{BitString{std::vector<bool>(7, true)}, Time{0, 0, 0, 0},
                       Time{23, 59, 59, 99}, ObjectId{8, 5}, 0, false,
                       BitString{{true, true, true}}})},
        {26, "(ValidDays=[8];Recipient=Device(instance=1))", refused},
        {26, "(FromTime=6:00)", refused},
        {26, "(Recipient=Device(type=2,instance=1))", refused},
        {26, "(Recipient=Address(net=1))", refused},
        {26, "(Foo=1;Recipient=Device(instance=1))", refused},
        {26, "(Transitions=[to-somewhere];Recipient=Device(instance=1))", refused},
        // Tags without a text form.
        {13, "1", refused},
        {15, "1", refused},
        {16, "1", refused},
        {17, "", refused},
        {18, "1", refused},
        {19, "2025/1/1", refused},
        {22, "1", refused},
        {29, "2025/1/1", refused},
        {31, "anything", refused},
        {43, "1", refused},
        {49, "1", refused},
        {1000000, "1", refused},
    };
    for (const auto& c : cases) {
        Value out{Enumerated{77}};
        const bool ok = parse_application_data(c.tag, c.text, out);
        const std::string label = std::to_string(c.tag) + " '" + c.text.substr(0, 40) + "'";
        ASSERT_EQ(ok, c.expected.has_value()) << label;
        if (ok) {
            EXPECT_EQ(out, *c.expected) << label;
        } else {
            EXPECT_EQ(out, Value{Enumerated{77}})
                << label << ": a refused text leaves the value alone";
        }
    }
}

TEST(ParseApplicationData, RealNanIsAccepted) {
    Value out;
    ASSERT_TRUE(parse_application_data(4, "nan", out));
    EXPECT_TRUE(std::isnan(std::get<float>(out.data)));
}

TEST(ParseApplicationData, EmbeddedZeroIsTrailingText) {
    Value out;
    EXPECT_FALSE(parse_application_data(2,
                                        std::string("12\0"
                                                    "3",
                                                    4),
                                        out));
}

}  // namespace
}  // namespace bacstack
