#include "bacstack/value_codec.hpp"

#include <bit>
#include <climits>
#include <limits>
#include <type_traits>

#include "bacstack/limits.hpp"
#include "bacstack/names.hpp"

namespace bacstack {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

constexpr std::uint8_t tag_of(AppTag t) { return static_cast<std::uint8_t>(t); }

// ---------------------------------------------------------------------------------------
// Encoding (20.2): tag header first, then the content octets.

void put_date_octets(Writer& out, const Date& d) {
    out.u8(year_octet(d.year));
    out.u8(d.month);
    out.u8(d.day);
    out.u8(d.wday);
}

void put_time_octets(Writer& out, const Time& t) {
    out.u8(t.hour);
    out.u8(t.min);
    out.u8(t.sec);
    out.u8(t.hundredths);
}

void put_app_date(Writer& out, const Date& d) {
    encode_tag(out, tag_of(AppTag::Date), false, 4);
    put_date_octets(out, d);
}

void put_app_time(Writer& out, const Time& t) {
    encode_tag(out, tag_of(AppTag::Time), false, 4);
    put_time_octets(out, t);
}

// 20.2.10: first octet is the number of unused bits of the last octet; bit 0 is the most
// significant bit of the first content octet.
void put_app_bit_string(Writer& out, const BitString& b) {
    const std::size_t octets = (b.bits.size() + 7) / 8;
    encode_tag(out, tag_of(AppTag::BitString), false, static_cast<std::uint32_t>(1 + octets));
    out.u8(static_cast<std::uint8_t>(octets * 8 - b.bits.size()));
    for (std::size_t i = 0; i < octets; ++i) {
        std::uint8_t o = 0;
        for (std::size_t bit = 0; bit < 8; ++bit) {
            const std::size_t n = i * 8 + bit;
            if (n < b.bits.size() && b.bits[n]) o |= static_cast<std::uint8_t>(0x80u >> bit);
        }
        out.u8(o);
    }
}

void put_app_octet_string(Writer& out, std::span<const std::uint8_t> bytes) {
    encode_tag(out, tag_of(AppTag::OctetString), false, static_cast<std::uint32_t>(bytes.size()));
    out.bytes(bytes);
}

void put_primitive(Writer& out, const PrimitiveValue& v) {
    std::visit(Overloaded{
                   [&](const Null&) { encode_tag(out, tag_of(AppTag::Null), false, 0); },
                   [&](bool b) { encode_tag(out, tag_of(AppTag::Boolean), false, b ? 1 : 0); },
                   [&](std::uint64_t u) { encode_app_unsigned(out, u); },
                   [&](std::int32_t s) { encode_app_signed(out, s); },
                   [&](float f) {
                       encode_tag(out, tag_of(AppTag::Real), false, 4);
                       out.u32(std::bit_cast<std::uint32_t>(f));
                   },
                   [&](double d) {
                       encode_tag(out, tag_of(AppTag::Double), false, 8);
                       out.uint(std::bit_cast<std::uint64_t>(d), 8);
                   },
                   [&](const OctetString& o) { put_app_octet_string(out, o.bytes); },
                   [&](const CharacterString& c) {
                       encode_tag(out, tag_of(AppTag::CharacterString), false,
                                  static_cast<std::uint32_t>(1 + c.bytes.size()));
                       out.u8(c.encoding);
                       for (char ch : c.bytes) out.u8(static_cast<std::uint8_t>(ch));
                   },
                   [&](const BitString& b) { put_app_bit_string(out, b); },
                   [&](Enumerated e) { encode_app_enumerated(out, e.value); },
                   [&](const Date& d) { put_app_date(out, d); },
                   [&](const Time& t) { put_app_time(out, t); },
                   [&](ObjectId id) { encode_app_object_id(out, id); },
               },
               v);
}

void put_time_values(Writer& out, const std::vector<TimeValue>& tvs) {
    for (const auto& tv : tvs) {
        put_app_time(out, tv.time);
        put_primitive(out, tv.value);
    }
}

void put_calendar_item(Writer& out, const CalendarEntryItem& item) {
    std::visit(Overloaded{
                   [&](const Date& d) {
                       encode_tag(out, 0, true, 4);
                       put_date_octets(out, d);
                   },
                   [&](const DateRange& r) {
                       encode_opening_tag(out, 1);
                       put_app_date(out, r.start_date);
                       put_app_date(out, r.end_date);
                       encode_closing_tag(out, 1);
                   },
                   [&](const WeekNDay& w) {
                       encode_tag(out, 2, true, 3);
                       out.u8(w.month);
                       out.u8(w.week_of_month);
                       out.u8(w.day_of_week);
                   },
               },
               item);
}

// Copies a constructed value's alternatives onto the primitive encoder where they match.
template <class T>
bool put_if_primitive(Writer& out, const T& v) {
    if constexpr (std::is_constructible_v<PrimitiveValue, const T&> &&
                  !std::is_same_v<T, DateRange>) {
        put_primitive(out, PrimitiveValue{v});
        return true;
    } else {
        return false;
    }
}

// ---------------------------------------------------------------------------------------
// Decoding. Every function reads through a Reader and, on failure, may have moved it:
// callers decode into a copy and commit the reader and the value only on success.

struct Decoder {
    Reader in;
    int depth = 0;

