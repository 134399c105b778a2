#include "app/command_line.hpp"

#include <string_view>

namespace app {

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc; i += 2) {
        const std::string_view key = argv[i];
        const bool has_value = i + 1 < argc;
        if (key == "-c" || key == "-l") {
            if (!has_value) {
                line.mode = CommandLine::Mode::MissingValue;
                return line;
            }
            (key == "-c" ? line.config_path : line.log_path) = argv[i + 1];
        } else if (i == 1) {
            line.mode = CommandLine::Mode::Collector;
            return line;
        }
    }
    return line;
}

}  // namespace app
