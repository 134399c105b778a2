// Conversions per second: convertValue against the bare Duktape floor (create a heap,
// set `value`, evaluate, ToString, destroy), side by side in one run, alternating rounds
// so both see the same machine load. Prints its figures; never fails.
#include <dlfcn.h>
#include <duktape.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bacnet/converter.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* value_text = "2.5";
constexpr const char* script = "value * 10";
// Short rounds in alternation: the machine is shared, and a ratio taken within one
// round pair is far steadier than two rates taken seconds apart.
constexpr int rounds = 41;
constexpr int per_round = 300;

std::string floor_conversion(const char* value, const std::string& source) {
    duk_context* ctx = duk_create_heap_default();
    duk_push_number(ctx, std::strtod(value, nullptr));
    duk_put_global_string(ctx, "value");
    duk_push_lstring(ctx, source.data(), source.size());
    (void)duk_peval(ctx);
    duk_size_t length = 0;
    const char* text = duk_safe_to_lstring(ctx, -1, &length);
    std::string result(text, length);
    duk_destroy_heap(ctx);
    return result;
}

// Debian's shared libduktape, built without the execution-timeout hook, loaded on the
// side for reference: what the hook-enabled build of our own costs.
struct SharedDuktape {
    void* handle = dlopen("libduktape.so.207", RTLD_NOW | RTLD_LOCAL);
    decltype(&duk_create_heap) create_heap = nullptr;
    decltype(&duk_push_number) push_number = nullptr;
    decltype(&duk_put_global_string) put_global_string = nullptr;
    decltype(&duk_push_lstring) push_lstring = nullptr;
    decltype(&duk_eval_raw) eval_raw = nullptr;
    decltype(&duk_safe_to_lstring) safe_to_lstring = nullptr;
    decltype(&duk_destroy_heap) destroy_heap = nullptr;

    SharedDuktape() {
        if (handle == nullptr) return;
        load(create_heap, "duk_create_heap");
        load(push_number, "duk_push_number");
        load(put_global_string, "duk_put_global_string");
        load(push_lstring, "duk_push_lstring");
        load(eval_raw, "duk_eval_raw");
        load(safe_to_lstring, "duk_safe_to_lstring");
        load(destroy_heap, "duk_destroy_heap");
    }
    ~SharedDuktape() {
        if (handle != nullptr) dlclose(handle);
    }
    template <typename T>
    void load(T& fn, const char* name) {
        fn = reinterpret_cast<T>(dlsym(handle, name));
    }
    bool loaded() const {
        return create_heap && push_number && put_global_string && push_lstring && eval_raw &&
               safe_to_lstring && destroy_heap;
    }

    std::string convert(const char* value, const std::string& source) const {
        duk_context* ctx = create_heap(nullptr, nullptr, nullptr, nullptr, nullptr);
        push_number(ctx, std::strtod(value, nullptr));
        put_global_string(ctx, "value");
        push_lstring(ctx, source.data(), source.size());
        (void)eval_raw(ctx, nullptr, 0,
                       1 | DUK_COMPILE_EVAL | DUK_COMPILE_SAFE | DUK_COMPILE_NOFILENAME);
        duk_size_t length = 0;
        const char* text = safe_to_lstring(ctx, -1, &length);
        std::string result(text, length);
        destroy_heap(ctx);
        return result;
    }
};

template <typename F>
double rate(F&& convert) {
    std::size_t sink = 0;
    const auto start = Clock::now();
    for (int i = 0; i < per_round; ++i) sink += convert().size();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    if (sink == 0) std::puts("unexpected empty result");
    return per_round / elapsed.count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const std::string source = script;
    if (floor_conversion(value_text, source) != "25" ||
        bacnet::convertValue(value_text, source).payload != "25") {
        std::puts("conversion gives a wrong result");
        return 1;
    }
    const SharedDuktape shared;
    const bool with_shared = shared.loaded() && shared.convert(value_text, source) == "25";
    std::vector<double> floor_rates;
    std::vector<double> convert_rates;
    std::vector<double> shared_rates;
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        // Alternate which goes first so neither always gets the warmer cache.
        double floor_rate = 0;
        double convert_rate = 0;
        const auto run_floor = [&] {
            floor_rate = rate([&] { return floor_conversion(value_text, source); });
        };
        const auto run_convert = [&] {
            convert_rate = rate([&] { return bacnet::convertValue(value_text, source).payload; });
        };
        if (r % 2 == 0) {
            run_floor();
            run_convert();
        } else {
            run_convert();
            run_floor();
        }
        floor_rates.push_back(floor_rate);
        convert_rates.push_back(convert_rate);
        ratios.push_back(floor_rate / convert_rate);
        if (with_shared) {
            shared_rates.push_back(rate([&] { return shared.convert(value_text, source); }));
        }
    }
    const auto best = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    };
    std::printf("script '%s' on value %s, fresh heap each time, %d alternating rounds of %d\n",
                script, value_text, rounds, per_round);
    std::printf("  duktape floor : %6.0f conversions/s median, %6.0f best\n", median(floor_rates),
                best(floor_rates));
    std::printf("  convertValue  : %6.0f conversions/s median, %6.0f best\n", median(convert_rates),
                best(convert_rates));
    std::printf(
        "  time ratio convertValue / floor: %.3f median of round pairs, %.3f of best "
        "rates (target at most 1.10)\n",
        median(ratios), best(floor_rates) / best(convert_rates));
    if (with_shared) {
        std::printf(
            "  for reference, the floor on Debian's shared libduktape (built without "
            "the time bound): %.0f median, %.0f best\n",
            median(shared_rates), best(shared_rates));
    }
    return 0;
}
