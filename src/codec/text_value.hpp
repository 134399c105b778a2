// Write payloads back to BACnet values: a JSON object in one of the forms valueToText
// writes, or text for the parser of the target application tag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bacstack/value.hpp"

namespace codec {

inline constexpr std::string_view kValueInputError = "[error][value input]";
inline constexpr std::string_view kParseValueError = "[error][parse value]";

// On success `values` holds the value to write, followed by the further values of a list
// (a list of references gives one value per reference); they are encoded one after the
// other. On failure `error` holds the text to publish and `values` is empty.
struct TextToValueResult {
    std::vector<bacstack::Value> values;
    std::string error;
    bool ok() const { return error.empty(); }
};

// `tag` only matters for payloads that are not JSON objects. A JSON member of the wrong
// type (a string where a number belongs, ...) fails with kValueInputError.
TextToValueResult textToValue(std::uint32_t tag, std::string_view payload);

}  // namespace codec
