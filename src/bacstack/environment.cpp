#include "bacstack/environment.hpp"

#include <arpa/inet.h>

#include <cstdlib>

namespace bacstack {

namespace {

bool number(const Getenv& getenv, const char* name, long& out) {
    const char* text = getenv(name);
    if (text == nullptr || *text == '\0') return false;
    out = std::strtol(text, nullptr, 0);
    return true;
}

}  // namespace

bool read_link_environment(const Getenv& getenv, LinkSettings& out, std::string& error) {
    LinkSettings s;
    if (const char* link = getenv("BACNET_DATALINK"); link != nullptr && *link != '\0') {
        if (std::string(link) != "bip") {
            error = std::string("BACNET_DATALINK=\"") + link +
                    "\" is not supported: the only data link is \"bip\" (BACnet/IP)";
            return false;
        }
    }
    if (const char* iface = getenv("BACNET_IFACE"); iface != nullptr) s.iface = iface;
    long v;
    if (number(getenv, "BACNET_IP_PORT", v)) s.port = static_cast<std::uint16_t>(v);
    if (const char* bind = getenv("BACNET_IP_BROADCAST_BIND_ADDR");
        bind != nullptr && *bind != '\0') {
        // inet_addr's answer for bad text is INADDR_NONE, i.e. 255.255.255.255.
        s.broadcast_bind = ntohl(inet_addr(bind));
    }
    if (number(getenv, "BACNET_APDU_TIMEOUT", v)) s.apdu_timeout = static_cast<std::uint16_t>(v);
    if (number(getenv, "BACNET_APDU_RETRIES", v)) s.apdu_retries = static_cast<std::uint8_t>(v);
    if (number(getenv, "BACNET_INVOKE_ID", v)) s.first_invoke_id = static_cast<std::uint8_t>(v);
    if (s.first_invoke_id == 0) s.first_invoke_id = 1;
    out = s;
    return true;
}

}  // namespace bacstack
