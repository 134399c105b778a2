// The BACnet/IP client against independent simulated devices on a private test LAN:
// discovery, reads of every data type, writes, error answers, timing of silent and slow
// devices, devices on other addresses and behind a router, and a capture judged by tshark.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <thread>

#include "bacnet/transaction.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/who_is.hpp"
#include "lan_test.hpp"

using namespace bacstack;
using namespace testlan;
using nlohmann::json;

namespace {

std::string hex_of(std::span<const std::uint8_t> bytes) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += d[b >> 4];
        s += d[b & 15];
    }
    return s;
}

// Timing of one transaction wait, in milliseconds (the engine's settings).
struct Timing {
    long timeout = 3000;      // binding wait
    long timeout_tsm = 3000;  // time before the transaction timer is stepped
    long delay = 100;         // receive wait and step size
};

struct Outcome {
    enum Kind {
        Pending,
        Ack,
        SimpleAck,
        Error,
        Reject,
        Abort,
        TsmTimeout,
        ApduTimeout
    } kind = Pending;
    std::string data;  // application data of an ACK (hex), or "class:code" / reason
    std::chrono::milliseconds elapsed{};
};

// A client in the client namespace, with handlers that keep what the transaction in flight
// gets, matched the way the engine matches (sender or invoke id).
class Client {
  public:
    explicit Client(const Lan& lan, LinkSettings settings = {}) : ns_(lan.client()) {
        if (!ns_.ok()) {
            error = "cannot enter " + lan.client();
            return;
        }
        if (!stack.open_datalink(settings, error)) return;
        stack.set_diagnostics([this](std::string_view m) { diagnostics.emplace_back(m); });
        stack.set_unconfirmed_handler(service::kWhoIs, stack.who_is_handler());
        stack.set_unconfirmed_handler(service::kIAm, [this](auto service, const Address& src) {
            IAm i_am;
            if (!decode_i_am(service, i_am)) return;
            i_ams[i_am.device_id] = {src, i_am};
            stack.add_binding(i_am.device_id, i_am.max_apdu, src);
        });
        stack.set_confirmed_ack_handler(service::kReadProperty,
                                        [this](auto service, const Address& src, auto& d) {
                                            if (!matches(src, d.invoke_id)) return;
                                            ReadPropertyAck ack;
                                            if (!decode_read_property_ack(service, ack)) return;
                                            set(Outcome::Ack, hex_of(ack.application_data));
                                        });
        stack.set_confirmed_simple_ack_handler(service::kWriteProperty,
                                               [this](const Address& src, std::uint8_t id) {
                                                   if (matches(src, id))
                                                       set(Outcome::SimpleAck, "");
                                               });
        auto on_error = [this](const Address& src, std::uint8_t id, std::uint32_t cls,
                               std::uint32_t code) {
            if (src == ctx_.request.target_address && id == ctx_.request.invoke_id)
                set(Outcome::Error, std::to_string(cls) + ":" + std::to_string(code));
        };
        stack.set_error_handler(service::kReadProperty, on_error);
        stack.set_error_handler(service::kWriteProperty, on_error);
        stack.set_reject_handler([this](const Address& src, std::uint8_t id, std::uint8_t reason) {
            if (src == ctx_.request.target_address && id == ctx_.request.invoke_id)
                set(Outcome::Reject, std::to_string(reason));
        });
        stack.set_abort_handler(
            [this](const Address& src, std::uint8_t id, std::uint8_t reason, bool) {
                if (src == ctx_.request.target_address && id == ctx_.request.invoke_id)
                    set(Outcome::Abort, std::to_string(reason));
            });
        ready = true;
    }

