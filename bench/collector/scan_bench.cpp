// Wall time of the collector's scan of one device (20 objects of 15 properties: the
// object-list, then per object its property-list and 15 reads, 321 transactions) over
// UDP on loopback against an instant responder, beside the floor of the same 321
// requests pre-encoded and sent in sequence over a plain socket to the same responder.
//   bench_collector_scan [rounds, default 15] [pairs of scans per round, default 10]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "bacstack/apdu.hpp"
#include "bacstack/npdu.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/value_codec.hpp"
#include "bacstack/who_is.hpp"
#include "collector/scan.hpp"
#include "logging/logging.hpp"

using namespace bacstack;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kDevice = 1234;
constexpr std::uint16_t kAnalogInput = 0;
constexpr std::uint32_t kObjects = 20;
constexpr std::uint32_t kObjectList = 76;
constexpr std::uint32_t kPropertyList = 371;
// 15 properties of an analog input, each answered with a REAL.
constexpr std::uint32_t kProperties[] = {28, 31, 36, 65, 69, 72, 79, 81, 85, 103, 104, 106, 111, 117, 118};
// The scan reads a property list in ascending order; the floor sends them in table order.
static_assert(std::is_sorted(std::begin(kProperties), std::end(kProperties)));
// Offset of the invoke id in a BVLC + NPDU (no addresses) + APDU frame.
constexpr std::size_t kInvokeIdAt = 4 + 2 + 1;
constexpr std::size_t kRequestInvokeIdAt = 4 + 2 + 2;

// Unique, close-on-exec UDP socket on loopback.
class Socket {
public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopback);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::perror("socket");
            std::exit(2);
        }
        port_ = ntohs(a.sin_port);
    }
    ~Socket() { close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }
    std::uint16_t port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

std::vector<std::uint8_t> with_bvlc(const std::vector<std::uint8_t>& npdu) {
    std::vector<std::uint8_t> f;
    Writer w(f);
    w.u8(0x81);
    w.u8(0x0a);
    w.u16(static_cast<std::uint16_t>(npdu.size() + 4));
    for (std::uint8_t b : npdu) w.u8(b);
    return f;
}

std::vector<std::uint8_t> ack_frame(const ReadPropertyRequest& request, const std::vector<Value>& values) {
    std::vector<std::uint8_t> npdu;
    Writer w(npdu);
    encode_npdu(w, nullptr, nullptr, npdu_data_for_apdu(false));
    w.u8(0x30);
    w.u8(0);  // invoke id, patched per answer
    w.u8(service::kReadProperty);
    encode_ctx_object_id(w, 0, request.object);
    encode_ctx_enumerated(w, 1, request.property);
    encode_opening_tag(w, 3);
    for (const Value& v : values) encode_value(w, v);
    encode_closing_tag(w, 3);
    return with_bvlc(npdu);
}

std::uint64_t key(ObjectId o, std::uint32_t property) {
    return (std::uint64_t{o.type} << 54) | (std::uint64_t{o.instance} << 32) | property;
}

