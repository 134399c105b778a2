// The network layer header (NPCI, clause 6.2): version, control, DNET/DADR, SNET/SADR,
// hop count and network-layer message type, in front of every APDU.
#pragma once

#include <cstdint>
#include <span>

#include "bacstack/address.hpp"
#include "bacstack/bytes.hpp"

namespace bacstack {

// 6.2.1: the only protocol version.
inline constexpr std::uint8_t kNpduVersion = 0x01;
// 6.2.3: hop count given to a message leaving with a DNET.
inline constexpr std::uint8_t kInitialHopCount = 255;

enum class MessagePriority : std::uint8_t {
    Normal = 0,
    Urgent = 1,
    CriticalEquipment = 2,
    LifeSafety = 3
};

struct NpduData {
    bool network_layer_message = false;
    std::uint8_t message_type = 0;  // only with network_layer_message
    std::uint16_t vendor_id = 0;    // only for message types 0x80 and up
    bool data_expecting_reply = false;
    MessagePriority priority = MessagePriority::Normal;
    std::uint8_t hop_count = kInitialHopCount;
};

// An application message: expecting a reply or not, normal priority, hop count 255.
NpduData npdu_data_for_apdu(bool data_expecting_reply);

// Writes the NPCI. DNET/DADR when dest has a network number, SNET/SADR when src has a
// network number and a remote address (a node on the local network sends no SNET).
void encode_npdu(Writer& out, const Address* dest, const Address* src, const NpduData& data);

// Reads the NPCI. dest gets net/len/adr from DNET/DLEN/DADR (all 0 without DNET); src
// gets net/len/adr from SNET/SLEN/SADR (all 0 without SNET), its MAC is left alone.
// Fails on a wrong version, truncation, SLEN 0, SNET 0xFFFF, DNET 0 or an address longer
// than we keep; outputs are then untouched.
bool decode_npdu(Reader& in, Address& dest, Address& src, NpduData& data);

// True when the PDU is an application message holding a confirmed request (used by the
// data link to drop confirmed requests that arrive by broadcast).
bool npdu_is_confirmed_request(std::span<const std::uint8_t> npdu);

}  // namespace bacstack
