#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cache/database.hpp"
#include "support.hpp"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

Parameter make_parameter(const std::string& name, std::uint32_t instance,
                         std::uint32_t object_type = 2) {
    Parameter p;
    p.name = name;
    p.instance = instance;
    p.object_type = object_type;
    p.object_name = "analog-value";
    p.tag = "real";
    p.read_only = true;
    p.property = 85;
    p.topic_out = "/devices/d/controls/" + name;
    p.topic_in = p.topic_out + "/on";
    p.topic_error = p.topic_out + "/meta/error";
    return p;
}

class CacheTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(db.create_database(path), 0); }

    // A second, independent connection sees only what has been committed.
    test_support::Rows rows(const std::string& sql) const { return test_support::query_rows(path, sql); }
    std::string one(const std::string& sql) const { return *rows(sql).at(0).at(0); }

    test_support::TempDir dir;
    std::string path = dir.file("cache.db");
    test_support::RecordedLogger log{"cache"};
    DatabaseBacnet db;
};

TEST_F(CacheTest, ADeviceIdIsInsertedOnceAndTheFirstRowWins) {
    db.insert(7u, false, "first");
    DeviceAddress address;
    db.update(7, true, 480, 260, address);
    db.insert(7u, false, "second");
    EXPECT_EQ(
        rows("SELECT id, active, name, max_apdu, vendor FROM devices"),
        (std::vector<std::vector<std::optional<std::string>>>{{"7", "1", "first", "480", "260"}}));
    EXPECT_THAT(log.take(), IsEmpty());
}

TEST_F(CacheTest, ParameterIdentityIsDeviceInstanceTypeAndName) {
    Parameter converted = make_parameter("t", 1);
    converted.topics = {{"/devices/d/controls/t_f", "value * 2"}};
    db.insert(1, converted);
    db.insert(1, converted);                        // same identity: nothing, no second topic row
    db.insert(1, make_parameter("t", 1, 3));        // other object type
    db.insert(1, make_parameter("t", 2));           // other instance
    db.insert(2, make_parameter("t", 1));           // other device
    db.insert(1, make_parameter("other-name", 1));  // other name
    EXPECT_EQ(one("SELECT COUNT(*) FROM objects"), "5");
    EXPECT_EQ(one("SELECT COUNT(*) FROM topics_out"), "1");
    EXPECT_THAT(log.take(), IsEmpty());
}

TEST_F(CacheTest, NullRulesForTagTopicsAndConverters) {
    Parameter plain = make_parameter("plain", 1);
    plain.tag.clear();
    db.insert(1, plain);

    Parameter converted = make_parameter("conv", 2);
    converted.read_only = false;
    converted.topics = {{"/devices/d/controls/conv_a", ""},
                        {"", "dropped: empty topic"},
                        {"/devices/d/controls/conv_b", "value + 1"}};
    db.insert(1, converted);

    using Row = std::vector<std::optional<std::string>>;
    EXPECT_EQ(rows("SELECT name, tag, read_only, topic_out FROM objects ORDER BY id"),
              (std::vector<Row>{{"plain", std::nullopt, "1", "/devices/d/controls/plain"},
                                {"conv", "real", "0", std::nullopt}}));
    EXPECT_EQ(rows("SELECT o.name, t.topic, t.converter_read, typeof(t.converter_read) FROM "
                   "topics_out t JOIN objects o ON o.id = t.object_id ORDER BY t.rowid"),
              (std::vector<Row>{{"conv", "/devices/d/controls/conv_a", "", "text"},
                                {"conv", "/devices/d/controls/conv_b", "value + 1", "text"}}));
}

TEST_F(CacheTest, UnsignedValuesAreStoredAsNonNegativeIntegers) {
    Parameter p = make_parameter("big", 4000000000u, 4000000001u);
    p.property = 4000000002u;
    db.insert(-5, p);
    db.insert(4294967295u, false, "max id");
    DeviceAddress address;
    db.update(4294967295u, true, 4294967294u, 65535, address);
    EXPECT_EQ(
        rows("SELECT device, instance, object_type, property, typeof(instance) FROM objects").at(0),
        (std::vector<std::optional<std::string>>{"-5", "4000000000", "4000000001", "4000000002",
                                                 "integer"}));
    EXPECT_EQ(one("SELECT id || ' ' || max_apdu || ' ' || vendor FROM devices"),
              "4294967295 4294967294 65535");
}

TEST_F(CacheTest, UpdateStoresTheSourceAddressAsBlobs) {
    db.insert(10u, false, "local");
    db.insert(20u, false, "routed");

    DeviceAddress local;
    local.mac_len = 6;
    local.mac = {10, 78, 0, 11, 0xBA, 0xC0, 0xFF};
    db.update(10, true, 1476, 999, local);

    DeviceAddress routed;
    routed.mac_len = 6;
    routed.mac = {10, 78, 0, 1, 0xBA, 0xC0};
    routed.net = 5;
    routed.len = 2;
    routed.adr = {0x12, 0x34, 0xEE};
    db.update(20, true, 480, 7, routed);
    db.update(30, true, 1, 1, routed);  // no such device: nothing, nothing logged

    using Row = std::vector<std::optional<std::string>>;
    EXPECT_EQ(rows("SELECT id, active, net, hex(adr), typeof(adr), adr_len, hex(mac), mac_len "
                   "FROM devices ORDER BY id"),
              (std::vector<Row>{{"10", "1", "0", "", "blob", "0", "0A4E000BBAC0", "6"},
                                {"20", "1", "5", "1234", "blob", "2", "0A4E0001BAC0", "6"}}));
    EXPECT_EQ(one("SELECT name FROM devices WHERE id = 20"), "routed");
    EXPECT_THAT(log.take(), IsEmpty());
}

