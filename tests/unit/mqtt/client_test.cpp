#include "mqtt/client.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "broker.hpp"
#include "log_capture.hpp"
#include "peer.hpp"

namespace {

using namespace std::chrono_literals;
using quillon::testing::Broker;
using quillon::testing::CaptureSink;
using quillon::testing::Peer;
using spdlog::level::level_enum;

// Network events on loopback; generous, since sanitizer builds are slow.
constexpr auto soon = 5s;
// The library reconnects every 5 seconds; one missed attempt is allowed for.
constexpr auto after_reconnect = 15s;

const std::string kConnected = "Соединение установлено";
const std::string kLost = "Произошел разрыв соединения";
const std::string kThreadOpen = "Новый поток открыт";
const std::string kSubscribed = "Подписка оформлена";
const std::string kSent = "Сообщение отправлено";
const std::string kCredentialsSet = "Логин и пароль успешно установлены";
const std::string kLibraryReady = "Сокеты удалось проинициализировать";

std::string subscribing(const std::string& topic) {
    return fmt::format("На топик [{}] оформляется подписка...", topic);
}
std::string with_code(const char* what, int rc) {
    return fmt::format("{} : {} ({})", what, mosquitto_strerror(rc), rc);
}

class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
        log = quillon::testing::capture_mqtt_log();
    }

    // Starts the broker or fails the test with its reason.
    void start(Broker& broker) { ASSERT_TRUE(broker.start()) << broker.error(); }

    // Waits until `n` messages are queued in the client.
    static bool wait_pending(Mqtt::Client& client, std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + soon;
        while (client.pending() < n) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    std::shared_ptr<CaptureSink> log;
};

TEST_F(ClientTest, LibraryIsInitialisedOnceForTheProcess) {
    Broker broker;
    start(broker);
    std::size_t initialised = 0;
    {
        Mqtt::Client first("127.0.0.1", broker.port());
        initialised = log->count(kLibraryReady);
        EXPECT_LE(initialised, 1u);  // earlier tests in this process may have done it
        Mqtt::Client second("127.0.0.1", broker.port());
        EXPECT_EQ(log->count(kLibraryReady), initialised);
        EXPECT_TRUE(log->wait_for(kConnected, 2, soon));
    }
    // The destroyed clients cleaned the library up; the flag stays set, and a new client
    // still connects without initialising it again.
    Mqtt::Client third("127.0.0.1", broker.port());
    EXPECT_TRUE(third.usable());
    EXPECT_TRUE(log->wait_for(kConnected, 3, soon));
    EXPECT_EQ(log->count(kLibraryReady), initialised);
}

TEST_F(ClientTest, PublishesAtQosZeroWithoutRetainAndLogsEachStep) {
    Broker broker;
    start(broker);
    Peer peer(broker.port());
    ASSERT_TRUE(peer.wait_connected());
    ASSERT_TRUE(peer.subscribe("/devices/#"));
    {
        Mqtt::Client client("127.0.0.1", broker.port());
        ASSERT_TRUE(log->wait_for(kConnected, 1, soon));
        EXPECT_EQ(log->level_of(kThreadOpen), spdlog::level::info);
        EXPECT_EQ(log->level_of(kConnected), spdlog::level::info);
        EXPECT_EQ(log->count(kCredentialsSet), 0u);

        const std::pair<std::string, std::string> publications[] = {
            {"/devices/d/controls/t", "21.5"},
            {"/devices/d/controls/t_f", ""},  // an empty converter payload is still published
            {"/devices/d/controls/s", R"({"hour":12,"minute":{0}})"},
        };
        for (const auto& [topic, payload] : publications) client.publish(topic, payload);
        ASSERT_TRUE(peer.wait_received(3));
        EXPECT_TRUE(log->wait_for(kSent, 3, soon));
        EXPECT_EQ(log->level_of(kSent), spdlog::level::info);

        const auto received = peer.received();
        for (std::size_t i = 0; i < 3; ++i) {
            const std::string line = fmt::format("По топику [{}] отправляется сообщение... [{}]",
                                                 publications[i].first, publications[i].second);
            EXPECT_EQ(log->level_of(line), spdlog::level::info) << line;
            EXPECT_EQ(received[i].topic, publications[i].first);
            EXPECT_EQ(received[i].payload, publications[i].second);
            EXPECT_EQ(received[i].qos, 0);
            EXPECT_FALSE(received[i].retain);
        }
    }
    EXPECT_EQ(log->count("Поток закрыт"), 1u);
    EXPECT_EQ(log->level_of("Поток закрыт"), spdlog::level::info);
}

