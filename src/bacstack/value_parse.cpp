#include "bacstack/value_parse.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <optional>
#include <string>

namespace bacstack {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool only_space(std::string_view s) {
    for (char c : s)
        if (!is_space(c)) return false;
    return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Numbers are read in the C locale whatever the process has set.
struct LocaleDeleter {
    void operator()(locale_t l) const noexcept { freelocale(l); }
};
using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

locale_t c_locale() {
    static const LocaleHandle handle(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)));
    return handle.get();
}

// The C conversions need a terminated copy; the whole text must be one number, with
// white space around it at most.
std::optional<long long> to_signed(std::string_view text) {
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll_l(s.c_str(), &end, 0, c_locale());
    if (end == s.c_str() || errno == ERANGE || !only_space(std::string_view(s).substr(end - s.c_str())))
        return std::nullopt;
    return v;
}

std::optional<unsigned long long> to_unsigned(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    if (i < text.size() && text[i] == '-') return std::nullopt;  // strtoull would wrap it
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull_l(s.c_str(), &end, 0, c_locale());
    if (end == s.c_str() || errno == ERANGE || !only_space(std::string_view(s).substr(end - s.c_str())))
        return std::nullopt;
    return v;
}

std::optional<double> to_double(std::string_view text) {
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const double v = strtod_l(s.c_str(), &end, c_locale());
    if (end == s.c_str() || errno == ERANGE || !only_space(std::string_view(s).substr(end - s.c_str())))
        return std::nullopt;
    return v;
}

// The smallest magnitude that rounds to infinity as a float: FLT_MAX plus half its ulp.
const double kFloatOverflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);

std::optional<float> to_float(std::string_view text) {
    const auto d = to_double(text);
    if (!d || (std::isfinite(*d) && std::fabs(*d) >= kFloatOverflow)) return std::nullopt;
    return static_cast<float>(*d);
}

// A small cursor for the field forms ("2025/12/9:2", "6:30:15.50"), each field a decimal
// of limited digits as scanf's "%4d" reads it.
struct Fields {
    std::string_view s;
    std::size_t pos = 0;

    bool number(std::size_t max_digits, long& out) {
        std::size_t p = pos;
        while (p < s.size() && is_space(s[p])) ++p;
        bool negative = false;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
        long v = 0;
        std::size_t digits = 0;
        while (p < s.size() && is_digit(s[p]) && digits < max_digits) {
            v = v * 10 + (s[p++] - '0');
            ++digits;
        }
        if (digits == 0) return false;
        pos = p;
        out = negative ? -v : v;
        return true;
    }
    bool literal(char c) {
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool peek(char c) const { return pos < s.size() && s[pos] == c; }
    bool at_end() const { return only_space(s.substr(pos)); }
};

// 1 = Monday .. 7 = Sunday, proleptic Gregorian; fields out of range still give 1..7.
std::uint8_t weekday(long y, long m, long d) {
    // Days from civil (H. Hinnant), with the month folded into 1..12 first.
    y += (m - 1) / 12;
    m = (m - 1) % 12 + 1;
    if (m <= 0) {
        m += 12;
        --y;
    }
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = era * 146097 + doe - 719468;  // 0 = Thursday 1970-01-01
    const long wd = ((days % 7) + 7 + 3) % 7;        // 0 = Monday
    return static_cast<std::uint8_t>(wd + 1);
}

bool date_fields(Fields& f, bool allow_weekday, Date& out) {
    long y, m, d, w;
    if (!f.number(4, y) || !f.literal('/') || !f.number(3, m) || !f.literal('/') || !f.number(3, d)) return false;
    out.year = static_cast<std::uint16_t>(y);
    out.month = static_cast<std::uint8_t>(m);
    out.day = static_cast<std::uint8_t>(d);
    if (allow_weekday && f.literal(':')) {
        if (!f.number(3, w)) return false;
        out.wday = static_cast<std::uint8_t>(w);
    } else {
        out.wday = weekday(y, m, d);
    }
    return true;
}

// h:m[:s[.hh]]; with `hour_alone` a lone hour is enough (the date-time form).
bool time_fields(Fields& f, bool hour_alone, Time& out) {
    long h, m = 0, s = 0, hh = 0;
    if (!f.number(3, h)) return false;
    if (f.literal(':')) {
        if (!f.number(3, m)) return false;
        if (f.literal(':')) {
            if (!f.number(3, s)) return false;
            if (f.literal('.') && !f.number(3, hh)) return false;
        }
    } else if (!hour_alone) {
        return false;
    }
    out = Time{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(s),
               static_cast<std::uint8_t>(hh)};
    return true;
}

bool object_id_fields(Fields& f, ObjectId& out) {
    long type, instance;
    if (!f.number(4, type) || !f.literal(':') || !f.number(7, instance)) return false;
    // Out-of-range numbers would be cut to other objects on the wire.
    if (type < 0 || type > static_cast<long>(kMaxObjectType) || instance < 0 || instance > static_cast<long>(kMaxInstance))
        return false;
    out = ObjectId{static_cast<std::uint16_t>(type), static_cast<std::uint32_t>(instance)};
    return true;
}

bool parse_date(std::string_view text, Date& out) {
    Fields f{text};
    return date_fields(f, true, out) && f.at_end();
}

bool parse_time(std::string_view text, Time& out) {
    Fields f{text};
    return time_fields(f, false, out) && f.at_end();
}

bool parse_date_time(std::string_view text, DateTime& out) {
    Fields f{text};
    if (!date_fields(f, false, out.date)) return false;
    if (f.literal('-') && !time_fields(f, true, out.time)) return false;
    return f.at_end();
}

bool parse_reference(std::string_view text, DeviceObjectPropertyReference& out) {
    Fields f{text};
    long property, index;
    if (!object_id_fields(f, out.object) || !f.literal(',') || !f.number(10, property)) return false;
    if (property < 0 || property > 0x3FFFFF) return false;
    out.property = static_cast<std::uint32_t>(property);
    if (f.literal(',')) {
        if (!f.number(10, index) || index < -1 || index > 0xFFFFFFFFL) return false;
        out.array_index = index == -1 ? kArrayAll : static_cast<std::uint32_t>(index);
        if (f.literal(',') && !object_id_fields(f, out.device)) return false;
    }
    return f.at_end();
}

bool parse_octets(std::string_view text, OctetString& out) {
    auto hex = [](char c) -> int {
        if (is_digit(c)) return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.bytes.clear();
    if (text.empty()) return true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!is_alnum(text[i])) continue;
        if (i + 1 == text.size()) return false;  // half a pair
        // The pair is read as hexadecimal as far as it goes: "0x" is 0, "1 " is 1.
        int v = 0;
        for (std::size_t k = i; k < i + 2; ++k) {
            const int d = hex(text[k]);
            if (d < 0) break;
            v = v * 16 + d;
        }
        if (out.bytes.size() == kMaxParsedOctets) return false;
        out.bytes.push_back(static_cast<std::uint8_t>(v));
        ++i;
    }
    return !out.bytes.empty();
}

