// In-memory records of the cache rows: a BACnet device and one polled or written
// property ("parameter"), plus the selector of the registry's device lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One converted value topic and the converter script that produces its payload.
struct ConvertedTopic {
    std::string topic;
    std::string converter_read;
    friend bool operator==(const ConvertedTopic&, const ConvertedTopic&) = default;
};

struct Parameter {
    std::int32_t id = -1;  // row id in `objects`; -1 until filled from the cache
    std::string name;
    std::uint32_t instance = 0;
    std::string object_name;
    std::uint32_t object_type = 0;
    std::string tag;  // application tag name used for writes; empty when none
    bool read_only = false;
    std::uint32_t property = 0;
    std::string topic_out;               // empty when the parameter has converted topics
    std::vector<ConvertedTopic> topics;  // loaded only when topic_out is empty
    std::string topic_in;
    std::string topic_error;
    friend bool operator==(const Parameter&, const Parameter&) = default;
};

struct Device {
    std::vector<Parameter> parameters;  // filled by loadObjects, emptied by releaseObjects
    std::string name;
    std::uint32_t id = 0;  // BACnet device instance
    std::uint32_t max_apdu = 0;
    std::uint16_t vendor = 0;
    std::uint16_t net = 0;
    // Registry bookkeeping: how many loadObjects calls on this record are not yet matched by
    // a releaseObjects; the parameters are freed only when the last user lets go of them.
    std::int32_t parameter_users = 0;
};

enum class DeviceFilter : std::int32_t { All = 0, Active = 1, Inactive = 2 };

// The source address of an I-Am as the BACnet layer reports it: the MAC on the local
// network and, behind a router, the network number and the address on that network.
struct DeviceAddress {
    static constexpr std::size_t kMaxLen = 7;
    std::uint8_t mac_len = 0;
    std::array<std::uint8_t, kMaxLen> mac{};
    std::uint16_t net = 0;  // 0: local network
    std::uint8_t len = 0;
    std::array<std::uint8_t, kMaxLen> adr{};
};
