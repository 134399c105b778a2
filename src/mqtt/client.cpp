#include "mqtt/client.hpp"

#include <mosquitto.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace Mqtt {

namespace {

// Set once mosquitto_lib_init has succeeded; never cleared, not even by the cleanup a
// destroyed client runs.
std::atomic<bool> library_initialised{false};
std::mutex library_init_mutex;

// The logging set-up registers "mqtt"; without it the client stays quiet rather
// than failing.
std::shared_ptr<spdlog::logger> logger() {
    if (auto log = spdlog::get("mqtt")) return log;
    static const auto silent = std::make_shared<spdlog::logger>("mqtt");
    return silent;
}

// mosquitto_strerror reads errno for MOSQ_ERR_ERRNO, so it is taken right after the
// failing call, before logging can touch errno.
std::string error_text(int rc) { return mosquitto_strerror(rc); }

void initialise_library() {
    const std::lock_guard lock(library_init_mutex);
    if (library_initialised) return;
    const int rc = mosquitto_lib_init();
    if (rc == MOSQ_ERR_SUCCESS) {
        library_initialised = true;
        logger()->info("Сокеты удалось проинициализировать");
    } else {
        const std::string text = error_text(rc);
        logger()->error("Сокеты не удалось проинициализировать : {} ({})", text, rc);
    }
}

// Failures that come from the topic itself: subscribing again later cannot help.
bool topic_refused(int rc) {
    return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8 ||
           rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_NOT_SUPPORTED;
}

}  // namespace

void Client::MosquittoDeleter::operator()(mosquitto* mosq) const noexcept {
    mosquitto_destroy(mosq);
}

Client::Client(const std::string& host, std::int32_t port)
    : Client(host, port, std::optional<Credentials>{}) {}

Client::Client(const std::string& host, std::int32_t port, const std::string& username,
               const std::string& password)
    : Client(host, port, std::optional<Credentials>{Credentials{username, password}}) {}

Client::Client(const std::string& host, std::int32_t port,
               const std::optional<Credentials>& credentials) {
    initialise_library();
    if (!library_initialised) return;

    mosq_.reset(mosquitto_new(nullptr, true, this));
    if (!mosq_) {
        valid_ = false;
        return;
    }
    mosquitto* mosq = mosq_.get();
    mosquitto_connect_callback_set(mosq, &Client::on_connect);
    mosquitto_disconnect_callback_set(mosq, &Client::on_disconnect);
    mosquitto_publish_callback_set(mosq, &Client::on_publish);
    mosquitto_subscribe_callback_set(mosq, &Client::on_subscribe);
    mosquitto_message_callback_set(mosq, &Client::on_message);
    mosquitto_unsubscribe_callback_set(mosq, &Client::on_unsubscribe);
    mosquitto_reconnect_delay_set(mosq, reconnect_delay_seconds, reconnect_delay_seconds, false);

    if (credentials) {
        const int rc = mosquitto_username_pw_set(mosq, credentials->username.c_str(),
                                                 credentials->password.c_str());
        if (rc == MOSQ_ERR_SUCCESS) {
            logger()->info("Логин и пароль успешно установлены");
        } else if (rc == MOSQ_ERR_INVAL) {
            logger()->warn("Данные логина и пароля неверные");
        } else if (rc == MOSQ_ERR_NOMEM) {
            logger()->warn("Нехватка памяти для логина и пароля");
        }
    }

    connect(host, port);
}

Client::~Client() {
    if (!usable()) return;
    stop();
    mosq_.reset();
    mosquitto_lib_cleanup();
}

bool Client::usable() const { return valid_ && library_initialised; }

bool Client::connect(const std::string& host, std::int32_t port) {
    if (!valid_) return false;
    const auto log = logger();
    int rc = mosquitto_loop_start(mosq_.get());
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(rc);
        log->error("Новый поток не открыт : {} ({})", text, rc);
        return false;
    }
    log->info("Новый поток открыт");
    rc = mosquitto_connect_async(mosq_.get(), host.c_str(), port, keep_alive_seconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(rc);
        log->error("Соединение не установлено : {} ({})", text, rc);
        return false;
    }
    return true;
}

int Client::request_subscription(Subscription& subscription) {
    const int rc =
        mosquitto_subscribe(mosq_.get(), nullptr, subscription.topic.c_str(), subscribe_qos);
    subscription.requested = rc == MOSQ_ERR_SUCCESS;
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(rc);
        logger()->error("Подписка не оформлена : {} ({})", text, rc);
        return rc;
    }
    logger()->info("На топик [{}] оформляется подписка...", subscription.topic);
    return rc;
}

