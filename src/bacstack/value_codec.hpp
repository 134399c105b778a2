// Application values on the wire: encoding as APDU application data (ASHRAE 135 20.2 and
// the productions of clause 21) and decoding one value at a time from ReadProperty data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "bacstack/bytes.hpp"
#include "bacstack/value.hpp"

namespace bacstack {

// Appends the encoding of one value. Every Value is encodable, so this cannot fail.
void encode_value(Writer& out, const Value& value);

// The values one after the other: the property value of a WriteProperty request, a list
// of references being several values.
std::vector<std::uint8_t> encode_values(std::span<const Value> values);

// Decodes the next value of a property's data (the octets between the opening and closing
// tags [3] of a ReadProperty-ACK) and returns the octets it took; negative when the data
// does not start with a decodable value, and `out` is then unchanged. Application-tagged
// data gives one primitive value. Constructed data is decoded as the type
// known_property_tag names for the property:
//   - date range, date-time, destination: one value each (date range and date-time
//     start with application tags; when they do not parse, one primitive is taken);
//   - time stamp, device object property reference, special event, scale: one value
//     per element of the list or array;
//   - calendar entry (date-list): every entry up to the first non-entry in one value;
//   - weekly schedule: the whole array (exactly seven daily schedules) in one value,
//     or a single day when `array_index` names one element.
// Context-tagged data of any other property fails.
int decode_known_array_property(std::span<const std::uint8_t> data, Value& out,
                                std::uint32_t object_type, std::uint32_t property,
                                std::uint32_t array_index);

// One application-tagged primitive value (tags 0..12); same contract as above.
int decode_application_value(std::span<const std::uint8_t> data, Value& out);

}  // namespace bacstack
