// The raw BACnet name tables, generated at build time from data/bacnet/*.tsv in file
// order (ascending numbers). Only names.cpp reads them; everyone else uses names.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace bacstack::tables {

struct NameEntry {
    std::uint32_t number;
    std::string_view name;
};

// A row of known-property-tags.tsv; kAnyObjectType stands for the '*' rows.
inline constexpr std::int32_t kAnyObjectType = -1;
struct KnownPropertyTag {
    std::int32_t object_type;
    std::uint32_t property;
    int tag;
};

std::span<const NameEntry> object_types();
std::span<const NameEntry> property_ids();
std::span<const NameEntry> error_classes();
std::span<const NameEntry> error_codes();
std::span<const NameEntry> abort_reasons();
std::span<const NameEntry> reject_reasons();
std::span<const NameEntry> event_states();
std::span<const NameEntry> binary_polarity();
std::span<const NameEntry> binary_present_values();
std::span<const NameEntry> reliability();
std::span<const NameEntry> segmentation();
std::span<const NameEntry> device_status();
std::span<const NameEntry> engineering_units();
std::span<const NameEntry> node_types();
std::span<const NameEntry> application_tags();
std::span<const KnownPropertyTag> known_property_tags();

}  // namespace bacstack::tables