TEST_F(ClientTest, QueuedMessagesAreHandedOverInOrderOnePerCall) {
    Broker broker;
    start(broker);
    Mqtt::Client client("127.0.0.1", broker.port());
    const std::string topic = "/devices/d/controls/p/on";
    ASSERT_TRUE(client.subscribe(topic));
    ASSERT_TRUE(log->wait_for(kSubscribed, 1, soon));
    EXPECT_EQ(log->level_of(subscribing(topic)), spdlog::level::info);

    // All four arrive before anyone takes one: each call must hand over the next without
    // waiting for a further message.
    Peer peer(broker.port());
    ASSERT_TRUE(peer.wait_connected());
    const std::string sent[] = {"first", "", std::string("ab\0cd", 5), "last"};
    for (const std::string& payload : sent) ASSERT_TRUE(peer.publish(topic, payload));
    ASSERT_TRUE(wait_pending(client, 4));

    ASSERT_TRUE(client.receive());
    EXPECT_EQ(client.topic, topic);
    EXPECT_EQ(client.payload, "first");
    EXPECT_EQ(client.qos, 1);
    EXPECT_NE(client.mid, 0);
    EXPECT_FALSE(client.retain);
    EXPECT_EQ(log->level_of("По топику [/devices/d/controls/p/on] получено сообщение [first]"),
              spdlog::level::info);

    for (const char* expected : {"", "ab", "last"}) {
        ASSERT_TRUE(client.receive_for(1s)) << "waiting for '" << expected << "'";
        EXPECT_EQ(client.payload, expected);
    }
    EXPECT_FALSE(client.receive_for(100ms));
    EXPECT_EQ(client.pending(), 0u);
}

TEST_F(ClientTest, RetainedMessageIsDeliveredWithItsFlags) {
    Broker broker;
    start(broker);
    Peer peer(broker.port());
    ASSERT_TRUE(peer.wait_connected());
    ASSERT_TRUE(peer.publish("/devices/d/controls/p/on", "7", 1, true));
    // Let the broker store it before anyone subscribes.
    ASSERT_TRUE(peer.subscribe("/devices/d/controls/p/on"));
    ASSERT_TRUE(peer.wait_received(1));

    Mqtt::Client client("127.0.0.1", broker.port());
    ASSERT_TRUE(client.subscribe("/devices/d/controls/p/on"));
    ASSERT_TRUE(client.receive_for(soon));
    EXPECT_EQ(client.payload, "7");
    EXPECT_TRUE(client.retain);
    EXPECT_EQ(client.qos, 1);
}

TEST_F(ClientTest, SubscribeRefusesAnEmptyOrInvalidTopic) {
    Broker broker;
    start(broker);
    Mqtt::Client client("127.0.0.1", broker.port());
    ASSERT_TRUE(log->wait_for(kConnected, 1, soon));

    const std::pair<std::string, std::string> refusals[] = {
        {"", "Подписка не оформлена : отсутствует топик"},
        {"a/#/b", with_code("Подписка не оформлена", MOSQ_ERR_INVAL)},
    };
    for (const auto& [topic, message] : refusals) {
        EXPECT_FALSE(client.subscribe(topic)) << topic;
        EXPECT_EQ(log->level_of(message), spdlog::level::err) << message;
        EXPECT_EQ(log->count(subscribing(topic)), 0u);
    }
}

struct CredentialsCase {
    const char* name;
    bool broker_locked;
    bool with_credentials;
    const char* password;
    bool accepted;
};

TEST_F(ClientTest, CredentialsAreSentOnlyWhenGiven) {
    const CredentialsCase cases[] = {
        {"open broker, no login", false, false, "", true},
        {"open broker, login", false, true, "secret", true},
        {"locked broker, right login", true, true, "secret", true},
        {"locked broker, no login", true, false, "", false},
        {"locked broker, wrong password", true, true, "guess", false},
    };
    for (const CredentialsCase& c : cases) {
        SCOPED_TRACE(c.name);
        log = quillon::testing::capture_mqtt_log();
        Broker::Options options;
        if (c.broker_locked) options = {"gateway", "secret"};
        Broker broker(options);
        start(broker);

        auto client =
            c.with_credentials
                ? std::make_unique<Mqtt::Client>("127.0.0.1", broker.port(), "gateway", c.password)
                : std::make_unique<Mqtt::Client>("127.0.0.1", broker.port());
        EXPECT_EQ(log->count(kCredentialsSet), c.with_credentials ? 1u : 0u);
        if (c.with_credentials) {
            EXPECT_EQ(log->level_of(kCredentialsSet), spdlog::level::info);
        }

        // A refused acknowledgement is still an acknowledgement: it is logged, and the
        // broker then drops the connection.
        ASSERT_TRUE(log->wait_for(kConnected, 1, soon));
        if (!c.accepted) {
            EXPECT_TRUE(log->wait_for(kLost, 1, soon));
            EXPECT_EQ(log->level_of(kLost), spdlog::level::err);
            continue;
        }
        ASSERT_TRUE(client->subscribe("/devices/d/controls/p/on"));
        ASSERT_TRUE(log->wait_for(kSubscribed, 1, soon));
        Peer peer(broker.port(), options.username, options.password);
        ASSERT_TRUE(peer.wait_connected());
        ASSERT_TRUE(peer.publish("/devices/d/controls/p/on", "1"));
        ASSERT_TRUE(client->receive_for(soon));
        EXPECT_EQ(client->payload, "1");
    }
}

