// The data collector end to end: the real binary in the client namespace of the test LAN
// against simulated devices; the report (debug log file) is what the tests read.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lan_test.hpp"

namespace {

using namespace testlan;
using json = nlohmann::json;

struct CollectorRun {
    int status = -1;
    std::string output;  // standard output and error
    std::string report;  // the debug log: the report
    std::string log;     // the log file
};

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Collector : public LanTest {
  protected:
    static CollectorRun collect(const std::vector<std::string>& args) {
        static int counter = 0;
        const std::string dir = scratch_dir() + "/collector-" + std::to_string(++counter);
        std::vector<std::string> argv{QUILLON_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        CollectorRun r;
        r.status = run_in_client(*lan_, argv, dir, {{"BACNET_IFACE", "eth0"}}, &r.output, 240s);
        r.report = read_file(dir + "/quillon/quillon_debug_eth0.log");
        r.log = read_file(dir + "/quillon/quillon_eth0.log");
        return r;
    }

    static json device1234() { return Simulator::load_config("device1234.json"); }
};

TEST_F(Collector, HelpAndArgumentsThatRunNoScenario) {
    const CollectorRun help = collect({"-dcollector", "-id", "5", "-help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.log.find("Есть ЧЕТЫРЕ сценария работы программы"), std::string::npos);
    EXPECT_EQ(help.report, "");

    // "-help" as the value of "-id": no help, and without the other keys no read either.
    const CollectorRun as_value = collect({"-id", "-help"});
    EXPECT_EQ(as_value.status, 0);
    EXPECT_EQ(as_value.log, "");
    EXPECT_EQ(as_value.report, "");

    const CollectorRun timeout_only = collect({"-timeout", "300"});
    EXPECT_EQ(timeout_only.status, 0);
    EXPECT_EQ(timeout_only.log, "");
    EXPECT_EQ(timeout_only.report, "");

    const CollectorRun unknown = collect({"-x"});
    EXPECT_EQ(unknown.status, 0);
    EXPECT_NE(unknown.output.find("Неизвестный аргумент: -x"), std::string::npos);
    EXPECT_EQ(unknown.report, "");
}

TEST_F(Collector, SingleParameterReadWritesOneAnswer) {
    Simulator a(*lan_, 'A', device1234());
    ASSERT_TRUE(a.ready());
    const CollectorRun r =
        collect({"-id", "1234", "-i", "-1", "-t", "8", "-p", "76", "-timeout", "2000"});
    EXPECT_EQ(r.status, 0);
    const auto lines = lines_of(r.report);
    ASSERT_EQ(lines.size(), 18u) << r.report;
    EXPECT_EQ(lines[0], "[1234  ][Свойство:  76][TAG: 12]");
    EXPECT_EQ(lines[1], "  1 |  8 device                 1234");
    EXPECT_EQ(lines[17], " 17 |  6 calendar               16");
    EXPECT_EQ(r.log.find("Выполнения скрипта"), std::string::npos);
    // -1 goes out as the 22-bit wildcard instance.
    EXPECT_FALSE(a.events("readProperty").empty());
}

TEST_F(Collector, OneDeviceReportsEveryListedPropertyInOrder) {
    Simulator a(*lan_, 'A', device1234());
    ASSERT_TRUE(a.ready());
    const CollectorRun r = collect({"-dcollector", "-id", "1234", "-timeout", "2000"});
    EXPECT_EQ(r.status, 0);
    // No Who-Is was broadcast for discovery: the first read asked for this device only.
    for (const auto& ev : a.events("whoIs")) EXPECT_EQ(ev.value("lowLimit", -1), 1234) << ev.dump();

    EXPECT_NE(r.report.find("\n\n\n[device:1234][device:8][instance:1234][data device]\n\n"),
              std::string::npos);
    EXPECT_NE(r.report.find("[device:1234][analog-value:2][instance:1][data object]"),
              std::string::npos);
    EXPECT_EQ(count_of(r.report, "[data device]") + count_of(r.report, "[data object]"), 17u);
    // The device's own object-list: header and one line per object.
    EXPECT_NE(
        r.report.find("[1234  ][Свойство:  76][TAG: 12]\n  1 |  8 device                 1234\n"),
        std::string::npos);
    // object-name is not in property-list and is never read.
    EXPECT_EQ(r.report.find("Свойство:  77]"), std::string::npos);
    // Within one object the properties come in ascending order.
    const auto at = r.report.find("[analog-value:2][instance:1]");
    const auto next = r.report.find("[data ", at + 40);
    const std::string block = r.report.substr(at, next - at);
    const auto p36 = block.find("[Свойство:  36]"), p85 = block.find("[Свойство:  85]"),
               p117 = block.find("[Свойство: 117]");
    ASSERT_NE(p85, std::string::npos) << block;
    EXPECT_LT(p36, p85);
    EXPECT_LT(p85, p117);
    EXPECT_NE(block.find("[1234  ][Свойство:  85][TAG:  4] 21.500000"), std::string::npos);
    EXPECT_NE(r.log.find("Выполнения скрипта сбора информации завершено за 00:00:"),
              std::string::npos);
}

TEST_F(Collector, ObjectWithoutPropertyListIsProbed) {
    json config = device1234();
    config["faults"] = json::array({json{{"service", "readProperty"},
                                         {"obj", "BINARY_INPUT:2"},
                                         {"prop", "PROPERTY_LIST"},
                                         {"action", "error"},
                                         {"errorClass", "PROPERTY"},
                                         {"errorCode", "UNKNOWN_PROPERTY"}}});
    Simulator a(*lan_, 'A', config);
    ASSERT_TRUE(a.ready());
    const CollectorRun r = collect({"-dcollector", "-id", "1234", "-timeout", "2000"});
    const std::size_t reads_of_object = a.events("readProperty", json{{"obj", "3:2"}}).size();
    // One property-list read, then 513 + 35 probes.
    EXPECT_EQ(reads_of_object, 1u + 548u);
    const auto at = r.report.find("[binary-input:3][instance:2]");
    ASSERT_NE(at, std::string::npos);
    const std::string block = r.report.substr(at, r.report.find("[data ", at + 40) - at);
    // The header names the property asked for, also when the answer is an error.
    EXPECT_NE(block.find("[1234  ][Свойство:   0][TAG:  0] [ошибка][property:unknown-property]"),
              std::string::npos)
        << block.substr(0, 600);
    EXPECT_NE(block.find("[1234  ][Свойство:  85][TAG:  9] active"), std::string::npos);
    EXPECT_NE(block.find("[Свойство:4194337]"), std::string::npos);
}

TEST_F(Collector, DeviceAddressBindingInThreeColumns) {
    json config = device1234();
    json dab = json::array();
    for (int i = 0; i < 3; ++i) {
        dab.push_back(
            {{"type", "OBJECTIDENTIFIER"}, {"value", "DEVICE:" + std::to_string(11 + i)}});
        dab.push_back({{"type", "UNSIGNED_INTEGER"}, {"value", i}});
        dab.push_back(
            {{"type", "OCTET_STRING"}, {"value", "0a4e000" + std::to_string(i) + "bac0"}});
    }
    config["devices"][0]["deviceProps"]["DEVICE_ADDRESS_BINDING"] = dab;
    Simulator a(*lan_, 'A', config);
    ASSERT_TRUE(a.ready());
    const CollectorRun r = collect({"-id", "1234", "-i", "1234", "-t", "8", "-p", "30"});
    const auto lines = lines_of(r.report);
    ASSERT_EQ(lines.size(), 4u) << r.report;
    EXPECT_EQ(lines[0], "[1234  ][Свойство:  30][TAG:  6]");
    EXPECT_EQ(lines[1], "  1 |  8 device                 11\t0   \t0a 4e 00 00 ba c0");
    EXPECT_EQ(lines[3], "  7 |  8 device                 13\t2   \t0a 4e 00 02 ba c0");
}

TEST_F(Collector, SilentDevicesLeaveOnlyConsoleErrors) {
    Simulator a(*lan_, 'A', device1234());
    ASSERT_TRUE(a.ready());
    // Nobody answers for 4321: no binding within the timeout.
    const CollectorRun unbound = collect({"-dcollector", "-id", "4321", "-timeout", "500"});
    EXPECT_NE(unbound.output.find("Выход за задержку времени APDU"), std::string::npos)
        << unbound.output;
    EXPECT_EQ(unbound.report, "");

    // 1234 is bound but drops the read: the request goes out once and is resent three times.
    ASSERT_TRUE(a.command(json{
        {"cmd", "fault"},
        {"rule", {{"service", "readProperty"}, {"prop", "OBJECT_LIST"}, {"action", "drop"}}}}));
    const std::size_t before = a.events("readProperty").size();
    const CollectorRun silent = collect({"-id", "1234", "-i", "1234", "-t", "8", "-p", "76"});
    EXPECT_NE(silent.output.find("Выход за задержку времени TSM"), std::string::npos)
        << silent.output;
    EXPECT_EQ(silent.report, "");
    EXPECT_EQ(a.events("readProperty").size() - before, 4u);
}

TEST_F(Collector, AllDevicesIncludingOneWhoseObjectListNeedsSegmentation) {
    Simulator a(*lan_, 'A', device1234());
    Simulator b(*lan_, 'B', Simulator::load_config("big3000.json"));
    ASSERT_TRUE(a.ready() && b.ready());
    const CollectorRun r = collect({"-dcollector", "-timeout", "1500"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.report.find("[УСТРОЙСТВО:1234][1 ИЗ 2]\n[УСТРОЙСТВО:3000][2 ИЗ 2]\n"),
              std::string::npos);
    EXPECT_EQ(count_of(r.report, "[device:1234]"), 17u);
    // 300 analog inputs and the device object, each with its header and present-value.
    EXPECT_EQ(count_of(r.report, "[device:3000]"), 301u);
    EXPECT_NE(r.report.find("[device:3000][analog-input:0][instance:1299][data object]"),
              std::string::npos);
    EXPECT_EQ(count_of(r.report, "[3000  ][Свойство:  85][TAG:  4]"), 300u);
    EXPECT_NE(r.log.find("Проход  301 из 301"), std::string::npos);
}

TEST_F(Collector, OnePropertyOverAllDevices) {
    Simulator a(*lan_, 'A', device1234());
    Simulator b(*lan_, 'B', Simulator::load_config("big3000.json"));
    ASSERT_TRUE(a.ready() && b.ready());
    const CollectorRun r = collect({"-dcollector", "-p", "76", "-timeout", "1500"});
    EXPECT_NE(r.report.find("[device:1234][device:8][instance:1234][data device]\n\n[1234  "
                            "][Свойство:  76][TAG: 12]"),
              std::string::npos)
        << r.report.substr(0, 400);
    // The large device's whole list cannot be sent: its abort is reported under the header.
    EXPECT_NE(r.report.find("[device:3000][device:8][instance:3000][data device]\n\n[3000  "
                            "][Свойство:  76][TAG:  0] "
                            "[прерывание][Segmentation Not Supported:4]"),
              std::string::npos)
        << r.report;
    EXPECT_EQ(count_of(r.report, "[data object]"), 0u);
}

}  // namespace
