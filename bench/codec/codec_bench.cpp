// Figures for the value codec: decoding and rendering an object-list answer of 290
// identifiers (target: under 50 us) and rendering a Real (target: 2 million per second).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bacstack/tag.hpp"
#include "bacstack/value_codec.hpp"
#include "codec/text_value.hpp"
#include "codec/value_text.hpp"

namespace {

constexpr std::uint32_t kDevice = 8, kObjectList = 76;

std::vector<std::uint8_t> object_list_data(int count) {
    std::vector<std::uint8_t> data;
    bacstack::Writer out(data);
    for (int i = 0; i < count; ++i)
        bacstack::encode_app_object_id(out,
                                       bacstack::ObjectId{static_cast<std::uint16_t>(i % 20),
                                                          static_cast<std::uint32_t>(1000 + i)});
    return data;
}

// The answer handler's loop: decode one value, render it, advance.
void BM_DecodeAndRenderObjectList(benchmark::State& state) {
    const auto data = object_list_data(290);
    std::vector<std::string> texts;
    texts.reserve(290);
    for (auto _ : state) {
        texts.clear();
        std::span<const std::uint8_t> rest(data);
        unsigned position = 1;
        bacstack::Value value;
        while (!rest.empty()) {
            const int n = bacstack::decode_known_array_property(rest, value, kDevice, kObjectList,
                                                                0xFFFFFFFF);
            if (n <= 0) break;
            texts.push_back(
                codec::valueToText(codec::DecodedValue{value, kObjectList, kDevice, position++}));
            rest = rest.subspan(static_cast<std::size_t>(n));
        }
        benchmark::DoNotOptimize(texts.data());
    }
    if (texts.size() != 290) state.SkipWithError("not every identifier decoded");
    state.SetItemsProcessed(state.iterations() * 290);
    state.SetLabel("one answer of 290 identifiers; target < 50 us");
}
BENCHMARK(BM_DecodeAndRenderObjectList)->Unit(benchmark::kMicrosecond);

void BM_RealToText(benchmark::State& state) {
    const bacstack::Value value{21.3f};
    for (auto _ : state) {
        std::string text = codec::valueToText(codec::DecodedValue{value, 85, 0, 1});
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("target >= 2M items/s");
}
BENCHMARK(BM_RealToText);

void BM_WeeklyScheduleToText(benchmark::State& state) {
    bacstack::WeeklySchedule week;
    for (auto& day : week.days)
        for (int i = 0; i < 4; ++i)
            day.push_back(bacstack::TimeValue{
                bacstack::Time{static_cast<std::uint8_t>(6 * i), 0, 0, 0}, 21.5f});
    const bacstack::Value value{week};
    for (auto _ : state) {
        std::string text = codec::valueToText(codec::DecodedValue{value, 123, 17, 1});
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WeeklyScheduleToText)->Unit(benchmark::kMicrosecond);

void BM_TextToReal(benchmark::State& state) {
    for (auto _ : state) {
        auto r = codec::textToValue(4, "21.5");
        benchmark::DoNotOptimize(r.values.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextToReal);

}  // namespace

BENCHMARK_MAIN();
