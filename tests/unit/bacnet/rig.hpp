// A client stack over the in-memory network with scripted peer devices (1234 unless a test
// adds others) and a hand-driven clock: a receive that finds nothing moves the clock by the
// wait it was given, as a real link would have slept, so timeouts and retries need no sleep.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bacstack/apdu.hpp"
#include "bacstack/memory_transport.hpp"
#include "bacstack/npdu.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/value_codec.hpp"
#include "bacstack/who_is.hpp"

namespace rig {

inline constexpr bacstack::Endpoint kOwn{0x0A4E000A, 47808};
inline constexpr bacstack::Endpoint kBroadcast{0x0A4E00FF, 47808};
inline constexpr bacstack::Endpoint kDevice{0x0A4E000B, 47808};
inline constexpr std::uint32_t kDeviceId = 1234;

// The clock of the waits under test; NowMs is a plain function pointer, hence a global.
inline std::int64_t now_ms = 0;
inline std::int64_t clock() { return now_ms; }

// A wait that never ends would hang the test run; this many receives means it did not.
inline constexpr int kReceiveLimit = 100000;

// What the client put on the wire, decoded far enough to tell requests apart.
struct Sent {
    enum Kind { WhoIs, ReadProperty, Other } kind = Other;
    std::int64_t at = 0;                        // hand clock when it was sent
    bacstack::Endpoint to;
    std::optional<bacstack::WhoIsRange> range;  // Who-Is
    std::uint8_t invoke_id = 0;                 // ReadProperty
    bacstack::ReadPropertyRequest request;      // ReadProperty
    std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> frame(const std::vector<std::uint8_t>& apdu) {
    std::vector<std::uint8_t> f = {0x81, 0x0a, 0x00, static_cast<std::uint8_t>(6 + apdu.size()), 0x01, 0x00};
    f.insert(f.end(), apdu.begin(), apdu.end());
    return f;
}

// I-Am of device `id`, max APDU 1476, no segmentation.
inline std::vector<std::uint8_t> i_am_frame(std::uint32_t id) {
    std::vector<std::uint8_t> apdu;
    bacstack::Writer w(apdu);
    bacstack::encode_i_am(w, bacstack::IAm{id, 1476, bacstack::kSegmentationNone, 0});
    return frame(apdu);
}

// ReadProperty-ACK APDU answering `request` with `values`.
inline std::vector<std::uint8_t> ack_apdu(std::uint8_t invoke_id, const bacstack::ReadPropertyRequest& request,
                                          const std::vector<bacstack::Value>& values) {
    std::vector<std::uint8_t> apdu = {0x30, invoke_id, bacstack::service::kReadProperty};
    bacstack::Writer w(apdu);
    bacstack::encode_ctx_object_id(w, 0, request.object);
    bacstack::encode_ctx_enumerated(w, 1, request.property);
    if (request.array_index != bacstack::kArrayAll) bacstack::encode_ctx_unsigned(w, 2, request.array_index);
    bacstack::encode_opening_tag(w, 3);
    for (const bacstack::Value& v : values) bacstack::encode_value(w, v);
    bacstack::encode_closing_tag(w, 3);
    return apdu;
}

// Error APDU for a ReadProperty: class property (2), code unknown-property (32).
inline std::vector<std::uint8_t> unknown_property_apdu(std::uint8_t invoke_id) {
    return {0x50, invoke_id, bacstack::service::kReadProperty, 0x91, 0x02, 0x91, 0x20};
}

class ClockedNet final : public bacstack::Transport {
public:
    long send_to(const bacstack::Endpoint& to, std::span<const std::uint8_t> datagram) override {
        return mem.send_to(to, datagram);
    }
    bacstack::Received receive(std::span<std::uint8_t> buffer, unsigned wait_ms) override {
        if (++receives > kReceiveLimit) throw std::runtime_error("the wait did not end");
        if (before_receive) before_receive();
        const bacstack::Received r = mem.receive(buffer, wait_ms);
        if (r.size == 0) now_ms += wait_ms;
        return r;
    }

