#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cache/database.hpp"
#include "support.hpp"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

Parameter make_parameter(const std::string& name, std::uint32_t instance) {
    Parameter p;
    p.name = name;
    p.instance = instance;
    p.object_type = 2;
    p.object_name = "analog-value";
    p.tag = "real";
    p.read_only = false;
    p.property = 85;
    p.topic_out = "/devices/d/controls/" + name;
    p.topic_in = p.topic_out + "/on";
    p.topic_error = p.topic_out + "/meta/error";
    return p;
}

// Devices 1 and 2 active with three parameters each, device 3 inactive without any.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(db.create_database(dir.file("cache.db")), 0);
        for (std::uint32_t id : {1u, 2u, 3u}) {
            db.insert(id, false, "dev" + std::to_string(id));
        }
        DeviceAddress address;
        db.update(1, true, 1476, 260, address);
        db.update(2, true, 480, 7, address);
        for (std::int32_t device : {1, 2}) {
            for (std::uint32_t i = 1; i <= 3; ++i) {
                db.insert(device, make_parameter("p" + std::to_string(i), i));
            }
        }
        log.take();
    }

    test_support::TempDir dir;
    test_support::RecordedLogger log{"cache"};
    DatabaseBacnet db;
};

TEST_F(RegistryTest, DeviceListsAreCountedPerFilterWithTheirMessages) {
    struct Step {
        std::function<int(DatabaseBacnet&)> call;
        const char* message;
        std::size_t active, inactive, all;  // list sizes afterwards
    };
    const auto load = [](DeviceFilter f) {
        return [f](DatabaseBacnet& d) { return d.loadDevices(f); };
    };
    const auto release = [](DeviceFilter f) {
        return [f](DatabaseBacnet& d) { return d.releaseDevices(f); };
    };
    const auto odd = static_cast<DeviceFilter>(3);
    const Step steps[] = {
        {load(DeviceFilter::Active), "info АКТИВНЫЕ устройства загружены [1] в количестве 2", 2, 0,
         0},
        {load(DeviceFilter::Active), "info Устройства уже загружены [2]", 2, 0, 0},
        {release(DeviceFilter::Active),
         "info АКТИВНЫЕ устройства используются, удаление невозможно [1]", 2, 0, 0},
        {release(DeviceFilter::Active), "info АКТИВНЫЕ устройства удалены [0]", 0, 0, 0},
        {load(DeviceFilter::Inactive), "info НЕ АКТИВНЫЕ устройства загружены [1] в количестве 1",
         0, 1, 0},
        {load(DeviceFilter::All), "info ВСЕ устройства загружены [1] в количестве 3", 0, 1, 3},
        // Any other value works on the list of All but is counted under its own key, so its
        // release frees the list that All still counts.
        {load(odd), "info Устройства уже загружены [1]", 0, 1, 3},
        {release(odd), "info ВСЕ устройства удалены [0]", 0, 1, 0},
        // All still counted its own load: this release brings it to 0 on an empty list.
        {release(DeviceFilter::All), "info ВСЕ устройства удалены [0]", 0, 1, 0},
        {release(DeviceFilter::Inactive), "info НЕ АКТИВНЫЕ устройства удалены [0]", 0, 0, 0},
        // A release without a load goes below zero and needs a load to come back.
        {release(DeviceFilter::Active),
         "info АКТИВНЫЕ устройства используются, удаление невозможно [-1]", 0, 0, 0},
        {load(DeviceFilter::Active), "info АКТИВНЫЕ устройства удалены [0]", 0, 0, 0},
    };
    // The last step's message belongs to a load: it finds an empty list, reads it and
    // counts 0; checked below instead of through the table.
    for (std::size_t i = 0; i + 1 < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(steps[i].call(db), 0);
        EXPECT_THAT(log.take(), ElementsAre(steps[i].message));
        EXPECT_EQ(db.active_devices.size(), steps[i].active);
        EXPECT_EQ(db.inactive_devices.size(), steps[i].inactive);
        EXPECT_EQ(db.all_devices.size(), steps[i].all);
    }
    EXPECT_EQ(db.loadDevices(DeviceFilter::Active), 0);
    EXPECT_THAT(log.take(), ElementsAre("info АКТИВНЫЕ устройства загружены [0] в количестве 2"));
}

