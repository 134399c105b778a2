#include "bacstack/address.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace bacstack {

bool operator==(const Address& a, const Address& b) {
    if (a.mac_len != b.mac_len || a.net != b.net || a.len != b.len) return false;
    const std::size_t ml = std::min<std::size_t>(a.mac_len, kMaxMacLen);
    const std::size_t al = std::min<std::size_t>(a.len, kMaxMacLen);
    return std::equal(a.mac.begin(), a.mac.begin() + static_cast<std::ptrdiff_t>(ml),
                      b.mac.begin()) &&
           std::equal(a.adr.begin(), a.adr.begin() + static_cast<std::ptrdiff_t>(al),
                      b.adr.begin());
}

Address Address::ipv4(std::uint32_t ip, std::uint16_t port) {
    Address a;
    a.mac_len = kBipMacLen;
    a.mac[0] = static_cast<std::uint8_t>(ip >> 24);
    a.mac[1] = static_cast<std::uint8_t>(ip >> 16);
    a.mac[2] = static_cast<std::uint8_t>(ip >> 8);
    a.mac[3] = static_cast<std::uint8_t>(ip);
    a.mac[4] = static_cast<std::uint8_t>(port >> 8);
    a.mac[5] = static_cast<std::uint8_t>(port);
    return a;
}

bool Address::to_ipv4(std::uint32_t& ip, std::uint16_t& port) const {
    if (mac_len != kBipMacLen) return false;
    ip = std::uint32_t{mac[0]} << 24 | std::uint32_t{mac[1]} << 16 | std::uint32_t{mac[2]} << 8 |
         mac[3];
    port = static_cast<std::uint16_t>(mac[4] << 8 | mac[5]);
    return true;
}

std::string to_string(const Address& a) {
    std::string s;
    char buf[32];
    std::uint32_t ip;
    std::uint16_t port;
    if (a.to_ipv4(ip, port)) {
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", ip >> 24, (ip >> 16) & 0xFF,
                      (ip >> 8) & 0xFF, ip & 0xFF, port);
        s = buf;
    } else {
        for (std::size_t i = 0; i < std::min<std::size_t>(a.mac_len, kMaxMacLen); ++i) {
            std::snprintf(buf, sizeof buf, "%02X", a.mac[i]);
            s += buf;
        }
        if (a.mac_len == 0) s = "broadcast";
    }
    if (a.net != 0) {
        std::snprintf(buf, sizeof buf, "/%u:", a.net);
        s += buf;
        for (std::size_t i = 0; i < std::min<std::size_t>(a.len, kMaxMacLen); ++i) {
            std::snprintf(buf, sizeof buf, "%02X", a.adr[i]);
            s += buf;
        }
    }
    return s;
}

AddressCache::AddressCache(Clock clock) : clock_(std::move(clock)) {}

bool AddressCache::bind_request(std::uint32_t device, unsigned& max_apdu, Address& address) {
    auto it = entries_.find(device);
    if (it == entries_.end()) return false;
    if (!it->second.is_static && clock_() - it->second.added >= kBindingLifetime) {
        entries_.erase(it);
        return false;
    }
    max_apdu = it->second.max_apdu;
    address = it->second.address;
    return true;
}

void AddressCache::add_binding(std::uint32_t device, unsigned max_apdu, const Address& address) {
    auto it = entries_.find(device);
    // A static binding is the operator's word; I-Am does not override it.
    if (it != entries_.end() && it->second.is_static) return;
    put(device, max_apdu, address, false);
}

void AddressCache::add_static(std::uint32_t device, unsigned max_apdu, const Address& address) {
    put(device, max_apdu, address, true);
}

void AddressCache::put(std::uint32_t device, unsigned max_apdu, const Address& address,
                       bool is_static) {
    const auto now = clock_();
    if (entries_.find(device) == entries_.end() && entries_.size() >= kAddressCacheSize) {
        auto victim = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.is_static) continue;
            if (victim == entries_.end() || it->second.added < victim->second.added) victim = it;
        }
        if (victim == entries_.end()) return;  // full of static bindings
        entries_.erase(victim);
    }
    entries_[device] = Entry{address, max_apdu, is_static, now};
}

void AddressCache::remove(std::uint32_t device) { entries_.erase(device); }
void AddressCache::clear() { entries_.clear(); }

namespace {

// "0A:4E:00:0B:BA:C0" -> octets; "0" alone means none.
bool parse_hex_octets(const std::string& text, std::array<std::uint8_t, kMaxMacLen>& out,
                      std::uint8_t& len) {
    if (text == "0") {
        len = 0;
        return true;
    }
    std::array<std::uint8_t, kMaxMacLen> octets{};
    std::size_t n = 0;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ':')) {
        if (part.empty() || part.size() > 2 || n >= kMaxMacLen) return false;
        char* end = nullptr;
        const unsigned long v = std::strtoul(part.c_str(), &end, 16);
        if (*end != '\0') return false;
        octets[n++] = static_cast<std::uint8_t>(v);
    }
    if (n == 0) return false;
    out = octets;
    len = static_cast<std::uint8_t>(n);
    return true;
}

}  // namespace

int AddressCache::load_static_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) return -1;
    int count = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find_first_of("#;");
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream fields(line);
        std::uint32_t device;
        std::string mac, sadr;
        unsigned long snet;
        unsigned max_apdu;
        if (!(fields >> device >> mac >> snet >> sadr >> max_apdu)) continue;
        if (device > kMaxInstance || snet > 0xFFFF) continue;
        Address a;
        if (!parse_hex_octets(mac, a.mac, a.mac_len)) continue;
        a.net = static_cast<std::uint16_t>(snet);
        if (a.net != 0 && !parse_hex_octets(sadr, a.adr, a.len)) continue;
        add_static(device, max_apdu, a);
        ++count;
    }
    return count;
}

}  // namespace bacstack