    // Receives and handles packets for `ms`.
    void listen(long ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) pump(20);
    }

    Outcome read(std::uint32_t device, std::uint32_t type, std::uint32_t instance,
                 std::uint32_t property, Timing timing = {}, std::uint32_t index = kArrayAll) {
        return transaction(device, timing, [&] {
            return stack.send_read_property(device, type, instance, property, index);
        });
    }
    Outcome write(std::uint32_t device, std::uint32_t type, std::uint32_t instance,
                  std::uint32_t property, std::vector<std::uint8_t> value, Timing timing = {}) {
        return transaction(device, timing, [&] {
            return stack.send_write_property(device, type, instance, property, value, 16,
                                             kArrayAll);
        });
    }

    Stack stack;
    bool ready = false;
    std::string error;
    std::vector<std::string> diagnostics;
    std::map<std::uint32_t, std::pair<Address, IAm>> i_ams;

  private:
    bool matches(const Address& src, std::uint8_t id) const {
        return src == ctx_.request.target_address || id == ctx_.request.invoke_id;
    }
    void set(Outcome::Kind k, std::string data) {
        outcome_.kind = k;
        outcome_.data = std::move(data);
    }
    bool pump(long wait_ms) {
        Address sender;
        const std::size_t n = stack.receive(sender, rx_, static_cast<unsigned>(wait_ms));
        if (n > 0) stack.npdu_handler(sender, std::span<const std::uint8_t>(rx_.data(), n));
        return n > 0;
    }

    // The engine's transaction wait, with this client's timings.
    Outcome transaction(std::uint32_t device, Timing timing,
                        const std::function<std::uint8_t()>& send) {
        outcome_ = {};
        const auto d16 = static_cast<std::uint16_t>(timing.delay);
        const bacnet::WaitTimings timings{timing.timeout, timing.timeout_tsm, d16, d16,
                                          static_cast<unsigned>(timing.delay)};
        const auto start = std::chrono::steady_clock::now();
        switch (bacnet::wait_transaction(stack, ctx_, device, timings, send)) {
            case bacnet::TransactionEnd::Completed:
                break;
            case bacnet::TransactionEnd::TsmFailed:
                outcome_.kind = Outcome::TsmTimeout;
                break;
            case bacnet::TransactionEnd::NotBound:
            case bacnet::TransactionEnd::Refused:
                outcome_.kind = Outcome::ApduTimeout;
                break;
        }
        outcome_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return outcome_;
    }

    InNamespace ns_;
    bacnet::TransactionContext ctx_;
    Outcome outcome_;
    std::array<std::uint8_t, kReceiveBuffer> rx_{};
};

class BacnetLan : public LanTest {
  protected:
    static json device(std::uint32_t instance, const std::string& iface = "0.0.0.0") {
        return json{{"instance", instance},
                    {"name", "dev-" + std::to_string(instance)},
                    {"interface", iface},
                    {"port", 47808},
                    {"broadcastAddress", "10.78.0.255"},
                    {"iAm", "broadcast"},
                    {"objects",
                     json::array({json{
                         {"id", "ANALOG_VALUE:1"},
                         {"props", {{"PRESENT_VALUE", {{"type", "REAL"}, {"value", 21.5}}}}}}})}};
    }
    static json one_device(std::uint32_t instance) {
        return json{{"maxRunSeconds", 120}, {"devices", {device(instance)}}};
    }

};

const char* kReal21_5 = "44 41 ac 00 00";

TEST_F(BacnetLan, DiscoveryByBroadcastAndByRange) {
    Simulator a(*lan_, 'A', Simulator::load_config("device1234.json"));
    Simulator b(*lan_, 'B', one_device(7002));
    ASSERT_TRUE(a.ready() && b.ready());
    // No BACNET_IFACE: the interface of the client's default route.
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    EXPECT_EQ(to_string(c.stack.my_address()), "10.78.0.10:47808");

    ASSERT_TRUE(c.stack.send_who_is(-1, -1));
    c.listen(1500);
    ASSERT_EQ(c.i_ams.size(), 2u);
    EXPECT_EQ(to_string(c.i_ams.at(1234).first), "10.78.0.11:47808");
    EXPECT_EQ(c.i_ams.at(1234).second.max_apdu, 1476u);
    EXPECT_EQ(c.i_ams.at(1234).second.vendor_id, 999);
    EXPECT_EQ(to_string(c.i_ams.at(7002).first), "10.78.0.12:47808");
    EXPECT_EQ(a.events("whoIs").at(0).count("lowLimit"), 0u) << "no range sent";

    c.i_ams.clear();
    ASSERT_TRUE(c.stack.send_who_is(7002, 7002));
    c.listen(1000);
    ASSERT_EQ(c.i_ams.size(), 1u);
    EXPECT_EQ(c.i_ams.count(7002), 1u);
    const auto ranged = a.events("whoIs", {{"lowLimit", 7002}, {"highLimit", 7002}});
    EXPECT_EQ(ranged.size(), 1u) << "device 1234 saw the range and kept quiet";
}

