// The client as the engine drives it, over the in-memory network: handlers, invoke-id
// release, routing, Who-Is answers and the transaction wait with stepped time.
#include "bacstack/stack.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "bacstack/memory_transport.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/reject.hpp"
#include "bacstack/who_is.hpp"
#include "hex.hpp"

using namespace bacstack;

namespace {

const Endpoint kOwn{0x0A4E000A, 47808};
const Endpoint kBroadcast{0x0A4E00FF, 47808};
const Endpoint kDevice{0x0A4E000B, 47808};
const Endpoint kRouter{0x0A4E000C, 47808};

struct Client {
    std::chrono::steady_clock::time_point now{};
    Stack stack{[this] { return now; }};
    MemoryTransport* net;
    std::vector<std::string> diagnostics;
    std::array<std::uint8_t, kReceiveBuffer> rx{};

    Client() {
        auto t = std::make_unique<MemoryTransport>();
        net = t.get();
        stack.attach_datalink(std::move(t), kOwn, kBroadcast);
        stack.set_diagnostics([this](std::string_view m) { diagnostics.emplace_back(m); });
    }
    // Queues one datagram and runs it through receive and the NPDU handler.
    void deliver(const std::string& datagram, Endpoint from = kDevice, bool via_broadcast = false) {
        net->queue(from, hex(datagram), via_broadcast);
        pump();
    }
    // One pass of a waiting loop.
    bool pump(unsigned wait_ms = 0) {
        Address src;
        const std::size_t n = stack.receive(src, rx, wait_ms);
        if (n > 0) stack.npdu_handler(src, std::span<const std::uint8_t>(rx.data(), n));
        return n > 0;
    }
    std::string sent(std::size_t i) const { return to_hex(net->sent.at(i).bytes); }
};

TEST(Dispatch, AnswersReachTheirHandlerAndReleaseTheInvokeIdAfterIt) {
    struct Case {
        const char* name;
        const char* apdu;  // answer to invoke id 1
        const char* expect;
    };
    const Case cases[] = {
        {"complex ack", "30 01 0c 0c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f",
         "ack 85 44 41 ac 00 00"},
        {"error", "50 01 0c 91 02 91 20", "error 2 32"},
        {"reject", "60 01 09", "reject 9"},
        {"abort from the server", "71 01 0a", "abort 10 server"},
        {"abort from a client", "70 01 04", "abort 4 client"},
        {"unreadable error still ends it", "50 01 0c 91", ""},
    };
    for (const Case& c : cases) {
        Client cl;
        cl.stack.add_binding(1234, 1476, Address::ipv4(kDevice.ip, kDevice.port));
        const std::uint8_t id = cl.stack.send_read_property(1234, 2, 1, 85, kArrayAll);
        ASSERT_EQ(id, 1);
        std::string seen;
        bool free_inside = true;
        cl.stack.set_confirmed_ack_handler(
            service::kReadProperty, [&](auto service, const Address& src, auto& d) {
                ReadPropertyAck ack;
                ASSERT_TRUE(decode_read_property_ack(service, ack));
                seen = "ack " + std::to_string(ack.property) + " " +
                       to_hex({ack.application_data.begin(), ack.application_data.end()});
                EXPECT_EQ(src, Address::ipv4(kDevice.ip, kDevice.port));
                EXPECT_EQ(d.invoke_id, 1);
                free_inside = cl.stack.invoke_id_free(id);
            });
        cl.stack.set_error_handler(
            service::kReadProperty,
            [&](const Address&, std::uint8_t, std::uint32_t cls, std::uint32_t code) {
                seen = "error " + std::to_string(cls) + " " + std::to_string(code);
                free_inside = cl.stack.invoke_id_free(id);
            });
        cl.stack.set_reject_handler([&](const Address&, std::uint8_t, std::uint8_t reason) {
            seen = "reject " + std::to_string(reason);
            free_inside = cl.stack.invoke_id_free(id);
        });
        cl.stack.set_abort_handler(
            [&](const Address&, std::uint8_t, std::uint8_t reason, bool server) {
                seen = "abort " + std::to_string(reason) + (server ? " server" : " client");
                free_inside = cl.stack.invoke_id_free(id);
            });
        const auto apdu = hex(c.apdu);
        std::vector<std::uint8_t> frame = {
            0x81, 0x0a, 0x00, static_cast<std::uint8_t>(6 + apdu.size()), 0x01, 0x00};
        frame.insert(frame.end(), apdu.begin(), apdu.end());
        cl.deliver(to_hex(frame));
        EXPECT_EQ(seen, c.expect) << c.name;
        if (*c.expect) {
            EXPECT_FALSE(free_inside) << "handler runs before the release: " << c.name;
        }
        EXPECT_TRUE(cl.stack.invoke_id_free(id)) << c.name;
    }
}

TEST(Dispatch, SimpleAckEndsOnlyServicesAcknowledgedThatWay) {
    Client cl;
    cl.stack.add_binding(1234, 1476, Address::ipv4(kDevice.ip, kDevice.port));
    const std::uint8_t value[] = {0x91, 0x01};
    const std::uint8_t write = cl.stack.send_write_property(1234, 4, 2, 85, value, 16, kArrayAll);
    const std::uint8_t read = cl.stack.send_read_property(1234, 4, 2, 85, kArrayAll);
    int acks = 0;
    cl.stack.set_confirmed_simple_ack_handler(service::kWriteProperty,
                                              [&](const Address&, std::uint8_t id) {
                                                  EXPECT_EQ(id, write);
                                                  ++acks;
                                              });
    cl.deliver("81 0a 00 09 01 00 20 02 0c");  // a Simple-ACK "for ReadProperty": meaningless
    EXPECT_FALSE(cl.stack.invoke_id_free(read));
    cl.deliver("81 0a 00 09 01 00 20 01 0f");
    EXPECT_EQ(acks, 1);
    EXPECT_TRUE(cl.stack.invoke_id_free(write));
}

TEST(Dispatch, AckWithAForeignInvokeIdStillReachesTheHandler) {
    // Matching answers to the transaction in flight is the handlers' business (they
    // compare sender and invoke id); the dispatcher only releases that id.
    Client cl;
    int calls = 0;
    cl.stack.set_confirmed_ack_handler(service::kReadProperty, [&](auto, auto&, auto& d) {
        EXPECT_EQ(d.invoke_id, 99);
        ++calls;
    });
    cl.deliver("81 0a 00 17 01 00 30 63 0c 0c 00 80 00 01 19 55 3e 44 41 ac 00 00 3f");
    EXPECT_EQ(calls, 1);
}

TEST(Dispatch, ConfirmedRequestsToUs) {
    Client cl;
    std::vector<std::string> seen;
    cl.stack.set_unrecognized_service_handler(
        [&](auto service, const Address& src, const ConfirmedServiceData& d) {
            seen.push_back("unrecognized " + std::to_string(d.service_choice) + " id " +
                           std::to_string(d.invoke_id) + " from " + to_string(src) + " data " +
                           to_hex({service.begin(), service.end()}));
        });
    cl.stack.set_confirmed_handler(20, [&](auto, const Address&, const ConfirmedServiceData& d) {
        seen.push_back("reinitialize id " + std::to_string(d.invoke_id));
    });
    cl.deliver("81 0a 00 11 01 04 00 05 07 0c 0c 02 00 00 01 19 4d");  // ReadProperty, no handler
    cl.deliver("81 0a 00 0c 01 04 00 05 08 14 09 00", kRouter);  // reinitialize-device, handled
    cl.deliver("81 0a 00 0e 01 04 08 05 09 00 04 0c 0c 02", kDevice);  // segmented: dropped
    cl.deliver("81 0b 00 11 01 04 00 05 0a 0c 0c 02 00 00 01 19 4d", kDevice,
               true);  // by broadcast: dropped
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "unrecognized 12 id 7 from 10.78.0.11:47808 data 0c 02 00 00 01 19 4d");
    EXPECT_EQ(seen[1], "reinitialize id 8");
}