    bool tag(Tag& t) { return decode_tag(in, t); }
    bool peek(Tag& t) const { return peek_tag(in, t); }

    bool open(std::uint8_t n) {
        Tag t;
        if (!tag(t) || !t.is_opening(n)) return false;
        return ++depth <= kMaxNesting;
    }
    bool close(std::uint8_t n) {
        Tag t;
        if (!tag(t) || !t.is_closing(n)) return false;
        --depth;
        return true;
    }
    bool next_is_opening(std::uint8_t n) const {
        Tag t;
        return peek(t) && t.is_opening(n);
    }
    bool next_is_context(std::uint8_t n) const {
        Tag t;
        return peek(t) && t.is_context(n);
    }
    bool next_is_application() const {
        Tag t;
        return peek(t) && !t.context;
    }

    bool date_octets(std::uint32_t len, Date& d) {
        std::uint64_t raw;
        if (len != 4 || !in.read_uint(4, raw)) return false;
        d.year = static_cast<std::uint16_t>(kYearBase + ((raw >> 24) & 0xFF));
        d.month = static_cast<std::uint8_t>(raw >> 16);
        d.day = static_cast<std::uint8_t>(raw >> 8);
        d.wday = static_cast<std::uint8_t>(raw);
        return true;
    }
    bool time_octets(std::uint32_t len, Time& t) {
        std::uint64_t raw;
        if (len != 4 || !in.read_uint(4, raw)) return false;
        t.hour = static_cast<std::uint8_t>(raw >> 24);
        t.min = static_cast<std::uint8_t>(raw >> 16);
        t.sec = static_cast<std::uint8_t>(raw >> 8);
        t.hundredths = static_cast<std::uint8_t>(raw);
        return true;
    }

    bool bit_string_octets(std::uint32_t len, BitString& b) {
        std::uint8_t unused;
        if (len == 0 || !in.read_u8(unused) || unused > 7 || (len == 1 && unused != 0))
            return false;
        std::span<const std::uint8_t> octets;
        if (!in.read_span(len - 1, octets)) return false;
        b.bits.clear();
        b.bits.reserve(octets.size() * 8 - unused);
        for (std::size_t i = 0; i < octets.size() * 8 - unused; ++i)
            b.bits.push_back((octets[i / 8] & (0x80u >> (i % 8))) != 0);
        return true;
    }

