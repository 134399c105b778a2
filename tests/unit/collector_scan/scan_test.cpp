// The collector's device scan over the in-memory network against a scripted device: what
// the acknowledgement handler captures (object list, property lists in ascending order),
// which reads follow from it, and the report lines written through "file".
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "../bacnet/rig.hpp"
#include "collector/scan.hpp"

using bacstack::Value;
using rig::Sent;

namespace {

// The collector's loggers, each writing the bare message and a line end into a string.
class Loggers {
public:
    Loggers() {
        for (const char* name : {"console", "all", "file"}) {
            spdlog::drop(name);
            auto logger = std::make_shared<spdlog::logger>(
                name, std::make_shared<spdlog::sinks::ostream_sink_st>(text_[name]));
            logger->set_pattern("%v");
            logger->set_level(spdlog::level::debug);
            spdlog::register_logger(logger);
        }
    }
    ~Loggers() {
        for (const char* name : {"console", "all", "file"}) spdlog::drop(name);
    }
    std::string text(const std::string& name) { return text_[name].str(); }

private:
    std::map<std::string, std::ostringstream> text_;
};

// A scripted device: object → property → values; anything else is unknown-property.
using Properties = std::map<std::uint32_t, std::vector<Value>>;
using Objects = std::map<std::pair<std::uint16_t, std::uint32_t>, Properties>;

std::vector<std::uint8_t> answer(const Objects& objects, const Sent& s) {
    const auto o = objects.find({s.request.object.type, s.request.object.instance});
    if (o == objects.end()) return rig::unknown_property_apdu(s.invoke_id);
    const auto p = o->second.find(s.request.property);
    if (p == o->second.end()) return rig::unknown_property_apdu(s.invoke_id);
    return rig::ack_apdu(s.invoke_id, s.request, p->second);
}

Value oid(std::uint16_t type, std::uint32_t instance) { return Value{bacstack::ObjectId{type, instance}}; }
Value en(std::uint32_t v) { return Value{bacstack::Enumerated{v}}; }
Value mac(std::uint8_t last) {
    return Value{bacstack::OctetString{{0x0a, 0x4e, 0x00, last, 0xba, 0xc0}}};
}

struct Scan : rig::Rig {
    Loggers loggers;  // before the collector: it fetches its loggers when constructed
    collector::Collector collector{stack};

    // "object-type:instance:property" of every ReadProperty sent, in order.
    std::vector<std::string> reads() const {
        std::vector<std::string> out;
        for (const Sent& s : sent) {
            if (s.kind != Sent::ReadProperty) continue;
            out.push_back(std::to_string(s.request.object.type) + ":" + std::to_string(s.request.object.instance) +
                          ":" + std::to_string(s.request.property));
        }
        return out;
    }
};

TEST(CollectorScan, PropertyListsAreCapturedAscendingAndReadIntoTheReport) {
    Scan scan;
    scan.bind();
    const Objects objects = {
        {{8, 1234},
         {{76, {oid(8, 1234), oid(0, 1)}},
          {371, {en(76), en(30), en(28)}},
          {28, {Value{bacstack::CharacterString{0, "котельная"}}}},
          // Three bindings: device, network number, MAC.
          {30, {oid(8, 5), Value{std::uint64_t{0}}, mac(5), oid(8, 6), Value{std::uint64_t{0}}, mac(6), oid(8, 17),
                Value{std::uint64_t{12}}, mac(7)}}}},
        {{0, 1}, {{371, {en(117), en(85), en(28), en(85)}}, {85, {Value{21.5f}}}, {117, {en(62)}}}},
    };
    scan.answer_read = [&](const Sent& s) { return answer(objects, s); };

    collector::ObjectList list;
    scan.collector.scanDevice(3000, list, rig::kDeviceId);

    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].type_name, "device");
    EXPECT_EQ(list[0].properties, (std::set<std::uint32_t>{28, 30, 76}));
    EXPECT_EQ(list[1].type_name, "analog-input");
    EXPECT_EQ(list[1].properties, (std::set<std::uint32_t>{28, 85, 117}));
    EXPECT_EQ(scan.reads(), (std::vector<std::string>{"8:1234:76", "8:1234:371", "8:1234:28", "8:1234:30",
                                                      "8:1234:76", "0:1:371", "0:1:28", "0:1:85", "0:1:117"}));
    EXPECT_EQ(scan.loggers.text("file"),
              "\n\n\n[device:1234][device:8][instance:1234][data device]\n\n"
              "[1234  ][Свойство:  28][TAG:  7] котельная\n"
              "[1234  ][Свойство:  30][TAG:  6]\n"
              "  1 |  8 device                 5\t0   \t0a 4e 00 05 ba c0\n"
              "  4 |  8 device                 6\t0   \t0a 4e 00 06 ba c0\n"
              "  7 |  8 device                 17\t12  \t0a 4e 00 07 ba c0\n"
              "[1234  ][Свойство:  76][TAG: 12]\n"
              "  1 |  8 device                 1234\n"
              "  2 |  0 analog-input           1\n"
              "\n\n\n[device:1234][analog-input:0][instance:1][data object]\n\n"
              "[1234  ][Свойство:  28][TAG:  0] [ошибка][property:unknown-property]\n"
              "[1234  ][Свойство:  85][TAG:  4] 21.500000\n"
              "[1234  ][Свойство: 117][TAG:  9] degrees-celsius\n");
    EXPECT_EQ(scan.loggers.text("console"), "Проход    1 из 2\nПроход    2 из 2\n");
}

