// Wire encodings of every request we send, checked against octets worked out by hand
// from the standard, and the decoders against good, truncated and malformed input.
#include <gtest/gtest.h>

#include "bacstack/apdu.hpp"
#include "bacstack/memory_transport.hpp"
#include "bacstack/npdu.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/reject.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/who_is.hpp"
#include "bacstack/write_property.hpp"
#include "hex.hpp"

using namespace bacstack;

namespace {

constexpr std::uint32_t kOwnIp = 0x0A4E000A;      // 10.78.0.10
constexpr std::uint32_t kBroadcast = 0x0A4E00FF;  // 10.78.0.255
constexpr std::uint32_t kDeviceIp = 0x0A4E000B;   // 10.78.0.11
constexpr std::uint32_t kRouterIp = 0x0A4E000C;   // 10.78.0.12

struct Wire {
    Stack stack;
    MemoryTransport* net = nullptr;
    Wire() {
        auto t = std::make_unique<MemoryTransport>();
        net = t.get();
        stack.attach_datalink(std::move(t), Endpoint{kOwnIp, 47808}, Endpoint{kBroadcast, 47808});
        stack.set_diagnostics([](std::string_view) {});
    }
    std::string last() const { return net->sent.empty() ? "" : to_hex(net->sent.back().bytes); }
};

Address routed(std::uint16_t net, std::vector<std::uint8_t> adr) {
    Address a = Address::ipv4(kRouterIp, 47808);
    a.net = net;
    a.len = static_cast<std::uint8_t>(adr.size());
    std::copy(adr.begin(), adr.end(), a.adr.begin());
    return a;
}

TEST(RequestEncoding, WhoIsGoesToEveryNetworkWithOrWithoutRange) {
    struct Case {
        std::int32_t low, high;
        const char* wire;
    };
    const Case cases[] = {
        // BVLC broadcast, NPDU with DNET 0xFFFF DLEN 0 hop 255, unconfirmed Who-Is.
        {-1, -1, "81 0b 00 0c 01 20 ff ff 00 ff 10 08"},
        {1234, 1234, "81 0b 00 12 01 20 ff ff 00 ff 10 08 0a 04 d2 1a 04 d2"},
        {0, 4194303, "81 0b 00 12 01 20 ff ff 00 ff 10 08 09 00 1b 3f ff ff"},
        // A single limit outside the instance range means "no range" (as -1/-1 does).
        {5, -1, "81 0b 00 0c 01 20 ff ff 00 ff 10 08"},
        {0, 4194304, "81 0b 00 0c 01 20 ff ff 00 ff 10 08"},
    };
    for (const Case& c : cases) {
        Wire w;
        ASSERT_TRUE(w.stack.send_who_is(c.low, c.high));
        EXPECT_EQ(w.last(), to_hex(hex(c.wire))) << c.low << ".." << c.high;
        EXPECT_EQ(w.net->sent.back().peer, (Endpoint{kBroadcast, 47808}));
    }
}

TEST(RequestEncoding, IAmAnnouncesOurInstanceAsAnUnsegmentedDevice) {
    Wire w;
    ASSERT_TRUE(w.stack.send_i_am());
    // device,4194303 / max APDU 1476 / no-segmentation / vendor 0
    EXPECT_EQ(
        w.last(),
        to_hex(hex("81 0b 00 18 01 20 ff ff 00 ff 10 00 c4 02 3f ff ff 22 05 c4 91 03 21 00")));
}

TEST(RequestEncoding, ReadPropertyLocalAndRouted) {
    struct Case {
        const char* name;
        Address dest;
        std::uint32_t type, instance, property, index;
        const char* wire;
    };
    const Case cases[] = {
        {"present-value of analog-value 1", Address::ipv4(kDeviceIp, 47808), 2, 1, 85, kArrayAll,
         "81 0a 00 11 01 04 00 05 01 0c 0c 00 80 00 01 19 55"},
        {"object-list with instance -1 (cut to 4194303)", Address::ipv4(kDeviceIp, 47808), 8,
         0xFFFFFFFF, 76, kArrayAll, "81 0a 00 11 01 04 00 05 01 0c 0c 02 3f ff ff 19 4c"},
        {"array index 3 of a property above 255", Address::ipv4(kDeviceIp, 47808), 8, 1234, 371, 3,
         "81 0a 00 14 01 04 00 05 01 0c 0c 02 00 04 d2 1a 01 73 29 03"},
        {"device behind router: DNET 5, DADR 6 octets, hop count 255",
         routed(5, hex("7f 00 00 01 ba c1")), 2, 1, 85, kArrayAll,
         "81 0a 00 1b 01 24 00 05 06 7f 00 00 01 ba c1 ff 00 05 01 0c 0c 00 80 00 01 19 55"},
    };
    for (const Case& c : cases) {
        Wire w;
        w.stack.add_binding(1234, 1476, c.dest);
        EXPECT_EQ(w.stack.send_read_property(1234, c.type, c.instance, c.property, c.index), 1)
            << c.name;
        EXPECT_EQ(w.last(), to_hex(hex(c.wire))) << c.name;
        std::uint32_t ip;
        std::uint16_t port;
        ASSERT_TRUE(c.dest.to_ipv4(ip, port));
        EXPECT_EQ(w.net->sent.back().peer, (Endpoint{ip, port})) << c.name;
    }
}

TEST(RequestEncoding, WritePropertyWithPriorityAndArrayIndex) {
    const auto real_21_5 = hex("44 41 ac 00 00");
    struct Case {
        const char* name;
        std::uint8_t priority;
        std::uint32_t index;
        const char* apdu;
    };
    const Case cases[] = {
        {"priority 16, whole property", 16, kArrayAll,
         "00 05 01 0f 0c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f 49 10"},
        {"no priority, index 2", 0, 2,
         "00 05 01 0f 0c 00 80 00 01 19 55 29 02 3e 44 41 ac 00 00 3f"},
        {"priority 1", 1, kArrayAll, "00 05 01 0f 0c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f 49 01"},
    };
    for (const Case& c : cases) {
        Wire w;
        w.stack.add_binding(1234, 1476, Address::ipv4(kDeviceIp, 47808));
        ASSERT_EQ(w.stack.send_write_property(1234, 2, 1, 85, real_21_5, c.priority, c.index), 1)
            << c.name;
        const auto apdu = hex(c.apdu);
        std::vector<std::uint8_t> expected = {
            0x81, 0x0a, 0x00, static_cast<std::uint8_t>(6 + apdu.size()), 0x01, 0x04};
        expected.insert(expected.end(), apdu.begin(), apdu.end());
        EXPECT_EQ(w.last(), to_hex(expected)) << c.name;
    }
}

TEST(RequestEncoding, RejectAnsweringARoutedRequester) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    const Address to = routed(5, hex("7f 00 00 01 ba c1"));
    encode_npdu(w, &to, nullptr, npdu_data_for_apdu(false));
    EXPECT_EQ(encode_reject(w, 0x2a, kRejectReasonUnrecognizedService), 3u);
    EXPECT_EQ(to_hex(out), to_hex(hex("01 20 00 05 06 7f 00 00 01 ba c1 ff 60 2a 09")));
}