TEST(Dispatch, NetworkLayerMessagesAndOtherNetworksAreIgnored) {
    Client cl;
    int i_ams = 0;
    cl.stack.set_unconfirmed_handler(service::kIAm, [&](auto, auto&) { ++i_ams; });
    const std::string i_am = "10 00 c4 02 00 04 d2 22 05 c4 91 03 21 00";
    cl.deliver("81 0a 00 09 01 80 01 00 05");        // I-Am-Router-To-Network
    cl.deliver("81 0a 00 0b 01 80 80 01 04 00 05");  // proprietary network message
    cl.deliver("81 0b 00 18 01 20 00 07 00 ff " + i_am, kDevice, true);  // for network 7
    EXPECT_EQ(i_ams, 0);
    cl.deliver("81 0b 00 18 01 20 ff ff 00 ff " + i_am, kDevice, true);  // global broadcast
    cl.deliver("81 0b 00 14 01 00 " + i_am, kDevice, true);
    EXPECT_EQ(i_ams, 2);
}

TEST(WhoIs, OurInstanceAnswersWhenInRange) {
    struct Case {
        const char* who_is;  // service data
        bool answered;
    };
    const Case cases[] = {
        {"", true},
        {"09 00 1b 3f ff ff", true},
        {"0b 3f ff ff 1b 3f ff ff", true},
        {"09 00 1b 3f ff fe", false},
        {"0a 04 d2 1a 04 d2", false},
        {"09 05", false},  // malformed: not answered
    };
    for (const Case& c : cases) {
        Client cl;
        cl.stack.set_unconfirmed_handler(service::kWhoIs, cl.stack.who_is_handler());
        const auto data = hex(c.who_is);
        std::vector<std::uint8_t> frame = {
            0x81, 0x0b, 0x00, static_cast<std::uint8_t>(8 + data.size()), 0x01, 0x00, 0x10, 0x08};
        frame.insert(frame.end(), data.begin(), data.end());
        cl.deliver(to_hex(frame), kDevice, true);
        ASSERT_EQ(cl.net->sent.size(), c.answered ? 1u : 0u) << c.who_is;
        if (c.answered) {
            EXPECT_EQ(cl.sent(0),
                      "81 0b 00 18 01 20 ff ff 00 ff 10 00 c4 02 3f ff ff 22 05 c4 91 03 21 00");
        }
    }
}

