// The collector's BACnet side: its own transaction context and capture state, the read
// with its 100 ms timings, the acknowledgement handler that captures object and property
// lists, the report lines, discovery and the device and property scans.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <spdlog/logger.h>

#include "bacnet/answer.hpp"
#include "bacstack/limits.hpp"
#include "bacstack/stack.hpp"

namespace collector {

struct CollectorObject {
    std::uint32_t object_type = 0;
    std::uint32_t instance = 0;
    std::string type_name;
    std::set<std::uint32_t> properties;  // ascending, no duplicates
};

using ObjectList = std::vector<CollectorObject>;

// Library timings of every collector read (request timer, its steps, receive waits).
inline constexpr std::uint16_t kCollectorStepMs = 100;
// Identifiers probed on an object that gives no property-list: 0..512 and the range of the
// library's own numbers above the vendor range.
inline constexpr std::uint32_t kProbeLastStandard = 512;
inline constexpr std::uint32_t kProbeFirstHigh = 4194303;
inline constexpr std::uint32_t kProbeLastHigh = 4194337;

class Collector {
public:
    // Registers the collector's handlers on `stack`; loggers are fetched by name.
    explicit Collector(bacstack::Stack& stack);

    // One ReadProperty of the whole property (or of one element) and the wait for its end;
    // failures are logged on "console", not stored in the answer.
    void readWithTimeout(std::int64_t timeout, std::uint32_t device, std::uint32_t type, std::uint32_t instance,
                         std::uint32_t property, std::uint32_t array_index = bacstack::kArrayAll);
    void logCollectorAnswer(std::uint32_t device);
    void writeObjectHeader(std::uint32_t device, std::uint32_t type, const std::string& type_name,
                           std::uint32_t instance);
    void scanDevice(std::int64_t timeout, ObjectList& list, std::uint32_t device);
    void scanProperty(std::int64_t timeout, ObjectList& list, std::uint32_t device, std::uint32_t property);
    // Global Who-Is and `timeout` ms of listening; then one line per device found.
    void discover(std::int64_t timeout);

    std::map<std::uint32_t, ObjectList>& discovered() { return discovered_; }
    bacnet::Answer& answer() { return ctx_.answer; }
    void resetAnswer() { bacnet::resetAnswer(ctx_.answer); }

private:
    void onIAm(std::span<const std::uint8_t> service, const bacstack::Address& src);
    void onReadPropertyAck(std::span<const std::uint8_t> service, const bacstack::Address& src,
                           const bacstack::ConfirmedAckData& data);
    // Object list read element by element, for devices whose whole list does not fit in
    // one unsegmented answer.
    void readObjectListByElement(std::int64_t timeout, ObjectList& list, std::uint32_t device);
    void clearCapture();

    bacstack::Stack& stack_;
    bacnet::TransactionContext ctx_;
    std::map<std::uint32_t, ObjectList> discovered_;

    // Capture state: armed before a request, cleared by the next acknowledgement.
    std::uint32_t requested_property_ = bacstack::kNoProperty;
    bool collect_ = false;
    CollectorObject* current_object_ = nullptr;
    ObjectList* object_list_ = nullptr;

    std::shared_ptr<spdlog::logger> console_;
    std::shared_ptr<spdlog::logger> all_;
    std::shared_ptr<spdlog::logger> file_;
};

}  // namespace collector
