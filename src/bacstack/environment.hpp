// Data-link settings from the environment (BACNET_DATALINK, BACNET_IFACE, BACNET_IP_PORT,
// BACNET_IP_BROADCAST_BIND_ADDR, BACNET_APDU_TIMEOUT, BACNET_APDU_RETRIES,
// BACNET_INVOKE_ID), read the way the field tools read them: C numbers in any base,
// cut to the width of the setting without further checks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace bacstack {

// Annex J.1: the BACnet/IP UDP port, 0xBAC0.
inline constexpr std::uint16_t kDefaultBipPort = 47808;

struct LinkSettings {
    std::string iface;  // empty: the interface of the default route
    std::uint16_t port = kDefaultBipPort;
    std::optional<std::uint32_t> broadcast_bind;  // host order; unset: the subnet broadcast
    std::uint16_t apdu_timeout = 3000;
    std::uint8_t apdu_retries = 3;
    std::uint8_t first_invoke_id = 1;
};

using Getenv = std::function<const char*(const char*)>;

// False with a message when BACNET_DATALINK names anything but "bip".
bool read_link_environment(const Getenv& getenv, LinkSettings& out, std::string& error);

}  // namespace bacstack
