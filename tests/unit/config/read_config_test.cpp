#include "config/read_config.hpp"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"

namespace fs = std::filesystem;
using json = nlohmann::json;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {


// A complete configuration: one BACnet port, devices AHU (7) and FCU (8) of class "ahu",
// one channel group for that class.
json base_config() {
    return json::parse(R"({
      "log": {"is_debug": true},
      "mqtt": {"url": "broker.local", "port": 1884, "username": "u", "password": "p"},
      "ports": [{
        "connection": {"type": "bacnet", "enabled": true, "bacnet_iface": "veth1",
                       "poll_interval": 5000, "timeout": 3000, "timeout_tsm": 1000, "delay": 200},
        "devices": [{"name": "AHU", "sid": 7, "cname": "ahu"},
                    {"name": "FCU", "sid": 8, "cname": "ahu"}],
        "parameters": [{"cname": "ahu", "config": {"channels": [
          {"name": "t1", "object_number": 3, "scale": 1.5, "value_type": "analog-input",
           "tag": "real"}
        ]}}]
      }]
    })");
}

json& port0(json& config) { return config["ports"][0]; }
json& channels(json& config) { return port0(config)["parameters"][0]["config"]["channels"]; }

struct Outcome {
    bool again = false;
    std::vector<std::string> messages;  // "level message" as written on the console
    Settings settings;
    std::string db_path;
    std::string log_path;
};

class ReadConfigTest : public ::testing::Test {
  protected:
    void TearDown() override { spdlog::drop_all(); }

    std::string config_path() const { return (dir.path() / "quillon.json").string(); }
    std::string db_file(const std::string& iface = "veth1") const {
        return (dir.path() / "db" / ("quillon_" + iface + ".db")).string();
    }

    Outcome read_text(const std::string& text) {
        { std::ofstream(config_path()) << text; }
        return read_file(config_path());
    }
    Outcome read(const json& config) { return read_text(config.dump()); }

    Outcome read_file(const std::string& path) {
        Outcome out;
        out.settings = settings;
        out.db_path = db_path;
        out.log_path = log_path;
        ::testing::internal::CaptureStdout();
        out.again = read_config(out.settings, path, out.db_path, out.log_path, cache, names);
        const std::string printed = ::testing::internal::GetCapturedStdout();
        static const std::regex line(
            R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(config|cache)\] \[(\w+)\] (.*))");
        std::istringstream lines(printed);
        for (std::string l; std::getline(lines, l);) {
            std::smatch m;
            EXPECT_TRUE(std::regex_match(l, m, line)) << l;
            out.messages.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str());
        }
        return out;
    }

    using Rows = test_support::Rows;
    Rows rows(const std::string& sql, const std::string& iface = "veth1") const {
        return test_support::query_rows(db_file(iface), sql);
    }

    test_support::TempDir dir;
    FileNames names{(dir.path() / "db" / "quillon_{0}.db").string(),
                    (dir.path() / "log" / "quillon_{0}.log").string(),
                    (dir.path() / "log" / "quillon.log").string()};
    Settings settings;
    std::string db_path = (dir.path() / "db" / "quillon.db").string();
    std::string log_path = names.default_log;
    DatabaseBacnet cache;

    void SetUp() override { fs::create_directories(dir.path() / "db"); }
};

TEST_F(ReadConfigTest, ACompleteFileFillsSettingsPathsAndCache) {
    const Outcome out = read(base_config());
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages, IsEmpty());
    const Settings& s = out.settings;
    EXPECT_FALSE(s.invalid);
    EXPECT_TRUE(s.is_debug);
    EXPECT_EQ(s.mqtt_host, "broker.local");
    EXPECT_EQ(s.mqtt_port, 1884);
    EXPECT_EQ(s.mqtt_username, "u");
    EXPECT_EQ(s.mqtt_password, "p");
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.poll_interval, 5000u);
    EXPECT_EQ(s.timeout, 3000u);
    EXPECT_EQ(s.timeout_tsm, 1000u);
    EXPECT_EQ(s.delay, 200u);
    EXPECT_EQ(s.connection_type, "bacnet");
    EXPECT_EQ(s.bacnet_iface, "veth1");
    EXPECT_TRUE(s.db_update);
    EXPECT_EQ(out.db_path, db_file());
    EXPECT_EQ(out.log_path, (dir.path() / "log" / "quillon_veth1.log").string());

    EXPECT_EQ(rows("SELECT id, active, name FROM devices ORDER BY id"),
              (Rows{{"7", "0", "AHU"}, {"8", "0", "FCU"}}));
    // One group serves both devices, each with its own name in the topics.
    EXPECT_EQ(
        rows("SELECT device, name, instance, object_name, object_type, tag, read_only, "
             "property, topic_out, topic_in, topic_error FROM objects ORDER BY id"),
        (Rows{{"7", "t1", "3", "analog-input", "0", "real", "1", "85", "/devices/AHU/controls/t1",
               "/devices/AHU/controls/t1/on", "/devices/AHU/controls/t1/meta/error"},
              {"8", "t1", "3", "analog-input", "0", "real", "1", "85", "/devices/FCU/controls/t1",
               "/devices/FCU/controls/t1/on", "/devices/FCU/controls/t1/meta/error"}}));
}

