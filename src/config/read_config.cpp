#include "config/read_config.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/printf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string_view>

#include "bacstack/names.hpp"
#include "logging/logging.hpp"

namespace {

using json = nlohmann::json;
using Logger = std::shared_ptr<spdlog::logger>;

constexpr std::uint32_t kPresentValue = 85;

// Keys read from something that is not an object (or walked in something that is not an
// array) end the reading with the JSON library's own type error, as any value of the wrong
// type does.
const json& as_object(const json& j) {
    if (!j.is_object()) {
        (void)j.get<json::object_t>();
    }
    return j;
}

const json& as_array(const json& j) {
    if (!j.is_array()) {
        (void)j.get<json::array_t>();
    }
    return j;
}

// The text that names an incomplete device or channel entry in "Данные отсутствуют : {0}":
// present values are appended, the names of absent keys put in front.
class ErrorContext {
  public:
    void add(std::string_view key, const std::optional<std::string>& value) {
        if (first_) {
            first_ = false;
            text_ = value ? *value : std::string(key);
        } else if (value) {
            text_ += " : ";
            text_ += *value;
        } else {
            text_ = fmt::format("{} : {}", key, text_);
        }
        complete_ = complete_ && value.has_value();
    }
    bool complete() const { return complete_; }
    const std::string& text() const { return text_; }