    // 20.2.2 to 20.2.14: one application-tagged primitive.
    bool primitive(PrimitiveValue& out) {
        Tag t;
        if (!tag(t) || t.context || t.kind != Tag::Kind::Value) return false;
        switch (t.number) {
            case tag_of(AppTag::Null):
                if (t.lvt != 0) return false;
                out = Null{};
                return true;
            case tag_of(AppTag::Boolean):
                out = t.lvt == 1;
                return true;
            case tag_of(AppTag::Unsigned): {
                std::uint64_t u;
                if (!decode_unsigned(in, t.lvt, u)) return false;
                out = u;
                return true;
            }
            case tag_of(AppTag::Signed): {
                std::int64_t s;
                if (!decode_signed(in, t.lvt, s) || s < INT32_MIN || s > INT32_MAX) return false;
                out = static_cast<std::int32_t>(s);
                return true;
            }
            case tag_of(AppTag::Real): {
                std::uint32_t raw;
                if (t.lvt != 4 || !in.read_u32(raw)) return false;
                out = std::bit_cast<float>(raw);
                return true;
            }
            case tag_of(AppTag::Double): {
                std::uint64_t raw;
                if (t.lvt != 8 || !in.read_uint(8, raw)) return false;
                out = std::bit_cast<double>(raw);
                return true;
            }
            case tag_of(AppTag::OctetString): {
                std::span<const std::uint8_t> bytes;
                if (!in.read_span(t.lvt, bytes)) return false;
                out = OctetString{{bytes.begin(), bytes.end()}};
                return true;
            }
            case tag_of(AppTag::CharacterString): {
                std::uint8_t encoding;
                std::span<const std::uint8_t> bytes;
                if (t.lvt == 0 || !in.read_u8(encoding) || !in.read_span(t.lvt - 1, bytes))
                    return false;
                out = CharacterString{encoding, std::string(bytes.begin(), bytes.end())};
                return true;
            }
            case tag_of(AppTag::BitString): {
                BitString b;
                if (!bit_string_octets(t.lvt, b)) return false;
                out = std::move(b);
                return true;
            }
            case tag_of(AppTag::Enumerated): {
                std::uint64_t u;
                if (t.lvt > 4 || !decode_unsigned(in, t.lvt, u)) return false;
                out = Enumerated{static_cast<std::uint32_t>(u)};
                return true;
            }
            case tag_of(AppTag::Date): {
                Date d;
                if (!date_octets(t.lvt, d)) return false;
                out = d;
                return true;
            }
            case tag_of(AppTag::Time): {
                Time tm;
                if (!time_octets(t.lvt, tm)) return false;
                out = tm;
                return true;
            }
            case tag_of(AppTag::ObjectId): {
                ObjectId id;
                if (!decode_object_id(in, t.lvt, id)) return false;
                out = id;
                return true;
            }
            default:
                return false;  // 13..15 are reserved
        }
    }

    template <class T>
    bool app(T& out) {
        PrimitiveValue v;
        if (!primitive(v) || !std::holds_alternative<T>(v)) return false;
        out = std::get<T>(std::move(v));
        return true;
    }

    bool app_unsigned(std::uint64_t max, std::uint64_t& out) { return app(out) && out <= max; }

    bool ctx_date(std::uint8_t n, Date& d) {
        Tag t;
        return tag(t) && t.is_context(n) && date_octets(t.lvt, d);
    }
    bool ctx_time(std::uint8_t n, Time& tm) {
        Tag t;
        return tag(t) && t.is_context(n) && time_octets(t.lvt, tm);
    }

    bool date_range(DateRange& r) { return app(r.start_date) && app(r.end_date); }
    bool date_time(DateTime& dt) { return app(dt.date) && app(dt.time); }

    bool time_stamp(TimeStamp& ts) {
        if (next_is_context(0)) {
            Time tm;
            if (!ctx_time(0, tm)) return false;
            ts.choice = tm;
            return true;
        }
        if (next_is_context(1)) {
            std::uint64_t seq;
            if (!decode_ctx_unsigned(in, 1, seq) || seq > 0xFFFF) return false;
            ts.choice = static_cast<std::uint16_t>(seq);
            return true;
        }
        DateTime dt;
        if (!open(2) || !date_time(dt) || !close(2)) return false;
        ts.choice = dt;
        return true;
    }