TEST(CollectorScan, ObjectWithoutPropertyListIsProbedOverBothRanges) {
    Scan scan;
    scan.bind();
    const Objects objects = {
        {{8, 1234}, {{76, {oid(5, 7)}}}},
        {{5, 7}, {{85, {en(1)}}}},
    };
    scan.answer_read = [&](const Sent& s) { return answer(objects, s); };

    collector::ObjectList list;
    scan.collector.scanDevice(3000, list, rig::kDeviceId);

    std::vector<std::string> expected = {"8:1234:76", "5:7:371"};
    for (std::uint32_t p = 0; p <= 512; ++p) expected.push_back("5:7:" + std::to_string(p));
    for (std::uint32_t p = 4194303; p <= 4194337; ++p) expected.push_back("5:7:" + std::to_string(p));
    EXPECT_EQ(scan.reads(), expected);

    const std::string report = scan.loggers.text("file");
    EXPECT_EQ(report.rfind("\n\n\n[device:1234][binary-value:5][instance:7][data object]\n\n", 0), 0u);
    EXPECT_NE(report.find("\n[1234  ][Свойство:  85][TAG:  9] active\n"), std::string::npos);
    EXPECT_NE(report.find("\n[1234  ][Свойство:4194337][TAG:  0] [ошибка][property:unknown-property]\n"),
              std::string::npos);
    std::size_t errors = 0;
    for (auto at = report.find("[ошибка]"); at != std::string::npos; at = report.find("[ошибка]", at + 1)) ++errors;
    EXPECT_EQ(errors, 547u);
}

TEST(CollectorScan, LateDuplicateFromThePreviousDeviceStaysOutOfTheNextAnswer) {
    // A slow device answers a request and its resend; the second answer arrives while the
    // next read waits for another device's binding and must not be taken for its answer.
    const bacstack::Endpoint other{0x0A4E000C, 47808};
    Scan scan;
    scan.bind();
    scan.answer_who_is = {{5678, other}};
    scan.answer_read = [&](const Sent& s) {
        const bool first = s.to == rig::kDevice;
        return rig::ack_apdu(s.invoke_id, s.request, {Value{first ? 1.0f : 2.0f}});
    };
    scan.collector.readWithTimeout(3000, rig::kDeviceId, 0, 1, 85);
    ASSERT_EQ(scan.collector.answer().values, std::vector<std::string>{"1.000000"});
    scan.collector.resetAnswer();
    const auto duplicate = rig::ack_apdu(scan.sent.back().invoke_id, scan.sent.back().request, {Value{1.0f}});
    scan.net->mem.queue(rig::kDevice, rig::frame(duplicate));

    scan.collector.readWithTimeout(3000, 5678, 0, 1, 85);
    EXPECT_EQ(scan.collector.answer().values, std::vector<std::string>{"2.000000"});
}

}  // namespace