// Failures that stop the reading: their message, whether `settings` is reset and whether
// the reading is to be repeated.
TEST_F(ReadConfigTest, FailuresOfTheFileAndItsSections) {
    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        std::vector<std::string> messages;
        bool again;
        bool reset;
    };
    const auto erase = [](const char* key) {
        return [key](json& c) { port0(c)["connection"].erase(key); };
    };
    const Case cases[] = {
        {"no ports",
         [](json& c) { c.erase("ports"); },
         {"config error Данные отсутствуют : read_config : ports"},
         true,
         false},
        {"type in other case",
         [](json& c) {
             port0(c)["connection"]["type"] = "BacNet";
             c["ports"].push_back(json{{"connection", {{"type", "Bacnet"}}}});
             c["ports"].push_back(json{{"no-connection", 1}});
             c["ports"].push_back("not an object");
         },
         {"config error ports : connection : модуль BacNet не найден"},
         true,
         false},
        {"no enabled",
         erase("enabled"),
         {"config error Данные отсутствуют : ports : connection : enabled"},
         true,
         true},
        {"no poll_interval",
         erase("poll_interval"),
         {"config error Данные отсутствуют : ports : connection : poll_interval"},
         true,
         true},
        {"no timeout",
         erase("timeout"),
         {"config error Данные отсутствуют : ports : connection : timeout"},
         true,
         true},
        {"no timeout_tsm",
         erase("timeout_tsm"),
         {"config error Данные отсутствуют : ports : connection : timeout_tsm"},
         true,
         true},
        {"no delay",
         erase("delay"),
         {"config error Данные отсутствуют : ports : connection : delay"},
         true,
         true},
        {"no devices",
         [](json& c) { port0(c).erase("devices"); },
         {"config error Данные отсутствуют : ports : devices"},
         true,
         true},
        {"no parameters",
         [](json& c) { port0(c).erase("parameters"); },
         {"config error Данные отсутствуют : ports : parameters"},
         true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        json config = base_config();
        c.edit(config);
        const Outcome out = read(config);
        EXPECT_EQ(out.again, c.again);
        EXPECT_EQ(out.messages, c.messages);
        EXPECT_TRUE(out.settings.invalid);
        if (c.reset) {
            EXPECT_EQ(out.settings.mqtt_host, "");
            EXPECT_EQ(out.settings.mqtt_port, 0);
            EXPECT_EQ(out.settings.bacnet_iface, "");
            EXPECT_FALSE(out.settings.enabled);
            EXPECT_FALSE(out.settings.is_debug);
            EXPECT_EQ(out.settings.poll_interval, 0u);
            // reset keeps the credentials and db_update
            EXPECT_EQ(out.settings.mqtt_username, "u");
            EXPECT_EQ(out.settings.mqtt_password, "p");
            EXPECT_TRUE(out.settings.db_update);
        } else {
            EXPECT_EQ(out.settings.mqtt_host, "broker.local");
        }
    }
}

TEST_F(ReadConfigTest, AnUnreadableOrUnparsableFileLetsTheCallerGoOn) {
    const std::string missing = (dir.path() / "missing.json").string();
    Outcome out = read_file(missing);
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages, ElementsAre("config error Не удалось открыть файл " + missing));
    EXPECT_TRUE(out.settings.invalid);
    EXPECT_FALSE(out.settings.enabled);

    for (const char* text :
         {"", "{\"log\": {} /* comment */ }", "{\"log\": {}, // x\n}", "{\"log\": "}) {
        SCOPED_TRACE(text);
        out = read_text(text);
        EXPECT_FALSE(out.again);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_THAT(out.messages[0],
                    StartsWith("config error Ошибка разборки JSON: [json.exception.parse_error."));
        EXPECT_FALSE(fs::exists(db_file()));
    }

    // A number beyond a double is the parser's error too.
    out = read_text(R"({"log": {"is_debug": 1e4444}})");
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages,
                ElementsAre(StartsWith("config error Ошибка разборки JSON: "
                                       "[json.exception.out_of_range.406] number overflow")));

    // Whatever follows the root object is not looked at.
    out = read_text(base_config().dump() + "\n/* trailing */ garbage {");
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages, IsEmpty());
}

