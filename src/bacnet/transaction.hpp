// The wait of one confirmed BACnet transaction: bind the device (one directed Who-Is when
// it is unknown), send the request once bound, feed every received packet to the stack
// and step the stack's request timer, until the transaction ends. The gateway's poll and
// write and the collector's reads are this wait with their own timings.
#pragma once

#include <cstdint>
#include <functional>

#include "bacnet/answer.hpp"
#include "bacnet/timer.hpp"
#include "bacstack/stack.hpp"

namespace bacnet {

struct WaitTimings {
    std::int64_t bind_timeout_ms = 0;   // how long the device may stay unbound
    std::int64_t tsm_step_after_ms = 0; // time since the last unbound pass before stepping
    std::uint16_t tsm_step_ms = 0;      // what each stepping pass gives the request timer
    std::uint16_t apdu_timeout_ms = 0;  // the stack's request timer for this transaction
    unsigned receive_wait_ms = 0;       // longest wait for one packet
};

enum class TransactionEnd {
    Completed,  // ACK, Error, Reject or Abort handled; the stack freed the invoke id
    TsmFailed,  // no answer after the retries; the invoke id has been freed here
    NotBound,   // the device got no binding within bind_timeout_ms
    Refused,    // bound, but the stack would not send the request within bind_timeout_ms
};

// Sends the request to the bound device; the invoke id, or 0 when nothing was sent.
using SendRequest = std::function<std::uint8_t()>;

// Runs with the caller's lock held; handlers registered on `stack` fill ctx.answer.
TransactionEnd wait_transaction(bacstack::Stack& stack, TransactionContext& ctx, std::uint32_t device,
                                const WaitTimings& timings, const SendRequest& send,
                                NowMs now = steady_now_ms);

}  // namespace bacnet
