// Converter scripts: a numeric value text run through a per-topic JavaScript snippet
// in a fresh Duktape heap, giving the payload of a converted value topic.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace bacnet {

// How long one conversion may run before the engine takes it back. A script that runs
// past it yields "RangeError: execution timeout" as its payload.
inline constexpr std::chrono::milliseconds conversion_time_limit{1000};

// Text of the one failure a conversion reports: the heap could not be created.
inline constexpr std::string_view heap_failure_text = "duktape : ошибка инициализации";

// True when the text is a plain decimal number: optional sign, digits with at most one
// point, optional exponent with its own optional sign and at least one digit.
bool isNumber(std::string_view text);

// Outcome of one conversion. A failed one carries its error text and no payload; the
// caller skips that topic and logs the text.
struct Conversion {
    std::string payload;
    std::string error;

    bool ok() const { return error.empty(); }
};

// Runs `script` with the global `value` set to the number in `value_text`, in a heap of
// its own, and returns the completion value as text. Script errors (syntax, run time,
// the time limit) are not failures: their text becomes the payload. An empty script
// gives an empty payload.
Conversion convertValue(std::string_view value_text, std::string_view script,
                        std::chrono::milliseconds time_limit = conversion_time_limit);

}  // namespace bacnet