TEST_F(ClientTest, ConnectRefusedAtOnceLeavesTheClientUsable) {
    Mqtt::Client client("127.0.0.1", 70000);
    EXPECT_TRUE(client.usable());
    EXPECT_EQ(log->level_of(kThreadOpen), spdlog::level::info);
    EXPECT_EQ(log->level_of(with_code("Соединение не установлено", MOSQ_ERR_INVAL)),
              spdlog::level::err);
}

TEST_F(ClientTest, BrokerUnreachableAtStartIsReachedLater) {
    Broker broker;  // not started yet: nothing listens on its port
    Mqtt::Client client("127.0.0.1", broker.port());
    EXPECT_TRUE(client.usable());
    EXPECT_EQ(log->level_of(kThreadOpen), spdlog::level::info);
    // The connect itself runs in the background, so the refusal shows as a lost connection.
    ASSERT_TRUE(log->wait_for(kLost, 1, soon));

    // Without a connection nothing goes out, but the command topic is remembered.
    const std::string topic = "/devices/d/controls/p/on";
    EXPECT_FALSE(client.subscribe(topic));
    EXPECT_EQ(log->level_of(with_code("Подписка не оформлена", MOSQ_ERR_NO_CONN)),
              spdlog::level::err);
    client.publish("/devices/d/controls/p", "1");
    EXPECT_EQ(log->level_of(with_code("Сообщение не отправлено", MOSQ_ERR_NO_CONN)),
              spdlog::level::err);

    start(broker);
    ASSERT_TRUE(log->wait_for(kConnected, 1, after_reconnect));
    ASSERT_TRUE(log->wait_for(kSubscribed, 1, soon));
    EXPECT_EQ(log->count(subscribing(topic)), 1u);

    Peer peer(broker.port());
    ASSERT_TRUE(peer.wait_connected());
    ASSERT_TRUE(peer.publish(topic, "on"));
    ASSERT_TRUE(client.receive_for(soon));
    EXPECT_EQ(client.payload, "on");
}

TEST_F(ClientTest, SubscriptionsComeBackAfterBrokerRestart) {
    Broker broker;
    start(broker);
    Mqtt::Client client("127.0.0.1", broker.port());
    const std::string topics[] = {"/devices/a/controls/x/on", "/devices/b/controls/y/on"};
    for (const std::string& topic : topics) ASSERT_TRUE(client.subscribe(topic));
    EXPECT_FALSE(client.subscribe("bad/#/topic"));
    ASSERT_TRUE(log->wait_for(kSubscribed, 2, soon));
    // Requested before the first acknowledgement: not requested a second time for it.
    ASSERT_TRUE(log->wait_for(kConnected, 1, soon));
    for (const std::string& topic : topics) EXPECT_EQ(log->count(subscribing(topic)), 1u);

    broker.stop();
    ASSERT_TRUE(log->wait_for(kLost, 1, soon));
    start(broker);
    ASSERT_TRUE(log->wait_for(kConnected, 2, after_reconnect));
    ASSERT_TRUE(log->wait_for(kSubscribed, 4, soon));
    for (const std::string& topic : topics) EXPECT_EQ(log->count(subscribing(topic)), 2u);
    // A topic the library refused is not tried again.
    EXPECT_EQ(log->count(with_code("Подписка не оформлена", MOSQ_ERR_INVAL)), 1u);

    Peer peer(broker.port());
    ASSERT_TRUE(peer.wait_connected());
    for (const std::string& topic : topics) ASSERT_TRUE(peer.publish(topic, topic));
    for (const std::string& topic : topics) {
        ASSERT_TRUE(client.receive_for(soon)) << "writes to " << topic << " no longer arrive";
        EXPECT_EQ(client.topic, topic);
    }
}

}  // namespace
