#include "collector/options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace collector {
namespace {

struct Fed {
    CollectorOptions options;
    bool all_taken = true;
    std::string refused;
};

Fed feed_all(const std::vector<std::string>& words) {
    Fed f;
    OptionParser parser(f.options);
    for (const auto& w : words) {
        if (!parser.feed(w)) {
            f.all_taken = false;
            f.refused = w;
            break;
        }
    }
    return f;
}

TEST(OptionParser, DefaultsWithoutWords) {
    const Fed f = feed_all({});
    EXPECT_EQ(f.options.timeout, 3000);
    EXPECT_EQ(f.options.instance, -1);
    EXPECT_FALSE(f.options.dcollector || f.options.help || f.options.has_id || f.options.has_type ||
                 f.options.has_property || f.options.has_instance);
}

TEST(OptionParser, SingleParameterReadTakesEveryKey) {
    const Fed f = feed_all({"-id", "260001", "-i", "-1", "-t", "8", "-p", "76", "-timeout", "300"});
    ASSERT_TRUE(f.all_taken);
    EXPECT_EQ(f.options.id, 260001);
    EXPECT_EQ(f.options.instance, -1);
    EXPECT_EQ(f.options.type, 8);
    EXPECT_EQ(f.options.property, 76);
    EXPECT_EQ(f.options.timeout, 300);
    EXPECT_TRUE(f.options.has_id && f.options.has_instance && f.options.has_type && f.options.has_property);
    EXPECT_FALSE(f.options.dcollector);
}

TEST(OptionParser, HelpAnywhereInKeyPosition) {
    EXPECT_TRUE(feed_all({"-dcollector", "-id", "5", "-help"}).options.help);
    EXPECT_TRUE(feed_all({"-help", "-dcollector"}).options.help);
}

TEST(OptionParser, PendingKeyTakesAnyWordAsValue) {
    const Fed f = feed_all({"-id", "-help"});
    ASSERT_TRUE(f.all_taken);
    EXPECT_FALSE(f.options.help);
    EXPECT_TRUE(f.options.has_id);
    EXPECT_EQ(f.options.id, 0);
    EXPECT_EQ(feed_all({"-p", "-p"}).options.property, 0);
}

TEST(OptionParser, TrailingKeyWithoutValueIsNeverApplied) {
    const Fed f = feed_all({"-dcollector", "-timeout"});
    ASSERT_TRUE(f.all_taken);
    EXPECT_TRUE(f.options.dcollector);
    EXPECT_EQ(f.options.timeout, 3000);
}

TEST(OptionParser, UnknownWordInKeyPositionIsRefused) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"-x"}, {"-dcollector", "300"}, {"-id", "1", "-ID", "2"}, {"-timeoutx"}}) {
        const Fed f = feed_all(words);
        EXPECT_FALSE(f.all_taken);
    }
    EXPECT_EQ(feed_all({"-dcollector", "-x"}).refused, "-x");
}

TEST(OptionParser, ValuesReadLikeStrtolBase10CutTo32Bits) {
    struct Case {
        const char* text;
        std::int64_t timeout;
    };
    for (const Case c : {Case{"  42", 42}, Case{"+7", 7}, Case{"-3", -3}, Case{"12abc", 12}, Case{"abc", 0},
                         Case{"0x10", 0}, Case{"010", 10}, Case{"4294967296", 0}, Case{"2147483648", -2147483648LL},
                         Case{"99999999999999999999", -1}}) {
        EXPECT_EQ(feed_all({"-timeout", c.text}).options.timeout, c.timeout) << c.text;
    }
}

TEST(FormatDuration, Examples) {
    EXPECT_EQ(formatDuration(0), "00:00:00.000");
    EXPECT_EQ(formatDuration(3723456), "01:02:03.456");
    EXPECT_EQ(formatDuration(360000000), "100:00:00.000");
    EXPECT_EQ(formatDuration(59999), "00:00:59.999");
    EXPECT_EQ(formatDuration(3600000 - 1), "00:59:59.999");
}

TEST(HelpText, StartsWithLineFeedAndEndsWithoutOne) {
    ASSERT_FALSE(kHelpText.empty());
    EXPECT_EQ(kHelpText.front(), '\n');
    EXPECT_NE(kHelpText.back(), '\n');
    EXPECT_NE(kHelpText.find("|------------------------------------------------------|           \n"),
              std::string_view::npos);
}

}  // namespace
}  // namespace collector
