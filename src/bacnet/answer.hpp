// The records through which the service handlers hand the outcome of the transaction in
// flight to the thread waiting for it: the pending request, the sender of the last
// packet and the answer. The gateway has one set; the data collector has its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bacstack/address.hpp"
#include "bacstack/limits.hpp"

namespace bacnet {

struct PendingRequest {
    // Bound address of the device the transaction talks to; refreshed on every pass.
    bacstack::Address target_address;
    // 0: nothing sent yet in this transaction.
    std::uint8_t invoke_id = 0;
};

struct Answer {
    std::string error;
    std::string warning;
    std::string success;
    std::vector<std::string> values;
    std::uint32_t property = bacstack::kNoProperty;
    std::uint32_t tag = 0;
    // Reason of an Abort that ended the transaction (the collector reads large object lists
    // element by element after a segmentation-not-supported abort).
    std::optional<std::uint8_t> abort_reason;
};

inline void resetAnswer(Answer& answer) {
    answer.error.clear();
    answer.warning.clear();
    answer.success.clear();
    answer.values.clear();
    answer.property = bacstack::kNoProperty;
    answer.tag = 0;
    answer.abort_reason.reset();
}

// Everything one waiting thread and its handlers share.
struct TransactionContext {
    PendingRequest request;
    bacstack::Address sender_address;
    Answer answer;
};

}  // namespace bacnet
