// The name tables as generated from data/bacnet, with the fallbacks and oddities of the
// reference library that the published texts depend on.
#include "bacstack/names.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "bacstack/name_tables.hpp"

namespace bacstack {
namespace {

constexpr std::string_view R = kReservedName;
constexpr std::string_view V = kProprietaryName;

struct NameCase {
    const char* table;
    std::function<std::string_view(std::uint32_t)> fn;
    std::uint32_t number;
    std::string_view expected;
};

TEST(Names, NumberToText) {
    const NameCase cases[] = {
        {"object", object_type_name, 0, "analog-input"},
        {"object", object_type_name, 8, "device"},
        {"object", object_type_name, 31, R},  // timer has no entry
        {"object", object_type_name, 30, "access-door"},
        {"object", object_type_name, 32, "access-credential"},
        {"object", object_type_name, 64, "color-temperature"},
        {"object", object_type_name, 65, R},
        {"object", object_type_name, 127, R},
        {"object", object_type_name, 128, V},
        {"object", object_type_name, 0xFFFFFFFF, V},
        {"property", property_name, 0, "acked-transitions"},
        {"property", property_name, 18, "(deleted in 135-2001)"},
        {"property", property_name, 73, "number-of-APDU-retries"},
        {"property", property_name, 85, "present-value"},
        {"property", property_name, 180, "COV-period"},
        {"property", property_name, 391, "strike-count"},
        {"property", property_name, 392, "strike-count"},
        {"property", property_name, 511, "issuer-certificate-files"},
        {"property", property_name, 466, R},
        {"property", property_name, 512, V},
        {"property", property_name, 4194303, V},
        {"property", property_name, 4194304, "max-bvlc-length-accepted"},
        {"property", property_name, 4194333, R},
        {"property", property_name, 4194337, "trim-fade-time"},
        {"property", property_name, 4194338, R},
        {"error class", error_class_name, 0, "device"},
        {"error class", error_class_name, 63, R},
        {"error class", error_class_name, 64, V},
        {"error code", error_code_name, 83, "communication-disabled"},
        {"error code", error_code_name, 85, "access-denied"},
        {"error code", error_code_name, 255, R},
        {"error code", error_code_name, 256, V},
        {"abort", abort_reason_name, 0, "Other"},
        {"abort", abort_reason_name, 63, R},
        {"abort", abort_reason_name, 64, "Proprietary"},
        {"abort", abort_reason_name, 65, V},
        {"reject", reject_reason_name, 64, "Proprietary"},
        {"reject", reject_reason_name, 65, V},
        {"reject", reject_reason_name, 63, R},
        {"event state", event_state_name, 3, "high limit"},
        {"event state", event_state_name, 4, "low limit"},
        {"event state", event_state_name, 5, R},
        {"event state", event_state_name, 1000, R},
        {"polarity", binary_polarity_name, 1, "reverse"},
        {"polarity", binary_polarity_name, 2, R},
        {"present value", binary_present_value_name, 0, "inactive"},
        {"present value", binary_present_value_name, 1, "active"},
        {"reliability", reliability_name, 9, "mult-state-fault"},
        {"reliability", reliability_name, 11, R},
        {"reliability", reliability_name, 25, "multi-state-out-of-range"},
        {"segmentation", segmentation_name, 3, "no-segmentation"},
        {"device status", device_status_name, 5, "backup-in-progress"},
        {"node type", node_type_name, 11, "other"},
        {"node type", node_type_name, 12, R},
        {"units", engineering_unit_name, 0, "square-meters"},
        {"units", engineering_unit_name, 234, "pH"},
        {"units", engineering_unit_name, 256, V},
        {"units", engineering_unit_name, 47807, V},
        {"units", engineering_unit_name, 47808, "standard-cubic-feet-per-day"},
        {"units", engineering_unit_name, 50000, V},
        {"units", engineering_unit_name, 65535, V},
        {"units", engineering_unit_name, 65536, R},
        {"app tag", application_tag_name, 0, "Null"},
        {"app tag", application_tag_name, 15, "Reserved 3"},
        {"app tag", application_tag_name, 16, R},
        {"app tag", application_tag_name, 18, "BACnetWeeknday"},
        {"app tag", application_tag_name, 25, R},
        {"app tag", application_tag_name, 44, "BACnetScale"},
        {"app tag", application_tag_name, 46, R},
    };
    for (const auto& c : cases) EXPECT_EQ(c.fn(c.number), c.expected) << c.table << " " << c.number;
}

TEST(Names, TextToNumber) {
    using Lookup = std::function<std::optional<std::uint32_t>(std::string_view)>;
    const struct {
        Lookup fn;
        std::string_view text;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {object_type_from_name, "analog-input", 0u},
        {object_type_from_name, "Analog-Input", 0u},
        {object_type_from_name, "DEVICE", 8u},
        {object_type_from_name, "timer", std::nullopt},
        {object_type_from_name, " device", std::nullopt},
        {object_type_from_name, "devic", std::nullopt},
        {object_type_from_name, R, std::nullopt},
        {property_from_name, "strike-count", 391u},
        {property_from_name, "present-value", 85u},
        {property_from_name, "cov-period", 180u},
        {property_from_name, "nonsense", std::nullopt},
        {error_code_from_name, "access-denied", 83u},
        {error_code_from_name, "ACCESS-DENIED", 83u},
        {error_code_from_name, "communication-disabled", 83u},
        {error_code_from_name, "unknown-property", 32u},
        {abort_reason_from_name, "proprietary", 64u},
        {reject_reason_from_name, "Proprietary", 64u},
        {event_state_from_name, "high limit", 3u},
        {engineering_unit_from_name, "ph", 234u},
        {application_tag_from_name, "BACnetScale", 44u},
        {object_type_from_text, "device", 8u},
        {object_type_from_text, "8", 8u},
        {object_type_from_text, "0x10", 16u},
        {object_type_from_text, "010", 8u},
        {object_type_from_text, "-1", 0xFFFFFFFFu},
        {object_type_from_text, "12abc", std::nullopt},
        {object_type_from_text, "", std::nullopt},
        {property_from_text, "85", 85u},
        {property_from_text, "present-value", 85u},
        {event_state_from_text, "normal", 0u},
    };
    for (const auto& c : cases) EXPECT_EQ(c.fn(c.text), c.expected) << c.text;
}

TEST(Names, GeneratedTablesHaveTheDocumentedRowCounts) {
    EXPECT_EQ(tables::object_types().size(), 64u);
    EXPECT_EQ(tables::property_ids().size(), 516u);
    EXPECT_EQ(tables::error_codes().size(), 206u);
    EXPECT_EQ(tables::engineering_units().size(), 413u);
    EXPECT_EQ(tables::application_tags().size(), 40u);
    EXPECT_EQ(tables::known_property_tags().size(), 80u);
}

TEST(Names, KnownPropertyTag) {
    const struct {
        std::uint32_t type, property;
        int tag;
    } cases[] = {
        {0, 123, 30},                    // weekly-schedule of any object
        {17, 123, 30},    {17, 38, 31},  // exception-schedule
        {6, 23, 29},                     // datelist
        {17, 32, 19},                    // effective-period
        {20, 54, 23},                    // list-of-object-property-references
        {0, 187, 44},                    // scale
        {0, 130, 21},                    // event-time-stamps
        {44, 85, 20},                    // present-value of datetime-value
        {43, 164, 20},    {63, 85, 35},
        {53, 85, 47},     {0, 85, -1},  // present-value of anything else is primitive
        {2, 164, -1},     {0, 87, -1},  // priority-array: handled but not typed
        {8, 30, -1},      {8, 76, -1},
        {0, 4194334, 36}, {0, 4194335, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(known_property_tag(c.type, c.property), c.tag) << c.type << "/" << c.property;
}

}  // namespace
}  // namespace bacstack