    bool reference(DeviceObjectPropertyReference& r) {
        if (!decode_ctx_object_id(in, 0, r.object) || !decode_ctx_enumerated(in, 1, r.property))
            return false;
        if (next_is_context(2)) {
            std::uint64_t index;
            if (!decode_ctx_unsigned(in, 2, index) || index > 0xFFFFFFFF) return false;
            r.array_index = static_cast<std::uint32_t>(index);
        }
        if (next_is_context(3)) {
            // 21: the device identifier names a device object; anything else is malformed.
            if (!decode_ctx_object_id(in, 3, r.device) || !r.has_device()) return false;
        }
        return true;
    }

    bool destination(Destination& d) {
        if (!app(d.valid_days) || !app(d.from_time) || !app(d.to_time)) return false;
        if (next_is_context(0)) {
            ObjectId id;
            if (!decode_ctx_object_id(in, 0, id)) return false;
            d.recipient = id;
        } else {
            RecipientAddress a;
            std::uint64_t network;
            OctetString mac;
            if (!open(1) || !app_unsigned(0xFFFF, network) || !app(mac) || !close(1)) return false;
            a.network = static_cast<std::uint16_t>(network);
            a.mac = std::move(mac.bytes);
            d.recipient = std::move(a);
        }
        std::uint64_t pid;
        if (!app_unsigned(0xFFFFFFFF, pid)) return false;
        d.process_identifier = static_cast<std::uint32_t>(pid);
        return app(d.issue_confirmed_notifications) && app(d.transitions);
    }

    bool calendar_item(CalendarEntryItem& item) {
        Tag t;
        if (!peek(t) || !t.context) return false;
        if (t.is_context(0)) {
            Date d;
            if (!ctx_date(0, d)) return false;
            item = d;
            return true;
        }
        if (t.is_opening(1)) {
            DateRange r;
            if (!open(1) || !date_range(r) || !close(1)) return false;
            item = r;
            return true;
        }
        if (t.is_context(2)) {
            std::span<const std::uint8_t> o;
            if (!tag(t) || t.lvt != 3 || !in.read_span(3, o)) return false;
            item = WeekNDay{o[0], o[1], o[2]};
            return true;
        }
        return false;
    }

    bool next_is_calendar_item() const {
        Tag t;
        return peek(t) && (t.is_context(0) || t.is_opening(1) || t.is_context(2));
    }

    bool calendar_list(CalendarEntry& c) {
        c.entries.clear();
        while (next_is_calendar_item()) {
            CalendarEntryItem item;
            if (!calendar_item(item)) return false;
            c.entries.push_back(item);
        }
        return !c.entries.empty();
    }

    // Time values up to the closing tag `n` (not consumed).
    bool time_values(std::uint8_t n, std::vector<TimeValue>& out) {
        Tag t;
        while (peek(t) && !t.is_closing(n)) {
            if (out.size() == kMaxTimeValues) return false;
            TimeValue tv;
            if (!app(tv.time) || !primitive(tv.value)) return false;
            out.push_back(std::move(tv));
        }
        return true;
    }

    bool daily_schedule(std::vector<TimeValue>& day) {
        return open(0) && time_values(0, day) && close(0);
    }

    bool weekly_schedule(std::uint32_t array_index, WeeklySchedule& w) {
        if (array_index != kArrayAll) {
            w.single_day = true;
            return daily_schedule(w.days[0]);
        }
        // 12.24.4: the whole property is an array of exactly seven days.
        for (auto& day : w.days)
            if (!daily_schedule(day)) return false;
        return true;
    }

