// The command line of the program: the gateway's "-c" and "-l" pairs, or a hand-over of
// the whole line to the data collector when the first key is something else.
#pragma once

#include <string>

#include "config/paths.hpp"

namespace app {

struct CommandLine {
    enum class Mode {
        Gateway,
        Collector,
        MissingValue,  // "-c" or "-l" without its value: exit status 1, nothing written
    };
    Mode mode = Mode::Gateway;
    std::string config_path = std::string(paths::kConfig);
    std::string log_path = std::string(paths::kLog);
};

// Keys and values alternate from argv[1]; a key given twice keeps its last value; unknown
// keys after the first are skipped with the argument that follows them.
CommandLine parse_command_line(int argc, const char* const* argv);

// The whole program: returns the exit status (0 after the data collector, 1 for a missing
// value); in gateway mode it returns only when logging cannot be set up.
int run(int argc, char** argv);

}  // namespace app
