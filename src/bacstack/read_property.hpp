// ReadProperty (clause 15.5): the request and the decoding of its acknowledgement.
#pragma once

#include <cstdint>
#include <span>

#include "bacstack/bytes.hpp"
#include "bacstack/tag.hpp"

namespace bacstack {

struct ReadPropertyRequest {
    ObjectId object;
    std::uint32_t property = 0;
    std::uint32_t array_index = 0xFFFFFFFF;  // kArrayAll: the whole property
};

struct ReadPropertyAck {
    ObjectId object;
    std::uint32_t property = 0;
    std::uint32_t array_index = 0xFFFFFFFF;
    // The application data between the opening and closing tag 3, unparsed; it points
    // into the decoded buffer.
    std::span<const std::uint8_t> application_data;
};

// The whole APDU. Instances wider than 22 bits are cut (-1 becomes 4194303).
void encode_read_property(Writer& out, std::uint8_t invoke_id, const ReadPropertyRequest& request);
// Service data of a Complex-ACK; fails (leaving `out` untouched) when a tag is missing or
// wrong or the value is not closed by tag 3 as the last octet.
bool decode_read_property_ack(std::span<const std::uint8_t> service, ReadPropertyAck& out);
// Service data of a request (the fuzzer's round trip and the test peers use it).
bool decode_read_property(std::span<const std::uint8_t> service, ReadPropertyRequest& out);

}  // namespace bacstack