bool Client::subscribe(const std::string& topic_name) {
    if (!usable()) return false;
    if (topic_name.empty()) {
        logger()->error("Подписка не оформлена : отсутствует топик");
        return false;
    }
    const std::lock_guard lock(subscriptions_mutex_);
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](const Subscription& s) { return s.topic == topic_name; });
    if (it == subscriptions_.end()) {
        it = subscriptions_.insert(subscriptions_.end(), Subscription{topic_name, false});
    }
    const int rc = request_subscription(*it);
    // A topic refused only because the broker is away is kept: it is requested again
    // once a connection is accepted.
    if (topic_refused(rc)) subscriptions_.erase(it);
    return rc == MOSQ_ERR_SUCCESS;
}

void Client::publish(const std::string& topic_name, const std::string& message) {
    if (!usable()) return;
    const int rc =
        mosquitto_publish(mosq_.get(), nullptr, topic_name.c_str(),
                          static_cast<int>(message.size()), message.data(), publish_qos, false);
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(rc);
        logger()->error("Сообщение не отправлено : {} ({})", text, rc);
        return;
    }
    logger()->info("По топику [{}] отправляется сообщение... [{}]", topic_name, message);
}

bool Client::receive() {
    std::unique_lock lock(mutex_);
    ready_cv_.wait(lock, [this] { return ready_; });
    return take_message(lock);
}

bool Client::receive_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_cv_.wait_for(lock, timeout, [this] { return ready_; })) return false;
    return take_message(lock);
}

std::size_t Client::pending() {
    const std::lock_guard lock(mutex_);
    return messages_.size();
}

bool Client::take_message(std::unique_lock<std::mutex>& lock) {
    if (!usable() || messages_.empty()) {
        ready_ = false;
        return false;
    }
    Message& first = messages_.front();
    topic = std::move(first.topic);
    payload = std::move(first.payload);
    mid = first.mid;
    qos = first.qos;
    retain = first.retain;
    messages_.pop_front();
    ready_ = !messages_.empty();
    lock.unlock();
    logger()->info("По топику [{}] получено сообщение [{}]", topic, payload);
    return true;
}

bool Client::stop() {
    if (!mosq_) return false;
    const auto log = logger();
    // Disconnect first and let the network thread end by itself: cancelling it (a forced
    // stop) can leave it holding one of the library's locks, and the disconnect that
    // follows then waits on that lock for ever. The log lines keep their usual order.
    const int disconnected = mosquitto_disconnect(mosq_.get());
    int rc = mosquitto_loop_stop(mosq_.get(), false);
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(rc);
        log->error("Поток не закрыт : {} ({})", text, rc);
        return false;
    }
    log->info("Поток закрыт");
    if (disconnected != MOSQ_ERR_SUCCESS) {
        const std::string text = error_text(disconnected);
        log->error("Соединение не разорвано : {} ({})", text, disconnected);
    }
    return true;
}

void Client::on_connect(mosquitto*, void* self, int rc) {
    logger()->info("Соединение установлено");
    if (rc != 0) return;
    auto* client = static_cast<Client*>(self);
    const std::lock_guard lock(client->subscriptions_mutex_);
    for (Subscription& subscription : client->subscriptions_) {
        if (!subscription.requested) client->request_subscription(subscription);
    }
}

void Client::on_disconnect(mosquitto*, void* self, int) {
    logger()->error("Произошел разрыв соединения");
    auto* client = static_cast<Client*>(self);
    const std::lock_guard lock(client->subscriptions_mutex_);
    for (Subscription& subscription : client->subscriptions_) subscription.requested = false;
}

void Client::on_publish(mosquitto*, void*, int) { logger()->info("Сообщение отправлено"); }

void Client::on_subscribe(mosquitto*, void*, int, int, const int*) {
    logger()->info("Подписка оформлена");
}

void Client::on_unsubscribe(mosquitto*, void*, int) { logger()->info("Отписка оформлена"); }

void Client::on_message(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<Client*>(self);
    Message received;
    received.topic = message->topic != nullptr ? message->topic : "";
    if (message->payload != nullptr && message->payloadlen > 0) {
        const auto* bytes = static_cast<const char*>(message->payload);
        received.payload.assign(bytes,
                                ::strnlen(bytes, static_cast<std::size_t>(message->payloadlen)));
    }
    received.mid = message->mid;
    received.qos = message->qos;
    received.retain = message->retain;
    {
        const std::lock_guard lock(client->mutex_);
        client->messages_.push_back(std::move(received));
        client->ready_ = true;
    }
    client->ready_cv_.notify_one();
}

}  // namespace Mqtt
