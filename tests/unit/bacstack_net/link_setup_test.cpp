// Opening the data link: environment parsing, default route, and the messages a failed
// open gives (through socket calls made to fail on purpose), plus one real open on lo.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "bacstack/environment.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/udp_transport.hpp"

using namespace bacstack;

namespace {

Getenv env(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const char* name) -> const char* {
        auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
}

TEST(LinkEnvironment, DefaultsAndCFormNumbersCutToWidth) {
    LinkSettings s;
    std::string error;
    ASSERT_TRUE(read_link_environment(env({}), s, error));
    EXPECT_EQ(s.iface, "");
    EXPECT_EQ(s.port, 47808);
    EXPECT_FALSE(s.broadcast_bind.has_value());
    EXPECT_EQ(s.apdu_timeout, 3000);
    EXPECT_EQ(s.apdu_retries, 3);
    EXPECT_EQ(s.first_invoke_id, 1);

    ASSERT_TRUE(read_link_environment(env({{"BACNET_DATALINK", "bip"},
                                           {"BACNET_IFACE", "eth1"},
                                           {"BACNET_IP_PORT", "0xBAC1"},
                                           {"BACNET_IP_BROADCAST_BIND_ADDR", "0.0.0.0"},
                                           {"BACNET_APDU_TIMEOUT", "70000"},
                                           {"BACNET_APDU_RETRIES", "257"},
                                           {"BACNET_INVOKE_ID", "256"}}),
                                      s, error));
    EXPECT_EQ(s.iface, "eth1");
    EXPECT_EQ(s.port, 47809);
    EXPECT_EQ(s.broadcast_bind, 0u);
    EXPECT_EQ(s.apdu_timeout, 70000 - 65536);
    EXPECT_EQ(s.apdu_retries, 1);
    EXPECT_EQ(s.first_invoke_id, 1) << "256 cuts to 0, which means 1";

    ASSERT_TRUE(read_link_environment(
        env({{"BACNET_IP_BROADCAST_BIND_ADDR", "not an address"}, {"BACNET_APDU_TIMEOUT", "010"}}),
        s, error));
    EXPECT_EQ(s.broadcast_bind, 0xFFFFFFFFu);
    EXPECT_EQ(s.apdu_timeout, 8) << "leading zero: octal";
}

TEST(LinkEnvironment, OnlyBacnetIpIsAccepted) {
    for (const char* link : {"bip6", "mstp", "BIP", "ethernet"}) {
        LinkSettings s;
        std::string error;
        EXPECT_FALSE(read_link_environment(env({{"BACNET_DATALINK", link}}), s, error)) << link;
        EXPECT_NE(error.find(std::string("\"") + link + "\""), std::string::npos) << error;
        EXPECT_NE(error.find("\"bip\""), std::string::npos) << error;
    }
}

TEST(LinkEnvironment, DefaultRouteInterfaceFromTheRouteTable) {
    const std::string path = ::testing::TempDir() + "route";
    std::ofstream(path)
        << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
           "eth1\t004E0A0A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
           "wlan0\t00000000\t0100A8C0\t0002\t0\t0\t600\t00000000\t0\t0\t0\n"  // down
           "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    EXPECT_EQ(default_route_interface(path), "eth0");
    std::ofstream(path) << "Iface\tDestination\tGateway\n";
    EXPECT_EQ(default_route_interface(path), "");
    EXPECT_EQ(default_route_interface(::testing::TempDir() + "no-such-file"), "");
}

TEST(LinkOpen, FromTheEnvironmentReportsOnStandardErrorAndReturnsFalse) {
    // What the daemon prints before it exits with status 1.
    struct Case {
        std::map<std::string, std::string> vars;
        const char* message;
    };
    const Case cases[] = {
        {{{"BACNET_DATALINK", "bip6"}},
         "BACNET_DATALINK=\"bip6\" is not supported: the only data link is \"bip\" (BACnet/IP)\n"},
        {{{"BACNET_IFACE", "qltnosuch0"}},
         "BACnet/IP: cannot open the data link on interface qltnosuch0: no such interface\n"},
    };
    for (const Case& c : cases) {
        for (const auto& [k, v] : c.vars) setenv(k.c_str(), v.c_str(), 1);
        Stack stack;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(stack.init_datalink_from_environment());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
        for (const auto& [k, v] : c.vars) unsetenv(k.c_str());
    }
}

// Pretends interface "eth7" has 10.78.0.10/24 and can fail any one call.
class FakeCalls : public SocketCalls {
  public:
    std::string fail;  // name of the call that fails
    int fail_errno = 0;
    bool no_netmask = false;
    std::vector<int> opened;