TEST_F(BacnetLan, DefaultRouteIsTakenFromTheCallingThreadsNamespace) {
    // A thread other than the process leader moves into the client namespace, whose default
    // route is moved to an interface name the root namespace does not have: the interface
    // must come from that namespace's routes, not from the leader's.
    const std::string cli = lan_->client();
    // A veth pair kept inside the namespace: the kernel may have no dummy interfaces.
    ASSERT_EQ(run({"ip", "-n", cli, "link", "add", "qltdflt0", "type", "veth", "peer", "name",
                   "qltdflt1"}),
              0);
    run({"ip", "-n", cli, "link", "set", "qltdflt1", "up"});
    run({"ip", "-n", cli, "addr", "add", "10.78.0.99/32", "dev", "qltdflt0"});
    run({"ip", "-n", cli, "link", "set", "qltdflt0", "up"});
    run({"ip", "-n", cli, "route", "replace", "default", "dev", "qltdflt0"});
    std::string address, error;
    std::thread t([&] {
        InNamespace ns(cli);
        if (!ns.ok()) return;
        Stack stack;
        if (stack.open_datalink(LinkSettings{}, error)) address = to_string(stack.my_address());
    });
    t.join();
    run({"ip", "-n", cli, "route", "replace", "default", "via", "10.78.0.1", "dev", "eth0",
         "onlink"});
    run({"ip", "-n", cli, "link", "del", "qltdflt0"});
    EXPECT_EQ(address, "10.78.0.99:47808") << error;
}

TEST_F(BacnetLan, ReadOfEachDataType) {
    Simulator a(*lan_, 'A', Simulator::load_config("device1234.json"));
    ASSERT_TRUE(a.ready());
    LinkSettings s;
    s.iface = "eth0";
    Client c(*lan_, s);
    ASSERT_TRUE(c.ready) << c.error;
    c.stack.send_who_is(1234, 1234);
    c.listen(800);

    auto char_string = [](std::uint8_t charset, std::vector<std::uint8_t> text) {
        std::vector<std::uint8_t> v;
        const std::size_t len = text.size() + 1;
        if (len <= 4) {
            v.push_back(static_cast<std::uint8_t>(0x70 | len));
        } else {
            v = {0x75, static_cast<std::uint8_t>(len)};
        }
        v.push_back(charset);
        v.insert(v.end(), text.begin(), text.end());
        return hex_of(v);
    };
    const std::string utf8 = "Привет, мир! Ёжик";
    std::vector<std::uint8_t> ucs2;
    for (std::uint16_t u :
         {0x41F, 0x440, 0x438, 0x432, 0x435, 0x442, 0x20, 0x55, 0x43, 0x53, 0x2D, 0x32}) {
        ucs2.push_back(static_cast<std::uint8_t>(u >> 8));
        ucs2.push_back(static_cast<std::uint8_t>(u));
    }
    const double big = 1.234567890123e100;
    std::uint64_t bits;
    std::memcpy(&bits, &big, 8);
    std::vector<std::uint8_t> dbl = {0x55, 0x08};
    for (int i = 7; i >= 0; --i) dbl.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));

    struct Case {
        const char* what;
        std::uint32_t type, instance, property;
        std::string data;
    };
    const Case cases[] = {
        {"real", 2, 1, 85, kReal21_5},
        {"enumerated", 3, 2, 85, "91 01"},
        {"boolean", 3, 2, 81, "10"},
        {"bit string of 4 bits", 3, 2, 111, "82 04 40"},
        {"character string UTF-8", 40, 3, 85, char_string(0, {utf8.begin(), utf8.end()})},
        {"character string UCS-2", 40, 4, 85, char_string(4, ucs2)},
        {"character string ISO 8859-1", 40, 5, 85, char_string(5, {'G', 'r', 0xFC, 0xDF, 'e'})},
        {"signed", 45, 6, 85, "33 fe 1d c0"},
        {"unsigned", 48, 7, 85, "24 ee 6b 28 00"},
        {"double", 46, 8, 85, hex_of(dbl)},
        {"octet string", 47, 9, 85, "65 05 de ad be ef 00"},
        {"bit string of 9 bits", 39, 10, 85, "83 07 b0 80"},
        {"date", 42, 11, 85, "a4 7c 02 1d 04"},
        {"date with wildcards", 42, 12, 85, "a4 ff 0c 19 ff"},
        {"time", 50, 13, 85, "b4 0d 2d 1e 19"},
        {"date-time", 44, 14, 85, "a4 7c 05 01 03 b4 08 1e 00 00"},
        {"object identifier", 2, 1, 75, "c4 00 80 00 01"},
        {"device object by the wildcard instance", 8, 4194303, 75, "c4 02 00 04 d2"},
        {
            "list element by index",
            8,
            1234,
            76,
            "c4 02 00 04 d2",
        },
    };
    for (const Case& k : cases) {
        const std::uint32_t index = std::string(k.what) == "list element by index" ? 1 : kArrayAll;
        const Outcome o = c.read(1234, k.type, k.instance, k.property, Timing{}, index);
        EXPECT_EQ(o.kind, Outcome::Ack) << k.what << " " << o.data;
        EXPECT_EQ(o.data, k.data) << k.what;
    }
    // Constructed values arrive whole between the tags: a weekly schedule of 7 days.
    const Outcome weekly = c.read(1234, 17, 15, 123);
    ASSERT_EQ(weekly.kind, Outcome::Ack);
    EXPECT_EQ(weekly.data.substr(0, 2), "0e");
    EXPECT_EQ(weekly.data.substr(weekly.data.size() - 2), "0f");
}

