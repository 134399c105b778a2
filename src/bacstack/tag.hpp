// BACnet tag headers and the primitive encodings every service needs (ASHRAE 135
// clause 20.2): unsigned, signed, enumerated and object identifier, application or
// context tagged. The full application-value codec builds on these.
#pragma once

#include <cstdint>

#include "bacstack/bytes.hpp"

namespace bacstack {

// 20.2.1.4: application tag numbers.
enum class AppTag : std::uint8_t {
    Null = 0,
    Boolean = 1,
    Unsigned = 2,
    Signed = 3,
    Real = 4,
    Double = 5,
    OctetString = 6,
    CharacterString = 7,
    BitString = 8,
    Enumerated = 9,
    Date = 10,
    Time = 11,
    ObjectId = 12,
};

struct ObjectId {
    std::uint16_t type = 0;      // 10 bits
    std::uint32_t instance = 0;  // 22 bits
    friend bool operator==(const ObjectId&, const ObjectId&) = default;
};

struct Tag {
    enum class Kind : std::uint8_t { Value, Opening, Closing };
    std::uint8_t number = 0;
    bool context = false;
    Kind kind = Kind::Value;
    // Length of the content octets; for application Boolean the value itself.
    std::uint32_t lvt = 0;

    bool is_opening(std::uint8_t n) const { return context && kind == Kind::Opening && number == n; }
    bool is_closing(std::uint8_t n) const { return context && kind == Kind::Closing && number == n; }
    bool is_context(std::uint8_t n) const { return context && kind == Kind::Value && number == n; }
    bool is_application(AppTag t) const {
        return !context && kind == Kind::Value && number == static_cast<std::uint8_t>(t);
    }
};

// Reads one tag header (20.2.1.1 to 20.2.1.3: extended tag numbers and lengths).
// Fails on truncation, on an application opening/closing tag and, for a value tag other
// than application Boolean, when the length exceeds what remains.
bool decode_tag(Reader& in, Tag& out);
bool peek_tag(const Reader& in, Tag& out);

void encode_tag(Writer& out, std::uint8_t number, bool context, std::uint32_t lvt);
void encode_opening_tag(Writer& out, std::uint8_t number);
void encode_closing_tag(Writer& out, std::uint8_t number);

// Minimal number of content octets (1..8) for an unsigned or a two's-complement signed.
unsigned unsigned_octets(std::uint64_t v);
unsigned signed_octets(std::int64_t v);

// Content octets only (the caller has written the tag).
void encode_unsigned(Writer& out, std::uint64_t v);
void encode_signed(Writer& out, std::int64_t v);
void encode_object_id(Writer& out, ObjectId id);

void encode_app_unsigned(Writer& out, std::uint64_t v);
void encode_app_signed(Writer& out, std::int64_t v);
void encode_app_enumerated(Writer& out, std::uint32_t v);
void encode_app_object_id(Writer& out, ObjectId id);
void encode_ctx_unsigned(Writer& out, std::uint8_t tag, std::uint64_t v);
void encode_ctx_signed(Writer& out, std::uint8_t tag, std::int64_t v);
void encode_ctx_enumerated(Writer& out, std::uint8_t tag, std::uint32_t v);
void encode_ctx_object_id(Writer& out, std::uint8_t tag, ObjectId id);

// Content decoders: `len` octets as given by the tag; fail on lengths the type
// cannot have (0 or more than 8 for integers, other than 4 for object identifiers).
bool decode_unsigned(Reader& in, std::uint32_t len, std::uint64_t& out);
bool decode_signed(Reader& in, std::uint32_t len, std::int64_t& out);
bool decode_object_id(Reader& in, std::uint32_t len, ObjectId& out);

// Tag + content in one step; on failure the reader is left where it was.
bool decode_app_unsigned(Reader& in, std::uint64_t& out);
bool decode_app_enumerated(Reader& in, std::uint32_t& out);
bool decode_app_object_id(Reader& in, ObjectId& out);
bool decode_ctx_unsigned(Reader& in, std::uint8_t tag, std::uint64_t& out);
bool decode_ctx_enumerated(Reader& in, std::uint8_t tag, std::uint32_t& out);
bool decode_ctx_object_id(Reader& in, std::uint8_t tag, ObjectId& out);

}  // namespace bacstack
