// Publications per second handed to a local broker by Mqtt::Client, each logged as the
// gateway logs it: how fast publish() returns, how fast the network thread puts the
// messages on the wire, and how fast a subscriber gets them. Prints its figures.
#include <mosquitto.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "broker.hpp"
#include "mqtt/client.hpp"
#include "peer.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int messages = 200000;
constexpr auto patience = 60s;
const std::string topic = "/devices/bench/controls/t";
const std::string payload = "21.5";

// Counts the "sent" lines of the publish callback; everything else goes to `next`.
class CountingSink : public spdlog::sinks::base_sink<std::mutex> {
  public:
    explicit CountingSink(spdlog::sink_ptr next) : next_(std::move(next)) {}
    std::atomic<int> sent{0};

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        if (msg.payload == sent_text_) sent.fetch_add(1, std::memory_order_relaxed);
        if (next_) next_->log(msg);
    }
    void flush_() override {
        if (next_) next_->flush();
    }

  private:
    spdlog::sink_ptr next_;
    const spdlog::string_view_t sent_text_{"Сообщение отправлено"};
};

template <typename Done>
bool wait(Done done) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void run(const char* label, spdlog::sink_ptr output) {
    quillon::testing::Broker broker;
    if (!broker.start()) {
        std::printf("%s: broker did not start: %s\n", label, broker.error().c_str());
        return;
    }
    auto counter = std::make_shared<CountingSink>(std::move(output));
    spdlog::drop("mqtt");
    auto logger = std::make_shared<spdlog::logger>("mqtt", counter);
    logger->set_level(spdlog::level::debug);
    spdlog::register_logger(logger);

    quillon::testing::Peer peer(broker.port());
    if (!peer.wait_connected() || !peer.subscribe(topic)) {
        std::printf("%s: subscriber did not connect\n", label);
        return;
    }
    Mqtt::Client client("127.0.0.1", broker.port());
    // The connection is made in the background: one message through before timing.
    client.publish(topic, payload);
    if (!peer.wait_received(1, 5s)) {
        std::printf("%s: first message never arrived\n", label);
        return;
    }
    const int sent_before = counter->sent.load();
    const std::size_t received_before = peer.count();

    const auto start = Clock::now();
    for (int i = 0; i < messages; ++i) client.publish(topic, payload);
    const auto handed = Clock::now();
    const bool all_sent = wait([&] { return counter->sent.load() - sent_before >= messages; });
    const auto sent = Clock::now();
    wait([&] { return peer.count() - received_before >= messages; });
    const auto received_at = Clock::now();
    const std::size_t received = peer.count() - received_before;

    const auto per_second = [](int n, Clock::duration d) {
        return n / std::chrono::duration<double>(d).count();
    };
    std::printf("%s, %d messages of %zu octets\n", label, messages, payload.size());
    std::printf("  handed to the client : %9.0f messages/s (target at least 50000)\n",
                per_second(messages, handed - start));
    std::printf("  sent by the library  : %9.0f messages/s%s\n", per_second(messages, sent - start),
                all_sent ? "" : " (not all were sent)");
    std::printf("  got by a subscriber  : %9.0f messages/s, %zu of %d\n",
                per_second(static_cast<int>(received), received_at - start), received, messages);
}

}  // namespace

int main() {
    if (!quillon::testing::Broker::available()) {
        std::puts("mosquitto is not installed: nothing to measure");
        return 0;
    }
    run("log lines formatted, not written", nullptr);

    const std::string dir = "/tmp/quillon-bench-publish-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    run("log lines written to a file, as the gateway does",
        std::make_shared<spdlog::sinks::basic_file_sink_mt>(dir + "/mqtt.log", true));
    std::filesystem::remove_all(dir);
    return 0;
}
