// The codec keeps no state: several threads converting at once see their own results.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "codec/text_value.hpp"
#include "codec/value_text.hpp"

namespace codec {
namespace {

TEST(CodecThreads, ConvertsOnSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string payload = std::to_string(t * 1000 + i) + ".5";
                const auto r = textToValue(4, payload);
                if (!r.ok() || r.values.size() != 1) {
                    ++mismatches;
                    continue;
                }
                const std::string text = valueToText(DecodedValue{r.values[0], 85, 0, 1});
                if (text != std::to_string(t * 1000 + i) + ".500000") ++mismatches;
                const bacstack::Value id{bacstack::ObjectId{8, static_cast<std::uint32_t>(i)}};
                if (valueToText(DecodedValue{id, 76, 8, 1}).find("device") == std::string::npos)
                    ++mismatches;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace codec