TEST_F(BacnetLan, WriteAcknowledgedAndWriteRefused) {
    Simulator a(*lan_, 'A', Simulator::load_config("device1234.json"));
    ASSERT_TRUE(a.ready());
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    // No I-Am yet: the write's own directed Who-Is binds the device.
    const Outcome ok = c.write(1234, 2, 1, 85, {0x44, 0x42, 0x29, 0x00, 0x00});  // REAL 42.25
    EXPECT_EQ(ok.kind, Outcome::SimpleAck);
    ASSERT_TRUE(a.wait_event("writeProperty", {{"device", 1234}}, 2s));
    const json w = a.events("writeProperty").at(0);
    EXPECT_EQ(w["priority"], 16);
    EXPECT_EQ(w["rawHex"],
              "810a001a0104000501" + std::string("0f0c00800001195") + "53e44422900003f4910")
        << "the simulator saw exactly our request";
    EXPECT_EQ(c.read(1234, 2, 1, 85).data, "44 42 29 00 00");

    const Outcome denied = c.write(1234, 3, 2, 85, {0x91, 0x00});
    EXPECT_EQ(denied.kind, Outcome::Error);
    EXPECT_EQ(denied.data, "2:40") << "property / write-access-denied";
    EXPECT_EQ(c.write(1234, 2, 1, 85, {0x21, 0x05}).data, "2:9") << "property / invalid-data-type";
}

