#include "cache/database.hpp"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "logging/logging.hpp"

DatabaseBacnet database;

namespace {

constexpr const char* kCreateDevices =
    "CREATE TABLE IF NOT EXISTS devices ( id INTEGER PRIMARY KEY, active BOOLEAN, name TEXT, "
    "max_apdu INTEGER, vendor INTEGER, net INTEGER, adr BLOB, adr_len INTEGER, mac BLOB, "
    "mac_len INTEGER );";
constexpr const char* kCreateObjects =
    "CREATE TABLE IF NOT EXISTS objects ( id INTEGER PRIMARY KEY AUTOINCREMENT, device INTEGER, "
    "name TEXT, instance INTEGER, object_name TEXT, object_type INTEGER, tag TEXT, "
    "read_only INTEGER, property INTEGER, topic_out TEXT, topic_in TEXT, topic_error TEXT, "
    "FOREIGN KEY(device) REFERENCES devices(id) );";
constexpr const char* kCreateTopicsOut =
    "CREATE TABLE IF NOT EXISTS topics_out ( object_id INTEGER, topic TEXT, converter_read TEXT, "
    "FOREIGN KEY(object_id) REFERENCES objects(id) );";
// Without these the identity count before every insert and the converted-topic look-up of
// every loaded parameter scan whole tables, which makes large rebuilds and polls quadratic.
constexpr const char* kIndexIdentity =
    "CREATE INDEX IF NOT EXISTS objects_identity ON objects (device, instance, object_type, name);";
constexpr const char* kIndexTopicsOut =
    "CREATE INDEX IF NOT EXISTS topics_out_object ON topics_out (object_id);";

constexpr const char* kCountDevice = "SELECT COUNT(*) FROM devices WHERE id = ?;";
constexpr const char* kInsertDevice =
    "INSERT INTO devices (id, active, name, max_apdu, vendor, net, adr, adr_len, mac, mac_len) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kCountIdentity =
    "SELECT COUNT(*) FROM objects WHERE device = ? AND instance = ? AND object_type = ? AND "
    "name = ?;";
constexpr const char* kInsertObject =
    "INSERT INTO objects (device, name, instance, object_name, object_type, tag, read_only, "
    "property, topic_out, topic_in, topic_error) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kInsertTopicOut =
    "INSERT INTO topics_out (object_id, topic, converter_read) VALUES (?, ?, ?);";
constexpr const char* kUpdateDevice =
    "UPDATE devices SET active = ?, max_apdu = ?, vendor = ?, net = ?, adr = ?, adr_len = ?, "
    "mac = ?, mac_len = ? WHERE id = ?;";
constexpr const char* kCountObjects = "SELECT COUNT(*) FROM objects WHERE device = ?;";

// Unsigned 32-bit values are bound as 64-bit integers so they never turn negative.
std::int64_t wide(std::uint32_t v) { return static_cast<std::int64_t>(v); }

}  // namespace

SQLite::Database* DatabaseBacnet::connection_or_throw() {
    if (!connection) {
        throw SQLite::Exception("no cache database is open");
    }
    return connection.get();
}

DatabaseBacnet::DatabaseBacnet() = default;
DatabaseBacnet::~DatabaseBacnet() = default;

