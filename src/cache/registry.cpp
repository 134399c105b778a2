// The registry half of DatabaseBacnet: use-counted device lists and per-device parameter
// lists loaded from the cache.
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>

#include <string_view>

#include "cache/database.hpp"
#include "logging/logging.hpp"

namespace {

constexpr const char* kSelectActive =
    "SELECT id, name, max_apdu, vendor, net, adr, adr_len, mac, mac_len FROM devices WHERE "
    "active = true;";
constexpr const char* kSelectInactive =
    "SELECT id, name, max_apdu, vendor, net, adr, adr_len, mac, mac_len FROM devices WHERE "
    "active = false;";
constexpr const char* kSelectAll =
    "SELECT id, name, max_apdu, vendor, net, adr, adr_len, mac, mac_len FROM devices;";
constexpr const char* kSelectObjects =
    "SELECT id, name, instance, object_name, object_type, tag, read_only, property, topic_out, "
    "topic_in, topic_error FROM objects WHERE device = ?;";
constexpr const char* kSelectTopics =
    "SELECT topic, converter_read FROM topics_out WHERE object_id = ?;";

std::string text(const SQLite::Column& c) { return c.isNull() ? std::string() : c.getString(); }

std::uint32_t u32(const SQLite::Column& c) { return static_cast<std::uint32_t>(c.getInt64()); }

}  // namespace

struct DatabaseBacnet::ListChoice {
    std::vector<Device>& list;
    std::string_view label;
    const char* statement;
};

DatabaseBacnet::ListChoice DatabaseBacnet::choose(DeviceFilter filter) {
    switch (filter) {
        case DeviceFilter::Active:
            return {active_devices, "АКТИВНЫЕ", kSelectActive};
        case DeviceFilter::Inactive:
            return {inactive_devices, "НЕ АКТИВНЫЕ", kSelectInactive};
        default:
            return {all_devices, "ВСЕ", kSelectAll};
    }
}

int DatabaseBacnet::loadDevices(DeviceFilter filter) {
    auto log = logging::get("cache");
    const std::lock_guard guard(devices_lock);
    ListChoice choice = choose(filter);
    std::int32_t& count = use_counts[static_cast<std::int32_t>(filter)];
    if (!choice.list.empty()) {
        ++count;
        log->info("Устройства уже загружены [{0}]", count);
        return 0;
    }
    try {
        SQLite::Statement select(*connection_or_throw(), choice.statement);
        while (select.executeStep()) {
            Device device;
            device.id = u32(select.getColumn(0));
            device.name = text(select.getColumn(1));
            device.max_apdu = u32(select.getColumn(2));
            device.vendor = static_cast<std::uint16_t>(select.getColumn(3).getInt64());
            device.net = static_cast<std::uint16_t>(select.getColumn(4).getInt64());
            choice.list.push_back(std::move(device));
        }
    } catch (const SQLite::Exception& e) {
        log->error("loadDevices error : {0}", e.what());
        return -1;
    }
    ++count;
    log->info("{0} устройства загружены [{1}] в количестве {2}", choice.label, count,
              choice.list.size());
    return 0;
}

int DatabaseBacnet::loadObjects(Device& device) {
    auto log = logging::get("cache");
    const std::lock_guard guard(objects_lock);
    // Every call is a user until its releaseObjects, failed loads included: the callers
    // release after a failure as well.
    ++device.parameter_users;
    if (!device.parameters.empty()) {
        log->info("Объекты устройства {0} уже загружены", device.id);
        return 0;
    }
    try {
        SQLite::Database& db = *connection_or_throw();
        SQLite::Statement select(db, kSelectObjects);
        select.bind(1, static_cast<std::int64_t>(device.id));
        while (select.executeStep()) {
            Parameter p;
            p.id = select.getColumn(0).getInt();
            p.name = text(select.getColumn(1));
            p.instance = u32(select.getColumn(2));
            p.object_name = text(select.getColumn(3));
            p.object_type = u32(select.getColumn(4));
            p.tag = text(select.getColumn(5));
            p.read_only = select.getColumn(6).getInt64() != 0;
            p.property = u32(select.getColumn(7));
            p.topic_out = text(select.getColumn(8));
            p.topic_in = text(select.getColumn(9));
            p.topic_error = text(select.getColumn(10));
            if (p.topic_out.empty()) {
                SQLite::Statement topics(db, kSelectTopics);
                topics.bind(1, p.id);
                while (topics.executeStep()) {
                    p.topics.push_back({text(topics.getColumn(0)), text(topics.getColumn(1))});
                }
            }
            device.parameters.push_back(std::move(p));
        }
    } catch (const SQLite::Exception& e) {
        log->error("loadObjects error: {0}", e.what());
        return -1;
    }
    log->info("Oбъекты утсройства {0} загружены в количестве {1}", device.id,
              device.parameters.size());
    return 0;
}

bool DatabaseBacnet::listed(std::uint32_t device_id) {
    // The lists are searched under their own lock: another thread may be loading one of
    // them, and objects_lock is not held here, so the two locks are never held together.
    const std::lock_guard guard(devices_lock);
    for (const std::vector<Device>* list : {&active_devices, &inactive_devices, &all_devices}) {
        for (const Device& d : *list) {
            if (d.id == device_id) {
                return true;
            }
        }
    }
    return false;
}

int DatabaseBacnet::releaseObjects(Device& device) {
    auto log = logging::get("cache");
    const bool found = listed(device.id);
    const std::lock_guard guard(objects_lock);
    if (!found) {
        log->info("Oбъекты устройства {0} используются, удаление невозможно", device.id);
        return 0;
    }
    // Another thread that loaded the same record may still be walking its parameters.
    if (--device.parameter_users > 0) {
        log->info("Oбъекты устройства {0} используются, удаление невозможно", device.id);
        return 0;
    }
    device.parameter_users = 0;
    device.parameters.clear();
    log->info("Oбъекты устройства {0} удалены", device.id);
    return 0;
}

int DatabaseBacnet::releaseDevices(DeviceFilter filter) {
    auto log = logging::get("cache");
    const std::lock_guard guard(devices_lock);
    ListChoice choice = choose(filter);
    std::int32_t& count = use_counts[static_cast<std::int32_t>(filter)];
    --count;
    if (count != 0) {
        log->info("{0} устройства используются, удаление невозможно [{1}]", choice.label, count);
        return 0;
    }
    choice.list.clear();
    log->info("{0} устройства удалены [{1}]", choice.label, count);
    return 0;
}
