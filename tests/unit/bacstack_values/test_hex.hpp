// Octets written as hexadecimal text in tests ("A4 7D 0C 09 02").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_hex {

inline std::vector<std::uint8_t> hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    int nibbles = 0;
    std::uint8_t cur = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        cur = static_cast<std::uint8_t>(cur << 4 | v);
        if (++nibbles == 2) {
            out.push_back(cur);
            nibbles = 0;
            cur = 0;
        }
    }
    return out;
}

inline std::string to_hex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (auto b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

}  // namespace testing_hex