int DatabaseBacnet::create_database(const std::string& path) {
    try {
        auto opened =
            std::make_unique<SQLite::Database>(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        connection = std::move(opened);
        connection->exec(kCreateDevices);
        connection->exec(kCreateObjects);
        connection->exec(kCreateTopicsOut);
        connection->exec(kIndexIdentity);
        connection->exec(kIndexTopicsOut);
        return 0;
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("create_database error: {}", e.what());
        return 1;
    }
}

void DatabaseBacnet::insert(std::uint32_t id, bool active, const std::string& name) {
    try {
        SQLite::Database& db = *connection_or_throw();
        SQLite::Statement count(db, kCountDevice);
        count.bind(1, wide(id));
        if (count.executeStep() && count.getColumn(0).getInt64() >= 1) {
            return;
        }
        SQLite::Statement insert(db, kInsertDevice);
        insert.bind(1, wide(id));
        insert.bind(2, active ? 1 : 0);
        insert.bind(3, name);
        insert.exec();
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("insert(device) error: {}", e.what());
    }
}

void DatabaseBacnet::insert(std::int32_t device_id, const Parameter& p) {
    try {
        SQLite::Database& db = *connection_or_throw();
        SQLite::Statement count(db, kCountIdentity);
        count.bind(1, device_id);
        count.bind(2, wide(p.instance));
        count.bind(3, wide(p.object_type));
        count.bind(4, p.name);
        if (count.executeStep() && count.getColumn(0).getInt64() >= 1) {
            return;
        }
        SQLite::Statement insert(db, kInsertObject);
        insert.bind(1, device_id);
        insert.bind(2, p.name);
        insert.bind(3, wide(p.instance));
        insert.bind(4, p.object_name);
        insert.bind(5, wide(p.object_type));
        if (!p.tag.empty()) {
            insert.bind(6, p.tag);
        } else {
            insert.bind(6);
        }
        insert.bind(7, p.read_only ? 1 : 0);
        insert.bind(8, wide(p.property));
        if (p.topics.empty()) {
            insert.bind(9, p.topic_out);
        }
        insert.bind(10, p.topic_in);
        insert.bind(11, p.topic_error);
        insert.exec();
        const auto object_id = static_cast<std::int32_t>(db.getLastInsertRowid());
        for (const ConvertedTopic& t : p.topics) {
            if (t.topic.empty()) {
                continue;
            }
            SQLite::Statement topic(db, kInsertTopicOut);
            topic.bind(1, object_id);
            topic.bind(2, t.topic);
            topic.bind(3, t.converter_read);
            topic.exec();
        }
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("insert(parameter) error: {}", e.what());
    }
}

void DatabaseBacnet::update(std::uint32_t id, bool active, std::uint32_t max_apdu,
                            std::uint16_t vendor, const DeviceAddress& address) {
    try {
        SQLite::Database& db = *connection_or_throw();
        // A length beyond the record's octets would read past them; store what exists.
        const int adr_len = std::min<int>(address.len, DeviceAddress::kMaxLen);
        const int mac_len = std::min<int>(address.mac_len, DeviceAddress::kMaxLen);
        SQLite::Statement update(db, kUpdateDevice);
        update.bind(1, active ? 1 : 0);
        update.bind(2, wide(max_apdu));
        update.bind(3, static_cast<std::int32_t>(vendor));
        update.bind(4, static_cast<std::int32_t>(address.net));
        // A non-null pointer with length 0 stores an empty blob rather than NULL.
        update.bind(5, address.adr.data(), adr_len);
        update.bind(6, adr_len);
        update.bind(7, address.mac.data(), mac_len);
        update.bind(8, mac_len);
        update.bind(9, wide(id));
        update.exec();
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("update(devices) error: {}", e.what());
    }
}

int DatabaseBacnet::countObjects(const Device& device) {
    try {
        SQLite::Statement count(*connection_or_throw(), kCountObjects);
        count.bind(1, wide(device.id));
        if (!count.executeStep()) {
            return 0;
        }
        return count.getColumn(0).getInt();
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("countObjects error: {}", e.what());
        return -1;
    }
}

DatabaseBacnet::Batch::Batch(DatabaseBacnet& owner) {
    if (!owner.connection) {
        return;
    }
    try {
        owner.connection->exec("BEGIN");
        connection_ = owner.connection.get();
    } catch (const SQLite::Exception& e) {
        logging::get("cache")->error("transaction error: {}", e.what());
    }
}

DatabaseBacnet::Batch::~Batch() {
    if (connection_ == nullptr) {
        return;
    }
    // The connection has no busy timeout, so a reader of the file (an operator's sqlite3)
    // can make the commit fail with SQLITE_BUSY; the transaction is then still open and
    // would swallow every later statement, so the commit is retried for a while and, as a
    // last resort, the transaction is rolled back.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        try {
            connection_->exec("COMMIT");
            return;
        } catch (const SQLite::Exception& e) {
            if (e.getErrorCode() != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                logging::get("cache")->error("transaction error: {}", e.what());
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (sqlite3_get_autocommit(connection_->getHandle()) == 0) {
        try {
            connection_->exec("ROLLBACK");
        } catch (const SQLite::Exception& e) {
            logging::get("cache")->error("transaction error: {}", e.what());
        }
    }
}
