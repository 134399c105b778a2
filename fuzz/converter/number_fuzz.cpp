// The number test decides which value texts reach a converter script. Checks it against
// the grammar it stands for, and that every text it accepts is read by strtod to its
// last character, so the script sees the number the device sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "bacnet/converter.hpp"

namespace {

bool grammar(const std::string& text) {
    static const std::regex number(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)",
                                   std::regex::ECMAScript | std::regex::optimize);
    return std::regex_match(text, number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so a read past the end is caught.
    std::vector<char> exact(data, data + size);
    const std::string_view text(exact.data(), exact.size());
    const bool accepted = bacnet::isNumber(text);

    const std::string copy(text);
    if (accepted != grammar(copy)) std::abort();
    if (accepted) {
        char* end = nullptr;
        (void)std::strtod(copy.c_str(), &end);
        if (end != copy.c_str() + copy.size()) std::abort();
    }
    return 0;
}
