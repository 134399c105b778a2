// BACnet names for numbers and back: the texts of data/bacnet/*.tsv with the fallbacks
// ("Reserved for Use by ASHRAE", "Vendor Proprietary Value") that each table applies.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bacstack {

// ASCII letters compared without regard to case, as the name look-ups do.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

inline constexpr std::string_view kReservedName = "Reserved for Use by ASHRAE";
inline constexpr std::string_view kProprietaryName = "Vendor Proprietary Value";

// Number to text; never empty, a number without a name gets its table's fallback.
std::string_view object_type_name(std::uint32_t type);
std::string_view property_name(std::uint32_t property);
std::string_view error_class_name(std::uint32_t error_class);
std::string_view error_code_name(std::uint32_t error_code);
std::string_view abort_reason_name(std::uint32_t reason);
std::string_view reject_reason_name(std::uint32_t reason);
std::string_view event_state_name(std::uint32_t state);
std::string_view binary_polarity_name(std::uint32_t polarity);
std::string_view binary_present_value_name(std::uint32_t value);
std::string_view reliability_name(std::uint32_t reliability);
std::string_view segmentation_name(std::uint32_t segmentation);
std::string_view device_status_name(std::uint32_t status);
std::string_view engineering_unit_name(std::uint32_t unit);
std::string_view node_type_name(std::uint32_t node_type);
std::string_view application_tag_name(std::uint32_t tag);

// Text to number: the first entry in table order whose text equals `name` ignoring ASCII
// case; no trimming, no partial match. Fallback texts are not names.
std::optional<std::uint32_t> object_type_from_name(std::string_view name);
std::optional<std::uint32_t> property_from_name(std::string_view name);
std::optional<std::uint32_t> error_class_from_name(std::string_view name);
std::optional<std::uint32_t> error_code_from_name(std::string_view name);
std::optional<std::uint32_t> abort_reason_from_name(std::string_view name);
std::optional<std::uint32_t> reject_reason_from_name(std::string_view name);
std::optional<std::uint32_t> event_state_from_name(std::string_view name);
std::optional<std::uint32_t> binary_polarity_from_name(std::string_view name);
std::optional<std::uint32_t> binary_present_value_from_name(std::string_view name);
std::optional<std::uint32_t> reliability_from_name(std::string_view name);
std::optional<std::uint32_t> segmentation_from_name(std::string_view name);
std::optional<std::uint32_t> device_status_from_name(std::string_view name);
std::optional<std::uint32_t> engineering_unit_from_name(std::string_view name);
std::optional<std::uint32_t> node_type_from_name(std::string_view name);
std::optional<std::uint32_t> application_tag_from_name(std::string_view name);

// Name or number, as command lines take them: the name first, else the whole text as a C
// integer literal (decimal, 0x hex, leading-0 octal, optional sign; a negative number
// wraps modulo 2^32). "12abc" and "" fail.
std::optional<std::uint32_t> object_type_from_text(std::string_view text);
std::optional<std::uint32_t> property_from_text(std::string_view text);
std::optional<std::uint32_t> event_state_from_text(std::string_view text);

// The constructed ("pseudo") application tag the value of this property has, from
// known-property-tags.tsv; -1 when the property holds plain application-tagged data.
int known_property_tag(std::uint32_t object_type, std::uint32_t property);

}  // namespace bacstack
