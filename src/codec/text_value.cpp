#include "codec/text_value.hpp"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "bacstack/value_parse.hpp"

namespace codec {

namespace {

using namespace bacstack;
using nlohmann::json;

// Reads the members of one JSON form. A member of a type that cannot be read marks the
// whole conversion as failed; the caller checks `failed` once at the end.
struct FormReader {
    bool failed = false;

    // The number as its low-order bits: integers as they are (two's complement for
    // negatives), floating numbers truncated toward zero first, booleans as 1 and 0
    // unless `numbers_only`.
    std::uint64_t bits(const json& j, bool numbers_only = false) {
        switch (j.type()) {
            case json::value_t::number_unsigned:
                return j.get<std::uint64_t>();
            case json::value_t::number_integer:
                return static_cast<std::uint64_t>(j.get<std::int64_t>());
            case json::value_t::number_float:
                return truncated(j.get<double>());
            case json::value_t::boolean:
                if (!numbers_only) return j.get<bool>() ? 1 : 0;
                break;
            default:
                break;
        }
        failed = true;
        return 0;
    }

    static std::uint64_t truncated(double d) {
        const double t = std::trunc(d);
        constexpr double k2p63 = 9223372036854775808.0;
        if (t >= -k2p63 && t < k2p63)
            return static_cast<std::uint64_t>(static_cast<std::int64_t>(t));
        if (t >= k2p63 && t < 2 * k2p63) return static_cast<std::uint64_t>(t);
        return 0;  // beyond 64 bits: nothing meaningful is left of it
    }

    template <class T>
    void member(const json& obj, const char* name, T& field, bool numbers_only = false) {
        if (const auto it = obj.find(name); it != obj.end())
            field = static_cast<T>(bits(*it, numbers_only));
    }

    // Years go to the form the encoder takes: 1900 and later as years since 1900,
    // 0..255 as they are, anything else unspecified.
    static std::uint16_t stored_year(std::uint16_t year) {
        if (year >= kYearBase)
            return static_cast<std::uint16_t>(std::min<int>(year - kYearBase, kUnspecified));
        if (year > 255) return kUnspecified;
        return year;
    }

    Date date(const json& j) {
        Date d;
        if (!j.is_object()) return d;
        member(j, "day", d.day);
        member(j, "month", d.month);
        member(j, "wday", d.wday);
        member(j, "year", d.year);
        d.year = stored_year(d.year);
        return d;
    }

    Time time(const json& j) {
        Time t;
        if (!j.is_object()) return t;
        member(j, "hour", t.hour);
        member(j, "min", t.min);
        member(j, "sec", t.sec);
        member(j, "hundredths", t.hundredths);
        return t;
    }

    DateRange date_range(const json& j) {
        DateRange r;
        if (!j.is_object()) return r;
        if (auto it = j.find("start_date"); it != j.end()) r.start_date = date(*it);
        if (auto it = j.find("end_date"); it != j.end()) r.end_date = date(*it);
        return r;
    }

    WeekNDay week_n_day(const json& j) {
        WeekNDay w;
        if (!j.is_object()) return w;
        member(j, "day_of_week", w.day_of_week);
        member(j, "month", w.month);
        member(j, "week_of_month", w.week_of_month);
        return w;
    }

    ObjectId object_id(const json& j) {
        ObjectId id;
        if (!j.is_object()) return id;
        member(j, "type", id.type, true);
        member(j, "instance", id.instance);
        return id;
    }

    // Only non-negative integers are taken; anything else leaves the field 0.
    template <class T>
    static void lenient(const json& obj, const char* name, T& field) {
        if (const auto it = obj.find(name); it != obj.end() && it->is_number_unsigned())
            field = static_cast<T>(it->get<std::uint64_t>());
    }

    DateTime date_time(const json& j) {
        DateTime dt;
        if (!j.is_object()) return dt;
        if (auto d = j.find("date"); d != j.end() && d->is_object()) {
            lenient(*d, "day", dt.date.day);
            lenient(*d, "month", dt.date.month);
            lenient(*d, "wday", dt.date.wday);
            lenient(*d, "year", dt.date.year);
            dt.date.year = stored_year(dt.date.year);
        }
        if (auto t = j.find("time"); t != j.end() && t->is_object()) {
            lenient(*t, "hour", dt.time.hour);
            lenient(*t, "min", dt.time.min);
            lenient(*t, "sec", dt.time.sec);
            lenient(*t, "hundredths", dt.time.hundredths);
        }
        return dt;
    }

    TimeValue time_value(const json& j) {
        TimeValue tv;
        if (!j.is_object()) return tv;
        tv.time = time(j);
        const auto tag_it = j.find("tag");
        if (tag_it == j.end()) return tv;
        const std::uint64_t tag = bits(*tag_it);
        // A value of a tag that is not primitive cannot be written in a schedule.
        if (failed || !zero_primitive(tag, tv.value)) {
            failed = true;
            return tv;
        }
        const auto v = j.find("value");
        if (v == j.end()) return tv;
        switch (tag) {
            case 1:
                if (v->is_boolean()) tv.value = v->get<bool>();
                break;
            case 2:
                if (v->is_number_unsigned())
                    tv.value = std::uint64_t{static_cast<std::uint32_t>(v->get<std::uint64_t>())};
                break;
            case 3:
                if (v->is_number_integer()) tv.value = static_cast<std::int32_t>(bits(*v));
                break;
            case 4:
                if (v->is_number_float()) tv.value = static_cast<float>(v->get<double>());
                break;
            case 5:
                if (v->is_number()) tv.value = v->get<double>();
                break;
            case 9:
                if (v->is_number_unsigned())
                    tv.value = Enumerated{static_cast<std::uint32_t>(v->get<std::uint64_t>())};
                break;
            default:
                break;
        }
        return tv;
    }

