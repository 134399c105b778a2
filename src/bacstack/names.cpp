#include "bacstack/names.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <span>
#include <string>

#include "bacstack/name_tables.hpp"

namespace bacstack {

namespace {

using tables::NameEntry;

std::optional<std::string_view> find_name(std::span<const NameEntry> table, std::uint32_t number) {
    auto it = std::lower_bound(table.begin(), table.end(), number,
                               [](const NameEntry& e, std::uint32_t n) { return e.number < n; });
    if (it == table.end() || it->number != number) return std::nullopt;
    return it->name;
}

std::string_view name_or(std::span<const NameEntry> table, std::uint32_t number,
                         std::string_view fallback) {
    return find_name(table, number).value_or(fallback);
}

// Entry or, when there is none, Reserved below `split` and Vendor Proprietary from it up.
std::string_view name_split(std::span<const NameEntry> table, std::uint32_t number,
                            std::uint32_t split) {
    return name_or(table, number, number < split ? kReservedName : kProprietaryName);
}

std::optional<std::uint32_t> find_number(std::span<const NameEntry> table, std::string_view name) {
    for (const auto& e : table)
        if (equal_ignoring_ascii_case(e.name, name)) return e.number;
    return std::nullopt;
}

std::optional<std::uint32_t> c_integer_literal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const std::string copy(text);  // strtoll needs a terminator
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(copy.c_str(), &end, 0);
    if (end == copy.c_str() || *end != '\0' || errno == ERANGE) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::optional<std::uint32_t> name_or_number(std::span<const NameEntry> table,
                                            std::string_view text) {
    if (auto n = find_number(table, text)) return n;
    return c_integer_literal(text);
}

// ASHRAE 135 21: the vendor range of property identifiers; never looked up.
constexpr std::uint32_t kFirstVendorProperty = 512;
constexpr std::uint32_t kLastVendorProperty = 4194303;
// Engineering units: vendor ranges checked first, nothing above 65535 is looked up.
constexpr std::uint32_t kLastAshraeUnitLow = 255;
constexpr std::uint32_t kFirstAshraeUnitHigh = 47808;
constexpr std::uint32_t kLastAshraeUnitHigh = 49999;
constexpr std::uint32_t kLastUnit = 65535;

}  // namespace

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view object_type_name(std::uint32_t type) {
    return name_split(tables::object_types(), type, 128);
}

std::string_view property_name(std::uint32_t property) {
    if (property >= kFirstVendorProperty && property <= kLastVendorProperty)
        return kProprietaryName;
    return name_or(tables::property_ids(), property, kReservedName);
}

std::string_view error_class_name(std::uint32_t v) {
    return name_split(tables::error_classes(), v, 64);
}
std::string_view error_code_name(std::uint32_t v) {
    return name_split(tables::error_codes(), v, 256);
}
std::string_view abort_reason_name(std::uint32_t v) {
    return name_split(tables::abort_reasons(), v, 64);
}
std::string_view reject_reason_name(std::uint32_t v) {
    return name_split(tables::reject_reasons(), v, 64);
}
std::string_view event_state_name(std::uint32_t v) {
    return name_or(tables::event_states(), v, kReservedName);
}
std::string_view binary_polarity_name(std::uint32_t v) {
    return name_or(tables::binary_polarity(), v, kReservedName);
}
std::string_view binary_present_value_name(std::uint32_t v) {
    return name_or(tables::binary_present_values(), v, kReservedName);
}
std::string_view reliability_name(std::uint32_t v) {
    return name_or(tables::reliability(), v, kReservedName);
}
std::string_view segmentation_name(std::uint32_t v) {
    return name_or(tables::segmentation(), v, kReservedName);
}
std::string_view device_status_name(std::uint32_t v) {
    return name_or(tables::device_status(), v, kReservedName);
}
std::string_view node_type_name(std::uint32_t v) {
    return name_or(tables::node_types(), v, kReservedName);
}
std::string_view application_tag_name(std::uint32_t v) {
    return name_or(tables::application_tags(), v, kReservedName);
}

std::string_view engineering_unit_name(std::uint32_t unit) {
    if (unit > kLastUnit) return kReservedName;
    if (unit > kLastAshraeUnitLow && (unit < kFirstAshraeUnitHigh || unit > kLastAshraeUnitHigh))
        return kProprietaryName;
    return name_or(tables::engineering_units(), unit, kReservedName);
}

std::optional<std::uint32_t> object_type_from_name(std::string_view n) {
    return find_number(tables::object_types(), n);
}
std::optional<std::uint32_t> property_from_name(std::string_view n) {
    return find_number(tables::property_ids(), n);
}
std::optional<std::uint32_t> error_class_from_name(std::string_view n) {
    return find_number(tables::error_classes(), n);
}
std::optional<std::uint32_t> error_code_from_name(std::string_view n) {
    // The reference table lists 83 a second time as "access-denied", ahead of the real 85;
    // its reverse lookup therefore answers 83, and so do we.
    if (equal_ignoring_ascii_case(n, "access-denied")) return 83;
    return find_number(tables::error_codes(), n);
}
std::optional<std::uint32_t> abort_reason_from_name(std::string_view n) {
    return find_number(tables::abort_reasons(), n);
}
std::optional<std::uint32_t> reject_reason_from_name(std::string_view n) {
    return find_number(tables::reject_reasons(), n);
}
std::optional<std::uint32_t> event_state_from_name(std::string_view n) {
    return find_number(tables::event_states(), n);
}
std::optional<std::uint32_t> binary_polarity_from_name(std::string_view n) {
    return find_number(tables::binary_polarity(), n);
}
std::optional<std::uint32_t> binary_present_value_from_name(std::string_view n) {
    return find_number(tables::binary_present_values(), n);
}
std::optional<std::uint32_t> reliability_from_name(std::string_view n) {
    return find_number(tables::reliability(), n);
}
std::optional<std::uint32_t> segmentation_from_name(std::string_view n) {
    return find_number(tables::segmentation(), n);
}
std::optional<std::uint32_t> device_status_from_name(std::string_view n) {
    return find_number(tables::device_status(), n);
}
std::optional<std::uint32_t> engineering_unit_from_name(std::string_view n) {
    return find_number(tables::engineering_units(), n);
}
std::optional<std::uint32_t> node_type_from_name(std::string_view n) {
    return find_number(tables::node_types(), n);
}
std::optional<std::uint32_t> application_tag_from_name(std::string_view n) {
    return find_number(tables::application_tags(), n);
}

std::optional<std::uint32_t> object_type_from_text(std::string_view t) {
    return name_or_number(tables::object_types(), t);
}
std::optional<std::uint32_t> property_from_text(std::string_view t) {
    return name_or_number(tables::property_ids(), t);
}
std::optional<std::uint32_t> event_state_from_text(std::string_view t) {
    return name_or_number(tables::event_states(), t);
}

int known_property_tag(std::uint32_t object_type, std::uint32_t property) {
    // Rows are ordered by property (the generator checks); a row naming the object type
    // wins over the '*' row of the same property.
    const auto rows = tables::known_property_tags();
    auto it = std::lower_bound(
        rows.begin(), rows.end(), property,
        [](const tables::KnownPropertyTag& r, std::uint32_t p) { return r.property < p; });
    int any = -1;
    for (; it != rows.end() && it->property == property; ++it) {
        if (it->object_type == tables::kAnyObjectType) {
            any = it->tag;
        } else if (static_cast<std::uint32_t>(it->object_type) == object_type) {
            return it->tag;
        }
    }
    return any;
}

}  // namespace bacstack
