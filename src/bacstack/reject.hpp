// Reject PDU (clause 20.1.8): what we answer to a confirmed request we do not serve.
#pragma once

#include <cstdint>

#include "bacstack/bytes.hpp"

namespace bacstack {

// 21: BACnetRejectReason values the layer uses.
inline constexpr std::uint8_t kRejectReasonUnrecognizedService = 9;

// Writes the three-octet Reject APDU; returns its length.
std::size_t encode_reject(Writer& out, std::uint8_t invoke_id, std::uint8_t reason);

}  // namespace bacstack
