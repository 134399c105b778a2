#include "bacstack/tag.hpp"

namespace bacstack {

namespace {

constexpr std::uint8_t kExtendedNumber = 0x0F;
constexpr std::uint8_t kContextBit = 0x08;
constexpr std::uint8_t kLvtMask = 0x07;
constexpr std::uint8_t kExtendedLength = 5;
constexpr std::uint8_t kOpening = 6;
constexpr std::uint8_t kClosing = 7;

template <class T, class F>
bool decode_tagged(Reader& in, F&& body, T& out) {
    Reader probe = in;
    T value{};
    if (!body(probe, value)) return false;
    in = probe;
    out = value;
    return true;
}

}  // namespace

bool decode_tag(Reader& in, Tag& out) {
    Reader r = in;
    std::uint8_t first;
    if (!r.read_u8(first)) return false;
    Tag t;
    t.number = first >> 4;
    t.context = (first & kContextBit) != 0;
    if (t.number == kExtendedNumber) {
        if (!r.read_u8(t.number)) return false;
    }
    const std::uint8_t lvt = first & kLvtMask;
    if (t.context && lvt == kOpening) {
        t.kind = Tag::Kind::Opening;
    } else if (t.context && lvt == kClosing) {
        t.kind = Tag::Kind::Closing;
    } else if (!t.context && t.number == static_cast<std::uint8_t>(AppTag::Boolean)) {
        if (lvt > 1) return false;
        t.lvt = lvt;
    } else if (lvt == kExtendedLength) {
        std::uint8_t len8;
        if (!r.read_u8(len8)) return false;
        if (len8 == 254) {
            std::uint16_t len16;
            if (!r.read_u16(len16)) return false;
            t.lvt = len16;
        } else if (len8 == 255) {
            if (!r.read_u32(t.lvt)) return false;
        } else {
            t.lvt = len8;
        }
    } else if (lvt > kExtendedLength) {
        return false;  // application tags cannot open or close
    } else {
        t.lvt = lvt;
    }
    if (t.kind == Tag::Kind::Value && !(!t.context && t.number == 1) && t.lvt > r.remaining()) return false;
    in = r;
    out = t;
    return true;
}

bool peek_tag(const Reader& in, Tag& out) {
    Reader r = in;
    return decode_tag(r, out);
}

void encode_tag(Writer& out, std::uint8_t number, bool context, std::uint32_t lvt) {
    std::uint8_t first = context ? kContextBit : 0;
    first |= static_cast<std::uint8_t>(number <= 14 ? number << 4 : kExtendedNumber << 4);
    if (lvt <= 4) {
        out.u8(static_cast<std::uint8_t>(first | lvt));
    } else {
        out.u8(first | kExtendedLength);
    }
    if (number > 14) out.u8(number);
    if (lvt <= 4) return;
    if (lvt <= 253) {
        out.u8(static_cast<std::uint8_t>(lvt));
    } else if (lvt <= 0xFFFF) {
        out.u8(254);
        out.u16(static_cast<std::uint16_t>(lvt));
    } else {
        out.u8(255);
        out.u32(lvt);
    }
}

void encode_opening_tag(Writer& out, std::uint8_t number) {
    if (number <= 14) {
        out.u8(static_cast<std::uint8_t>(number << 4 | kContextBit | kOpening));
    } else {
        out.u8(static_cast<std::uint8_t>(kExtendedNumber << 4 | kContextBit | kOpening));
        out.u8(number);
    }
}

void encode_closing_tag(Writer& out, std::uint8_t number) {
    if (number <= 14) {
        out.u8(static_cast<std::uint8_t>(number << 4 | kContextBit | kClosing));
    } else {
        out.u8(static_cast<std::uint8_t>(kExtendedNumber << 4 | kContextBit | kClosing));
        out.u8(number);
    }
}

unsigned unsigned_octets(std::uint64_t v) {
    unsigned n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    return n;
}

unsigned signed_octets(std::int64_t v) {
    unsigned n = 1;
    while (n < 8) {
        const std::int64_t lo = -(std::int64_t{1} << (8 * n - 1));
        const std::int64_t hi = (std::int64_t{1} << (8 * n - 1)) - 1;
        if (v >= lo && v <= hi) break;
        ++n;
    }
    return n;
}

void encode_unsigned(Writer& out, std::uint64_t v) { out.uint(v, unsigned_octets(v)); }

void encode_signed(Writer& out, std::int64_t v) {
    out.uint(static_cast<std::uint64_t>(v), signed_octets(v));
}

void encode_object_id(Writer& out, ObjectId id) {
    out.u32(static_cast<std::uint32_t>((id.type & 0x3FFu) << 22 | (id.instance & 0x3FFFFFu)));
}

void encode_app_unsigned(Writer& out, std::uint64_t v) {
    encode_tag(out, static_cast<std::uint8_t>(AppTag::Unsigned), false, unsigned_octets(v));
    encode_unsigned(out, v);
}
void encode_app_signed(Writer& out, std::int64_t v) {
    encode_tag(out, static_cast<std::uint8_t>(AppTag::Signed), false, signed_octets(v));
    encode_signed(out, v);
}
void encode_app_enumerated(Writer& out, std::uint32_t v) {
    encode_tag(out, static_cast<std::uint8_t>(AppTag::Enumerated), false, unsigned_octets(v));
    encode_unsigned(out, v);
}
void encode_app_object_id(Writer& out, ObjectId id) {
    encode_tag(out, static_cast<std::uint8_t>(AppTag::ObjectId), false, 4);
    encode_object_id(out, id);
}
void encode_ctx_unsigned(Writer& out, std::uint8_t tag, std::uint64_t v) {
    encode_tag(out, tag, true, unsigned_octets(v));
    encode_unsigned(out, v);
}
void encode_ctx_signed(Writer& out, std::uint8_t tag, std::int64_t v) {
    encode_tag(out, tag, true, signed_octets(v));
    encode_signed(out, v);
}
void encode_ctx_enumerated(Writer& out, std::uint8_t tag, std::uint32_t v) {
    encode_tag(out, tag, true, unsigned_octets(v));
    encode_unsigned(out, v);
}
void encode_ctx_object_id(Writer& out, std::uint8_t tag, ObjectId id) {
    encode_tag(out, tag, true, 4);
    encode_object_id(out, id);
}

bool decode_unsigned(Reader& in, std::uint32_t len, std::uint64_t& out) {
    if (len == 0 || len > 8) return false;
    return in.read_uint(len, out);
}

bool decode_signed(Reader& in, std::uint32_t len, std::int64_t& out) {
    if (len == 0 || len > 8) return false;
    std::uint64_t raw;
    if (!in.read_uint(len, raw)) return false;
    if (len < 8 && (raw >> (8 * len - 1)) & 1) raw |= ~std::uint64_t{0} << (8 * len);  // sign-extend
    out = static_cast<std::int64_t>(raw);
    return true;
}

bool decode_object_id(Reader& in, std::uint32_t len, ObjectId& out) {
    if (len != 4) return false;
    std::uint32_t raw;
    if (!in.read_u32(raw)) return false;
    out.type = static_cast<std::uint16_t>(raw >> 22);
    out.instance = raw & 0x3FFFFF;
    return true;
}

bool decode_app_unsigned(Reader& in, std::uint64_t& out) {
    return decode_tagged(in, [](Reader& r, std::uint64_t& v) {
        Tag t;
        return decode_tag(r, t) && t.is_application(AppTag::Unsigned) && decode_unsigned(r, t.lvt, v);
    }, out);
}

bool decode_app_enumerated(Reader& in, std::uint32_t& out) {
    return decode_tagged(in, [](Reader& r, std::uint32_t& v) {
        Tag t;
        std::uint64_t wide;
        if (!decode_tag(r, t) || !t.is_application(AppTag::Enumerated) || t.lvt > 4) return false;
        if (!decode_unsigned(r, t.lvt, wide)) return false;
        v = static_cast<std::uint32_t>(wide);
        return true;
    }, out);
}

bool decode_app_object_id(Reader& in, ObjectId& out) {
    return decode_tagged(in, [](Reader& r, ObjectId& v) {
        Tag t;
        return decode_tag(r, t) && t.is_application(AppTag::ObjectId) && decode_object_id(r, t.lvt, v);
    }, out);
}

bool decode_ctx_unsigned(Reader& in, std::uint8_t tag, std::uint64_t& out) {
    return decode_tagged(in, [tag](Reader& r, std::uint64_t& v) {
        Tag t;
        return decode_tag(r, t) && t.is_context(tag) && decode_unsigned(r, t.lvt, v);
    }, out);
}

bool decode_ctx_enumerated(Reader& in, std::uint8_t tag, std::uint32_t& out) {
    return decode_tagged(in, [tag](Reader& r, std::uint32_t& v) {
        Tag t;
        std::uint64_t wide;
        if (!decode_tag(r, t) || !t.is_context(tag) || t.lvt > 4) return false;
        if (!decode_unsigned(r, t.lvt, wide)) return false;
        v = static_cast<std::uint32_t>(wide);
        return true;
    }, out);
}

bool decode_ctx_object_id(Reader& in, std::uint8_t tag, ObjectId& out) {
    return decode_tagged(in, [tag](Reader& r, ObjectId& v) {
        Tag t;
        return decode_tag(r, t) && t.is_context(tag) && decode_object_id(r, t.lvt, v);
    }, out);
}

}  // namespace bacstack