    // Arrays by element, objects by member value in name order, null as nothing, any
    // other value as itself.
    static std::vector<const json*> collection(const json& j) {
        std::vector<const json*> out;
        if (j.is_array() || j.is_object()) {
            for (const auto& e : j) out.push_back(&e);
        } else if (!j.is_null()) {
            out.push_back(&j);
        }
        return out;
    }

    std::vector<TimeValue> time_values(const json& j) {
        std::vector<TimeValue> out;
        for (const json* e : collection(j)) {
            if (out.size() == kMaxTimeValues) break;
            out.push_back(time_value(*e));
        }
        return out;
    }

    WeeklySchedule weekly_schedule(const json& j) {
        WeeklySchedule w;
        if (!j.is_object()) return w;
        if (auto it = j.find("single_day"); it != j.end()) {
            if (it->is_boolean()) {
                w.single_day = it->get<bool>();
            } else {
                failed = true;
            }
        }
        if (auto it = j.find("days_schedule"); it != j.end()) {
            std::size_t day = 0;
            for (const json* e : collection(*it)) {
                if (day == kDaysPerWeek) break;
                if (e->is_object()) {
                    if (auto tvs = e->find("time_values"); tvs != e->end())
                        w.days[day] = time_values(*tvs);
                }
                ++day;
            }
        }
        return w;
    }

    SpecialEvent special_event(const json& j) {
        SpecialEvent e;
        e.period = CalendarEntry{};
        if (!j.is_object()) return e;
        member(j, "priority", e.priority);
        CalendarEntry period;
        period.entries.clear();
        if (auto it = j.find("date_range"); it != j.end()) {
            for (const json* p : collection(*it)) period.entries.emplace_back(date_range(*p));
        } else if (auto d = j.find("date"); d != j.end()) {
            for (const json* p : collection(*d)) period.entries.emplace_back(date(*p));
        } else if (auto w = j.find("week_n_day"); w != j.end()) {
            for (const json* p : collection(*w)) period.entries.emplace_back(week_n_day(*p));
        }
        if (!period.entries.empty()) e.period = std::move(period);
        if (auto it = j.find("exceptions"); it != j.end()) e.time_values = time_values(*it);
        return e;
    }

    CalendarEntry calendar_entry(const json& j) {
        CalendarEntry c;
        c.entries.clear();
        for (const json* e : collection(j)) {
            CalendarEntryItem item;  // a date of zeros unless the element says otherwise
            if (e->is_object()) {
                if (auto r = e->find("date_range"); r != e->end()) {
                    item = date_range(*r);
                } else if (auto d = e->find("date"); d != e->end()) {
                    item = date(*d);
                } else if (auto w = e->find("week_n_day"); w != e->end()) {
                    item = week_n_day(*w);
                }
            }
            c.entries.push_back(item);
        }
        if (c.entries.empty()) c.entries.emplace_back();
        return c;
    }

    DeviceObjectPropertyReference reference(const json& j) {
        DeviceObjectPropertyReference r;
        r.array_index = 0;
        r.device = ObjectId{};
        if (!j.is_object()) return r;
        member(j, "array_index", r.array_index, true);
        if (auto it = j.find("object_identifier"); it != j.end()) r.object = object_id(*it);
        member(j, "property_identifier", r.property, true);
        if (auto it = j.find("device_identifier"); it != j.end()) r.device = object_id(*it);
        return r;
    }

    std::vector<Value> references(const json& j) {
        std::vector<Value> out;
        for (const json* e : collection(j)) out.push_back(Value{reference(*e)});
        if (out.empty()) out.push_back(Value{Null{}});
        return out;
    }
};

// The form names in the order they are looked for; the first present decides.
std::optional<std::vector<Value>> from_form(const json& object, FormReader& r) {
    if (auto it = object.find("weekly_schedule"); it != object.end())
        return std::vector{Value{r.weekly_schedule(*it)}};
    if (auto it = object.find("date_range"); it != object.end())
        return std::vector{Value{r.date_range(*it)}};
    if (auto it = object.find("date"); it != object.end()) return std::vector{Value{r.date(*it)}};
    if (auto it = object.find("time"); it != object.end()) return std::vector{Value{r.time(*it)}};
    if (auto it = object.find("special_event"); it != object.end())
        return std::vector{Value{r.special_event(*it)}};
    if (auto it = object.find("device_object_property_reference"); it != object.end())
        return r.references(*it);
    if (auto it = object.find("calendar_entry"); it != object.end())
        return std::vector{Value{r.calendar_entry(*it)}};
    if (auto it = object.find("datetime"); it != object.end())
        return std::vector{Value{r.date_time(*it)}};
    return std::nullopt;
}

TextToValueResult failure(std::string_view text) {
    return TextToValueResult{{}, std::string(text)};
}

}  // namespace

TextToValueResult textToValue(std::uint32_t tag, std::string_view payload) {
    // Strict: one JSON value, nothing but white space after it, no comments.
    const json parsed = json::parse(payload, nullptr, false, false);
    if (parsed.is_object()) {
        FormReader reader;
        auto values = from_form(parsed, reader);
        if (!values || reader.failed) return failure(kValueInputError);
        return TextToValueResult{std::move(*values), {}};
    }
    Value value;
    if (!parse_application_data(tag, payload, value)) return failure(kParseValueError);
    return TextToValueResult{{std::move(value)}, {}};
}

}  // namespace codec