    int socket(int domain, int type, int protocol) override {
        if (fail == "socket") return errno = fail_errno, -1;
        const int fd = SocketCalls::socket(domain, type, protocol);
        opened.push_back(fd);
        return fd;
    }
    int bind(int, const sockaddr_in& a) override {
        if (fail == "bind") return errno = fail_errno, -1;
        binds.push_back(ntohl(a.sin_addr.s_addr));
        return 0;  // nothing is really bound
    }
    int ioctl(int, unsigned long request, ifreq& req) override {
        if (std::string(req.ifr_name) != "eth7") return errno = ENODEV, -1;
        if (fail == "ioctl") return errno = fail_errno, -1;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        if (request == SIOCGIFADDR) {
            sa.sin_addr.s_addr = htonl(0x0A4E000A);
            std::memcpy(&req.ifr_addr, &sa, sizeof sa);
            return 0;
        }
        if (no_netmask) return errno = EADDRNOTAVAIL, -1;
        sa.sin_addr.s_addr = htonl(0xFFFFFF00);
        std::memcpy(&req.ifr_netmask, &sa, sizeof sa);
        return 0;
    }
    std::vector<std::uint32_t> binds;
};

TEST(LinkOpen, FailuresNameTheInterfaceAndTheReason) {
    struct Case {
        const char* name;
        std::string iface;
        std::string fail;
        int fail_errno;
        const char* message;
    };
    const Case cases[] = {
        {"no such interface", "eth9", "", 0,
         "BACnet/IP: cannot open the data link on interface eth9: no such interface"},
        {"no IPv4 address", "eth7", "ioctl", EADDRNOTAVAIL,
         "BACnet/IP: cannot open the data link on interface eth7: no IPv4 address (Cannot assign "
         "requested address)"},
        {"port taken", "eth7", "bind", EADDRINUSE,
         "BACnet/IP: cannot open the data link on interface eth7: bind port 47808: Address already "
         "in use"},
        {"no sockets left", "eth7", "socket", EMFILE,
         "BACnet/IP: cannot open the data link on interface eth7: socket: Too many open files"},
    };
    for (const Case& c : cases) {
        FakeCalls calls;
        calls.fail = c.fail;
        calls.fail_errno = c.fail_errno;
        Stack stack;
        LinkSettings s;
        s.iface = c.iface;
        std::string error;
        EXPECT_FALSE(stack.open_datalink(s, error, calls)) << c.name;
        EXPECT_EQ(error, c.message) << c.name;
        EXPECT_FALSE(stack.has_datalink()) << c.name;
        for (int fd : calls.opened)
            EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "descriptor left open: " << c.name;
    }
    FakeCalls calls;
    Stack stack;
    std::string error;
    const std::string empty_routes = ::testing::TempDir() + "empty-routes";
    std::ofstream(empty_routes) << "Iface\tDestination\n";
    EXPECT_FALSE(stack.open_datalink(LinkSettings{}, error, calls, empty_routes));
    EXPECT_EQ(error,
              "BACnet/IP: no interface: BACNET_IFACE is not set and there is no default route");
}

TEST(LinkOpen, AddressesComeFromTheInterface) {
    FakeCalls calls;
    Stack stack;
    LinkSettings s;
    s.iface = "eth7";
    s.apdu_timeout = 500;
    s.apdu_retries = 1;
    s.first_invoke_id = 9;
    std::string error;
    ASSERT_TRUE(stack.open_datalink(s, error, calls)) << error;
    EXPECT_EQ(to_string(stack.my_address()), "10.78.0.10:47808");
    EXPECT_EQ(to_string(stack.broadcast_address()), "10.78.0.255:47808/65535:");
    EXPECT_EQ(calls.binds, (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(stack.apdu_timeout(), 500);
    EXPECT_EQ(stack.tsm().retries(), 1);
    for (int fd : calls.opened) {
        if (fcntl(fd, F_GETFD) != -1) {
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
        }
    }

    FakeCalls no_mask;
    no_mask.no_netmask = true;
    Stack other;
    s.broadcast_bind = 0;
    ASSERT_TRUE(other.open_datalink(s, error, no_mask));
    EXPECT_EQ(to_string(other.broadcast_address()), "255.255.255.255:47808/65535:");
    EXPECT_EQ(no_mask.binds, (std::vector<std::uint32_t>{0}));
}

// Feeds one datagram with a given destination address through recvmsg, and records
// the receive timeouts set and the source address asked for on send.
class ScriptedCalls : public FakeCalls {
  public:
    std::optional<std::uint32_t> next_dest;  // nullopt: no destination information
    int last_flags = 0;
    int timeouts_set = 0;
    std::uint32_t send_source = 0;

    int setsockopt(int fd, int level, int name, const void* value, socklen_t len) override {
        if (level == SOL_SOCKET && name == SO_RCVTIMEO) ++timeouts_set;
        return FakeCalls::setsockopt(fd, level, name, value, len);
    }
    ssize_t recvmsg(int, msghdr& msg, int flags) override {
        last_flags = flags;
        const std::uint8_t datagram[] = {0x81, 0x0b, 0x00, 0x08, 0x01, 0x00, 0x10, 0x08};
        std::memcpy(msg.msg_iov[0].iov_base, datagram, sizeof datagram);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x0A4E000B);
        from.sin_port = htons(47808);
        std::memcpy(msg.msg_name, &from, sizeof from);
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        if (next_dest && c != nullptr) {
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_addr.s_addr = htonl(*next_dest);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            msg.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo));
        } else {
            msg.msg_controllen = 0;
        }
        return sizeof datagram;
    }
    ssize_t sendmsg(int, const msghdr& msg, int) override {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
             c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            send_source = ntohl(info.ipi_spec_dst.s_addr);
        }
        return static_cast<ssize_t>(msg.msg_iov[0].iov_len);
    }
};