TEST(RequestEncoding, OversizedWriteIsRefusedBeforeAnInvokeIdIsSpent) {
    Wire w;
    w.stack.add_binding(1234, 1476, Address::ipv4(kDeviceIp, 47808));
    // A character string whose request APDU is exactly 1476 octets fits; one more does not.
    // Header 3 + choice 1 + object 5 + property 2 + opening/closing 2 + priority 2 = 15;
    // string tag 3 (extended length 2) + charset 1.
    auto value_of = [](std::size_t chars) {
        std::vector<std::uint8_t> v = {0x75, 0xfe, static_cast<std::uint8_t>((chars + 1) >> 8),
                                       static_cast<std::uint8_t>(chars + 1), 0x00};
        v.insert(v.end(), chars, 'x');
        return v;
    };
    const std::size_t fits = 1476 - 15 - 5;
    EXPECT_EQ(w.stack.send_write_property(1234, 40, 3, 85, value_of(fits), 16, kArrayAll), 1);
    EXPECT_EQ(w.stack.send_write_property(1234, 40, 3, 85, value_of(fits + 1), 16, kArrayAll), 0);
    EXPECT_EQ(w.net->sent.size(), 1u);
    // The refused request did not keep the id it had reserved.
    EXPECT_TRUE(w.stack.invoke_id_free(2));
    // A device that accepts only 50 octets: a 56-octet request is refused, a 50-octet one sent.
    w.stack.add_binding(77, 50, Address::ipv4(kDeviceIp, 47809));
    EXPECT_EQ(w.stack.send_write_property(77, 40, 3, 85, value_of(36), 16, kArrayAll), 0);
    EXPECT_NE(w.stack.send_write_property(77, 40, 3, 85, value_of(30), 16, kArrayAll), 0);
    EXPECT_EQ(w.net->sent.size(), 2u);
}

// --- decoders ------------------------------------------------------------------------------

