#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Mode = app::CommandLine::Mode;

struct Case {
    std::vector<const char*> args;  // after the program name
    Mode mode;
    std::string config;
    std::string log;
};

TEST(CommandLine, PairsKeysAndHandOver) {
    const std::string etc = "/etc/quillon.json";
    const std::string var = "/var/log/quillon/quillon.log";
    const Case cases[] = {
        {{}, Mode::Gateway, etc, var},
        {{"-c", "/tmp/a.json", "-l", "/tmp/a.log"}, Mode::Gateway, "/tmp/a.json", "/tmp/a.log"},
        {{"-l", "/tmp/a.log"}, Mode::Gateway, etc, "/tmp/a.log"},
        {{"-c", "a.json", "-c", "b.json"}, Mode::Gateway, "b.json", var},  // last value wins
        {{"-c", "a.json", "-x", "y"}, Mode::Gateway, "a.json", var},       // skipped pair
        {{"-c", "a.json", "-x"}, Mode::Gateway, "a.json", var},            // trailing unknown key
        {{"-c", "a.json", "-x", "-l", "b.log"}, Mode::Gateway, "a.json", var},  // -l is -x's value
        {{"-c", "-l"}, Mode::Gateway, "-l", var},  // a value is taken as it is
        {{"-c"}, Mode::MissingValue, etc, var},
        {{"-c", "a.json", "-l"}, Mode::MissingValue, "a.json", var},
        {{"-l", "a.log", "-x", "y", "-c"}, Mode::MissingValue, etc, "a.log"},
        {{"-dcollector", "-c", "a.json"}, Mode::Collector, etc, var},
        {{"-help"}, Mode::Collector, etc, var},
        {{"-cfoo", "a"}, Mode::Collector, etc, var},  // keys are whole words
        {{"-x", "y", "-c", "a.json"}, Mode::Collector, etc, var},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"quillon"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string trace;
        for (const char* a : c.args) trace += std::string(a) + " ";
        SCOPED_TRACE(trace);
        const app::CommandLine line =
            app::parse_command_line(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.mode, c.mode);
        if (c.mode != Mode::MissingValue) {
            EXPECT_EQ(line.config_path, c.config);
            EXPECT_EQ(line.log_path, c.log);
        }
    }
}

}  // namespace
