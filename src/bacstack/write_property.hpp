// WriteProperty (clause 15.9): the request around value octets encoded by the caller.
#pragma once

#include <cstdint>
#include <span>

#include "bacstack/bytes.hpp"
#include "bacstack/tag.hpp"

namespace bacstack {

// 19.2: command priorities run 1..16; 0 means "no priority" and is not sent.
inline constexpr std::uint8_t kNoPriority = 0;
inline constexpr std::uint8_t kLowestPriority = 16;

struct WritePropertyRequest {
    ObjectId object;
    std::uint32_t property = 0;
    std::uint32_t array_index = 0xFFFFFFFF;
    std::span<const std::uint8_t> value;  // complete application-tagged data
    std::uint8_t priority = kNoPriority;
};

// The whole APDU.
void encode_write_property(Writer& out, std::uint8_t invoke_id,
                           const WritePropertyRequest& request);
// Service data of a request (test peers and the fuzzer); `value` points into `service`.
bool decode_write_property(std::span<const std::uint8_t> service, WritePropertyRequest& out);

}  // namespace bacstack
