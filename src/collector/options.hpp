// Command line of the data-collector mode: the options record, the key/value parser
// and the fixed texts (help, duration) the collector prints.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace collector {

struct CollectorOptions {
    std::int64_t timeout = 3000;  // milliseconds
    std::int32_t type = 0;
    std::int32_t id = 0;
    std::int32_t property = 0;
    std::int32_t instance = -1;
    bool has_type = false;
    bool has_id = false;
    bool has_property = false;
    bool has_instance = false;
    bool dcollector = false;
    bool help = false;
};

// Takes the words of the command line one at a time: a key, or the value of the key
// that is waiting for one. Any word is a value when a key is pending ("-1", "-p").
class OptionParser {
public:
    explicit OptionParser(CollectorOptions& options);

    // True when the word was taken; false for a word in key position that is not a key.
    bool feed(std::string_view word);

private:
    struct Key {
        bool takes_value;
        std::function<void(std::string_view)> apply;
    };
    std::map<std::string, Key, std::less<>> keys_;
    const Key* pending_ = nullptr;
};

// "HH:MM:SS.mmm" with at least two digits of hours.
std::string formatDuration(std::int64_t milliseconds);

// The help text logged by "-help", byte for byte.
extern const std::string_view kHelpText;

}  // namespace collector