TEST_F(CacheTest, CountObjectsCountsTheRowsOfOneDevice) {
    db.insert(1, make_parameter("a", 1));
    db.insert(1, make_parameter("b", 2));
    db.insert(2, make_parameter("a", 1));
    Device device;
    device.id = 1;
    EXPECT_EQ(db.countObjects(device), 2);
    device.id = 3;
    EXPECT_EQ(db.countObjects(device), 0);
}

TEST(CacheFailures, ReportedWithTheirMessages) {
    test_support::TempDir dir;
    test_support::RecordedLogger log{"cache"};
    DatabaseBacnet db;
    Device device;
    device.id = 1;

    // Nothing open yet: every operation fails without throwing.
    EXPECT_EQ(db.countObjects(device), -1);
    db.insert(1u, false, "x");
    db.insert(1, make_parameter("x", 1));
    db.update(1, true, 1, 1, DeviceAddress{});
    EXPECT_THAT(log.take(), ElementsAre(StartsWith("error countObjects error: "),
                                        StartsWith("error insert(device) error: "),
                                        StartsWith("error insert(parameter) error: "),
                                        StartsWith("error update(devices) error: ")));

    // A directory that does not exist.
    EXPECT_EQ(db.create_database(dir.file("missing/cache.db")), 1);
    EXPECT_THAT(log.take(), ElementsAre(StartsWith("error create_database error: ")));
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));

    // A good cache, then a file that is not a database: the new connection stays in place
    // and its queries fail.
    ASSERT_EQ(db.create_database(dir.file("good.db")), 0);
    db.insert(1, make_parameter("x", 1));
    EXPECT_EQ(db.countObjects(device), 1);
    { std::ofstream(dir.file("garbage.db")) << std::string(4096, 'x'); }
    EXPECT_EQ(db.create_database(dir.file("garbage.db")), 1);
    EXPECT_THAT(log.take(), ElementsAre(AllOf(StartsWith("error create_database error: "),
                                              HasSubstr("not a database"))));
    EXPECT_EQ(db.countObjects(device), -1);
    EXPECT_THAT(log.take(), ElementsAre(StartsWith("error countObjects error: ")));

    // The old connection is kept when the new one cannot even be opened.
    ASSERT_EQ(db.create_database(dir.file("good.db")), 0);
    EXPECT_EQ(db.create_database(dir.file("missing/cache.db")), 1);
    EXPECT_EQ(db.countObjects(device), 1);
}

TEST_F(CacheTest, ABatchIsOneTransactionThatKeepsWhatWasWritten) {
    {
        DatabaseBacnet::Batch batch(db);
        db.insert(1u, false, "d");
        for (std::uint32_t i = 0; i < 50; ++i) {
            db.insert(1, make_parameter("p" + std::to_string(i), i));
        }
        db.insert(1, make_parameter("p0", 0));  // duplicates are still refused inside it
        EXPECT_EQ(one("SELECT COUNT(*) FROM objects"), "0");  // not committed yet
    }
    EXPECT_EQ(one("SELECT COUNT(*) FROM objects"), "50");
    EXPECT_EQ(one("SELECT COUNT(*) FROM devices"), "1");
    EXPECT_THAT(log.take(), IsEmpty());
}

// Someone reading the file (an operator's sqlite3) while the rebuild commits: the commit
// waits for the reader instead of leaving the rows in a transaction that never ends.
TEST_F(CacheTest, ABatchCommitWaitsForAReader) {
    SQLite::Database reader(path, SQLite::OPEN_READONLY);
    reader.exec("BEGIN");
    EXPECT_EQ(reader.execAndGet("SELECT COUNT(*) FROM objects").getInt(), 0);  // holds its lock
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reader.exec("COMMIT");
    });
    {
        DatabaseBacnet::Batch batch(db);
        db.insert(1, make_parameter("p", 1));
    }
    release.join();
    EXPECT_EQ(one("SELECT COUNT(*) FROM objects"), "1");
    EXPECT_THAT(log.take(), IsEmpty());
    db.insert(1, make_parameter("q", 2));  // and the connection is back in autocommit mode
    EXPECT_EQ(one("SELECT COUNT(*) FROM objects"), "2");
}

TEST_F(CacheTest, DatabaseDescriptorsAreCloseOnExec) {
    DatabaseBacnet::Batch batch(db);  // keeps the rollback journal open as well
    db.insert(1u, false, "d");
    int seen = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec || target.string().rfind(dir.path().string(), 0) != 0) continue;
        const int fd = std::stoi(entry.path().filename().string());
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << target;
        ++seen;
    }
    EXPECT_GE(seen, 2);  // the database and its journal
}

}  // namespace