  private:
    bool first_ = true;
    bool complete_ = true;
    std::string text_;
};

std::optional<std::string> read_text(const json& entry, const char* key, std::string& out) {
    if (!entry.contains(key)) {
        return std::nullopt;
    }
    out = entry.at(key).get<std::string>();
    return out;
}

std::optional<std::string> read_unsigned(const json& entry, const char* key, std::uint32_t& out) {
    if (!entry.contains(key)) {
        return std::nullopt;
    }
    out = entry.at(key).get<std::uint32_t>();
    return std::to_string(out);
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Reads the whole file through a close-on-exec descriptor; nullopt when it cannot be opened.
std::optional<std::string> slurp(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return text;
}

void read_channel(const json& channel, const std::string& device_name, std::uint32_t sid,
                  DatabaseBacnet& cache, const Logger& log) {
    as_object(channel);
    Parameter p;
    ErrorContext context;
    context.add("name", read_text(channel, "name", p.name));
    context.add("object_number", read_unsigned(channel, "object_number", p.instance));
    if (channel.contains("scale")) {
        const float scale = channel.at("scale").get<float>();
        context.add("scale", fmt::sprintf("%f", static_cast<double>(scale)));
    } else {
        context.add("scale", std::nullopt);
    }
    if (!channel.contains("value_type")) {
        context.add("value_type", std::nullopt);
    } else if (const json& type = channel.at("value_type"); type.is_string()) {
        p.object_name = type.get<std::string>();
        p.object_type = bacstack::object_type_from_name(p.object_name).value_or(0);
        context.add("value_type", p.object_name);
    } else {
        p.object_type = type.get<std::uint32_t>();
        p.object_name = std::string(bacstack::object_type_name(p.object_type));
        context.add("value_type", std::to_string(p.object_type));
    }
    context.add("tag", read_text(channel, "tag", p.tag));
    p.property =
        channel.contains("property") ? channel.at("property").get<std::uint32_t>() : kPresentValue;
    p.read_only = channel.contains("read_only") ? channel.at("read_only").get<bool>() : true;
    if (!context.complete()) {
        log->error("Данные отсутствуют : {0}", context.text());
        return;
    }
    if (channel.contains("on_read")) {
        for (const json& entry : as_array(channel.at("on_read"))) {
            as_object(entry);
            const auto topic = entry.find("topic");
            const auto converter = entry.find("converter_read");
            if (topic == entry.end() || converter == entry.end() || !topic->is_string() ||
                !converter->is_string()) {
                continue;
            }
            p.topics.push_back({fmt::format("/devices/{0}/controls/{1}_{2}", device_name, p.name,
                                            topic->get<std::string>()),
                                converter->get<std::string>()});
        }
    } else {
        p.topic_out = fmt::format("/devices/{0}/controls/{1}", device_name, p.name);
    }
    p.topic_in = fmt::format("/devices/{0}/controls/{1}/on", device_name, p.name);
    p.topic_error = fmt::format("/devices/{0}/controls/{1}/meta/error", device_name, p.name);
    cache.insert(static_cast<std::int32_t>(sid), p);
}

// Inserts every complete device entry with the channels of every group of its "cname".
// False when the port section has no "parameters" (the caller then resets and retries).
bool fill_cache(const json& port, DatabaseBacnet& cache, const Logger& log) {
    DatabaseBacnet::Batch batch(cache);
    for (const json& device : as_array(port.at("devices"))) {
        std::string name;
        std::uint32_t sid = 0;
        std::string cname;
        ErrorContext context;
        context.add("name", read_text(device, "name", name));
        context.add("sid", read_unsigned(device, "sid", sid));
        context.add("cname", read_text(device, "cname", cname));
        if (!context.complete()) {
            log->error("Данные отсутствуют : {0}", context.text());
            continue;
        }
        if (!port.contains("parameters")) {
            log->error("Данные отсутствуют : ports : parameters");
            return false;
        }
        cache.insert(sid, false, name);
        for (const json& group : as_array(port.at("parameters"))) {
            if (!group.is_object() || !group.contains("cname")) {
                log->error("Данные отсутствуют : ports : parameters : cname");
                continue;
            }
            if (group.at("cname").get<std::string>() != cname) {
                continue;
            }
            if (!group.contains("config")) {
                log->error("Данные отсутствуют : ports : parameters : config");
                continue;
            }
            const json& config = group.at("config");
            if (!config.is_object() || !config.contains("channels")) {
                log->error("Данные отсутствуют : ports : parameters : config : channels");
                continue;
            }
            for (const json& channel : as_array(config.at("channels"))) {
                read_channel(channel, name, sid, cache, log);
            }
        }
    }
    return true;
}

bool is_bacnet_section(const json& port) {
    if (!port.is_object() || !port.contains("connection")) {
        return false;
    }
    const json& connection = port.at("connection");
    if (!connection.is_object() || !connection.contains("type")) {
        return false;
    }
    const json& type = connection.at("type");
    return type.is_string() && type.get_ref<const std::string&>() == "bacnet";
}

}  // namespace

bool read_config(Settings& config, const std::string& config_path, std::string& db_path,
                 std::string& log_path, DatabaseBacnet& cache, const FileNames& names) {
    const Logger log = logging::register_console("config");
    config.invalid = true;

    const std::optional<std::string> text = slurp(config_path);
    if (!text) {
        log->error("Не удалось открыть файл {0}", config_path);
        return false;
    }
    json root;
    try {
        // Stream extraction: whatever follows the first complete value is not examined.
        std::istringstream stream(*text);
        stream >> root;
    } catch (const json::exception& e) {
        // Besides syntax errors, a number too large for a double (1e400) ends the parse.
        log->error("Ошибка разборки JSON: {0}", e.what());
        return false;
    }

    try {
        as_object(root);
        // An absent "log" is read as null, which is not an object either.
        static const json kNull;
        const json& log_section = as_object(root.contains("log") ? root.at("log") : kNull);
        config.is_debug =
            log_section.contains("is_debug") ? log_section.at("is_debug").get<bool>() : false;

        config.mqtt_port = 1883;
        config.mqtt_host = "localhost";
        config.mqtt_username.clear();
        config.mqtt_password.clear();
        if (root.contains("mqtt")) {
            const json& mqtt = as_object(root.at("mqtt"));
            if (mqtt.contains("port")) config.mqtt_port = mqtt.at("port").get<std::int32_t>();
            if (mqtt.contains("url")) config.mqtt_host = mqtt.at("url").get<std::string>();
            if (mqtt.contains("username")) {
                config.mqtt_username = mqtt.at("username").get<std::string>();
            }
            if (mqtt.contains("password")) {
                config.mqtt_password = mqtt.at("password").get<std::string>();
            }
        }

        if (!root.contains("ports")) {
            log->error("Данные отсутствуют : read_config : ports");
            return true;
        }
        for (const json& port : as_array(root.at("ports"))) {
            if (!config.invalid) {
                break;
            }
            if (!is_bacnet_section(port)) {
                continue;
            }
            const json& connection = port.at("connection");
            config.invalid = false;
            config.connection_type = connection.at("type").get<std::string>();
            config.bacnet_iface = connection.contains("bacnet_iface")
                                      ? connection.at("bacnet_iface").get<std::string>()
                                      : "eth0";
            config.db_update =
                connection.contains("db_update") ? connection.at("db_update").get<bool>() : true;

            db_path = fmt::format(fmt::runtime(names.database_template), config.bacnet_iface);
            if (log_path == names.default_log) {
                log_path = fmt::format(fmt::runtime(names.log_template), config.bacnet_iface);
            }

            if (!connection.contains("enabled")) {
                log->error("Данные отсутствуют : ports : connection : enabled");
                config.reset();
                return true;
            }
            config.enabled = connection.at("enabled").get<bool>();
            struct Timing {
                const char* key;
                std::uint64_t& field;
                const char* missing;
            };
            const Timing timings[] = {
                {"poll_interval", config.poll_interval,
                 "Данные отсутствуют : ports : connection : poll_interval"},
                {"timeout", config.timeout, "Данные отсутствуют : ports : connection : timeout"},
                {"timeout_tsm", config.timeout_tsm,
                 "Данные отсутствуют : ports : connection : timeout_tsm"},
                {"delay", config.delay, "Данные отсутствуют : ports : connection : delay"},
            };
            for (const Timing& t : timings) {
                if (!connection.contains(t.key)) {
                    log->error(t.missing);
                    config.reset();
                    return true;
                }
                t.field = connection.at(t.key).get<std::uint32_t>();
            }

            if (!port.contains("devices")) {
                log->error("Данные отсутствуют : ports : devices");
                config.reset();
                return true;
            }

            const bool exists = file_exists(db_path);
            if (config.db_update && exists && std::remove(db_path.c_str()) != 0) {
                log->error("Не удалось удалить базу данных");
                return true;
            }
            if (cache.create_database(db_path) != 0) {
                log->error("Не удалось создать базу данных");
                return true;
            }
            if (!config.db_update) {
                if (exists) {
                    // The cache of an earlier run is used as it is.
                    return false;
                }
                config.db_update = true;
            }
            if (!fill_cache(port, cache, log)) {
                config.reset();
                return true;
            }
        }
        if (config.invalid) {
            log->error("ports : connection : модуль BacNet не найден");
            return true;
        }
        return false;
    } catch (const std::exception& e) {
        log->error("Неизвестная ошибка : {0}", e.what());
        if (file_exists(db_path) && std::remove(db_path.c_str()) != 0) {
            log->error("Не удалось удалить базу данных");
        }
        return true;
    }
}