TEST(NpduDecode, LocalRoutedAndBroadcastHeaders) {
    struct Case {
        const char* name;
        const char* npdu;
        std::uint16_t dnet;
        std::uint8_t dlen;
        std::uint16_t snet;
        const char* sadr;
        bool expecting_reply;
        std::size_t apdu_at;
    };
    const Case cases[] = {
        {"local", "01 00 10 08", 0, 0, 0, "", false, 2},
        {"local, expecting reply, urgent", "01 05 00 05 01 0c", 0, 0, 0, "", true, 2},
        {"from network 5", "01 08 00 05 06 7f 00 00 01 ba c1 10 00", 0, 0, 5, "7f 00 00 01 ba c1",
         false, 11},
        {"global broadcast", "01 20 ff ff 00 ff 10 08", 0xFFFF, 0, 0, "", false, 6},
        {"routed both ways", "01 28 00 07 01 22 00 05 01 09 fe 10 08", 7, 1, 5, "09", false, 11},
    };
    for (const Case& c : cases) {
        const auto bytes = hex(c.npdu);
        Reader r(bytes);
        Address dest, src = Address::ipv4(kRouterIp, 47808);
        NpduData d;
        ASSERT_TRUE(decode_npdu(r, dest, src, d)) << c.name;
        EXPECT_EQ(dest.net, c.dnet) << c.name;
        EXPECT_EQ(dest.len, c.dlen) << c.name;
        EXPECT_EQ(src.net, c.snet) << c.name;
        EXPECT_EQ(to_hex(std::vector<std::uint8_t>(src.adr.begin(), src.adr.begin() + src.len)),
                  to_hex(hex(c.sadr)))
            << c.name;
        EXPECT_EQ(src.mac_len, 6) << "the data-link MAC stays: " << c.name;
        EXPECT_EQ(d.data_expecting_reply, c.expecting_reply) << c.name;
        EXPECT_EQ(r.position(), c.apdu_at) << c.name;
    }
}

TEST(NpduDecode, MalformedHeadersFailAndLeaveOutputsAlone) {
    const char* cases[] = {
        "",                                           // empty
        "02 00 10 08",                                // version 2
        "01 08 00 05 00 10 08",                       // SLEN 0
        "01 08 ff ff 01 05 10 08",                    // SNET 0xFFFF
        "01 20 00 00 00 ff 10 08",                    // DNET 0
        "01 20 00 05 08 01 02 03 04 05 06 07 08 ff",  // DADR longer than we keep
        "01 80",                                      // network message without a type
        "01 80 80 00",                                // proprietary message without the vendor id
    };
    for (const char* c : cases) {
        const auto bytes = hex(c);
        Reader r(bytes);
        Address dest, src;
        dest.net = 42;
        src.net = 43;
        NpduData d;
        d.hop_count = 9;
        EXPECT_FALSE(decode_npdu(r, dest, src, d)) << c;
        EXPECT_EQ(dest.net, 42) << c;
        EXPECT_EQ(src.net, 43) << c;
        EXPECT_EQ(d.hop_count, 9) << c;
        EXPECT_EQ(r.position(), 0u) << c;
    }
    // Truncated at every octet of a full header.
    const auto full = hex("01 28 00 07 01 22 00 05 01 09 fe");
    for (std::size_t n = 0; n < full.size(); ++n) {
        Reader r(std::span<const std::uint8_t>(full.data(), n));
        Address dest, src;
        NpduData d;
        EXPECT_FALSE(decode_npdu(r, dest, src, d)) << "truncated at " << n;
    }
}

TEST(IAmDecode, GoodBoundaryAndBad) {
    IAm out;
    ASSERT_TRUE(decode_i_am(hex("c4 02 00 04 d2 22 05 c4 91 03 22 03 e7"), out));
    EXPECT_EQ(out.device_id, 1234u);
    EXPECT_EQ(out.max_apdu, 1476u);
    EXPECT_EQ(out.segmentation, 3u);
    EXPECT_EQ(out.vendor_id, 999);
    ASSERT_TRUE(decode_i_am(hex("c4 02 3f ff ff 22 ff ff 91 00 22 ff ff"), out));
    EXPECT_EQ(out.device_id, 4194303u);
    EXPECT_EQ(out.max_apdu, 65535u);

    const IAm untouched{7, 8, 1, 9};
    const char* bad[] = {
        "c4 00 80 00 01 22 05 c4 91 03 21 00",        // not a device object
        "c4 02 00 04 d2 23 01 00 00 91 03 21 00",     // max APDU over 16 bits
        "c4 02 00 04 d2 22 05 c4 91 04 21 00",        // segmentation 4 does not exist
        "c4 02 00 04 d2 22 05 c4 91 03 23 01 00 00",  // vendor id over 16 bits
        "c4 02 00 04 d2 22 05 c4 21 03 21 00",        // segmentation as unsigned
        "c3 02 00 04 22 05 c4 91 03 21 00",           // object id of 3 octets
    };
    for (const char* c : bad) {
        out = untouched;
        EXPECT_FALSE(decode_i_am(hex(c), out)) << c;
        EXPECT_EQ(out.device_id, 7u) << c;
    }
    const auto good = hex("c4 02 00 04 d2 22 05 c4 91 03 22 03 e7");
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(decode_i_am(std::span<const std::uint8_t>(good.data(), n), out))
            << "truncated at " << n;
    }
}

