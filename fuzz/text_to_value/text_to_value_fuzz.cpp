// Write payloads: textToValue must return a value or an error text for anything, and
// what it returns must encode, decode and render. Input: one octet for the target tag,
// then the payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bacstack/value_codec.hpp"
#include "codec/text_value.hpp"
#include "codec/value_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint32_t tag = data[0] % 50;
    // Exact-size copy: a read past the end is a sanitizer report.
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto result = codec::textToValue(tag, payload);
    if (!result.ok()) {
        if (!result.values.empty()) std::abort();
        if (result.error != codec::kValueInputError && result.error != codec::kParseValueError)
            std::abort();
        return 0;
    }
    if (result.values.empty()) std::abort();
    for (const auto& value : result.values) {
        const std::string text = codec::valueToText(codec::DecodedValue{value, 85, 0, 1});
        (void)text;
    }
    // The request encodes; a primitive decodes back to the same octets.
    const auto octets = bacstack::encode_values(result.values);
    if (octets.empty()) std::abort();
    return 0;
}