    bool special_event(SpecialEvent& e) {
        if (next_is_opening(0)) {
            CalendarEntry c;
            CalendarEntryItem item;
            // 21: the period holds exactly one calendar entry.
            if (!open(0) || !calendar_item(item) || !close(0)) return false;
            c.entries = {item};
            e.period = std::move(c);
        } else {
            ObjectId calendar;
            if (!decode_ctx_object_id(in, 1, calendar)) return false;
            e.period = calendar;
        }
        std::uint64_t priority;
        if (!open(2) || !time_values(2, e.time_values) || !close(2)) return false;
        if (!decode_ctx_unsigned(in, 3, priority) || priority > 0xFF) return false;
        e.priority = static_cast<std::uint8_t>(priority);
        return true;
    }

    bool scale(Scale& s) {
        Tag t;
        if (!tag(t) || !t.context || t.kind != Tag::Kind::Value) return false;
        if (t.number == 0) {
            std::uint32_t raw;
            if (t.lvt != 4 || !in.read_u32(raw)) return false;
            s.is_float = true;
            s.float_scale = std::bit_cast<float>(raw);
            return true;
        }
        std::int64_t v;
        if (t.number != 1 || !decode_signed(in, t.lvt, v) || v < INT32_MIN || v > INT32_MAX)
            return false;
        s.is_float = false;
        s.integer_scale = static_cast<std::int32_t>(v);
        return true;
    }

    template <class T, class F>
    bool into(ValueData& out, F&& f) {
        T v{};
        if (!f(v)) return false;
        out = std::move(v);
        return true;
    }

    bool constructed(int known, std::uint32_t array_index, ValueData& out) {
        using namespace pseudo_tag;
        switch (known) {
            case kDateRange:
                return into<DateRange>(out, [&](auto& v) { return date_range(v); });
            case kDateTime:
                return into<DateTime>(out, [&](auto& v) { return date_time(v); });
            case kTimeStamp:
                return into<TimeStamp>(out, [&](auto& v) { return time_stamp(v); });
            case kDeviceObjectPropertyReference:
                return into<DeviceObjectPropertyReference>(out,
                                                           [&](auto& v) { return reference(v); });
            case kDestination:
                return into<Destination>(out, [&](auto& v) { return destination(v); });
            case kCalendarEntry:
                return into<CalendarEntry>(out, [&](auto& v) { return calendar_list(v); });
            case kWeeklySchedule:
                return into<WeeklySchedule>(
                    out, [&](auto& v) { return weekly_schedule(array_index, v); });
            case kSpecialEvent:
                return into<SpecialEvent>(out, [&](auto& v) { return special_event(v); });
            case kScale:
                return into<Scale>(out, [&](auto& v) { return scale(v); });
            default:
                return false;
        }
    }
};

// Constructed types whose encoding starts with application tags.
bool starts_application_tagged(int known) {
    return known == pseudo_tag::kDateRange || known == pseudo_tag::kDateTime ||
           known == pseudo_tag::kDestination;
}

ValueData widen(PrimitiveValue&& p) {
    return std::visit([](auto&& v) -> ValueData { return ValueData{std::move(v)}; }, std::move(p));
}

int finish(const Decoder& d, ValueData&& v, Value& out) {
    out.data = std::move(v);
    return static_cast<int>(d.in.position());
}

}  // namespace

