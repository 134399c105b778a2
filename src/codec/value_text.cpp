#include "codec/value_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <span>

#include "bacstack/names.hpp"
#include "codec/charset.hpp"

namespace codec {

namespace {

using bacstack::Value;
using nlohmann::json;

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

namespace property {
constexpr std::uint32_t kDeviceAddressBinding = 30;
constexpr std::uint32_t kEventState = 36;
constexpr std::uint32_t kObjectType = 79;
constexpr std::uint32_t kPolarity = 84;
constexpr std::uint32_t kPresentValue = 85;
constexpr std::uint32_t kReliability = 103;
constexpr std::uint32_t kRelinquishDefault = 104;
constexpr std::uint32_t kSegmentationSupported = 107;
constexpr std::uint32_t kSystemStatus = 112;
constexpr std::uint32_t kUnits = 117;
constexpr std::uint32_t kNodeType = 208;
constexpr std::uint32_t kIpAddress = 400;
constexpr std::uint32_t kIpDefaultGateway = 401;
constexpr std::uint32_t kIpDhcpServer = 405;
constexpr std::uint32_t kIpDnsServer = 406;
constexpr std::uint32_t kBacnetIpMulticastAddress = 409;
constexpr std::uint32_t kIpSubnetMask = 411;
constexpr std::uint32_t kMacAddress = 423;
constexpr std::uint32_t kIpv6DefaultGateway = 439;
constexpr std::uint32_t kBacnetIpv6MulticastAddress = 440;
constexpr std::uint32_t kIpv6DnsServer = 441;
constexpr std::uint32_t kIpv6DhcpServer = 445;
constexpr std::uint32_t kDeviceUuid = 507;
}  // namespace property

constexpr std::uint32_t kBinaryInput = 3, kBinaryOutput = 4, kBinaryValue = 5;
// Object types the reference library names; beyond them only "reserved"/"proprietary".
constexpr std::uint32_t kLastLibraryObjectType = 65;
constexpr std::uint32_t kFirstProprietaryObjectType = 128;
constexpr std::uint32_t kFirstProprietaryUnit = 256;

// "%f": fixed point, six decimals, "." regardless of locale.
std::string fixed(double d) {
    char buf[400];  // DBL_MAX prints as 309 digits and ".000000"
    const int n = std::snprintf(buf, sizeof buf, "%f", d);
    return std::string(buf, static_cast<std::size_t>(n));
}

constexpr char kHex[] = "0123456789abcdef";

void append_hex_byte(std::string& out, std::uint8_t b) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
}

std::string ipv6_groups(std::span<const std::uint8_t> b) {
    std::string out;
    for (std::size_t g = 0; g < 8; ++g) {
        if (g) out += ':';
        fmt::format_to(std::back_inserter(out), "{:x}", b[2 * g] << 8 | b[2 * g + 1]);
    }
    return out;
}

std::string octet_string_text(const bacstack::OctetString& o, std::uint32_t prop) {
    const std::span<const std::uint8_t> b(o.bytes);
    if (b.empty()) return "[empty]";
    switch (prop) {
        case property::kIpAddress:
        case property::kIpDefaultGateway:
        case property::kIpDhcpServer:
        case property::kIpDnsServer:
        case property::kBacnetIpMulticastAddress:
        case property::kIpSubnetMask:
            if (b.size() != 4) return "[invalid IPv4 length]";
            return fmt::format("{}.{}.{}.{}", b[0], b[1], b[2], b[3]);
        case property::kMacAddress: {
            if (b.size() != 6) return "[invalid macAddress length]";
            std::string out;
            for (std::size_t i = 0; i < 6; ++i) {
                if (i) out += ':';
                append_hex_byte(out, b[i]);
            }
            return out;
        }
        case property::kIpv6DefaultGateway:
        case property::kIpv6DnsServer:
        case property::kIpv6DhcpServer:
            if (b.size() != 16) return "[invalid IPv6 length]";
            return ipv6_groups(b);
        case property::kBacnetIpv6MulticastAddress:
            if (b.size() != 18) return "[invalid IPv6 + port length]";
            return fmt::format("{}:{}", ipv6_groups(b), b[16] << 8 | b[17]);
        case property::kDeviceUuid: {
            if (b.size() != 16) return "[invalid UUID length]";
            std::string out;
            for (std::size_t i = 0; i < 16; ++i) {
                if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
                append_hex_byte(out, b[i]);
            }
            return out;
        }
        default:
            break;
    }
    if (has_utf8_structure(b)) return std::string(b.begin(), b.end());
    std::string out;
    out.reserve(b.size() * 3);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) out += ' ';
        append_hex_byte(out, b[i]);
    }
    return out;
}