    bacstack::MemoryTransport mem;
    std::function<void()> before_receive;
    int receives = 0;
};

struct Rig {
    bacstack::Stack stack;
    ClockedNet* net = nullptr;
    std::vector<Sent> sent;
    std::vector<std::string> diagnostics;
    // The peers: the devices listed here answer a Who-Is that covers them with an I-Am
    // from their endpoint; a ReadProperty gets the APDU answer_read returns for it
    // (nothing when empty), from the endpoint it was sent to.
    std::vector<std::pair<std::uint32_t, bacstack::Endpoint>> answer_who_is;
    std::function<std::vector<std::uint8_t>(const Sent&)> answer_read;

    Rig() {
        now_ms = 0;
        auto t = std::make_unique<ClockedNet>();
        net = t.get();
        stack.attach_datalink(std::move(t), kOwn, kBroadcast);
        stack.set_diagnostics([this](std::string_view m) { diagnostics.emplace_back(m); });
        net->mem.on_send = [this](const bacstack::MemoryTransport::Datagram& d) { on_send(d); };
        stack.set_unconfirmed_handler(bacstack::service::kIAm,
                                      [this](std::span<const std::uint8_t> service, const bacstack::Address& src) {
                                          bacstack::IAm i_am;
                                          if (bacstack::decode_i_am(service, i_am)) {
                                              stack.add_binding(i_am.device_id, i_am.max_apdu, src);
                                          }
                                      });
    }
    void bind(unsigned max_apdu = 1476) {
        stack.add_binding(kDeviceId, max_apdu, bacstack::Address::ipv4(kDevice.ip, kDevice.port));
    }
    std::size_t count(Sent::Kind kind) const {
        std::size_t n = 0;
        for (const Sent& s : sent) n += s.kind == kind;
        return n;
    }
    std::vector<std::int64_t> times(Sent::Kind kind) const {
        std::vector<std::int64_t> t;
        for (const Sent& s : sent) {
            if (s.kind == kind) t.push_back(s.at);
        }
        return t;
    }

private:
    void on_send(const bacstack::MemoryTransport::Datagram& d) {
        Sent s;
        s.at = now_ms;
        s.to = d.peer;
        s.bytes = d.bytes;
        decode(d.bytes, s);
        sent.push_back(s);
        if (s.kind == Sent::WhoIs) {
            for (const auto& [id, endpoint] : answer_who_is) {
                if (!s.range || (s.range->low <= id && id <= s.range->high)) net->mem.queue(endpoint, i_am_frame(id));
            }
        } else if (s.kind == Sent::ReadProperty && answer_read) {
            const auto apdu = answer_read(s);
            if (!apdu.empty()) net->mem.queue(s.to, frame(apdu));
        }
    }
    static void decode(const std::vector<std::uint8_t>& bytes, Sent& s) {
        if (bytes.size() < 4) return;
        bacstack::Reader r(std::span<const std::uint8_t>(bytes).subspan(4));
        bacstack::Address dest, src;
        bacstack::NpduData npdu;
        std::uint8_t first = 0, second = 0;
        if (!bacstack::decode_npdu(r, dest, src, npdu) || !r.read_u8(first) || !r.read_u8(second)) return;
        if (first == 0x10 && second == bacstack::service::kWhoIs) {
            if (bacstack::decode_who_is(r.rest(), s.range)) s.kind = Sent::WhoIs;
            return;
        }
        std::uint8_t service = 0;
        if ((first >> 4) == 0 && r.read_u8(s.invoke_id) && r.read_u8(service) &&
            service == bacstack::service::kReadProperty && bacstack::decode_read_property(r.rest(), s.request)) {
            s.kind = Sent::ReadProperty;
        }
    }
};

}  // namespace rig
