// Application layer PDU headers (clause 20.1) and the dispatcher that hands each
// received APDU to the handler registered for its PDU type and service.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "bacstack/address.hpp"
#include "bacstack/bytes.hpp"

namespace bacstack {

class Tsm;

// 20.1.1: PDU types (high nibble of the first octet).
enum class PduType : std::uint8_t {
    ConfirmedRequest = 0,
    UnconfirmedRequest = 1,
    SimpleAck = 2,
    ComplexAck = 3,
    SegmentAck = 4,
    Error = 5,
    Reject = 6,
    Abort = 7,
};

// 21: service choices used by the layer and its callers.
namespace service {
inline constexpr std::uint8_t kReadProperty = 12;
inline constexpr std::uint8_t kWriteProperty = 15;
inline constexpr std::uint8_t kIAm = 0;
inline constexpr std::uint8_t kWhoIs = 8;
}  // namespace service

// 20.1.2.5: "up to 1476 octets" is encoded as 5 in a confirmed request.
inline constexpr std::uint8_t kMaxApduCode1476 = 5;
// 20.1.2.5: octets for each max-APDU-length-accepted code 0..5.
unsigned max_apdu_from_code(std::uint8_t code);

// Header fields of a received confirmed request.
struct ConfirmedServiceData {
    bool segmented_message = false;
    bool more_follows = false;
    bool segmented_response_accepted = false;
    std::uint8_t max_segments = 0;  // the 3-bit code
    unsigned max_resp = 0;          // octets
    std::uint8_t invoke_id = 0;
    std::uint8_t sequence_number = 0;
    std::uint8_t proposed_window_number = 0;
    std::uint8_t service_choice = 0;
};

// Header fields of a received Complex-ACK.
struct ConfirmedAckData {
    bool segmented_message = false;
    bool more_follows = false;
    std::uint8_t invoke_id = 0;
    std::uint8_t sequence_number = 0;
    std::uint8_t proposed_window_number = 0;
    std::uint8_t service_choice = 0;
};

// Request headers written by the senders.
void encode_confirmed_request_header(Writer& out, std::uint8_t invoke_id,
                                     std::uint8_t service_choice);
void encode_unconfirmed_request_header(Writer& out, std::uint8_t service_choice);

class ApduDispatcher {
  public:
    using UnconfirmedHandler =
        std::function<void(std::span<const std::uint8_t> service, const Address& src)>;
    using ConfirmedHandler =
        std::function<void(std::span<const std::uint8_t> service, const Address& src,
                           const ConfirmedServiceData& data)>;
    using ConfirmedAckHandler = std::function<void(
        std::span<const std::uint8_t> service, const Address& src, const ConfirmedAckData& data)>;
    using SimpleAckHandler = std::function<void(const Address& src, std::uint8_t invoke_id)>;
    using ErrorHandler = std::function<void(const Address& src, std::uint8_t invoke_id,
                                            std::uint32_t error_class, std::uint32_t error_code)>;
    using AbortHandler = std::function<void(const Address& src, std::uint8_t invoke_id,
                                            std::uint8_t reason, bool server)>;
    using RejectHandler =
        std::function<void(const Address& src, std::uint8_t invoke_id, std::uint8_t reason)>;

    explicit ApduDispatcher(Tsm& tsm) : tsm_(tsm) {}

    void set_unconfirmed_handler(std::uint8_t service, UnconfirmedHandler h) {
        unconfirmed_[service] = std::move(h);
    }
    void set_confirmed_handler(std::uint8_t service, ConfirmedHandler h) {
        confirmed_[service] = std::move(h);
    }
    void set_confirmed_ack_handler(std::uint8_t service, ConfirmedAckHandler h) {
        complex_ack_[service] = std::move(h);
    }
    void set_confirmed_simple_ack_handler(std::uint8_t service, SimpleAckHandler h) {
        simple_ack_[service] = std::move(h);
    }
    void set_error_handler(std::uint8_t service, ErrorHandler h) { error_[service] = std::move(h); }
    void set_abort_handler(AbortHandler h) { abort_ = std::move(h); }
    void set_reject_handler(RejectHandler h) { reject_ = std::move(h); }
    // Gets every confirmed request that has no handler of its own.
    void set_unrecognized_service_handler(ConfirmedHandler h) { unrecognized_ = std::move(h); }

    // Decodes the APDU header and calls the handler; after an ACK, Error, Reject or Abort
    // the invoke id is released in the transaction state machine (after the handler ran).
    // Malformed and segmented PDUs are dropped.
    void handle(const Address& src, std::span<const std::uint8_t> apdu);

  private:
    void handle_confirmed(const Address& src, Reader& r, std::uint8_t first);
    void handle_complex_ack(const Address& src, Reader& r, std::uint8_t first);

    Tsm& tsm_;
    std::array<UnconfirmedHandler, 256> unconfirmed_{};
    std::array<ConfirmedHandler, 256> confirmed_{};
    std::array<ConfirmedAckHandler, 256> complex_ack_{};
    std::array<SimpleAckHandler, 256> simple_ack_{};
    std::array<ErrorHandler, 256> error_{};
    AbortHandler abort_;
    RejectHandler reject_;
    ConfirmedHandler unrecognized_;
};

// Error PDU payload (20.1.7 / 21): error class and code, either bare or, for the
// services whose error is a sequence, inside context tag 0. Fails on malformed data.
bool decode_error(std::span<const std::uint8_t> service, std::uint32_t& error_class,
                  std::uint32_t& error_code);

}  // namespace bacstack
