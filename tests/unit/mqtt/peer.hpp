// The other side of the broker in tests: a plain libmosquitto client that publishes
// and collects what it receives.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace quillon::testing {

class Peer {
  public:
    struct Received {
        std::string topic;
        std::string payload;  // every octet, NULs included
        int qos = 0;
        bool retain = false;
    };

    explicit Peer(int port, const std::string& username = {}, const std::string& password = {}) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(nullptr, true, this);
        if (!username.empty()) {
            mosquitto_username_pw_set(mosq_, username.c_str(), password.c_str());
        }
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            auto* peer = static_cast<Peer*>(self);
            const std::lock_guard lock(peer->mutex_);
            peer->connected_ = rc == 0;
            peer->changed_.notify_all();
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto* peer = static_cast<Peer*>(self);
            const std::lock_guard lock(peer->mutex_);
            ++peer->subscribed_;
            peer->changed_.notify_all();
        });
        mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* peer = static_cast<Peer*>(self);
                const std::lock_guard lock(peer->mutex_);
                peer->received_.push_back({m->topic,
                                           std::string(static_cast<const char*>(m->payload),
                                                       static_cast<std::size_t>(m->payloadlen)),
                                           m->qos, m->retain});
                peer->changed_.notify_all();
            });
        if (mosquitto_connect(mosq_, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS) {
            mosquitto_loop_start(mosq_);
        }
    }
    ~Peer() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
        mosquitto_lib_cleanup();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool wait_connected(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return connected_; });
    }

    bool subscribe(const std::string& topic,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        const int before = subscribed_;
        lock.unlock();
        if (mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 2) != MOSQ_ERR_SUCCESS) return false;
        lock.lock();
        return changed_.wait_for(lock, timeout, [&] { return subscribed_ > before; });
    }

    // Queues a publication; messages of one QoS from one peer keep their order.
    bool publish(const std::string& topic, const std::string& payload, int qos = 1,
                 bool retain = false) {
        return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
    }

    bool wait_received(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return received_.size() >= n; });
    }

    std::size_t count() {
        const std::lock_guard lock(mutex_);
        return received_.size();
    }

    std::vector<Received> received() {
        const std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    mosquitto* mosq_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    int subscribed_ = 0;
    std::vector<Received> received_;
};

}  // namespace quillon::testing
