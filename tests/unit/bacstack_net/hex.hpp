// Octets written as hex text in tests: "81 0a 00 11".
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> hex(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : text) {
        if (c == ' ') continue;
        digits += c;
        if (digits.size() == 2) {
            out.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        }
    }
    return out;
}

inline std::string to_hex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}