TEST(WhoIsDecode, RangeForms) {
    std::optional<WhoIsRange> range = WhoIsRange{1, 2};
    ASSERT_TRUE(decode_who_is({}, range));
    EXPECT_FALSE(range.has_value());
    ASSERT_TRUE(decode_who_is(hex("09 00 1b 3f ff ff"), range));
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->high, 4194303u);
    EXPECT_FALSE(decode_who_is(hex("09 05"), range));              // low without high
    EXPECT_FALSE(decode_who_is(hex("19 05 09 01"), range));        // limits swapped in order
    EXPECT_FALSE(decode_who_is(hex("09 00 1b 40 00 00"), range));  // high beyond 22 bits
}

TEST(ReadPropertyAckDecode, ValueSpanIndexAndFailures) {
    ReadPropertyAck ack;
    const auto present_value = hex("0c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f");
    ASSERT_TRUE(decode_read_property_ack(present_value, ack));
    EXPECT_EQ(ack.object, (ObjectId{2, 1}));
    EXPECT_EQ(ack.property, 85u);
    EXPECT_EQ(ack.array_index, kArrayAll);
    EXPECT_EQ(to_hex({ack.application_data.begin(), ack.application_data.end()}), "44 41 ac 00 00");

    ASSERT_TRUE(decode_read_property_ack(hex("0c 02 00 04 d2 19 4c 29 00 3e 21 05 3f"), ack));
    EXPECT_EQ(ack.array_index, 0u);
    EXPECT_EQ(ack.application_data.size(), 2u);

    ASSERT_TRUE(decode_read_property_ack(hex("0c 02 00 04 d2 19 4c 3e 3f"), ack)) << "empty list";
    EXPECT_TRUE(ack.application_data.empty());

    const ReadPropertyAck before = ack;
    const char* bad[] = {
        "0c 00 80 00 01 19 55 3e 44 41 ac 00 00",                 // no closing tag
        "0c 00 80 00 01 19 55 44 41 ac 00 00 3f",                 // no opening tag
        "0c 00 80 00 01 3e 44 41 ac 00 00 3f",                    // no property
        "1c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f",              // object id under tag 1
        "0c 00 80 00 01 19 55 2d 05 01 02 03 04 05 3e 21 01 3f",  // index of 5 octets
    };
    for (const char* c : bad) {
        EXPECT_FALSE(decode_read_property_ack(hex(c), ack)) << c;
        EXPECT_EQ(ack.property, before.property) << c;
    }
    const auto good = hex("0c 00 80 00 01 19 55 29 02 3e 44 41 ac 00 00 3f");
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(decode_read_property_ack(std::span<const std::uint8_t>(good.data(), n), ack))
            << n;
    }
}

TEST(WritePropertyDecode, RoundTripsWhatWeEncode) {
    const auto value = hex("0e 44 41 ac 00 00 0f 2e 91 01 2f");  // nested constructed data
    std::vector<std::uint8_t> out;
    Writer w(out);
    encode_write_property(w, 9, WritePropertyRequest{ObjectId{17, 3}, 123, 4, value, 16});
    WritePropertyRequest back;
    ASSERT_TRUE(decode_write_property(std::span<const std::uint8_t>(out).subspan(4), back));
    EXPECT_EQ(back.object, (ObjectId{17, 3}));
    EXPECT_EQ(back.property, 123u);
    EXPECT_EQ(back.array_index, 4u);
    EXPECT_EQ(back.priority, 16);
    EXPECT_EQ(to_hex({back.value.begin(), back.value.end()}), to_hex(value));
}

TEST(ErrorDecode, BareAndWrappedForms) {
    std::uint32_t cls = 0, code = 0;
    ASSERT_TRUE(decode_error(hex("91 02 91 20"), cls, code));
    EXPECT_EQ(cls, 2u);
    EXPECT_EQ(code, 32u);
    ASSERT_TRUE(decode_error(hex("0e 91 01 91 1f 0f"), cls, code));
    EXPECT_EQ(code, 31u);
    cls = code = 77;
    EXPECT_FALSE(decode_error(hex("91 02"), cls, code));
    EXPECT_FALSE(decode_error(hex("0e 91 01 91 1f"), cls, code));
    EXPECT_FALSE(decode_error(hex("21 02 21 20"), cls, code));
    EXPECT_EQ(cls, 77u);
}

}  // namespace