// Values of the wrong JSON type: the library's type error, the cache file deleted, retry.
TEST_F(ReadConfigTest, TypeErrorsDeleteTheCacheAndRetry) {
    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        bool cache_was_created;  // the error came after the rebuild had started
    };
    const Case cases[] = {
        {"root not an object", [](json& c) { c = json::array({c}); }, false},
        {"log missing", [](json& c) { c.erase("log"); }, false},
        {"log not an object", [](json& c) { c["log"] = true; }, false},
        {"mqtt not an object", [](json& c) { c["mqtt"] = "localhost"; }, false},
        {"enabled as a string", [](json& c) { port0(c)["connection"]["enabled"] = "yes"; }, false},
        {"sid as a string", [](json& c) { port0(c)["devices"][0]["sid"] = "7"; }, true},
        {"channel as a string", [](json& c) { channels(c).push_back("t2"); }, true},
        {"on_read entry not an object",
         [](json& c) { channels(c)[0]["on_read"] = json::array({1}); }, true},
        {"scale as a string", [](json& c) { channels(c)[0]["scale"] = "1.5"; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A cache left by an earlier run under the per-interface name.
        { std::ofstream(db_file()) << "old"; }
        json config = base_config();
        c.edit(config);
        const Outcome out = read(config);
        EXPECT_TRUE(out.again);
        ASSERT_FALSE(out.messages.empty());
        EXPECT_THAT(out.messages.back(),
                    StartsWith("config error Неизвестная ошибка : [json.exception.type_error."));
        if (c.cache_was_created) {
            EXPECT_FALSE(fs::exists(db_file()));
        }
    }
    // Before the port section is accepted the initial cache path is the one deleted.
    { std::ofstream(db_path) << "old"; }
    { std::ofstream(db_file()) << "old"; }
    json config = base_config();
    config["log"] = 1;
    EXPECT_TRUE(read(config).again);
    EXPECT_FALSE(fs::exists(db_path));
    EXPECT_TRUE(fs::exists(db_file()));
}

// Incomplete entries are reported with their context and skipped; the reading goes on.
TEST_F(ReadConfigTest, IncompleteEntriesAreNamedBySomeContext) {
    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        std::vector<std::string> messages;
        std::size_t objects;  // rows in the cache afterwards
    };
    const Case cases[] = {
        {"device without cname",
         [](json& c) { port0(c)["devices"][0].erase("cname"); },
         {"config error Данные отсутствуют : cname : AHU : 7"},
         1},
        {"device without name and sid",
         [](json& c) {
             port0(c)["devices"][0].erase("name");
             port0(c)["devices"][0].erase("sid");
         },
         {"config error Данные отсутствуют : sid : name : ahu"},
         1},
        {"device not an object",
         [](json& c) { port0(c)["devices"][0] = 5; },
         {"config error Данные отсутствуют : cname : sid : name"},
         1},
        {"channel without scale and tag",
         [](json& c) {
             channels(c)[0].erase("scale");
             channels(c)[0].erase("tag");
         },
         {"config error Данные отсутствуют : tag : scale : t1 : 3 : analog-input",
          "config error Данные отсутствуют : tag : scale : t1 : 3 : analog-input"},
         0},
        {"channel without name, numeric type",
         [](json& c) {
             channels(c)[0].erase("name");
             channels(c)[0]["value_type"] = 8;
             channels(c)[0]["scale"] = -0.25;
         },
         {"config error Данные отсутствуют : name : 3 : -0.250000 : 8 : real",
          "config error Данные отсутствуют : name : 3 : -0.250000 : 8 : real"},
         0},
        {"channel without object_number and value_type",
         [](json& c) {
             channels(c)[0].erase("object_number");
             channels(c)[0].erase("value_type");
         },
         {"config error Данные отсутствуют : value_type : object_number : t1 : 1.500000 : real",
          "config error Данные отсутствуют : value_type : object_number : t1 : 1.500000 : real"},
         0},
        {"group faults, reported for each complete device",
         [](json& c) {
             json& groups = port0(c)["parameters"];
             groups.push_back("not an object");
             groups.push_back({{"config", {}}});
             groups.push_back({{"cname", "ahu"}});
             groups.push_back({{"cname", "ahu"}, {"config", 3}});
             groups.push_back({{"cname", "ahu"}, {"config", {{"other", 1}}}});
             groups.push_back({{"cname", "other"}});  // another class: silently passed over
         },
         {"config error Данные отсутствуют : ports : parameters : cname",
          "config error Данные отсутствуют : ports : parameters : cname",
          "config error Данные отсутствуют : ports : parameters : config",
          "config error Данные отсутствуют : ports : parameters : config : channels",
          "config error Данные отсутствуют : ports : parameters : config : channels",
          "config error Данные отсутствуют : ports : parameters : cname",
          "config error Данные отсутствуют : ports : parameters : cname",
          "config error Данные отсутствуют : ports : parameters : config",
          "config error Данные отсутствуют : ports : parameters : config : channels",
          "config error Данные отсутствуют : ports : parameters : config : channels"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        json config = base_config();
        c.edit(config);
        const Outcome out = read(config);
        EXPECT_FALSE(out.again);
        EXPECT_EQ(out.messages, c.messages);
        EXPECT_EQ(rows("SELECT COUNT(*) FROM objects")[0][0], std::to_string(c.objects));
    }
}

TEST_F(ReadConfigTest, ChannelsBecomeParametersWithTheirTopics) {
    json config = base_config();
    port0(config)["devices"].push_back({{"name", "Lonely"}, {"sid", 9}, {"cname", "none"}});
    json& ch = channels(config);
    ch[0]["property"] = 77;
    ch[0]["read_only"] = false;
    ch[0]["tag"] = "";
    ch.push_back({{"name", "conv"},
                  {"object_number", 1},
                  {"scale", 1},
                  {"value_type", "Analog-Input"},
                  {"tag", "real"},
                  {"on_read",
                   {{{"topic", "f"}, {"converter_read", "value * 9 / 5 + 32"}},
                    {{"topic", "skipped"}},
                    {{"topic", 5}, {"converter_read", "x"}},
                    {{"topic", "k"}, {"converter_read", ""}}}}});
    ch.push_back({{"name", "none"},
                  {"object_number", 2},
                  {"scale", 1},
                  {"value_type", 8},
                  {"tag", "real"},
                  {"on_read", {{{"converter_read", "x"}}}}});
    ch.push_back({{"name", "reserved"},
                  {"object_number", 3},
                  {"scale", 1},
                  {"value_type", 100},
                  {"tag", "real"}});
    ch.push_back({{"name", "vendor"},
                  {"object_number", 4},
                  {"scale", 1},
                  {"value_type", 200},
                  {"tag", "real"}});
    ch.push_back({{"name", "unknown"},
                  {"object_number", 5},
                  {"scale", 1},
                  {"value_type", "no-such-type"},
                  {"tag", "real"}});
    const Outcome out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages, IsEmpty());

    EXPECT_EQ(rows("SELECT id, name FROM devices WHERE id = 9"), (Rows{{"9", "Lonely"}}));
    EXPECT_EQ(
        rows("SELECT name, object_name, object_type, tag, read_only, property, topic_out "
             "FROM objects WHERE device = 7 ORDER BY id"),
        (Rows{
            {"t1", "analog-input", "0", std::nullopt, "0", "77", "/devices/AHU/controls/t1"},
            {"conv", "Analog-Input", "0", "real", "1", "85", std::nullopt},
            // on_read without a usable entry: no value topic and no converted topic
            {"none", "device", "8", "real", "1", "85", ""},
            {"reserved", "Reserved for Use by ASHRAE", "100", "real", "1", "85",
             "/devices/AHU/controls/reserved"},
            {"vendor", "Vendor Proprietary Value", "200", "real", "1", "85",
             "/devices/AHU/controls/vendor"},
            {"unknown", "no-such-type", "0", "real", "1", "85", "/devices/AHU/controls/unknown"}}));
    EXPECT_EQ(rows("SELECT t.topic, t.converter_read FROM topics_out t JOIN objects o ON "
                   "o.id = t.object_id WHERE o.device = 8 ORDER BY t.rowid"),
              (Rows{{"/devices/FCU/controls/conv_f", "value * 9 / 5 + 32"},
                    {"/devices/FCU/controls/conv_k", ""}}));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM topics_out")[0][0], "4");
}

TEST_F(ReadConfigTest, DefaultsOfOptionalKeys) {
    json config = base_config();
    config.erase("mqtt");
    config["log"] = json::object();
    port0(config)["connection"].erase("bacnet_iface");
    port0(config)["connection"].erase("db_update");
    const Outcome out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_EQ(out.settings.mqtt_host, "localhost");
    EXPECT_EQ(out.settings.mqtt_port, 1883);
    EXPECT_EQ(out.settings.mqtt_username, "");
    EXPECT_EQ(out.settings.mqtt_password, "");
    EXPECT_FALSE(out.settings.is_debug);
    EXPECT_EQ(out.settings.bacnet_iface, "eth0");
    EXPECT_TRUE(out.settings.db_update);
    EXPECT_EQ(out.db_path, db_file("eth0"));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM objects", "eth0")[0][0], "2");
}

TEST_F(ReadConfigTest, OnlyTheFirstBacnetSectionIsRead) {
    json config = base_config();
    json second = port0(config);
    second["connection"]["bacnet_iface"] = "other";
    second["connection"].erase("enabled");  // would fail if it were read
    json modbus = {{"connection", {{"type", "modbus"}}}};
    config["ports"] = json::array({modbus, port0(config), second});
    const Outcome out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_THAT(out.messages, IsEmpty());
    EXPECT_EQ(out.settings.bacnet_iface, "veth1");
    EXPECT_FALSE(fs::exists(db_file("other")));
}

TEST_F(ReadConfigTest, CacheIsRebuiltOrReusedByDbUpdate) {
    // db_update false and no file: built as if true, and db_update becomes true.
    json config = base_config();
    port0(config)["connection"]["db_update"] = false;
    Outcome out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_TRUE(out.settings.db_update);
    EXPECT_EQ(rows("SELECT COUNT(*) FROM devices")[0][0], "2");

    // db_update false and a file: opened as it is; the devices of the file are not read.
    port0(config)["devices"] = json::array({{{"name", "New"}, {"sid", 99}, {"cname", "ahu"}}});
    out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_FALSE(out.settings.db_update);
    EXPECT_EQ(rows("SELECT id FROM devices ORDER BY id"), (Rows{{"7"}, {"8"}}));

    // db_update true: the old file goes, the new one holds only the file's devices.
    port0(config)["connection"]["db_update"] = true;
    out = read(config);
    EXPECT_FALSE(out.again);
    EXPECT_EQ(rows("SELECT id FROM devices ORDER BY id"), (Rows{{"99"}}));
}

TEST_F(ReadConfigTest, CacheFileFailures) {
    // A "file" that cannot be removed: a directory that is not empty.
    fs::create_directories(fs::path(db_file()) / "inside");
    Outcome out = read(base_config());
    EXPECT_TRUE(out.again);
    EXPECT_THAT(out.messages, ElementsAre("config error Не удалось удалить базу данных"));
    EXPECT_FALSE(out.settings.invalid);  // no reset
    EXPECT_EQ(out.settings.mqtt_host, "broker.local");
    fs::remove_all(db_file());

    // A directory that does not exist: the cache reports, then the reader.
    names.database_template = (dir.path() / "missing" / "quillon_{0}.db").string();
    out = read(base_config());
    EXPECT_TRUE(out.again);
    ASSERT_EQ(out.messages.size(), 2u);
    EXPECT_THAT(out.messages[0], StartsWith("cache error create_database error: "));
    EXPECT_EQ(out.messages[1], "config error Не удалось создать базу данных");
}

TEST_F(ReadConfigTest, TheLogPathFollowsTheInterfaceOnlyWhenNotChosen) {
    log_path = (dir.path() / "mine.log").string();
    Outcome out = read(base_config());
    EXPECT_EQ(out.log_path, (dir.path() / "mine.log").string());
    EXPECT_EQ(out.db_path, db_file());
}

// The real file names, on a configuration that stops before touching the cache.
TEST(ReadConfigPaths, DerivedFromTheInterface) {
    test_support::TempDir dir;
    json config = base_config();
    port0(config).erase("devices");
    const std::string path = (dir.path() / "q.json").string();
    { std::ofstream(path) << config.dump(); }
    Settings s;
    std::string db_path(paths::kDatabase);
    std::string log_path(paths::kLog);
    DatabaseBacnet cache;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(read_config(s, path, db_path, log_path, cache));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(db_path, "/var/morvel/quillon/quillon_veth1.db");
    EXPECT_EQ(log_path, "/var/log/quillon/quillon_veth1.log");
    spdlog::drop_all();
}

}  // namespace
