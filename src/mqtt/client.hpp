// Mqtt::Client: the gateway's one link to the MQTT broker over libmosquitto. It
// publishes what the BACnet side produces and queues command messages for the write thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace Mqtt {

// One received message. The payload is cut at its first NUL octet.
struct Message {
    std::string topic;
    std::string payload;
    std::int32_t mid = 0;
    std::int32_t qos = 0;
    bool retain = false;
};

class Client {
  public:
    // Fixed settings of the connection.
    static constexpr int keep_alive_seconds = 10;
    static constexpr unsigned reconnect_delay_seconds = 5;
    static constexpr int subscribe_qos = 2;
    static constexpr int publish_qos = 0;

    // Both constructions start connecting at once; the library's network thread keeps
    // reconnecting every 5 seconds for as long as the client lives.
    Client(const std::string& host, std::int32_t port);
    Client(const std::string& host, std::int32_t port, const std::string& username,
           const std::string& password);
    // Stops the network thread, disconnects and cleans the library up. A thread blocked
    // in receive() is not woken: the gateway's client lives as long as the process.
    ~Client();

    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    Client(Client&&) = delete;
    Client& operator=(Client&&) = delete;

    // False when the library could not be initialised or the instance not created;
    // every operation is then inert.
    bool usable() const;

    // Subscribes at QoS 2. The topic is remembered and subscribed again after every
    // accepted reconnection, since the clean session drops subscriptions on the broker.
    bool subscribe(const std::string& topic_name);
    // QoS 0, no retain; a message published while the connection is down is lost.
    void publish(const std::string& topic_name, const std::string& message);

    // Waits for a message and takes the oldest one into the current-message fields
    // below. For the one consumer thread.
    bool receive();
    // As receive, but gives up after `timeout` and returns false.
    bool receive_for(std::chrono::milliseconds timeout);

    // Messages queued and not yet taken.
    std::size_t pending();

    // Stops the network thread and disconnects.
    bool stop();

    // The message most recently taken by receive; read by the consumer between calls.
    std::string topic;
    std::string payload;
    std::int32_t mid = 0;
    std::int32_t qos = 0;
    bool retain = false;

  private:
    struct Credentials {
        std::string username;
        std::string password;
    };
    struct Subscription {
        std::string topic;
        // Requested on the connection in place; cleared when that connection is lost.
        bool requested = false;
    };
    struct MosquittoDeleter {
        void operator()(mosquitto* mosq) const noexcept;
    };

    Client(const std::string& host, std::int32_t port,
           const std::optional<Credentials>& credentials);
    bool connect(const std::string& host, std::int32_t port);
    // Needs subscriptions_mutex_.
    int request_subscription(Subscription& subscription);
    bool take_message(std::unique_lock<std::mutex>& lock);

    static void on_connect(mosquitto* mosq, void* self, int rc);
    static void on_disconnect(mosquitto* mosq, void* self, int rc);
    static void on_publish(mosquitto* mosq, void* self, int mid);
    static void on_subscribe(mosquitto* mosq, void* self, int mid, int qos_count,
                             const int* granted_qos);
    static void on_unsubscribe(mosquitto* mosq, void* self, int mid);
    static void on_message(mosquitto* mosq, void* self, const mosquitto_message* message);

    std::deque<Message> messages_;
    bool valid_ = true;
    std::mutex mutex_;  // guards messages_ and ready_
    bool ready_ = false;
    std::condition_variable ready_cv_;

    std::mutex subscriptions_mutex_;
    std::vector<Subscription> subscriptions_;

    std::unique_ptr<mosquitto, MosquittoDeleter> mosq_;
};

}  // namespace Mqtt