std::string character_string_text(const bacstack::CharacterString& c) {
    const std::span<const std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                          c.bytes.size());
    switch (c.encoding) {
        case bacstack::charset::kUtf8:
            if (has_utf8_structure(b)) return c.bytes;
            return windows1251_to_utf8(b);
        case bacstack::charset::kUcs4:
            if (b.size() % 4 != 0) return "[invalid UCS4 length]";
            return ucs4_to_utf8(b);
        case bacstack::charset::kUcs2:
            if (b.size() % 2 != 0) return "[invalid UCS2 length]";
            return ucs2_to_utf8(b);
        case bacstack::charset::kIso8859_1:
            return windows1251_to_utf8(b);
        default:
            return "[unsupported character encoding]";
    }
}

std::string enumerated_text(std::uint32_t v, std::uint32_t prop, std::uint32_t object_type) {
    using namespace bacstack;
    switch (prop) {
        case property::kEventState:
            return std::string(event_state_name(v));
        case property::kObjectType:
            if (v <= kLastLibraryObjectType) return std::string(object_type_name(v));
            if (v < kFirstProprietaryObjectType) return fmt::format("reserved {}", v);
            return fmt::format("proprietary {}", v);
        case property::kPolarity:
            return std::string(binary_polarity_name(v));
        case property::kPresentValue:
            return std::string(binary_present_value_name(v));
        case property::kReliability:
            return std::string(reliability_name(v));
        case property::kRelinquishDefault:
            if (object_type == kBinaryInput || object_type == kBinaryOutput ||
                object_type == kBinaryValue)
                return std::string(binary_present_value_name(v));
            return std::to_string(v);
        case property::kSegmentationSupported:
            return std::string(segmentation_name(v));
        case property::kSystemStatus:
            return std::string(device_status_name(v));
        case property::kUnits:
            if (v >= kFirstProprietaryUnit) return fmt::format("proprietary {}", v);
            return std::string(engineering_unit_name(v));
        case property::kNodeType:
            return std::string(node_type_name(v));
        default:
            return std::to_string(v);
    }
}

// Right-aligns `v` in `width` columns (wider numbers are written whole).
void append_right(std::string& out, std::uint32_t v, std::size_t width) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    const auto n = static_cast<std::size_t>(end - digits);
    if (n < width) out.append(width - n, ' ');
    out.append(digits, n);
}

// A table row; hand-formatted because object lists are long and rendered on every poll.
std::string object_id_text(bacstack::ObjectId id, const DecodedValue& d) {
    constexpr std::size_t kNameColumns = 23;
    const std::string_view name = bacstack::object_type_name(id.type);
    std::string out;
    out.reserve(3 + 3 + 2 + 1 + std::max(name.size(), kNameColumns) + 8 + 1);
    append_right(out, d.position, 3);
    out += " | ";
    append_right(out, id.type, 2);
    out += ' ';
    out += name;
    if (name.size() < kNameColumns) out.append(kNameColumns - name.size(), ' ');
    append_right(out, id.instance, 0);
    if (d.property == property::kDeviceAddressBinding) out += '\t';
    return out;
}

json date_json(const bacstack::Date& d) {
    return json{{"day", d.day}, {"month", d.month}, {"wday", d.wday}, {"year", d.year}};
}

json time_json(const bacstack::Time& t) {
    return json{{"hour", t.hour}, {"hundredths", t.hundredths}, {"min", t.min}, {"sec", t.sec}};
}

json date_range_json(const bacstack::DateRange& r) {
    return json{{"end_date", date_json(r.end_date)}, {"start_date", date_json(r.start_date)}};
}

json week_n_day_json(const bacstack::WeekNDay& w) {
    return json{
        {"day_of_week", w.day_of_week}, {"month", w.month}, {"week_of_month", w.week_of_month}};
}

json object_id_json(bacstack::ObjectId id) {
    return json{{"instance", id.instance}, {"type", id.type}};
}

json time_value_json(const bacstack::TimeValue& tv) {
    json j = time_json(tv.time);
    j["tag"] = bacstack::app_tag(tv.value);
    std::visit(Overloaded{
                   [&](const bacstack::Null&) { j["value"] = 0; },
                   [&](bool b) { j["value"] = b; },
                   [&](std::uint64_t u) { j["value"] = u; },
                   [&](std::int32_t s) { j["value"] = s; },
                   [&](float f) { j["value"] = static_cast<double>(f); },
                   [&](double d) { j["value"] = d; },
                   [&](bacstack::Enumerated e) { j["value"] = e.value; },
                   [](const auto&) {},
               },
               tv.value);
    return j;
}