void encode_value(Writer& out, const Value& value) {
    std::visit(Overloaded{
                   [&](const DateRange& r) {
                       put_app_date(out, r.start_date);
                       put_app_date(out, r.end_date);
                   },
                   [&](const DateTime& dt) {
                       put_app_date(out, dt.date);
                       put_app_time(out, dt.time);
                   },
                   [&](const TimeStamp& ts) {
                       std::visit(Overloaded{
                                      [&](const Time& t) {
                                          encode_tag(out, 0, true, 4);
                                          put_time_octets(out, t);
                                      },
                                      [&](std::uint16_t seq) { encode_ctx_unsigned(out, 1, seq); },
                                      [&](const DateTime& dt) {
                                          encode_opening_tag(out, 2);
                                          put_app_date(out, dt.date);
                                          put_app_time(out, dt.time);
                                          encode_closing_tag(out, 2);
                                      },
                                  },
                                  ts.choice);
                   },
                   [&](const DeviceObjectPropertyReference& r) {
                       encode_ctx_object_id(out, 0, r.object);
                       encode_ctx_enumerated(out, 1, r.property);
                       if (r.array_index != kArrayAll) encode_ctx_unsigned(out, 2, r.array_index);
                       if (r.has_device()) encode_ctx_object_id(out, 3, r.device);
                   },
                   [&](const Destination& d) {
                       put_app_bit_string(out, d.valid_days);
                       put_app_time(out, d.from_time);
                       put_app_time(out, d.to_time);
                       std::visit(Overloaded{
                                      [&](ObjectId id) { encode_ctx_object_id(out, 0, id); },
                                      [&](const RecipientAddress& a) {
                                          encode_opening_tag(out, 1);
                                          encode_app_unsigned(out, a.network);
                                          put_app_octet_string(out, a.mac);
                                          encode_closing_tag(out, 1);
                                      },
                                  },
                                  d.recipient);
                       encode_app_unsigned(out, d.process_identifier);
                       encode_tag(out, tag_of(AppTag::Boolean), false,
                                  d.issue_confirmed_notifications ? 1 : 0);
                       put_app_bit_string(out, d.transitions);
                   },
                   [&](const CalendarEntry& c) {
                       for (const auto& item : c.entries) put_calendar_item(out, item);
                   },
                   [&](const WeeklySchedule& w) {
                       const std::size_t days = w.single_day ? 1 : kDaysPerWeek;
                       for (std::size_t i = 0; i < days; ++i) {
                           encode_opening_tag(out, 0);
                           put_time_values(out, w.days[i]);
                           encode_closing_tag(out, 0);
                       }
                   },
                   [&](const SpecialEvent& e) {
                       std::visit(
                           Overloaded{
                               [&](const CalendarEntry& c) {
                                   // 21: one calendar entry; text input may give a
                                   // longer list, of which the first is meant.
                                   encode_opening_tag(out, 0);
                                   if (!c.entries.empty())
                                       put_calendar_item(out, c.entries.front());
                                   encode_closing_tag(out, 0);
                               },
                               [&](ObjectId calendar) { encode_ctx_object_id(out, 1, calendar); },
                           },
                           e.period);
                       encode_opening_tag(out, 2);
                       put_time_values(out, e.time_values);
                       encode_closing_tag(out, 2);
                       encode_ctx_unsigned(out, 3, e.priority);
                   },
                   [&](const Scale& s) {
                       if (s.is_float) {
                           encode_tag(out, 0, true, 4);
                           out.u32(std::bit_cast<std::uint32_t>(s.float_scale));
                       } else {
                           encode_ctx_signed(out, 1, s.integer_scale);
                       }
                   },
                   [&](const auto& primitive) { put_if_primitive(out, primitive); },
               },
               value.data);
}

std::vector<std::uint8_t> encode_values(std::span<const Value> values) {
    std::vector<std::uint8_t> bytes;
    Writer out(bytes);
    for (const auto& v : values) encode_value(out, v);
    return bytes;
}

int decode_application_value(std::span<const std::uint8_t> data, Value& out) {
    if (data.empty() || data.size() > static_cast<std::size_t>(INT_MAX)) return -1;
    Decoder d{Reader(data)};
    PrimitiveValue p;
    if (!d.primitive(p)) return -1;
    return finish(d, widen(std::move(p)), out);
}

int decode_known_array_property(std::span<const std::uint8_t> data, Value& out,
                                std::uint32_t object_type, std::uint32_t property,
                                std::uint32_t array_index) {
    if (data.empty() || data.size() > static_cast<std::size_t>(INT_MAX)) return -1;
    const int known = known_property_tag(object_type, property);
    Decoder d{Reader(data)};
    const bool application = d.next_is_application();
    if (!application || starts_application_tagged(known)) {
        Decoder probe = d;
        ValueData v;
        if (probe.constructed(known, array_index, v)) return finish(probe, std::move(v), out);
    }
    if (!application) return -1;
    return decode_application_value(data, out);
}

}  // namespace bacstack
