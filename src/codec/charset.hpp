// Character-set conversions to UTF-8 for value texts: the UTF-8 structure check,
// Windows-1251, and big-endian UCS-2 (as UTF-16) and UCS-4.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace codec {

// Lead and continuation octets only; overlong forms, surrogates and code points above
// U+10FFFF are not looked for.
bool has_utf8_structure(std::span<const std::uint8_t> bytes);

void append_utf8(std::string& out, char32_t code_point);

// Every byte through the Windows-1251 code page; its undefined 0x98 becomes U+0000.
std::string windows1251_to_utf8(std::span<const std::uint8_t> bytes);

// Whole 2- or 4-octet units (the caller checks the length). What is not a Unicode scalar
// value (an unpaired surrogate, a number above U+10FFFF) becomes U+FFFD.
std::string ucs2_to_utf8(std::span<const std::uint8_t> bytes);
std::string ucs4_to_utf8(std::span<const std::uint8_t> bytes);

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

}  // namespace codec
