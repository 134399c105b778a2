#include "bacstack/value_parse.hpp"

#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "bacstack/names.hpp"

namespace bacstack {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool only_space(std::string_view s) {
    for (char c : s)
        if (!is_space(c)) return false;
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
    if (end == s.c_str() || errno == ERANGE ||
        !only_space(std::string_view(s).substr(end - s.c_str())))
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
    if (end == s.c_str() || errno == ERANGE ||
        !only_space(std::string_view(s).substr(end - s.c_str())))
        return std::nullopt;
    return v;
}

std::optional<double> to_double(std::string_view text) {
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const double v = strtod_l(s.c_str(), &end, c_locale());
    if (end == s.c_str() || errno == ERANGE ||
        !only_space(std::string_view(s).substr(end - s.c_str())))
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
    const long wd = ((days % 7) + 7 + 3) % 7;       // 0 = Monday
    return static_cast<std::uint8_t>(wd + 1);
}

bool date_fields(Fields& f, bool allow_weekday, Date& out) {
    long y, m, d, w;
    if (!f.number(4, y) || !f.literal('/') || !f.number(3, m) || !f.literal('/') || !f.number(3, d))
        return false;
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
    out = Time{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(m),
               static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(hh)};
    return true;
}

bool object_id_fields(Fields& f, ObjectId& out) {
    long type, instance;
    if (!f.number(4, type) || !f.literal(':') || !f.number(7, instance)) return false;
    // Out-of-range numbers would be cut to other objects on the wire.
    if (type < 0 || type > static_cast<long>(kMaxObjectType) || instance < 0 ||
        instance > static_cast<long>(kMaxInstance))
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
    if (!object_id_fields(f, out.object) || !f.literal(',') || !f.number(10, property))
        return false;
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

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

// Splits at `sep` outside brackets and parentheses.
std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '[' || c == '(') ++depth;
        if ((c == ']' || c == ')') && depth > 0) --depth;
        if (c == sep && depth == 0) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

// "(...)" -> "..."; "[...]" -> "...".
std::optional<std::string_view> enclosed(std::string_view s, char open, char close) {
    s = trim(s);
    if (s.size() < 2 || s.front() != open || s.back() != close) return std::nullopt;
    return s.substr(1, s.size() - 2);
}

std::optional<PrimitiveValue> parse_primitive(std::uint32_t tag, std::string_view text);

// (T; Mon: [6:00 21.5, 18:00 null]; Tue: [...]; ...): T is the tag of the values, by
// number or by name; the day names are optional; at most seven days, missing days are
// empty. Day names are not checked: the days count from Monday in the order given.
// Unlike the reference parser, an empty day stays empty.
bool parse_weekly_schedule(std::string_view text, WeeklySchedule& out) {
    const auto inner = enclosed(text, '(', ')');
    if (!inner) return false;
    const auto parts = split(*inner, ';');
    if (parts.size() < 2 || parts.size() > 1 + kDaysPerWeek) return false;
    const std::string_view tag_text = trim(parts[0]);
    std::optional<std::uint32_t> tag = application_tag_from_name(tag_text);
    if (!tag) {
        const auto n = to_unsigned(tag_text);
        if (n && *n <= 0xFFFFFFFFull) tag = static_cast<std::uint32_t>(*n);
    }
    PrimitiveValue probe;
    if (!tag || !zero_primitive(*tag, probe)) return false;
    for (std::size_t d = 1; d < parts.size(); ++d) {
        std::string_view day = trim(parts[d]);
        if (!day.empty() && day.front() != '[') {
            const auto colon = day.find(':');
            if (colon == std::string_view::npos) return false;
            day = trim(day.substr(colon + 1));
        }
        const auto entries = enclosed(day, '[', ']');
        if (!entries) return false;
        auto& list = out.days[d - 1];
        if (trim(*entries).empty()) continue;
        for (std::string_view entry : split(*entries, ',')) {
            entry = trim(entry);
            std::size_t gap = 0;
            while (gap < entry.size() && !is_space(entry[gap])) ++gap;
            TimeValue tv;
            if (!parse_time(entry.substr(0, gap), tv.time)) return false;
            const std::string_view value = trim(entry.substr(gap));
            if (equal_ignoring_ascii_case(value, "null")) {
                tv.value = Null{};
            } else {
                auto v = parse_primitive(*tag, value);
                if (!v) return false;
                tv.value = std::move(*v);
            }
            if (list.size() == kMaxTimeValues) return false;
            list.push_back(std::move(tv));
        }
    }
    return true;
}

// (ValidDays=[1,2,3];FromTime=6:00;ToTime=18:00;Recipient=Device(type=8,instance=N);
//  ProcessIdentifier=N;ConfirmedNotify=false;Transitions=[to-offnormal,to-fault,to-normal])
// Days are 1 = Monday .. 7 = Sunday. A Recipient is required; the other members default
// to every day, the whole day, process 0, unconfirmed, every transition.
bool parse_destination(std::string_view text, Destination& out) {
    const auto inner = enclosed(text, '(', ')');
    if (!inner) return false;
    out.valid_days.bits.assign(kDaysPerWeek, true);
    out.from_time = Time{0, 0, 0, 0};
    out.to_time = Time{23, 59, 59, 99};
    out.process_identifier = 0;
    out.issue_confirmed_notifications = false;
    out.transitions.bits.assign(3, true);
    bool recipient = false;
    for (std::string_view member : split(*inner, ';')) {
        member = trim(member);
        if (member.empty()) continue;
        const auto eq = member.find('=');
        if (eq == std::string_view::npos) return false;
        const std::string_view key = trim(member.substr(0, eq));
        const std::string_view value = trim(member.substr(eq + 1));
        if (equal_ignoring_ascii_case(key, "ValidDays")) {
            const auto list = enclosed(value, '[', ']');
            if (!list) return false;
            out.valid_days.bits.assign(kDaysPerWeek, false);
            if (trim(*list).empty()) continue;
            for (std::string_view day : split(*list, ',')) {
                const auto n = to_unsigned(day);
                if (!n || *n < 1 || *n > kDaysPerWeek) return false;
                out.valid_days.bits[*n - 1] = true;
            }
        } else if (equal_ignoring_ascii_case(key, "FromTime")) {
            if (!parse_time(value, out.from_time)) return false;
        } else if (equal_ignoring_ascii_case(key, "ToTime")) {
            if (!parse_time(value, out.to_time)) return false;
        } else if (equal_ignoring_ascii_case(key, "Recipient")) {
            if (value.size() < 6 || !equal_ignoring_ascii_case(value.substr(0, 6), "Device"))
                return false;
            const auto args = enclosed(value.substr(6), '(', ')');
            if (!args) return false;
            ObjectId device{8, 0};
            bool instance = false;
            for (std::string_view arg : split(*args, ',')) {
                const auto aeq = arg.find('=');
                if (aeq == std::string_view::npos) return false;
                const std::string_view name = trim(arg.substr(0, aeq));
                const auto n = to_unsigned(arg.substr(aeq + 1));
                if (equal_ignoring_ascii_case(name, "type")) {
                    if (!n || *n != 8) return false;  // a recipient device is a device
                } else if (equal_ignoring_ascii_case(name, "instance")) {
                    if (!n || *n > kMaxInstance) return false;
                    device.instance = static_cast<std::uint32_t>(*n);
                    instance = true;
                } else {
                    return false;
                }
            }
            if (!instance) return false;
            out.recipient = device;
            recipient = true;
        } else if (equal_ignoring_ascii_case(key, "ProcessIdentifier")) {
            const auto n = to_unsigned(value);
            if (!n || *n > 0xFFFFFFFFull) return false;
            out.process_identifier = static_cast<std::uint32_t>(*n);
        } else if (equal_ignoring_ascii_case(key, "ConfirmedNotify")) {
            if (equal_ignoring_ascii_case(value, "true")) {
                out.issue_confirmed_notifications = true;
            } else if (equal_ignoring_ascii_case(value, "false")) {
                out.issue_confirmed_notifications = false;
            } else {
                return false;
            }
        } else if (equal_ignoring_ascii_case(key, "Transitions")) {
            const auto list = enclosed(value, '[', ']');
            if (!list) return false;
            out.transitions.bits.assign(3, false);
            if (trim(*list).empty()) continue;
            for (std::string_view name : split(*list, ',')) {
                name = trim(name);
                if (equal_ignoring_ascii_case(name, "to-offnormal")) {
                    out.transitions.bits[0] = true;
                } else if (equal_ignoring_ascii_case(name, "to-fault")) {
                    out.transitions.bits[1] = true;
                } else if (equal_ignoring_ascii_case(name, "to-normal")) {
                    out.transitions.bits[2] = true;
                } else {
                    return false;
                }
            }
        } else {
            return false;
        }
    }
    return recipient;
}

std::optional<ValueData> parse(std::uint32_t tag, std::string_view text) {
    switch (tag) {
        case 0:
            return ValueData{Null{}};
        case 1: {
            if (equal_ignoring_ascii_case(text, "true") || equal_ignoring_ascii_case(text, "active"))
                return ValueData{true};
            if (equal_ignoring_ascii_case(text, "false") || equal_ignoring_ascii_case(text, "inactive"))
                return ValueData{false};
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
            if (seq && *seq <= 0xFFFF)
                return ValueData{TimeStamp{static_cast<std::uint16_t>(*seq)}};
            return std::nullopt;
        }
        case pseudo_tag::kDeviceObjectPropertyReference: {
            DeviceObjectPropertyReference r;
            if (!parse_reference(text, r)) return std::nullopt;
            return ValueData{r};
        }
        case pseudo_tag::kDestination: {
            Destination d;
            if (!parse_destination(text, d)) return std::nullopt;
            return ValueData{std::move(d)};
        }
        case pseudo_tag::kWeeklySchedule: {
            WeeklySchedule w;
            if (!parse_weekly_schedule(text, w)) return std::nullopt;
            return ValueData{std::move(w)};
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

std::optional<PrimitiveValue> parse_primitive(std::uint32_t tag, std::string_view text) {
    if (tag > 12) return std::nullopt;
    auto v = parse(tag, text);
    if (!v) return std::nullopt;
    return std::visit(
        [](auto&& alt) -> std::optional<PrimitiveValue> {
            if constexpr (std::is_constructible_v<PrimitiveValue, decltype(alt)>) {
                return PrimitiveValue{std::move(alt)};
            } else {
                return std::nullopt;
            }
        },
        std::move(*v));
}

}  // namespace

bool parse_application_data(std::uint32_t tag, std::string_view text, Value& out) {
    auto v = parse(tag, text);
    if (!v) return false;
    out.data = std::move(*v);
    return true;
}

}  // namespace bacstack