TEST(Routing, RoutedIAmBindsTheRemoteAddressAndRequestsCarryIt) {
    Client cl;
    std::optional<Address> from;
    cl.stack.set_unconfirmed_handler(service::kIAm, [&](auto service, const Address& src) {
        IAm i_am;
        ASSERT_TRUE(decode_i_am(service, i_am));
        cl.stack.add_binding(i_am.device_id, i_am.max_apdu, src);
        from = src;
    });
    // I-Am of device 5005 on network 5 (SADR 7f 00 00 01 ba c1), relayed by the router.
    cl.deliver(
        "81 0b 00 1d 01 08 00 05 06 7f 00 00 01 ba c1 10 00 c4 02 00 13 8d 22 01 e0 91 03 21 07",
        kRouter, true);
    ASSERT_TRUE(from.has_value());
    EXPECT_EQ(to_string(*from), "10.78.0.12:47808/5:7F000001BAC1");
    unsigned max_apdu = 0;
    Address bound;
    ASSERT_TRUE(cl.stack.bind_request(5005, max_apdu, bound));
    EXPECT_EQ(max_apdu, 480u);
    EXPECT_EQ(bound, *from);
    ASSERT_EQ(cl.stack.send_read_property(5005, 8, 5005, 77, kArrayAll), 1);
    EXPECT_EQ(cl.net->sent.back().peer, kRouter);
    EXPECT_EQ(cl.sent(0),
              "81 0a 00 1b 01 24 00 05 06 7f 00 00 01 ba c1 ff 00 05 01 0c 0c 02 00 13 8d 19 4d");

    // The answer comes back through the router with the same SNET/SADR and matches the binding.
    std::optional<Address> answered_by;
    cl.stack.set_confirmed_ack_handler(service::kReadProperty,
                                       [&](auto, const Address& src, auto&) { answered_by = src; });
    cl.deliver(
        "81 0a 00 1e 01 08 00 05 06 7f 00 00 01 ba c1 30 01 0c 0c 02 00 13 8d 19 4d 3e 75 01 00 3f",
        kRouter);
    ASSERT_TRUE(answered_by.has_value());
    EXPECT_EQ(*answered_by, bound);
    EXPECT_TRUE(cl.stack.invoke_id_free(1));
}

