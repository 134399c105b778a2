// The BACnet/IP frame filter: which datagrams reach the network layer, with which
// source, and how outgoing NPDUs are framed.
#include "bacstack/bip.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "bacstack/memory_transport.hpp"
#include "hex.hpp"

using namespace bacstack;

namespace {

const Endpoint kOwn{0x0A4E000A, 47808};
const Endpoint kBroadcast{0x0A4E00FF, 47808};
const Endpoint kDevice{0x0A4E000B, 47808};

struct Link {
    MemoryTransport* net;
    BipLink link;
    Link() : Link(std::make_unique<MemoryTransport>()) {}
    explicit Link(std::unique_ptr<MemoryTransport> t)
        : net(t.get()), link(std::move(t), kOwn, kBroadcast) {}
    // NPDU handed up for one queued datagram, "" when dropped.
    std::string feed(const std::string& datagram, Endpoint from, bool via_broadcast,
                     Address* src_out = nullptr) {
        net->queue(from, hex(datagram), via_broadcast);
        std::array<std::uint8_t, 1510> pdu{};
        Address src;
        const std::size_t n = link.receive(src, pdu, 0);
        if (src_out) *src_out = src;
        return n == 0 ? "" : to_hex({pdu.begin(), pdu.begin() + static_cast<std::ptrdiff_t>(n)});
    }
};

TEST(BipReceive, WhichDatagramsArePassedUp) {
    const Endpoint self_other_port{kOwn.ip, 47809};
    struct Case {
        const char* name;
        const char* datagram;
        Endpoint from;
        bool via_broadcast;
        const char* npdu;  // "" = dropped
    };
    const Case cases[] = {
        {"unicast", "81 0a 00 08 01 00 10 08", kDevice, false, "01 00 10 08"},
        {"broadcast", "81 0b 00 08 01 00 10 08", kDevice, true, "01 00 10 08"},
        {"broadcast on the unicast socket", "81 0b 00 08 01 00 10 08", kDevice, false,
         "01 00 10 08"},
        {"unicast on the broadcast socket", "81 0a 00 08 01 00 10 08", kDevice, true, ""},
        {"our own broadcast looped back", "81 0b 00 08 01 00 10 08", kOwn, true, ""},
        {"our own unicast", "81 0a 00 08 01 00 10 08", kOwn, false, ""},
        {"same host, other port is not us", "81 0a 00 08 01 00 10 08", self_other_port, false,
         "01 00 10 08"},
        {"forwarded from elsewhere", "81 04 00 0e 0a 4e 00 0b ba c0 01 00 10 08",
         Endpoint{0x0A4E0001, 47808}, true, "01 00 10 08"},
        {"forwarded copy of our own broadcast", "81 04 00 0e 0a 4e 00 0a ba c0 01 00 10 08",
         Endpoint{0x0A4E0001, 47808}, true, ""},
        {"confirmed request by broadcast", "81 0b 00 11 01 04 00 05 01 0c 0c 00 80 00 01 19 55",
         kDevice, true, ""},
        {"confirmed request forwarded (a broadcast)",
         "81 04 00 15 0a 4e 00 0b ba c0 01 04 00 05 01 0c 0c 00 80 00 01", kDevice, true, ""},
        {"confirmed request by unicast", "81 0a 00 0a 01 04 00 05 01 0c", kDevice, false,
         "01 04 00 05 01 0c"},
        {"trailing octets past the BVLC length", "81 0a 00 08 01 00 10 08 ee ee", kDevice, false,
         "01 00 10 08"},
        {"BVLC length beyond the datagram", "81 0a 00 09 01 00 10 08", kDevice, false, ""},
        {"BVLC length below the header", "81 0a 00 03 01 00 10 08", kDevice, false, ""},
        {"not BACnet/IP", "82 0a 00 08 01 00 10 08", kDevice, false, ""},
        {"BVLC result (we are no BBMD)", "81 00 00 06 00 00", kDevice, false, ""},
        {"empty NPDU", "81 0a 00 04", kDevice, false, ""},
        {"forwarded without its address", "81 04 00 08 0a 4e 00 0b", kDevice, false, ""},
        {"three octets", "81 0a 00", kDevice, false, ""},
    };
    for (const Case& c : cases) {
        Link l;
        EXPECT_EQ(l.feed(c.datagram, c.from, c.via_broadcast), to_hex(hex(c.npdu))) << c.name;
    }
}

TEST(BipReceive, SourceIsTheOriginalSenderEvenWhenForwarded) {
    Link l;
    Address src;
    l.feed("81 04 00 0e 0a 4e 00 0b ba c1 01 00 10 08", Endpoint{0x0A4E0001, 47808}, true, &src);
    EXPECT_EQ(src, Address::ipv4(0x0A4E000B, 47809));
    l.feed("81 0a 00 08 01 00 10 08", Endpoint{0x0A4E0015, 47808}, false, &src);
    EXPECT_EQ(to_string(src), "10.78.0.21:47808");
}

TEST(BipReceive, NpduLargerThanTheCallersBufferIsDropped) {
    Link l;
    std::vector<std::uint8_t> big = {0x81, 0x0a, 0x00, 0x00};
    big.resize(4 + 20, 0x01);
    big[3] = static_cast<std::uint8_t>(big.size());
    l.net->queue(kDevice, big);
    std::array<std::uint8_t, 19> small{};
    Address src;
    EXPECT_EQ(l.link.receive(src, small, 0), 0u);
    l.net->queue(kDevice, big);
    std::array<std::uint8_t, 20> exact{};
    EXPECT_EQ(l.link.receive(src, exact, 0), 20u);
}

TEST(BipSend, UnicastBroadcastAndOversize) {
    Link l;
    const auto npdu = hex("01 00 10 08");
    ASSERT_EQ(l.link.send_pdu(Address::ipv4(0x0A4E000B, 47809), npdu), 4);
    EXPECT_EQ(to_hex(l.net->sent.back().bytes), "81 0a 00 08 01 00 10 08");
    EXPECT_EQ(l.net->sent.back().peer, (Endpoint{0x0A4E000B, 47809}));

    // No MAC, a global broadcast, and the subnet broadcast MAC itself all go out as broadcasts.
    Address global = Address::ipv4(0x0A4E000B, 47808);
    global.net = 0xFFFF;
    for (const Address& dest :
         {Address{}, global, l.link.broadcast_address(), Address::ipv4(kBroadcast.ip, 47808)}) {
        ASSERT_EQ(l.link.send_pdu(dest, npdu), 4);
        EXPECT_EQ(to_hex(l.net->sent.back().bytes), "81 0b 00 08 01 00 10 08") << to_string(dest);
        EXPECT_EQ(l.net->sent.back().peer, kBroadcast) << to_string(dest);
    }
    // A routed destination goes to its router's MAC; the DNET is the NPDU's business.
    Address routed = Address::ipv4(0x0A4E000C, 47808);
    routed.net = 5;
    routed.len = 1;
    ASSERT_EQ(l.link.send_pdu(routed, npdu), 4);
    EXPECT_EQ(l.net->sent.back().peer, (Endpoint{0x0A4E000C, 47808}));

    std::vector<std::uint8_t> too_big(kMaxMpdu - kBvlcHeader + 1, 0);
    errno = 0;
    EXPECT_EQ(l.link.send_pdu(Address::ipv4(0x0A4E000B, 47808), too_big), -1);
    EXPECT_EQ(errno, EMSGSIZE);

    l.net->fail_send_errno = ENETUNREACH;
    EXPECT_EQ(l.link.send_pdu(Address::ipv4(0x0A4E000B, 47808), npdu), -1);
    EXPECT_EQ(errno, ENETUNREACH);
}

}  // namespace
