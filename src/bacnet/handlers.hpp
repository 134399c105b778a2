// Service handlers shared by the gateway and the data collector: Error, Abort, Reject and
// unrecognized-service, each working on the transaction context it is made for.
#pragma once

#include <cstdint>

#include "bacnet/answer.hpp"
#include "bacstack/stack.hpp"

namespace bacnet {

// Whether a PDU from `src` with `invoke_id` belongs to the transaction in flight.
inline bool from_target(const TransactionContext& ctx, const bacstack::Address& src) {
    return src == ctx.request.target_address;
}
inline bool same_invoke(const TransactionContext& ctx, std::uint8_t invoke_id) {
    return invoke_id == ctx.request.invoke_id;
}

// error = "[ошибка][<class>:<code>]" when sender and invoke id match.
bacstack::ApduDispatcher::ErrorHandler make_error_handler(TransactionContext& ctx);
// error = "[прерывание][<reason name>:<reason>]" when sender and invoke id match.
bacstack::ApduDispatcher::AbortHandler make_abort_handler(TransactionContext& ctx);
// error = "[отклонение][<reason name>:<reason>]" when sender and invoke id match.
bacstack::ApduDispatcher::RejectHandler make_reject_handler(TransactionContext& ctx);
// Answers a confirmed request from the target (or with the pending invoke id) with a
// Reject unrecognized-service and notes it in error; any other request gets no answer.
bacstack::ApduDispatcher::ConfirmedHandler make_unrecognized_service_handler(TransactionContext& ctx,
                                                                             bacstack::Stack& stack);

}  // namespace bacnet