TEST(Routing, SourceWithoutSnetLosesAnyEarlierRouting) {
    // The caller's sender record is reused from packet to packet.
    Client cl;
    Address src = Address::ipv4(kRouter.ip, kRouter.port);
    src.net = 5;
    src.len = 1;
    const auto pdu = hex("01 00 10 08");
    cl.stack.npdu_handler(src, pdu);
    EXPECT_EQ(src.net, 0);
    EXPECT_EQ(src.len, 0);
}

// The wait of a ReadProperty transaction as the engine runs it: bind, send once,
// step the TSM by `delay` on every pass once `timeout_tsm` has passed, receive.
struct WaitResult {
    enum Outcome { Ended, TsmTimeout, NotBound } outcome;
    int passes = 0;
};
WaitResult wait_like_the_engine(Client& cl, std::uint32_t device, std::uint16_t delay,
                                int passes_before_stepping,
                                const std::function<void(int pass)>& each_pass = {}) {
    std::uint8_t invoke_id = 0;
    cl.stack.apdu_timeout_set(delay);
    for (int pass = 0; pass < 1000; ++pass) {
        if (each_pass) each_pass(pass);
        if (pass >= passes_before_stepping) cl.stack.timer_milliseconds(delay);
        unsigned max_apdu;
        Address target;
        if (!cl.stack.bind_request(device, max_apdu, target))
            return {WaitResult::NotBound, pass + 1};
        if (invoke_id == 0) {
            invoke_id = cl.stack.send_read_property(device, 2, 1, 85, kArrayAll);
        } else if (cl.stack.invoke_id_free(invoke_id)) {
            return {WaitResult::Ended, pass + 1};
        } else if (cl.stack.invoke_id_failed(invoke_id)) {
            cl.stack.free_invoke_id(invoke_id);
            return {WaitResult::TsmTimeout, pass + 1};
        }
        cl.pump(delay);
    }
    return {WaitResult::NotBound, -1};
}

TEST(TransactionWait, SilentDeviceIsSentFourTimesThenFails) {
    Client cl;
    cl.stack.add_binding(1234, 1476, Address::ipv4(kDevice.ip, kDevice.port));
    const WaitResult r = wait_like_the_engine(cl, 1234, 100, 3);
    EXPECT_EQ(r.outcome, WaitResult::TsmTimeout);
    EXPECT_EQ(cl.net->sent.size(), 4u);
    for (std::size_t i = 1; i < cl.net->sent.size(); ++i)
        EXPECT_EQ(cl.sent(i), cl.sent(0)) << "resend " << i;
    // Three passes before stepping, then four stepping passes: the last marks it failed.
    EXPECT_EQ(r.passes, 3 + 4);
    EXPECT_TRUE(cl.stack.invoke_id_free(1));
}

TEST(TransactionWait, LateAnswerAfterAResendEndsTheTransaction) {
    Client cl;
    cl.stack.add_binding(1234, 1476, Address::ipv4(kDevice.ip, kDevice.port));
    bool answered = false;
    cl.stack.set_confirmed_ack_handler(service::kReadProperty,
                                       [&](auto, auto&, auto&) { answered = true; });
    const WaitResult r = wait_like_the_engine(cl, 1234, 100, 0, [&](int pass) {
        if (pass == 2)
            cl.net->queue(kDevice,
                          hex("81 0a 00 14 01 00 30 01 0c 0c 00 80 00 01 19 55 3e 21 05 3f"));
    });
    EXPECT_EQ(r.outcome, WaitResult::Ended);
    EXPECT_TRUE(answered);
    EXPECT_EQ(cl.net->sent.size(), 3u) << "first send and two resends before the answer";
}

