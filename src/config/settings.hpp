// Settings: what the configuration file says about the broker, the BACnet port and its
// timing, filled by read_config and read by the gateway's parts afterwards.
#pragma once

#include <cstdint>
#include <string>

struct Settings {
    bool invalid = false;  // true while no BACnet port section has been accepted
    bool is_debug = false;
    std::int32_t mqtt_port = 0;
    std::string mqtt_host;
    std::string mqtt_username;
    std::string mqtt_password;
    bool enabled = false;
    std::uint64_t poll_interval = 0;  // milliseconds
    std::uint64_t timeout = 0;        // milliseconds
    std::uint64_t timeout_tsm = 0;    // milliseconds
    std::uint64_t delay = 0;          // milliseconds
    std::string connection_type;
    std::string bacnet_iface;
    bool db_update = false;

    // Back to the error state after an unusable port section; the credentials and
    // db_update survive.
    void reset();
};

// The process-wide settings.
extern Settings settings;
