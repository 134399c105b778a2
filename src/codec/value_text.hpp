// Value texts: one decoded BACnet application value rendered as the UTF-8 text that is
// published on MQTT and written to the collector's report (plain text or compact JSON).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bacstack/value.hpp"

namespace codec {

// One value of a ReadProperty answer with what its rendering depends on.
struct DecodedValue {
    const bacstack::Value& value;
    std::uint32_t property = 0;     // property the value was read from
    std::uint32_t object_type = 0;  // object type it was read from
    unsigned position = 1;          // 1-based place among the answer's values
};

// Never fails: what cannot be rendered becomes one of the bracketed texts below.
std::string valueToText(const DecodedValue& decoded);

inline constexpr std::string_view kNotHandledText = "Отсутствует обработка параметра";
inline constexpr std::string_view kUnknownTypeText = "Неизвестный тип";

}  // namespace codec