TEST(TransactionWait, SendFailureKeepsTheIdAndTheResendsTryAgain) {
    Client cl;
    cl.stack.add_binding(1234, 1476, Address::ipv4(kDevice.ip, kDevice.port));
    cl.net->fail_send_errno = ENETUNREACH;
    const std::uint8_t id = cl.stack.send_read_property(1234, 2, 1, 85, kArrayAll);
    EXPECT_EQ(id, 1);
    ASSERT_EQ(cl.diagnostics.size(), 1u);
    EXPECT_EQ(cl.diagnostics[0], "Failed to Send ReadProperty Request (Network is unreachable)");
    cl.net->fail_send_errno = 0;
    cl.stack.timer_milliseconds(3000);
    EXPECT_EQ(cl.net->sent.size(), 1u) << "the resend got through";
}

TEST(TransactionWait, NothingIsSentWithoutABinding) {
    Client cl;
    EXPECT_EQ(cl.stack.send_read_property(1234, 2, 1, 85, kArrayAll), 0);
    EXPECT_TRUE(cl.net->sent.empty());
    EXPECT_TRUE(cl.stack.invoke_id_free(1));
}

TEST(AddressCache, BindingsFromIAmExpireAfterADayStaticOnesDoNot) {
    Client cl;
    const Address a = Address::ipv4(kDevice.ip, kDevice.port);
    cl.stack.add_binding(1, 1476, a);
    unsigned max_apdu;
    Address out;
    cl.now += std::chrono::seconds(86399);
    EXPECT_TRUE(cl.stack.bind_request(1, max_apdu, out));
    cl.now += std::chrono::seconds(1);
    EXPECT_FALSE(cl.stack.bind_request(1, max_apdu, out));

    const std::string path = ::testing::TempDir() + "address_cache";
    std::ofstream(path) << "; device mac snet sadr max-apdu\n"
                           "1234 0A:4E:00:0B:BA:C0 0 0 1476\n"
                           "5005 0A:4E:00:0C:BA:C0 5 7F:00:00:01:BA:C1 480  # behind the router\n"
                           "garbage line\n"
                           "77 zz 0 0 50\n";
    cl.stack.address_init(path);
    EXPECT_EQ(cl.stack.address_cache().size(), 2u);
    cl.now += std::chrono::hours(24 * 365);
    ASSERT_TRUE(cl.stack.bind_request(5005, max_apdu, out));
    EXPECT_EQ(to_string(out), "10.78.0.12:47808/5:7F000001BAC1");
    EXPECT_EQ(max_apdu, 480u);
    cl.stack.add_binding(1234, 50, Address::ipv4(1, 2));
    ASSERT_TRUE(cl.stack.bind_request(1234, max_apdu, out));
    EXPECT_EQ(max_apdu, 1476u) << "an I-Am does not override a static binding";
    cl.stack.address_init("");
    EXPECT_EQ(cl.stack.address_cache().size(), 0u);
}

TEST(AddressCache, FullCacheDropsTheOldestDynamicBinding) {
    Client cl;
    for (std::uint32_t d = 0; d < kAddressCacheSize; ++d) {
        cl.now += std::chrono::seconds(1);
        cl.stack.add_binding(d, 1476, Address::ipv4(d, 47808));
    }
    cl.stack.add_binding(1000, 1476, Address::ipv4(1000, 47808));
    unsigned m;
    Address out;
    EXPECT_FALSE(cl.stack.bind_request(0, m, out));
    EXPECT_TRUE(cl.stack.bind_request(1, m, out));
    EXPECT_TRUE(cl.stack.bind_request(1000, m, out));
}

}  // namespace
