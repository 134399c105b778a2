#include "bacnet/handlers.hpp"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "bacstack/names.hpp"
#include "bacstack/npdu.hpp"
#include "bacstack/reject.hpp"

namespace bacnet {

bacstack::ApduDispatcher::ErrorHandler make_error_handler(TransactionContext& ctx) {
    return [&ctx](const bacstack::Address& src, std::uint8_t invoke_id, std::uint32_t error_class,
                  std::uint32_t error_code) {
        if (!from_target(ctx, src) || !same_invoke(ctx, invoke_id)) return;
        ctx.answer.error = fmt::format("[ошибка][{0}:{1}]", bacstack::error_class_name(error_class),
                                       bacstack::error_code_name(error_code));
    };
}

bacstack::ApduDispatcher::AbortHandler make_abort_handler(TransactionContext& ctx) {
    return [&ctx](const bacstack::Address& src, std::uint8_t invoke_id, std::uint8_t reason, bool) {
        if (!from_target(ctx, src) || !same_invoke(ctx, invoke_id)) return;
        ctx.answer.error = fmt::format("[прерывание][{0}:{1}]", bacstack::abort_reason_name(reason),
                                       static_cast<unsigned>(reason));
        ctx.answer.abort_reason = reason;
    };
}

bacstack::ApduDispatcher::RejectHandler make_reject_handler(TransactionContext& ctx) {
    return [&ctx](const bacstack::Address& src, std::uint8_t invoke_id, std::uint8_t reason) {
        if (!from_target(ctx, src) || !same_invoke(ctx, invoke_id)) return;
        ctx.answer.error = fmt::format("[отклонение][{0}:{1}]", bacstack::reject_reason_name(reason),
                                       static_cast<unsigned>(reason));
    };
}

bacstack::ApduDispatcher::ConfirmedHandler make_unrecognized_service_handler(TransactionContext& ctx,
                                                                             bacstack::Stack& stack) {
    return [&ctx, &stack](std::span<const std::uint8_t>, const bacstack::Address& src,
                          const bacstack::ConfirmedServiceData& data) {
        // Invoke id 0 is ours only once a request is out: before that, another client's
        // first request (many start at 0) has nothing to do with this transaction.
        const bool pending = ctx.request.invoke_id != 0 && same_invoke(ctx, data.invoke_id);
        if (!from_target(ctx, src) && !pending) return;
        std::vector<std::uint8_t> pdu;
        bacstack::Writer out(pdu);
        const bacstack::Address own = stack.my_address();
        bacstack::encode_npdu(out, &src, &own, bacstack::npdu_data_for_apdu(false));
        bacstack::encode_reject(out, data.invoke_id, bacstack::kRejectReasonUnrecognizedService);
        if (stack.send_pdu(src, pdu) > 0) {
            ctx.answer.error = "[нераспознанная служба][отправлено отклонение]";
        } else {
            ctx.answer.error =
                std::string("[нераспознанная служба][ошибка отправки отклонения:") + std::strerror(errno) + "]";
        }
    };
}

}  // namespace bacnet