TEST_F(BacnetLan, ErrorRejectAndAbortAnswersEndTheTransaction) {
    Simulator a(*lan_, 'A', Simulator::load_config("device1234.json"));
    ASSERT_TRUE(a.ready());
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    struct Case {
        const char* what;
        json fault;  // rule for present-value of analog-value 1, or null
        std::uint32_t type, instance, property;
        Outcome::Kind kind;
        const char* data;
    };
    const Case cases[] = {
        {"unknown property", nullptr, 2, 1, 4000, Outcome::Error, "2:32"},
        {"unknown object", nullptr, 2, 99, 85, Outcome::Error, "1:31"},
        {"reject",
         {{"action", "reject"}, {"reason", "INVALID_TAG"}},
         2,
         1,
         85,
         Outcome::Reject,
         "4"},
        {"abort",
         {{"action", "abort"}, {"reason", "SEGMENTATION_NOT_SUPPORTED"}},
         2,
         1,
         85,
         Outcome::Abort,
         "4"},
        {"error by rule",
         {{"action", "error"}, {"errorClass", "DEVICE"}, {"errorCode", "OPERATIONAL_PROBLEM"}},
         2,
         1,
         85,
         Outcome::Error,
         "0:25"},
    };
    for (const Case& k : cases) {
        if (!k.fault.is_null()) {
            json rule = k.fault;
            rule["service"] = "readProperty";
            rule["obj"] = "ANALOG_VALUE:1";
            rule["count"] = 1;
            ASSERT_TRUE(a.command({{"cmd", "fault"}, {"rule", rule}}));
        }
        const Outcome o = c.read(1234, k.type, k.instance, k.property);
        EXPECT_EQ(o.kind, k.kind) << k.what;
        EXPECT_EQ(o.data, k.data) << k.what;
        EXPECT_LT(o.elapsed, 2s) << "ended by the answer, not by a timeout: " << k.what;
    }
}

TEST_F(BacnetLan, SilentDeviceIsSentFourTimesThenTimesOut) {
    Simulator a(*lan_, 'A', one_device(1234));
    ASSERT_TRUE(a.ready());
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    ASSERT_TRUE(
        a.command({{"cmd", "fault"}, {"rule", {{"service", "readProperty"}, {"action", "drop"}}}}));
    const Timing timing{3000, 300, 200};
    const Outcome o = c.read(1234, 2, 1, 85, timing);
    EXPECT_EQ(o.kind, Outcome::TsmTimeout);
    // timeout_tsm, then four stepping passes of up to `delay` each (the first pass may
    // also wait for the binding).
    EXPECT_GE(o.elapsed, 300ms);
    EXPECT_LT(o.elapsed, 3000ms);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(a.events("readProperty").size(), 4u) << "one request and three resends";
    EXPECT_EQ(a.events("fault", {{"action", "drop"}}).size(), 4u);

    // An unbound device that nobody answers for: APDU timeout, one directed Who-Is.
    const Outcome unbound = c.read(4321, 2, 1, 85, Timing{600, 3000, 100});
    EXPECT_EQ(unbound.kind, Outcome::ApduTimeout);
    EXPECT_GE(unbound.elapsed, 600ms);
    EXPECT_EQ(a.events("whoIs", {{"lowLimit", 4321}, {"highLimit", 4321}}).size(), 1u);
}

TEST_F(BacnetLan, DelayedAnswerIsTakenWithinTheTransaction) {
    Simulator a(*lan_, 'A', one_device(1234));
    ASSERT_TRUE(a.ready());
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    c.stack.send_who_is(1234, 1234);
    c.listen(500);
    ASSERT_TRUE(a.command(
        {{"cmd", "fault"},
         {"rule",
          {{"service", "readProperty"}, {"action", "delay"}, {"ms", 1200}, {"count", 1}}}}));
    const Outcome o = c.read(1234, 2, 1, 85, Timing{3000, 3000, 100});
    EXPECT_EQ(o.kind, Outcome::Ack);
    EXPECT_EQ(o.data, kReal21_5);
    EXPECT_GE(o.elapsed, 1200ms);
    EXPECT_EQ(a.events("readProperty").size(), 1u) << "no resend before the timer is stepped";
}