TEST_F(RegistryTest, DevicesAreReadFromTheirColumns) {
    ASSERT_EQ(db.loadDevices(DeviceFilter::Active), 0);
    ASSERT_EQ(db.active_devices.size(), 2u);
    const Device& d = db.active_devices[1];
    EXPECT_EQ(d.id, 2u);
    EXPECT_EQ(d.name, "dev2");
    EXPECT_EQ(d.max_apdu, 480u);
    EXPECT_EQ(d.vendor, 7u);
    EXPECT_EQ(d.net, 0u);
    EXPECT_THAT(d.parameters, IsEmpty());
}

TEST_F(RegistryTest, ParametersLoadWithTheirTopics) {
    Parameter converted = make_parameter("conv", 9);
    converted.tag.clear();
    converted.topics = {{"/devices/d/controls/conv_a", "value * 2"},
                        {"/devices/d/controls/conv_b", ""}};
    db.insert(3, converted);
    Parameter neither = make_parameter("neither", 10);
    neither.topics = {{"", "no topic, no row"}};  // topic_out NULL and no topics_out rows
    db.insert(3, neither);

    ASSERT_EQ(db.loadDevices(DeviceFilter::Inactive), 0);
    Device& d = db.inactive_devices.at(0);
    log.take();
    ASSERT_EQ(db.loadObjects(d), 0);
    ASSERT_EQ(d.parameters.size(), 2u);
    Parameter expected = converted;
    expected.id = d.parameters[0].id;
    expected.topic_out.clear();
    EXPECT_EQ(d.parameters[0], expected);
    EXPECT_TRUE(d.parameters[1].topic_out.empty());
    EXPECT_THAT(d.parameters[1].topics, IsEmpty());
    EXPECT_EQ(d.parameters[1].tag, "real");

    EXPECT_EQ(db.loadObjects(d), 0);
    EXPECT_EQ(db.releaseObjects(d), 0);
    EXPECT_EQ(d.parameters.size(), 2u);  // the second user still holds them
    EXPECT_EQ(db.releaseObjects(d), 0);
    EXPECT_THAT(d.parameters, IsEmpty());
    EXPECT_THAT(log.take(),
                ElementsAre("info Oбъекты утсройства 3 загружены в количестве 2",
                            "info Объекты устройства 3 уже загружены",
                            "info Oбъекты устройства 3 используются, удаление невозможно",
                            "info Oбъекты устройства 3 удалены"));
}

TEST_F(RegistryTest, ADeviceWithoutParametersIsQueriedAgainEveryTime) {
    ASSERT_EQ(db.loadDevices(DeviceFilter::Inactive), 0);
    Device& d = db.inactive_devices.at(0);
    log.take();
    EXPECT_EQ(db.loadObjects(d), 0);
    db.insert(3, make_parameter("late", 1));
    EXPECT_EQ(db.loadObjects(d), 0);
    EXPECT_EQ(d.parameters.size(), 1u);
    EXPECT_THAT(log.take(), ElementsAre("info Oбъекты утсройства 3 загружены в количестве 0",
                                        "info Oбъекты утсройства 3 загружены в количестве 1"));
}

TEST_F(RegistryTest, ReleasingADeviceOutsideTheListsKeepsItsParameters) {
    Device stray;
    stray.id = 1;
    ASSERT_EQ(db.loadObjects(stray), 0);
    log.take();
    EXPECT_EQ(db.releaseObjects(stray), 0);
    EXPECT_EQ(stray.parameters.size(), 3u);
    EXPECT_THAT(log.take(),
                ElementsAre("info Oбъекты устройства 1 используются, удаление невозможно"));
}