// The simulated device: every answer pre-encoded, looked up by object and property.
class Responder {
public:
    Responder() {
        const ObjectId device{kObjectTypeDevice, kDevice};
        std::vector<Value> list;
        for (std::uint32_t i = 0; i < kObjects; ++i) list.push_back(Value{ObjectId{kAnalogInput, i}});
        answers_[key(device, kObjectList)] = ack_frame({device, kObjectList, kArrayAll}, list);
        std::vector<Value> properties;
        for (std::uint32_t p : kProperties) properties.push_back(Value{Enumerated{p}});
        for (std::uint32_t i = 0; i < kObjects; ++i) {
            const ObjectId o{kAnalogInput, i};
            answers_[key(o, kPropertyList)] = ack_frame({o, kPropertyList, kArrayAll}, properties);
            for (std::uint32_t p : kProperties) {
                answers_[key(o, p)] = ack_frame({o, p, kArrayAll}, {Value{21.5f + static_cast<float>(p)}});
            }
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return socket_.port(); }
    unsigned long unanswered() const { return unanswered_; }

private:
    void run() {
        std::uint8_t buf[1600];
        while (!stop_) {
            pollfd p{socket_.fd(), POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(socket_.fd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0) continue;
            Reader r(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)).subspan(4));
            Address dest, src;
            NpduData npdu;
            std::uint8_t first, sizes, invoke_id, choice;
            ReadPropertyRequest request;
            if (!decode_npdu(r, dest, src, npdu) || !r.read_u8(first) || !r.read_u8(sizes) ||
                !r.read_u8(invoke_id) || !r.read_u8(choice) || choice != service::kReadProperty ||
                !decode_read_property(r.rest(), request)) {
                ++unanswered_;
                continue;
            }
            const auto it = answers_.find(key(request.object, request.property));
            if (it == answers_.end()) {
                ++unanswered_;
                continue;
            }
            it->second[kInvokeIdAt] = invoke_id;
            sendto(socket_.fd(), it->second.data(), it->second.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    Socket socket_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> answers_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> unanswered_{0};
    std::thread thread_;
};

// The scan's requests in its order, encoded as the stack sends them.
std::vector<std::vector<std::uint8_t>> scan_requests() {
    std::vector<ReadPropertyRequest> order;
    order.push_back({{kObjectTypeDevice, kDevice}, kObjectList, kArrayAll});
    for (std::uint32_t i = 0; i < kObjects; ++i) {
        const ObjectId o{kAnalogInput, i};
        order.push_back({o, kPropertyList, kArrayAll});
        for (std::uint32_t p : kProperties) order.push_back({o, p, kArrayAll});
    }
    std::vector<std::vector<std::uint8_t>> frames;
    for (const ReadPropertyRequest& request : order) {
        std::vector<std::uint8_t> npdu;
        Writer w(npdu);
        encode_npdu(w, nullptr, nullptr, npdu_data_for_apdu(true));
        encode_read_property(w, 0, request);
        frames.push_back(with_bvlc(npdu));
    }
    return frames;
}

// One scan's worth of requests over a plain socket, each waiting for its answer.
double raw_scan(const Socket& s, std::uint16_t peer_port, std::vector<std::vector<std::uint8_t>>& requests,
                std::uint8_t& id) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(kLoopback);
    peer.sin_port = htons(peer_port);
    std::uint8_t buf[1600];
    const auto start = clock_type::now();
    for (auto& request : requests) {
        request[kRequestInvokeIdAt] = id;
        sendto(s.fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        // Bounded by the socket's receive timeout, like the collector's 100 ms waits.
        for (int tries = 0; tries < 10; ++tries) {
            const ssize_t n = recv(s.fd(), buf, sizeof buf, 0);
            if (n > static_cast<ssize_t>(kInvokeIdAt) && buf[kInvokeIdAt] == id) break;
        }
        id = id == 255 ? 1 : static_cast<std::uint8_t>(id + 1);
    }
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

// One scanDevice; false when it did not see the whole device.
bool collector_scan(collector::Collector& c, double& ms) {
    collector::ObjectList list;
    const auto start = clock_type::now();
    c.scanDevice(3000, list, kDevice);
    ms = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
    return list.size() == kObjects && std::all_of(list.begin(), list.end(), [](const collector::CollectorObject& o) {
               return o.properties.size() == std::size(kProperties);
           });
}

// The collector's loggers, writing their lines as a run would, into /dev/null.
void register_loggers() {
    const auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>("/dev/null");
    for (const char* name : {"console", "all", "file"}) {
        auto logger = std::make_shared<spdlog::logger>(name, sink);
        logger->set_pattern(std::string(std::string_view(name) == "file" ? logging::kBarePattern
                                                                          : logging::kCollectorPattern));
        logger->set_level(spdlog::level::debug);
        spdlog::register_logger(logger);
    }
}

// CPU time of the calling thread in ms (user and system): what the client side itself
// spends per scan, apart from waiting for the responder.
double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 15);
    const int scans = std::max(1, argc > 2 ? std::atoi(argv[2]) : 10);
    register_loggers();
    Responder peer;

    Stack stack;
    LinkSettings settings;
    settings.iface = "lo";
    settings.port = 0;
    std::string error;
    if (!stack.open_datalink(settings, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    stack.add_binding(kDevice, 1476, Address::ipv4(kLoopback, peer.port()));
    collector::Collector collector(stack);

    Socket raw;
    timeval wait{0, 100 * 1000};
    setsockopt(raw.fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto requests = scan_requests();
    std::uint8_t raw_id = 1;

    // Floor and collector scans run in pairs, back to back and in alternating order, so
    // both see the same machine load; the ratio is taken per pair. A first pair warms up.
    double warm = 0;
    raw_scan(raw, peer.port(), requests, raw_id);
    collector_scan(collector, warm);
    std::vector<double> raw_ms, scan_ms, ratios;
    double raw_cpu = 0, scan_cpu = 0;
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> round_ratios;
        for (int i = 0; i < scans; ++i) {
            double floor_ms = 0, ms = 0;
            bool complete = true;
            const auto run_floor = [&] {
                const double c0 = thread_cpu_ms();
                floor_ms = raw_scan(raw, peer.port(), requests, raw_id);
                raw_cpu += thread_cpu_ms() - c0;
            };
            const auto run_collector = [&] {
                const double c0 = thread_cpu_ms();
                complete = collector_scan(collector, ms);
                scan_cpu += thread_cpu_ms() - c0;
            };
            if (i % 2 == 0) {
                run_floor();
                run_collector();
            } else {
                run_collector();
                run_floor();
            }
            if (!complete) {
                std::fprintf(stderr, "the scan missed objects or properties\n");
                return 1;
            }
            raw_ms.push_back(floor_ms);
            scan_ms.push_back(ms);
            round_ratios.push_back(ms / floor_ms);
        }
        std::printf("round %2d: ratio %.3f (median of %d pairs)\n", r + 1, median(round_ratios), scans);
        ratios.insert(ratios.end(), round_ratios.begin(), round_ratios.end());
    }
    const double transactions = static_cast<double>(requests.size());
    const double best_raw = *std::min_element(raw_ms.begin(), raw_ms.end());
    const double best_scan = *std::min_element(scan_ms.begin(), scan_ms.end());
    std::printf("one device, %u objects x %zu properties: %zu ReadProperty transactions per scan\n", kObjects,
                std::size(kProperties), requests.size());
    std::printf("floor (raw UDP, same requests): median %.2f ms per scan (%.1f us per request), best %.2f ms\n",
                median(raw_ms), 1000 * median(raw_ms) / transactions, best_raw);
    std::printf("collector scanDevice:           median %.2f ms per scan (%.1f us per request), best %.2f ms\n",
                median(scan_ms), 1000 * median(scan_ms) / transactions, best_scan);
    const double per_request = 1000.0 / (static_cast<double>(ratios.size()) * transactions);
    std::printf("client thread CPU per request:  floor %.1f us, collector %.1f us\n", raw_cpu * per_request,
                scan_cpu * per_request);
    std::printf("collector / floor:              %.3f (median of %zu pairs), %.3f (best scans); target <= 1.25\n",
                median(ratios), ratios.size(), best_scan / best_raw);
    if (peer.unanswered() != 0) std::printf("responder left %lu requests unanswered\n", peer.unanswered());
    spdlog::shutdown();
    return 0;
}