json time_values_json(const std::vector<bacstack::TimeValue>& tvs) {
    json a = json::array();
    const std::size_t n = std::min(tvs.size(), bacstack::kMaxTimeValues);
    for (std::size_t i = 0; i < n; ++i) a.push_back(time_value_json(tvs[i]));
    return a;
}

json calendar_item_json(const bacstack::CalendarEntryItem& item) {
    return std::visit(Overloaded{
                          [](const bacstack::Date& d) {
                              return json{{"date", date_json(d)}};
                          },
                          [](const bacstack::DateRange& r) {
                              return json{{"date_range", date_range_json(r)}};
                          },
                          [](const bacstack::WeekNDay& w) {
                              return json{{"week_n_day", week_n_day_json(w)}};
                          },
                      },
                      item);
}

json special_event_json(const bacstack::SpecialEvent& e) {
    json j = json::object();
    if (const auto* c = std::get_if<bacstack::CalendarEntry>(&e.period); c && !c->entries.empty()) {
        // Every entry in the form the first entry's choice names.
        const std::size_t choice = c->entries.front().index();
        json list = json::array();
        for (const auto& item : c->entries) {
            const bool same = item.index() == choice;
            if (choice == 0) list.push_back(date_json(same ? std::get<0>(item) : bacstack::Date{}));
            if (choice == 1)
                list.push_back(date_range_json(same ? std::get<1>(item) : bacstack::DateRange{}));
            if (choice == 2)
                list.push_back(week_n_day_json(same ? std::get<2>(item) : bacstack::WeekNDay{}));
        }
        static constexpr const char* kPeriodNames[] = {"date", "date_range", "week_n_day"};
        j[kPeriodNames[choice]] = std::move(list);
    }
    j["exceptions"] = time_values_json(e.time_values);
    j["priority"] = e.priority;
    return json{{"special_event", std::move(j)}};
}

json weekly_schedule_json(const bacstack::WeeklySchedule& w) {
    json days = json::array();
    for (const auto& day : w.days) days.push_back(json{{"time_values", time_values_json(day)}});
    return json{{"weekly_schedule",
                 json{{"days_schedule", std::move(days)}, {"single_day", w.single_day}}}};
}

json reference_json(const bacstack::DeviceObjectPropertyReference& r) {
    return json{
        {"device_object_property_reference", json{{"array_index", r.array_index},
                                                  {"device_identifier", object_id_json(r.device)},
                                                  {"object_identifier", object_id_json(r.object)},
                                                  {"property_identifier", r.property}}}};
}

std::string dump(const json& j) { return j.dump(); }

}  // namespace

std::string valueToText(const DecodedValue& d) {
    using namespace bacstack;
    return std::visit(
        Overloaded{
            [](const Null&) -> std::string { return "null"; },
            [](bool b) -> std::string { return b ? "true" : "false"; },
            [](std::uint64_t u) { return std::to_string(u); },
            [](std::int32_t s) { return std::to_string(s); },
            [](float f) { return fixed(static_cast<double>(f)); },
            [](double v) { return fixed(v); },
            [&](const OctetString& o) { return octet_string_text(o, d.property); },
            [](const CharacterString& c) { return character_string_text(c); },
            [](const BitString& b) {
                std::string out(b.bits.size(), '0');
                for (std::size_t i = 0; i < b.bits.size(); ++i)
                    if (b.bits[i]) out[i] = '1';
                return out;
            },
            [&](Enumerated e) { return enumerated_text(e.value, d.property, d.object_type); },
            [](const Date& v) {
                return dump(json{{"date", date_json(v)}});
            },
            [](const Time& v) {
                return dump(json{{"time", time_json(v)}});
            },
            [&](ObjectId id) { return object_id_text(id, d); },
            [](const DateRange& r) {
                return dump(json{{"date_range", date_range_json(r)}});
            },
            [](const DateTime& v) {
                return dump(json{
                    {"datetime", json{{"date", date_json(v.date)}, {"time", time_json(v.time)}}}});
            },
            [](const TimeStamp&) { return std::string(kNotHandledText); },
            [](const Destination&) { return std::string(kNotHandledText); },
            [](const DeviceObjectPropertyReference& r) { return dump(reference_json(r)); },
            [](const CalendarEntry& c) {
                json list = json::array();
                for (const auto& item : c.entries) list.push_back(calendar_item_json(item));
                return dump(json{{"calendar_entry", std::move(list)}});
            },
            [](const WeeklySchedule& w) { return dump(weekly_schedule_json(w)); },
            [](const SpecialEvent& e) { return dump(special_event_json(e)); },
            [](const Scale& s) {
                return s.is_float ? fixed(static_cast<double>(s.float_scale))
                                  : std::to_string(s.integer_scale);
            },
        },
        d.value.data);
}

}  // namespace codec
