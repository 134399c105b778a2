// Client transaction state machine (clause 5.4.4): invoke ids, the request timer and
// resends. Time moves only when the caller steps it with timer_milliseconds().
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "bacstack/address.hpp"

namespace bacstack {

// One slot per invoke id 1..255.
inline constexpr std::size_t kTsmSlots = 255;
inline constexpr std::uint16_t kDefaultApduTimeoutMs = 3000;
inline constexpr std::uint8_t kDefaultApduRetries = 3;

class Tsm {
  public:
    // Sends a stored request again (the data link's send).
    using Resend = std::function<void(const Address& dest, std::span<const std::uint8_t> pdu)>;
    explicit Tsm(Resend resend);

    void set_apdu_timeout(std::uint16_t ms) { apdu_timeout_ = ms; }
    std::uint16_t apdu_timeout() const { return apdu_timeout_; }
    void set_retries(std::uint8_t retries) { retries_ = retries; }
    std::uint8_t retries() const { return retries_; }
    // The next id handed out; 0 means 1.
    void set_next_invoke_id(std::uint8_t id) { next_id_ = id == 0 ? 1 : id; }

    // Reserves a free invoke id (idle until a request is registered); 0 when all are taken.
    std::uint8_t next_free_invoke_id();
    // The request goes into "await confirmation": timer one APDU timeout, retry count 0,
    // a copy of the PDU (NPDU and APDU) kept for resending.
    void set_confirmed_transaction(std::uint8_t invoke_id, const Address& dest,
                                   std::span<const std::uint8_t> pdu);

    // Counts every awaiting request down by ms (not below 0). A request whose timer reaches
    // 0 is sent again with a fresh timer while retries remain, else it becomes idle and
    // keeps its id (the failure mark). At most one resend or failure per request per call.
    void timer_milliseconds(std::uint16_t ms);

    // True when no slot holds the id.
    bool invoke_id_free(std::uint8_t invoke_id) const;
    // True when a slot holds the id without awaiting anything (failed, or reserved).
    bool invoke_id_failed(std::uint8_t invoke_id) const;
    void free_invoke_id(std::uint8_t invoke_id);

    // Sends of a request so far, 1 + resends (tests and diagnostics).
    unsigned transmissions(std::uint8_t invoke_id) const;

  private:
    enum class State : std::uint8_t { Free, Idle, AwaitConfirmation };
    struct Slot {
        State state = State::Free;
        std::uint16_t timer = 0;
        std::uint8_t retry_count = 0;
        Address dest;
        std::vector<std::uint8_t> pdu;
    };
    static std::size_t index(std::uint8_t invoke_id) {
        return static_cast<std::size_t>(invoke_id) - 1;
    }

    Resend resend_;
    std::array<Slot, kTsmSlots> slots_{};
    std::uint16_t apdu_timeout_ = kDefaultApduTimeoutMs;
    std::uint8_t retries_ = kDefaultApduRetries;
    std::uint8_t next_id_ = 1;
};

}  // namespace bacstack
