// Transaction timing without a clock: the caller's steps alone drive resends and failure.
#include "bacstack/tsm.hpp"

#include <gtest/gtest.h>

using namespace bacstack;

namespace {

struct Counted {
    int resends = 0;
    Tsm tsm{[this](const Address&, std::span<const std::uint8_t>) { ++resends; }};
    std::uint8_t start() {
        const std::uint8_t id = tsm.next_free_invoke_id();
        const std::uint8_t pdu[] = {1, 4, 0, 5, id, 12};
        tsm.set_confirmed_transaction(id, Address::ipv4(1, 2), pdu);
        return id;
    }
};

TEST(Tsm, SilentPeerGetsRetriesResendsThenTheIdIsMarkedFailed) {
    struct Case {
        std::uint16_t timeout;
        std::uint8_t retries;
        std::uint16_t step;
        int steps_to_failure;  // stepping calls until invoke_id_failed
    };
    const Case cases[] = {
        {3000, 3, 3000, 4},   // defaults stepped by whole timeouts: 3 resends, 4th call fails
        {3000, 3, 1000, 12},  // 12 s of accumulated stepping
        {3000, 3, 65535, 4},  // a huge step still does one thing per call
        {500, 1, 500, 2},    {100, 0, 100, 1},  // no retries: the first expiry fails
        {0, 3, 1, 4},                           // zero timeout: every call expires
    };
    for (const Case& c : cases) {
        Counted t;
        t.tsm.set_apdu_timeout(c.timeout);
        t.tsm.set_retries(c.retries);
        const std::uint8_t id = t.start();
        int calls = 0;
        while (!t.tsm.invoke_id_failed(id) && calls < 100000) {
            t.tsm.timer_milliseconds(c.step);
            ++calls;
        }
        EXPECT_EQ(calls, c.steps_to_failure) << c.timeout << "/" << int(c.retries) << "/" << c.step;
        EXPECT_EQ(t.resends, c.retries) << "1 + retries transmissions";
        EXPECT_FALSE(t.tsm.invoke_id_free(id)) << "a failed id stays taken until freed";
        t.tsm.timer_milliseconds(c.step);
        EXPECT_EQ(t.resends, c.retries) << "a failed request is not sent again";
        t.tsm.free_invoke_id(id);
        EXPECT_TRUE(t.tsm.invoke_id_free(id));
        EXPECT_FALSE(t.tsm.invoke_id_failed(id));
    }
}

TEST(Tsm, ResendReloadsTheTimerThatIsCurrentThen) {
    Counted t;
    t.tsm.set_apdu_timeout(100);
    const std::uint8_t id = t.start();
    t.tsm.timer_milliseconds(99);
    EXPECT_EQ(t.resends, 0);
    t.tsm.set_apdu_timeout(1000);  // the next transaction's timeout, as apdu_timeout_set does
    t.tsm.timer_milliseconds(1);
    EXPECT_EQ(t.resends, 1);
    t.tsm.timer_milliseconds(999);
    EXPECT_EQ(t.resends, 1);
    t.tsm.timer_milliseconds(1);
    EXPECT_EQ(t.resends, 2);
    EXPECT_EQ(t.tsm.transmissions(id), 3u);
}

TEST(Tsm, InvokeIdsCountUpWrapSkipZeroAndBusyOnesAndRunOut) {
    Counted t;
    t.tsm.set_next_invoke_id(254);
    EXPECT_EQ(t.start(), 254);
    EXPECT_EQ(t.start(), 255);
    EXPECT_EQ(t.start(), 1) << "0 is never handed out";
    t.tsm.set_next_invoke_id(254);
    EXPECT_EQ(t.start(), 2) << "254, 255 and 1 are busy";
    for (int i = 0; i < 251; ++i) ASSERT_NE(t.start(), 0);
    EXPECT_EQ(t.tsm.next_free_invoke_id(), 0) << "255 transactions at once";
    t.tsm.free_invoke_id(77);
    EXPECT_EQ(t.tsm.next_free_invoke_id(), 77);
    // A reserved id that has no request yet reads as failed, not free.
    EXPECT_TRUE(t.tsm.invoke_id_failed(77));
    EXPECT_FALSE(t.tsm.invoke_id_free(77));
}

TEST(Tsm, FirstInvokeIdZeroMeansOne) {
    Counted t;
    t.tsm.set_next_invoke_id(0);
    EXPECT_EQ(t.start(), 1);
}

TEST(Tsm, OnlyAwaitingSlotsAreStepped) {
    Counted t;
    t.tsm.set_apdu_timeout(10);
    t.tsm.set_retries(1);
    const std::uint8_t a = t.start();
    const std::uint8_t b = t.start();
    t.tsm.free_invoke_id(b);  // answered
    t.tsm.timer_milliseconds(10);
    t.tsm.timer_milliseconds(10);
    EXPECT_EQ(t.resends, 1);
    EXPECT_TRUE(t.tsm.invoke_id_failed(a));
    EXPECT_TRUE(t.tsm.invoke_id_free(b));
}

}  // namespace