TEST_F(BacnetLan, DevicesOnAnotherAddressAndBehindARouter) {
    // Two devices in one process on the two addresses of namespace A.
    Simulator a(*lan_, 'A', Simulator::load_config("two-devices.json"));
    // Device 5005 on network 5 (127.0.0.1:47809 inside namespace C), reached through the
    // simulator's router at 10.78.0.13.
    json behind = device(5005, "127.0.0.1");
    behind["port"] = 47809;
    behind["broadcastAddress"] = "127.255.255.255";
    behind["iAm"] = "unicast";
    Simulator r(*lan_, 'C',
                json{{"maxRunSeconds", 120},
                     {"devices", {behind}},
                     {"routers",
                      {{{"port", 47808},
                        {"broadcastAddress", "10.78.0.255"},
                        {"localNetwork", 1},
                        {"remoteNetwork", 5},
                        {"remotes", {"127.0.0.1:47809"}}}}}});
    ASSERT_TRUE(a.ready() && r.ready());
    Client c(*lan_);
    ASSERT_TRUE(c.ready) << c.error;
    c.stack.send_who_is(-1, -1);
    c.listen(1500);
    ASSERT_EQ(c.i_ams.count(2001), 1u);
    ASSERT_EQ(c.i_ams.count(2002), 1u);
    ASSERT_EQ(c.i_ams.count(5005), 1u);
    EXPECT_EQ(to_string(c.i_ams[2001].first), "10.78.0.11:47808");
    EXPECT_EQ(to_string(c.i_ams[2002].first), "10.78.0.21:47808");
    EXPECT_EQ(to_string(c.i_ams[5005].first), "10.78.0.13:47808/5:7F000001BAC1");

    for (std::uint32_t d : {2001u, 2002u}) {
        const Outcome o = c.read(d, 8, d, 77);
        EXPECT_EQ(o.kind, Outcome::Ack) << d;
        EXPECT_EQ(a.events("readProperty", {{"device", d}}).size(), 1u)
            << "request reached device " << d;
    }
    const Outcome routed = c.read(5005, 2, 1, 85);
    EXPECT_EQ(routed.kind, Outcome::Ack);
    EXPECT_EQ(routed.data, kReal21_5);
    EXPECT_EQ(r.events("routed", {{"dir", "toRemote"}, {"dnet", 5}, {"dlen", 6}}).size(), 1u)
        << "our request carried DNET 5 and the device's SADR";
    // An error from behind the router is matched to the routed binding too.
    const Outcome error = c.read(5005, 2, 1, 4000);
    EXPECT_EQ(error.kind, Outcome::Error);
    EXPECT_EQ(error.data, "2:32");
}

TEST_F(BacnetLan, CaptureOfASessionHasNoMalformedPackets) {
    if (const std::string missing = missing_tshark(); !missing.empty()) GTEST_SKIP() << missing;
    Capture cap(*lan_);
    ASSERT_TRUE(cap.started());
    {
        Simulator a(*lan_, 'A', Simulator::load_config("device1234.json"));
        ASSERT_TRUE(a.ready());
        Client c(*lan_);
        ASSERT_TRUE(c.ready) << c.error;
        c.stack.send_who_is(-1, -1);
        c.listen(800);
        for (std::uint32_t type_instance : {1u, 3u, 6u, 8u, 11u, 14u}) {
            static const std::uint32_t types[] = {0,  2,  3,  40, 40, 40, 45, 48,
                                                  46, 47, 39, 42, 42, 50, 44};
            EXPECT_EQ(c.read(1234, types[type_instance], type_instance, 85).kind, Outcome::Ack)
                << type_instance;
        }
        EXPECT_EQ(c.read(1234, 8, 1234, 76).kind, Outcome::Ack);
        EXPECT_EQ(c.read(1234, 17, 15, 123).kind, Outcome::Ack);
        EXPECT_EQ(c.write(1234, 2, 1, 85, {0x44, 0x41, 0xb4, 0x00, 0x00}).kind,
                  Outcome::SimpleAck);  // 22.5
        EXPECT_EQ(c.read(1234, 2, 1, 4000).kind, Outcome::Error);
    }
    cap.stop();
    EXPECT_EQ(cap.count("_ws.malformed || _ws.expert.severity >= \"Warning\""), 0) << cap.decode();
    // An independent decoder reads our requests as we meant them.
    EXPECT_EQ(
        cap.count(
            "bacapp.unconfirmed_service == 8 && bvlc.function == 0x0b && bacnet.dnet == 0xffff"),
        1);
    EXPECT_GE(
        cap.count("bacapp.type == 0 && bacapp.confirmed_service == 12 && ip.src == 10.78.0.10"), 9);
    EXPECT_EQ(cap.count("bacapp.type == 0 && bacapp.confirmed_service == 15 && "
                        "bacapp.present_value.real == 22.5"),
              1);
    EXPECT_EQ(cap.count("bacapp.type == 2 && bacapp.confirmed_service == 15"), 1);
}

}  // namespace