TEST(UdpReceive, DestinationDecidesUnicastBroadcastOrNotOurs) {
    constexpr std::uint32_t own = 0x0A4E000A, subnet = 0x0A4E00FF, other = 0x0A4E0015,
                            all = 0xFFFFFFFF;
    enum Seen { Unicast, Broadcast, Dropped };
    struct Case {
        std::uint32_t broadcast_bind;
        std::optional<std::uint32_t> dest;
        Seen seen;
    };
    const Case cases[] = {
        {subnet, own, Unicast},          {subnet, subnet, Broadcast},
        {subnet, other, Dropped},        {subnet, all, Dropped},
        {subnet, std::nullopt, Dropped}, {0, all, Broadcast},
        {0, other, Broadcast},           {0, own, Unicast},
        {own, subnet, Dropped},          {all, all, Broadcast},
        {all, subnet, Dropped},
    };
    for (const Case& c : cases) {
        ScriptedCalls calls;
        std::string error;
        auto t = UdpTransport::open({"eth7", Endpoint{own, 47808}, c.broadcast_bind}, calls, error);
        ASSERT_TRUE(t) << error;
        calls.next_dest = c.dest;
        std::array<std::uint8_t, 64> buf{};
        const Received r = t->receive(buf, 100);
        const Seen seen = r.size == 0 ? Dropped : r.via_broadcast ? Broadcast : Unicast;
        EXPECT_EQ(seen, c.seen) << std::hex << c.broadcast_bind << " <- " << c.dest.value_or(0);
        if (r.size != 0) {
            EXPECT_EQ(r.from, (Endpoint{0x0A4E000B, 47808}));
        }
    }
}

TEST(UdpReceive, OneTimeoutPerWaitLengthNoBlockingForAZeroWaitAndOurSourceOnSend) {
    ScriptedCalls calls;
    std::string error;
    auto t = UdpTransport::open({"eth7", Endpoint{0x0A4E000A, 47808}, 0x0A4E00FF}, calls, error);
    ASSERT_TRUE(t) << error;
    calls.next_dest = 0x0A4E000A;
    std::array<std::uint8_t, 64> buf{};
    for (int i = 0; i < 3; ++i) t->receive(buf, 100);
    EXPECT_EQ(calls.timeouts_set, 1);
    t->receive(buf, 250);
    EXPECT_EQ(calls.timeouts_set, 2);
    t->receive(buf, 0);
    EXPECT_TRUE(calls.last_flags & MSG_DONTWAIT);
    EXPECT_EQ(calls.timeouts_set, 2);
    const std::uint8_t datagram[] = {0x81, 0x0a, 0x00, 0x04};
    EXPECT_EQ(t->send_to(Endpoint{0x0A4E000B, 47808}, datagram), 4);
    EXPECT_EQ(calls.send_source, 0x0A4E000Au);
}

TEST(LinkOpen, RealSocketsOnLoopbackTalkToEachOther) {
    // Two links on lo with their own ports: a unicast from one reaches the other.
    LinkSettings s;
    s.iface = "lo";
    s.broadcast_bind = 0x7F000001;  // no broadcasts wanted here
    Stack a, b;
    std::string error;
    s.port = 0;  // let the kernel pick; the own address then says port 0, fine for sending
    ASSERT_TRUE(a.open_datalink(s, error)) << error;
    // b needs a known port: try a few in the dynamic range.
    std::uint16_t port = 0;
    for (std::uint16_t p = 49152 + static_cast<std::uint16_t>(getpid() % 1000); p < 65000;
         p += 997) {
        s.port = p;
        if (b.open_datalink(s, error)) {
            port = p;
            break;
        }
    }
    ASSERT_NE(port, 0) << error;
    const std::uint8_t npdu[] = {0x01, 0x00, 0x10, 0x08};
    ASSERT_EQ(a.send_pdu(Address::ipv4(0x7F000001, port), npdu), 4);
    std::array<std::uint8_t, kReceiveBuffer> rx{};
    Address src;
    std::size_t n = 0;
    for (int i = 0; i < 50 && n == 0; ++i) n = b.receive(src, rx, 100);
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(rx[3], 0x08);
    std::uint32_t ip;
    std::uint16_t from_port;
    ASSERT_TRUE(src.to_ipv4(ip, from_port));
    EXPECT_EQ(ip, 0x7F000001u);
}

}  // namespace
