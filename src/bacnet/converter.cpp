#include "bacnet/converter.hpp"

#include <duktape.h>

#include <cstdlib>
#include <memory>

#include "bacnet/duk_exec_timeout.h"

namespace bacnet {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

struct HeapDeleter {
    void operator()(duk_context* ctx) const noexcept { duk_destroy_heap(ctx); }
};
using Heap = std::unique_ptr<duk_context, HeapDeleter>;

}  // namespace

bool isNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && is_sign(text[i])) ++i;
    if (i == text.size()) return false;

    bool digit_seen = false;
    bool point_seen = false;
    bool exponent_seen = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (is_digit(c)) {
            digit_seen = true;
        } else if (c == '.' && !point_seen) {
            if (exponent_seen) return false;
            point_seen = true;
        } else if (c == 'e' || c == 'E') {
            if (exponent_seen || !digit_seen || i + 1 == text.size()) return false;
            exponent_seen = true;
            if (is_sign(text[i + 1])) {
                ++i;
                if (i + 1 == text.size()) return false;
            }
            digit_seen = false;
        } else {
            return false;
        }
    }
    return digit_seen;
}

Conversion convertValue(std::string_view value_text, std::string_view script,
                        std::chrono::milliseconds time_limit) {
    // The deadline is the heap's user data; it has to outlive the heap.
    quillon_duk_deadline deadline = quillon_duk_deadline_after(time_limit.count());
    const Heap heap{duk_create_heap(nullptr, nullptr, nullptr, &deadline, nullptr)};
    if (!heap) return Conversion{{}, std::string(heap_failure_text)};
    duk_context* ctx = heap.get();

    // strtod wants a terminated string; value texts are short.
    const std::string value(value_text);
    duk_push_number(ctx, std::strtod(value.c_str(), nullptr));
    duk_put_global_string(ctx, "value");

    Conversion result;
    if (script.empty()) return result;

    duk_push_lstring(ctx, script.data(), script.size());
    // Either the completion value or the thrown value replaces the source; both go on
    // to ToString the same way.
    (void)duk_peval(ctx);
    (void)duk_safe_to_string(ctx, -1);
    if (duk_is_string(ctx, -1)) {
        duk_size_t length = 0;
        const char* text = duk_get_lstring(ctx, -1, &length);
        result.payload.assign(text, length);
    }
    return result;
}

}  // namespace bacnet
