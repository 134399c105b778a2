#include "bacnet/transaction.hpp"

#include <array>

#include "bacstack/limits.hpp"

namespace bacnet {

TransactionEnd wait_transaction(bacstack::Stack& stack, TransactionContext& ctx, std::uint32_t device,
                                const WaitTimings& timings, const SendRequest& send, NowMs now) {
    Timer timer(now);
    timer.start(timings.bind_timeout_ms);
    ctx.request.invoke_id = 0;
    // Until this device is bound there is no target: a late answer from the previous
    // transaction's device (a duplicate after a resend) must not pass for this one's.
    ctx.request.target_address = bacstack::Address{};
    unsigned max_apdu = 0;
    if (!stack.bind_request(device, max_apdu, ctx.request.target_address)) {
        stack.send_who_is(static_cast<std::int32_t>(device), static_cast<std::int32_t>(device));
    }
    stack.apdu_timeout_set(timings.apdu_timeout_ms);
    std::array<std::uint8_t, bacstack::kReceiveBuffer> buffer{};
    for (;;) {
        // The request timer moves only here, so retries follow the passes, not the clock.
        if (timer.sinceLast(timings.tsm_step_after_ms)) stack.timer_milliseconds(timings.tsm_step_ms);
        const bool bound = stack.bind_request(device, max_apdu, ctx.request.target_address);
        if (bound) {
            if (ctx.request.invoke_id == 0) {
                ctx.request.invoke_id = send();
                // A request the stack keeps refusing would otherwise wait for ever.
                if (ctx.request.invoke_id == 0 && timer.remaining() <= 0) return TransactionEnd::Refused;
            } else if (stack.invoke_id_free(ctx.request.invoke_id)) {
                return TransactionEnd::Completed;
            } else if (stack.invoke_id_failed(ctx.request.invoke_id)) {
                stack.free_invoke_id(ctx.request.invoke_id);
                return TransactionEnd::TsmFailed;
            }
        } else if (timer.expired()) {
            return TransactionEnd::NotBound;
        }
        const std::size_t n = stack.receive(ctx.sender_address, buffer, timings.receive_wait_ms);
        if (n > 0) stack.npdu_handler(ctx.sender_address, std::span<const std::uint8_t>(buffer.data(), n));
    }
}

}  // namespace bacnet
