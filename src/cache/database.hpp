// DatabaseBacnet: the SQLite cache of configured devices and parameters, and the
// use-counted in-memory lists (the registry) that the engine threads walk.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cache/records.hpp"

namespace SQLite {
class Database;
}

class DatabaseBacnet {
  public:
    DatabaseBacnet();
    ~DatabaseBacnet();
    DatabaseBacnet(const DatabaseBacnet&) = delete;
    DatabaseBacnet& operator=(const DatabaseBacnet&) = delete;

    // Cache. Failures are logged on "cache" and reported by the result, never thrown.

    // Opens (creating when missing) the cache file and its tables: 0 on success, 1 on failure.
    int create_database(const std::string& path);
    // insert(device): a device id already present leaves its row untouched.
    void insert(std::uint32_t id, bool active, const std::string& name);
    // insert(parameter): an existing (device, instance, object_type, name) changes nothing.
    void insert(std::int32_t device_id, const Parameter& parameter);
    // update(devices): what an I-Am tells about a device; an unknown id changes nothing.
    void update(std::uint32_t id, bool active, std::uint32_t max_apdu, std::uint16_t vendor,
                const DeviceAddress& address);
    // Number of parameters of the device in the cache, or -1 on failure.
    int countObjects(const Device& device);

    // Holds the inserts of one cache rebuild in a single transaction. Committed when the
    // guard ends, whatever happened meanwhile, so the rows written before a failure stay
    // exactly as they would in autocommit mode; only the per-insert disk syncs are saved.
    class Batch {
      public:
        explicit Batch(DatabaseBacnet& owner);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        // Not owned; null when BEGIN failed. create_database must not run while a Batch lives.
        SQLite::Database* connection_ = nullptr;
    };

    // Registry.

    // 0, or -1 after a database failure (the devices read so far stay in the list).
    int loadDevices(DeviceFilter filter);
    // 0, or -1 after a database failure (the parameters read so far stay).
    int loadObjects(Device& device);
    int releaseObjects(Device& device);
    int releaseDevices(DeviceFilter filter);

    // Lists read in place by their users between loadDevices and releaseDevices.
    std::vector<Device> all_devices;
    std::vector<Device> active_devices;
    std::vector<Device> inactive_devices;

    // The parameter whose request is in progress; set and read under the engine's lock.
    Parameter* current = nullptr;

  private:
    struct ListChoice;
    ListChoice choose(DeviceFilter filter);
    bool listed(std::uint32_t device_id);
    // The open connection; a missing one is reported like any other database failure.
    SQLite::Database* connection_or_throw();

    std::mutex devices_lock;  // the three device lists and use_counts
    std::mutex objects_lock;  // the parameters of the devices
    std::unique_ptr<SQLite::Database> connection;
    std::map<std::int32_t, std::int32_t> use_counts;
};

// The process-wide cache and registry.
extern DatabaseBacnet database;
