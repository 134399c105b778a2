// BACnet/IP data link (BVLL, Annex J) over a Transport: wraps outgoing NPDUs in
// Original-Unicast/Broadcast-NPDU and unwraps the NPDUs that are for us.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "bacstack/address.hpp"
#include "bacstack/limits.hpp"
#include "bacstack/transport.hpp"

namespace bacstack {

// Annex J.2: BVLC type for BACnet/IP and the functions the link understands.
inline constexpr std::uint8_t kBvlcTypeBip = 0x81;
enum class BvlcFunction : std::uint8_t {
    Result = 0x00,
    ForwardedNpdu = 0x04,
    OriginalUnicastNpdu = 0x0A,
    OriginalBroadcastNpdu = 0x0B,
};

class BipLink {
  public:
    BipLink(std::unique_ptr<Transport> transport, Endpoint own, Endpoint broadcast);

    // Octets of the NPDU handed to the network, or -1 with errno (EMSGSIZE when it cannot
    // fit a frame). A destination without a 6-octet MAC, or with DNET 0xFFFF, goes out as
    // Original-Broadcast-NPDU to the subnet broadcast address and our own port.
    int send_pdu(const Address& dest, std::span<const std::uint8_t> npdu);

    // Waits at most wait_ms for one datagram. Returns the length of the NPDU copied to the
    // start of `pdu` and fills src's MAC (net/len/adr cleared), or 0 when nothing usable
    // came: no datagram, not BVLC, our own packet, a unicast on the broadcast socket,
    // a confirmed request by broadcast, or an NPDU longer than `pdu`.
    std::size_t receive(Address& src, std::span<std::uint8_t> pdu, unsigned wait_ms);

    // The filter of receive() on one datagram already read; what the fuzzer drives.
    std::size_t accept(const Received& meta, std::span<const std::uint8_t> datagram, Address& src,
                       std::span<std::uint8_t> pdu) const;

    Address my_address() const { return Address::ipv4(own_.ip, own_.port); }
    // The global broadcast: subnet broadcast MAC with DNET 0xFFFF.
    Address broadcast_address() const;
    const Endpoint& own() const { return own_; }
    Transport& transport() { return *transport_; }

  private:
    std::unique_ptr<Transport> transport_;
    Endpoint own_;
    Endpoint broadcast_;
    std::vector<std::uint8_t> frame_;
    std::array<std::uint8_t, 2048> rx_{};
};

}  // namespace bacstack