bool parse_bits(std::string_view text, BitString& out) {
    out.bits.clear();
    if (text.empty()) return true;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (out.bits.size() == kMaxParsedBits) return false;
        out.bits.push_back(c == '1');
    }
    return !out.bits.empty();
}

std::optional<ValueData> parse(std::uint32_t tag, std::string_view text) {
    switch (tag) {
        case 0: return ValueData{Null{}};
        case 1: {
            if (equal_ignoring_case(text, "true") || equal_ignoring_case(text, "active")) return ValueData{true};
            if (equal_ignoring_case(text, "false") || equal_ignoring_case(text, "inactive")) return ValueData{false};
            const auto v = to_signed(text);
            if (!v) return std::nullopt;
            return ValueData{*v != 0};
        }
        case 2: {
            const auto v = to_unsigned(text);
            if (!v) return std::nullopt;
            return ValueData{static_cast<std::uint64_t>(*v)};
        }
        case 3: {
            const auto v = to_signed(text);
            if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
            return ValueData{static_cast<std::int32_t>(*v)};
        }
        case 4: {
            const auto v = to_float(text);
            if (!v) return std::nullopt;
            return ValueData{*v};
        }
        case 5: {
            const auto v = to_double(text);
            if (!v) return std::nullopt;
            return ValueData{*v};
        }
        case 6: {
            OctetString o;
            if (!parse_octets(text, o)) return std::nullopt;
            return ValueData{std::move(o)};
        }
        case 7:
            if (text.size() > kMaxParsedCharacters) return std::nullopt;
            return ValueData{CharacterString{charset::kUtf8, std::string(text)}};
        case 8: {
            BitString b;
            if (!parse_bits(text, b)) return std::nullopt;
            return ValueData{std::move(b)};
        }
        case 9: {
            const auto v = to_unsigned(text);
            if (!v || *v > 0xFFFFFFFFull) return std::nullopt;
            return ValueData{Enumerated{static_cast<std::uint32_t>(*v)}};
        }
        case 10: {
            Date d;
            if (!parse_date(text, d)) return std::nullopt;
            return ValueData{d};
        }
        case 11: {
            Time t;
            if (!parse_time(text, t)) return std::nullopt;
            return ValueData{t};
        }
        case 12: {
            Fields f{text};
            ObjectId id;
            if (!object_id_fields(f, id) || !f.at_end()) return std::nullopt;
            return ValueData{id};
        }
        case pseudo_tag::kDateTime: {
            DateTime dt;
            if (!parse_date_time(text, dt)) return std::nullopt;
            return ValueData{dt};
        }
        case pseudo_tag::kTimeStamp: {
            Time t;
            if (parse_time(text, t)) return ValueData{TimeStamp{t}};
            DateTime dt;
            if (parse_date_time(text, dt)) return ValueData{TimeStamp{dt}};
            const auto seq = to_unsigned(text);
            if (seq && *seq <= 0xFFFF) return ValueData{TimeStamp{static_cast<std::uint16_t>(*seq)}};
            return std::nullopt;
        }
        case pseudo_tag::kDeviceObjectPropertyReference: {
            DeviceObjectPropertyReference r;
            if (!parse_reference(text, r)) return std::nullopt;
            return ValueData{r};
        }
        case pseudo_tag::kScale: {
            Scale s;
            if (text.find('.') != std::string_view::npos) {
                const auto v = to_float(text);
                if (!v) return std::nullopt;
                s.is_float = true;
                s.float_scale = *v;
            } else {
                const auto v = to_signed(text);
                if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
                s.integer_scale = static_cast<std::int32_t>(*v);
            }
            return ValueData{s};
        }
        default:
            // Reserved tags, the "no tag" marker 16, and constructed types without a text
            // form (date range, calendar entry, special event, ...): reading nothing and
            // reporting success would write zeros to the device.
            return std::nullopt;
    }
}

}  // namespace

bool parse_application_data(std::uint32_t tag, std::string_view text, Value& out) {
    auto v = parse(tag, text);
    if (!v) return false;
    out.data = std::move(*v);
    return true;
}

}  // namespace bacstack
