// Configuration text through read_config into an in-memory cache, then the cache read
// back through the registry: whatever the text, the reader must not crash, and what it
// stored must keep the cache's invariants.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "config/read_config.hpp"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void check_cache(DatabaseBacnet& cache) {
    if (cache.loadDevices(DeviceFilter::All) != 0) return;
    for (Device& d : cache.all_devices) {
        if (cache.loadObjects(d) == 0) {
            std::set<std::tuple<std::uint32_t, std::uint32_t, std::string>> identities;
            for (const Parameter& p : d.parameters) {
                check(identities.emplace(p.instance, p.object_type, p.name).second,
                      "one row per identity");
                check(p.topic_out.empty() || p.topics.empty(), "value topic or converted topics");
                for (const ConvertedTopic& t : p.topics) {
                    check(!t.topic.empty(), "converted topics are not empty");
                }
                check(ends_with(p.topic_in, "/on"), "command topic");
                check(ends_with(p.topic_error, "/meta/error"), "error topic");
            }
        }
        cache.releaseObjects(d);
    }
    cache.releaseDevices(DeviceFilter::All);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader reports on standard output; millions of lines would only slow the run.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("quillon-config", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // The cache lives in memory: no file is created or deleted whatever the text says.
    const FileNames names{":memory:", "/nonexistent/quillon_{0}.log", "/nonexistent/quillon.log"};
    Settings settings_read;
    std::string db_path = ":memory:";
    std::string log_path = names.default_log;
    DatabaseBacnet cache;
    const bool again = read_config(settings_read, path, db_path, log_path, cache, names);
    if (!again && !settings_read.invalid) {
        check(!settings_read.bacnet_iface.empty(), "an accepted port has an interface");
        check(settings_read.db_update, "a rebuilt cache is marked for discovery");
        check_cache(cache);
    }
    return 0;
}