TEST_F(RegistryTest, QueryFailuresAreReported) {
    ASSERT_EQ(db.loadDevices(DeviceFilter::All), 0);
    Device& d = db.all_devices.at(0);
    { std::ofstream(dir.file("garbage.db")) << std::string(4096, 'x'); }
    EXPECT_EQ(db.create_database(dir.file("garbage.db")), 1);
    log.take();
    EXPECT_EQ(db.loadDevices(DeviceFilter::Active), -1);
    EXPECT_EQ(db.loadObjects(d), -1);
    EXPECT_THAT(log.take(), ElementsAre(StartsWith("error loadDevices error : "),
                                        StartsWith("error loadObjects error: ")));
    EXPECT_THAT(db.active_devices, IsEmpty());
    // The failed load took no use: the first release of Active goes below zero.
    EXPECT_EQ(db.releaseDevices(DeviceFilter::Active), 0);
    EXPECT_THAT(log.take(),
                ElementsAre("info АКТИВНЫЕ устройства используются, удаление невозможно [-1]"));
}

// The poll and the write thread share the records of the active list. One thread's
// releaseObjects must not empty parameters that the other is still walking.
TEST_F(RegistryTest, ReleaseByOneThreadLeavesTheOtherThreadsParameters) {
    ASSERT_EQ(db.loadDevices(DeviceFilter::Active), 0);
    Device& d = db.active_devices.at(0);
    std::barrier sync(2);
    std::size_t seen_after_release = 0;

    std::thread poll([&] {
        db.loadObjects(d);
        sync.arrive_and_wait();  // loaded; the write thread comes and goes
        sync.arrive_and_wait();
        seen_after_release = d.parameters.size();
        db.releaseObjects(d);
    });
    std::thread write([&] {
        sync.arrive_and_wait();
        db.loadObjects(d);
        db.releaseObjects(d);
        sync.arrive_and_wait();
    });
    poll.join();
    write.join();
    EXPECT_EQ(seen_after_release, 3u);
    EXPECT_THAT(d.parameters, IsEmpty());  // the last user freed them
    db.releaseDevices(DeviceFilter::Active);
}

// Both engine threads' calling pattern at full speed for a bounded number of cycles: every
// walk sees the whole device list and every device's whole parameter list, and at the end
// everything is freed.
TEST_F(RegistryTest, PollAndWriteThreadsWalkSharedListsSafely) {
    constexpr int kCycles = 300;
    std::atomic<int> bad_walks{0};
    const auto engine_thread = [&] {
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            db.loadDevices(DeviceFilter::Active);
            if (db.active_devices.size() != 2) ++bad_walks;
            for (Device& d : db.active_devices) {
                db.loadObjects(d);
                std::size_t walked = 0;
                for (const Parameter& p : d.parameters) {
                    walked += p.topic_in.empty() ? 0 : 1;
                }
                if (walked != 3 || d.parameters.size() != 3) ++bad_walks;
                db.releaseObjects(d);
            }
            db.releaseDevices(DeviceFilter::Active);
        }
    };
    std::thread poll(engine_thread);
    std::thread write(engine_thread);
    poll.join();
    write.join();
    EXPECT_EQ(bad_walks.load(), 0);
    EXPECT_THAT(db.active_devices, IsEmpty());
    const auto lines = log.take();
    const auto count = [&](const char* prefix) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(prefix) != std::string::npos;
        });
    };
    // Every load took a use and every release gave one back.
    EXPECT_EQ(count("устройства загружены [") + count("уже загружены ["), 2 * kCycles);
    EXPECT_EQ(
        count("устройства удалены [") + count("устройства используются, удаление невозможно ["),
        2 * kCycles);
}

}  // namespace
