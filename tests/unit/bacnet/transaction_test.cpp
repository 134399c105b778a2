// The transaction wait shared by the gateway and the collector, over the in-memory network
// with the hand clock: how it ends, what it puts on the wire and when.
#include <gtest/gtest.h>

#include "bacnet/handlers.hpp"
#include "bacnet/transaction.hpp"
#include "rig.hpp"

using bacnet::TransactionEnd;
using bacnet::WaitTimings;
using rig::Sent;

namespace {

// The collector's timings with its default binding wait.
constexpr WaitTimings kCollector{3000, 100, 100, 100, 100};

const char* name(TransactionEnd e) {
    switch (e) {
        case TransactionEnd::Completed:
            return "Completed";
        case TransactionEnd::TsmFailed:
            return "TsmFailed";
        case TransactionEnd::NotBound:
            return "NotBound";
        case TransactionEnd::Refused:
            return "Refused";
    }
    return "?";
}

struct Wait : rig::Rig {
    bacnet::TransactionContext ctx;
    std::vector<std::uint8_t> acked;  // invoke ids the ReadProperty-ACK handler saw

    Wait() {
        bacnet::resetAnswer(ctx.answer);
        stack.set_confirmed_ack_handler(bacstack::service::kReadProperty,
                                        [this](auto, const bacstack::Address& src, const auto& d) {
                                            EXPECT_EQ(src, ctx.request.target_address);
                                            acked.push_back(d.invoke_id);
                                        });
        stack.set_error_handler(bacstack::service::kReadProperty, bacnet::make_error_handler(ctx));
        stack.set_abort_handler(bacnet::make_abort_handler(ctx));
        stack.set_reject_handler(bacnet::make_reject_handler(ctx));
    }
    TransactionEnd run(const WaitTimings& timings) {
        return bacnet::wait_transaction(
            stack, ctx, rig::kDeviceId, timings,
            [this] { return stack.send_read_property(rig::kDeviceId, 0, 1, 85, bacstack::kArrayAll); }, rig::clock);
    }
};

TEST(WaitTransaction, SilentBoundDeviceFailsAfterTheRetriesAndReleasesItsInvokeId) {
    struct Case {
        const char* name;
        WaitTimings timings;
        std::uint8_t retries;
        std::vector<std::int64_t> sends;  // hand-clock times of the send and each resend
        std::int64_t end;
    };
    const Case cases[] = {
        {"collector timings", kCollector, 3, {0, 100, 200, 300}, 400},
        {"no retries", kCollector, 0, {0}, 100},
        {"stepping held back 250 ms", {3000, 250, 100, 100, 100}, 3, {0, 300, 400, 500}, 600},
        {"request timer of 2.5 steps", {3000, 100, 100, 250, 100}, 3, {0, 300, 600, 900}, 1200},
        // Once bound, the binding wait no longer limits anything.
        {"gateway-like, binding wait shorter than the retries", {2000, 3000, 1000, 1000, 1000}, 1, {0, 3000}, 4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wait w;
        w.bind();
        w.stack.apdu_retries_set(c.retries);
        EXPECT_STREQ(name(w.run(c.timings)), "TsmFailed");
        EXPECT_EQ(rig::now_ms, c.end);
        EXPECT_EQ(w.times(Sent::ReadProperty), c.sends);
        EXPECT_EQ(w.sent.size(), c.sends.size()) << "nothing but the request and its resends";
        for (const Sent& s : w.sent) EXPECT_EQ(s.bytes, w.sent.front().bytes) << "a resend is the same request";
        const std::uint8_t id = w.ctx.request.invoke_id;
        ASSERT_NE(id, 0);
        EXPECT_TRUE(w.stack.invoke_id_free(id));
        EXPECT_TRUE(w.ctx.answer.error.empty());
    }
}

TEST(WaitTransaction, UnboundSilentDeviceGetsOneDirectedWhoIsAndEndsAfterTheBindingWait) {
    struct Case {
        std::int64_t bind_timeout;
        std::int64_t end;  // the first pass at or after the binding wait
    };
    for (const Case c : {Case{3000, 3000}, Case{250, 300}, Case{0, 0}}) {
        SCOPED_TRACE(c.bind_timeout);
        Wait w;
        WaitTimings t = kCollector;
        t.bind_timeout_ms = c.bind_timeout;
        EXPECT_STREQ(name(w.run(t)), "NotBound");
        EXPECT_EQ(rig::now_ms, c.end);
        ASSERT_EQ(w.sent.size(), 1u);
        EXPECT_EQ(w.sent[0].kind, Sent::WhoIs);
        ASSERT_TRUE(w.sent[0].range.has_value());
        EXPECT_EQ(w.sent[0].range->low, rig::kDeviceId);
        EXPECT_EQ(w.sent[0].range->high, rig::kDeviceId);
        EXPECT_EQ(w.net->mem.sent[0].peer, rig::kBroadcast);
        EXPECT_EQ(w.ctx.request.invoke_id, 0);
    }
}

TEST(WaitTransaction, DeviceBoundByItsIAmIsAskedOnceAndAnswered) {
    Wait w;
    w.answer_who_is = {{rig::kDeviceId, rig::kDevice}};
    w.answer_read = [](const Sent& s) {
        return std::vector<std::uint8_t>{0x30, s.invoke_id, 0x0c, 0x0c, 0x00, 0x00, 0x00, 0x01,
                                         0x19, 0x55,        0x3e, 0x44, 0x41, 0xac, 0x00, 0x00, 0x3f};
    };
    EXPECT_STREQ(name(w.run(kCollector)), "Completed");
    EXPECT_EQ(rig::now_ms, 0) << "nothing had to be waited for";
    EXPECT_EQ(w.count(Sent::WhoIs), 1u);
    ASSERT_EQ(w.count(Sent::ReadProperty), 1u);
    EXPECT_EQ(w.acked, std::vector<std::uint8_t>{w.ctx.request.invoke_id});
    EXPECT_TRUE(w.stack.invoke_id_free(w.ctx.request.invoke_id));
}

TEST(WaitTransaction, ErrorRejectAndAbortEndTheTransactionWithTheirTexts) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> apdu;  // octet 1, the invoke id, is filled in
        int id_offset;                   // added to the pending invoke id
        const char* end;
        const char* error;
    };
    const Case cases[] = {
        {"error unknown-property", {0x50, 0, 0x0c, 0x91, 0x02, 0x91, 0x20}, 0, "Completed",
         "[ошибка][property:unknown-property]"},
        {"reject unrecognized service", {0x60, 0, 0x09}, 0, "Completed", "[отклонение][Unrecognized Service:9]"},
        {"abort tsm-timeout", {0x71, 0, 0x0a}, 0, "Completed", "[прерывание][tsm-timeout:10]"},
        // Not ours: the handler ignores it and our request runs into its retries.
        {"error for another invoke id", {0x50, 0, 0x0c, 0x91, 0x02, 0x91, 0x20}, 1, "TsmFailed", ""},
        {"reject for another invoke id", {0x60, 0, 0x09}, 1, "TsmFailed", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wait w;
        w.bind();
        w.answer_read = [&c](const Sent& s) {
            auto apdu = c.apdu;
            apdu[1] = static_cast<std::uint8_t>(s.invoke_id + c.id_offset);
            return s.at == 0 ? apdu : std::vector<std::uint8_t>{};  // the first send only
        };
        EXPECT_STREQ(name(w.run(kCollector)), c.end);
        EXPECT_EQ(w.ctx.answer.error, c.error);
        EXPECT_TRUE(w.stack.invoke_id_free(w.ctx.request.invoke_id));
    }
}

TEST(WaitTransaction, RequestTheStackRefusesEndsAfterTheBindingWait) {
    struct Case {
        const char* name;
        std::function<void(Wait&)> set_up;
        const char* diagnostic;  // first line the stack reports, or empty
    };
    const Case cases[] = {
        {"device max APDU below the request", [](Wait& w) { w.bind(8); },
         "Failed to Send ReadProperty Request (exceeds destination maximum APDU)!"},
        {"every invoke id taken",
         [](Wait& w) {
             w.bind();
             for (std::size_t i = 0; i < bacstack::kTsmSlots; ++i) ASSERT_NE(w.stack.tsm().next_free_invoke_id(), 0);
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wait w;
        c.set_up(w);
        EXPECT_STREQ(name(w.run(kCollector)), "Refused");
        EXPECT_EQ(rig::now_ms, 3000);
        EXPECT_TRUE(w.sent.empty());
        EXPECT_EQ(w.ctx.request.invoke_id, 0);
        if (*c.diagnostic) {
            ASSERT_FALSE(w.diagnostics.empty());
            EXPECT_EQ(w.diagnostics.front(), c.diagnostic);
            for (unsigned id = 1; id <= bacstack::kTsmSlots; ++id) {
                EXPECT_TRUE(w.stack.invoke_id_free(static_cast<std::uint8_t>(id))) << "refused sends keep no id";
            }
        }
    }
    // Without any wait for the binding, the first refusal ends it.
    Wait w;
    w.bind(8);
    EXPECT_STREQ(name(w.run({0, 100, 100, 100, 100})), "Refused");
    EXPECT_EQ(rig::now_ms, 0);
}

TEST(WaitTransaction, SteppingStartsOnlyOnceTheStepDelayHasPassedSinceTheLastUnboundPass) {
    // The I-Am comes in at 500 ms; the request goes out in the same pass. Counting the
    // step delay (300 ms) from the start instead would resend it at 600 ms already.
    Wait w;
    bool answered = false;
    w.net->before_receive = [&] {
        if (rig::now_ms >= 500 && !answered) {
            w.net->mem.queue(rig::kDevice, rig::i_am_frame(rig::kDeviceId));
            answered = true;
        }
    };
    EXPECT_STREQ(name(w.run({3000, 300, 100, 100, 100})), "TsmFailed");
    EXPECT_EQ(w.times(Sent::WhoIs), std::vector<std::int64_t>{0});
    EXPECT_EQ(w.times(Sent::ReadProperty), (std::vector<std::int64_t>{500, 800, 900, 1000}));
    EXPECT_EQ(rig::now_ms, 1100);
}

TEST(WaitTransaction, ConfirmedRequestsToUsAreRejectedOnlyWhenTheyBelongToTheTransaction) {
    const bacstack::Endpoint stranger{0x0A4E000C, 47808};
    struct Case {
        const char* name;
        bool bound;
        bool from_target;
        int invoke_id;  // of the request to us; -1: the pending one
        bool rejected;
    };
    const Case cases[] = {
        {"from the target, another invoke id", true, true, 77, true},
        {"from elsewhere, the pending invoke id", true, false, -1, true},
        {"from elsewhere, another invoke id", true, false, 77, false},
        // Nothing is pending while the device is unbound, so no invoke id belongs to us.
        {"from elsewhere while unbound, invoke id 0", false, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wait w;
        w.stack.set_unrecognized_service_handler(bacnet::make_unrecognized_service_handler(w.ctx, w.stack));
        if (c.bound) w.bind();
        const bacstack::Endpoint from = c.from_target ? rig::kDevice : stranger;
        bool queued = false;
        w.net->before_receive = [&] {
            if (queued) return;
            queued = true;
            const auto id = static_cast<std::uint8_t>(c.invoke_id < 0 ? w.ctx.request.invoke_id : c.invoke_id);
            w.net->mem.queue(from, rig::frame({0x00, 0x05, id, 0x0c, 0x0c, 0x02, 0x00, 0x00, 0x01, 0x19, 0x4d}));
        };
        const TransactionEnd end = w.run(kCollector);
        EXPECT_STREQ(name(end), c.bound ? "TsmFailed" : "NotBound");
        std::size_t rejects = 0;
        for (const auto& d : w.net->mem.sent) {
            if (d.bytes.size() > 6 && d.bytes[6] == 0x60) {
                EXPECT_EQ(d.peer, from);
                ++rejects;
            }
        }
        EXPECT_EQ(rejects, c.rejected ? 1u : 0u);
        EXPECT_EQ(w.ctx.answer.error, c.rejected ? "[нераспознанная служба][отправлено отклонение]" : "");
    }
}

}  // namespace
