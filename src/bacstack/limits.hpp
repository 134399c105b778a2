// Protocol limits of BACnet (ASHRAE 135) that the layer relies on, named once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bacstack {

// 20.1.2.5 / Annex J: largest APDU on BACnet/IP without segmentation.
inline constexpr std::size_t kMaxApdu = 1476;
// 6.2: NPCI of at most 1 + 1 + 2 + 1 + 6/7 + 2 + 1 + 7 + 1 octets; rounded as the wire allows.
inline constexpr std::size_t kMaxNpci = 21;
// Annex J.2: BVLC header of an Original-Unicast/Broadcast-NPDU; a Forwarded-NPDU adds 6.
inline constexpr std::size_t kBvlcHeader = 4;
inline constexpr std::size_t kBvlcForwardedHeader = 10;
// Largest UDP payload the data link accepts and the receive buffer it uses.
inline constexpr std::size_t kMaxMpdu = 1497;
inline constexpr std::size_t kReceiveBuffer = 1510;

// 12.11.x / 20.2.14: object instances are 22 bits wide; 4194303 is "no instance" / wildcard.
inline constexpr std::uint32_t kMaxInstance = 0x3FFFFF;
// 20.2.14: object types are 10 bits wide.
inline constexpr std::uint32_t kMaxObjectType = 0x3FF;
// 21: property identifiers are 22 bits wide in an object property reference; BACNET_ARRAY_ALL.
inline constexpr std::uint32_t kArrayAll = 0xFFFFFFFF;
// 20.1.2.2: invoke ids are one octet.
inline constexpr unsigned kInvokeIdCount = 256;
// Address octets kept for a MAC or a remote (DADR/SADR) address.
inline constexpr std::size_t kMaxMacLen = 7;
// 21: "no property" marker used by the answer records.
inline constexpr std::uint32_t kNoProperty = 16777215;
// Nesting of constructed data accepted by the decoders (opening tags inside opening tags).
inline constexpr int kMaxNesting = 8;

}  // namespace bacstack
