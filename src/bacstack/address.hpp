// A device's data-link address (local MAC plus, behind a router, network number and
// remote address) and the cache of device bindings learnt from I-Am.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "bacstack/limits.hpp"

namespace bacstack {

// 6.2.2: DNET 0xFFFF addresses every network (global broadcast).
inline constexpr std::uint16_t kBroadcastNetwork = 0xFFFF;
// Annex J.1.2: a B/IP address is the IPv4 address followed by the UDP port, 6 octets.
inline constexpr std::uint8_t kBipMacLen = 6;

struct Address {
    std::uint8_t mac_len = 0;  // 0: local broadcast
    std::array<std::uint8_t, kMaxMacLen> mac{};
    std::uint16_t net = 0;  // 0: local network
    std::uint8_t len = 0;   // 0 with net != 0: remote broadcast
    std::array<std::uint8_t, kMaxMacLen> adr{};

    // Only the octets in use take part, so stale bytes past mac_len/len never matter.
    friend bool operator==(const Address& a, const Address& b);

    static Address ipv4(std::uint32_t ip, std::uint16_t port);
    // True for a 6-octet B/IP MAC; fills ip and port (host order).
    bool to_ipv4(std::uint32_t& ip, std::uint16_t& port) const;
};

// "10.78.0.11:47808", with "/net:adr-hex" appended for a routed address (logs, tests).
std::string to_string(const Address& a);

// How many bindings the cache keeps; the oldest dynamic one makes room for a new one.
inline constexpr std::size_t kAddressCacheSize = 255;
// Lifetime of a binding learnt from I-Am.
inline constexpr std::chrono::seconds kBindingLifetime{86400};

// Device instance -> address and maximum APDU. Bindings from I-Am expire after
// kBindingLifetime; static ones (from the address_cache file) never do. The clock is
// injected so expiry is tested without waiting.
class AddressCache {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit AddressCache(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // True and the binding when the device is bound. Sends nothing: the caller decides
    // whether to ask with a Who-Is.
    bool bind_request(std::uint32_t device, unsigned& max_apdu, Address& address);
    void add_binding(std::uint32_t device, unsigned max_apdu, const Address& address);
    void add_static(std::uint32_t device, unsigned max_apdu, const Address& address);
    void remove(std::uint32_t device);
    void clear();
    std::size_t size() const { return entries_.size(); }

    // Reads static bindings, one per line: "device mac snet sadr max_apdu" with the MAC
    // and SADR as colon-separated hex ("10:4E:00:0B:BA:C0"), SNET 0 and SADR "0" for a
    // local device; "#" or ";" start a comment. Returns the number of bindings read;
    // -1 when the file cannot be opened. Malformed lines are skipped.
    int load_static_file(const std::string& path);

  private:
    struct Entry {
        Address address;
        unsigned max_apdu = 0;
        bool is_static = false;
        std::chrono::steady_clock::time_point added;
    };
    void put(std::uint32_t device, unsigned max_apdu, const Address& address, bool is_static);

    Clock clock_;
    std::map<std::uint32_t, Entry> entries_;
};

}  // namespace bacstack
