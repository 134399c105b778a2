#include "bacnet/converter.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <string_view>

namespace {

using namespace std::chrono_literals;

TEST(IsNumber, AcceptsPlainDecimalTexts) {
    for (std::string_view text : {"5", "-0", "+12", "3.25", ".5", "5.", "1e5", "1E-3", "1e+5",
                                  "2.5e3", "007", "1.e5", "-.5e-0"}) {
        EXPECT_TRUE(bacnet::isNumber(text)) << "'" << text << "'";
    }
}

TEST(IsNumber, RejectsEverythingElse) {
    for (std::string_view text : {"",      "+",     "-",   ".",    "1.2.3",  "1e", "1e+", "e5",
                                  "1e5.3", "1e5e3", "1,5", "0x1A", "active", " 5", "5 ",  "+-5",
                                  ".e5",   "-e5",   "1e-", "inf",  "nan",    "1f", "1e5-"}) {
        EXPECT_FALSE(bacnet::isNumber(text)) << "'" << text << "'";
    }
    // A NUL octet is not a terminator here: the text goes on past it.
    EXPECT_FALSE(
        bacnet::isNumber(std::string_view("5\0"
                                          "1",
                                          3)));
}

// Endless scripts must come back by themselves; should the bound ever break, the test
// process ends here instead of hanging.
bacnet::Conversion convert_watched(std::string_view value, std::string_view script,
                                   std::chrono::milliseconds limit) {
    auto run =
        std::async(std::launch::async, [&] { return bacnet::convertValue(value, script, limit); });
    if (run.wait_for(limit + 30s) != std::future_status::ready) {
        std::fprintf(stderr, "conversion of '%.*s' never came back\n",
                     static_cast<int>(script.size()), script.data());
        std::_Exit(3);
    }
    return run.get();
}

struct Case {
    const char* value;
    const char* script;
    const char* payload;
};

TEST(ConvertValue, PayloadIsTheCompletionValueAsText) {
    const Case cases[] = {
        {"2.5", "value * 10", "25"},
        {"2.5", "value > 2 ? 'high' : 'low'", "high"},
        {"1.5", "value > 2 ? 'high' : 'low'", "low"},
        {"1e5", "value", "100000"},
        {"-0", "1 / value", "-Infinity"},
        {"+12", "value + 1", "13"},
        {".5", "typeof value", "number"},
        {"3", "var x = value * 2;", "undefined"},
        {"3", "", ""},
        {"3", "''", ""},
        {"3", "({a: value})", "[object Object]"},
        {"3", "JSON.stringify({a: value})", "{\"a\":3}"},
        {"3", "var r = 0; for (var i = 0; i < value; i++) r += i; r", "3"},
        {"3", "null", "null"},
        // Errors become the payload.
        {"3", "nosuchname + 1", "ReferenceError: identifier 'nosuchname' undefined"},
        {"3", "throw 'plain text'", "plain text"},
        {"3", "throw new TypeError('bad value')", "TypeError: bad value"},
        // Only `value` is visible: nothing of the gateway leaks into the script.
        {"3", "typeof require + typeof process + typeof mqtt", "undefinedundefinedundefined"},
    };
    for (const Case& c : cases) {
        const bacnet::Conversion result = bacnet::convertValue(c.value, c.script);
        EXPECT_TRUE(result.ok()) << c.script;
        EXPECT_EQ(result.payload, c.payload) << c.value << " | " << c.script;
    }
}

TEST(ConvertValue, SyntaxErrorIsThePayload) {
    const bacnet::Conversion result = bacnet::convertValue("1", "value *");
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.payload.rfind("SyntaxError: ", 0), 0u) << result.payload;
}

TEST(ConvertValue, EveryConversionStartsFromAFreshHeap) {
    // The first script leaves a variable, changes `value` and a built-in behind; none of
    // it may reach the second conversion of the same value.
    const bacnet::Conversion first = bacnet::convertValue(
        "7", "var leaked = 1; value = 100; Math.floor = function() { return 'x'; }; value");
    ASSERT_EQ(first.payload, "100");
    const bacnet::Conversion second =
        bacnet::convertValue("7", "typeof leaked + ' ' + value + ' ' + Math.floor(2.5)");
    EXPECT_EQ(second.payload, "undefined 7 2");
}

TEST(ConvertValue, EndlessScriptsAreStoppedAndTheEngineGoesOn) {
    const char* endless[] = {
        "while (true) {}",
        // The bound cannot be caught and swallowed by the script.
        "try { for (;;) {} } catch (e) { 'caught' }",
        "function f() { for (;;) {} } try { f() } finally { 'finally' }",
    };
    for (const char* script : endless) {
        const bacnet::Conversion result = convert_watched("1", script, 100ms);
        EXPECT_TRUE(result.ok()) << script;
        EXPECT_EQ(result.payload, "RangeError: execution timeout") << script;
    }
    EXPECT_EQ(bacnet::convertValue("4", "value * 2").payload, "8");
}

TEST(ConvertValue, TheBoundCoversTheTextOfAThrownValueAndHeapTeardown) {
    // The thrown error's own toString never ends, and neither does the finalizer that
    // runs when the heap is destroyed: both still come back.
    const bacnet::Conversion text = convert_watched(
        "1", "Error.prototype.toString = function() { for (;;) {} }; throw new Error('x')", 100ms);
    EXPECT_TRUE(text.ok());
    EXPECT_EQ(text.payload, "Error");

    const bacnet::Conversion teardown = convert_watched(
        "1", "var kept = {}; Duktape.fin(kept, function() { for (;;) {} }); 'done'", 100ms);
    EXPECT_EQ(teardown.payload, "done");
}

TEST(ConvertValue, DefaultBoundIsTheNamedLimit) {
    const auto start = std::chrono::steady_clock::now();
    const bacnet::Conversion result =
        convert_watched("1", "for (;;) {}", bacnet::conversion_time_limit);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.payload, "RangeError: execution timeout");
    // It ran for its whole allowance, not less.
    EXPECT_GE(elapsed, bacnet::conversion_time_limit);
}

}  // namespace
