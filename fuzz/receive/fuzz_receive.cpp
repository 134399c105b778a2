// The receive path from datagram to handlers (BVLC -> NPDU -> APDU -> services) over the
// in-memory link, with a request in flight so answers meet a live transaction. Decoders
// that have an encoder are round-tripped. First input octet: bit 0 = arrived on the
// broadcast socket, bit 1 = sent from our own address, bits 2-7 = TSM step in 100 ms.
#include <cassert>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bacstack/memory_transport.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/stack.hpp"
#include "bacstack/who_is.hpp"
#include "bacstack/write_property.hpp"

using namespace bacstack;

namespace {

const Endpoint kOwn{0x0A4E000A, 47808};
const Endpoint kPeer{0x0A4E000B, 47808};

#define CHECK(cond)                    \
    do {                               \
        if (!(cond)) __builtin_trap(); \
    } while (0)

void round_trip_npdu(std::span<const std::uint8_t> pdu) {
    Reader r(pdu);
    Address dest, src;
    NpduData data;
    if (!decode_npdu(r, dest, src, data)) return;
    std::vector<std::uint8_t> again;
    Writer w(again);
    // A source without SADR is not encodable; SNET is only written with one.
    encode_npdu(w, &dest, &src, data);
    Reader r2(again);
    Address dest2, src2;
    NpduData data2;
    CHECK(decode_npdu(r2, dest2, src2, data2));
    CHECK(r2.empty());
    CHECK(dest2.net == dest.net && dest2.len == dest.len && dest2 == dest);
    CHECK(src2.net == src.net && src2 == src);
    CHECK(data2.network_layer_message == data.network_layer_message &&
          data2.message_type == data.message_type);
    CHECK(data2.data_expecting_reply == data.data_expecting_reply &&
          data2.priority == data.priority);
    if (dest.net != 0) CHECK(data2.hop_count == data.hop_count);
}

void round_trip_i_am(std::span<const std::uint8_t> service) {
    IAm a;
    if (!decode_i_am(service, a)) return;
    std::vector<std::uint8_t> again;
    Writer w(again);
    encode_i_am(w, a);
    IAm b;
    CHECK(decode_i_am(std::span<const std::uint8_t>(again).subspan(2), b));
    CHECK(a.device_id == b.device_id && a.max_apdu == b.max_apdu &&
          a.segmentation == b.segmentation && a.vendor_id == b.vendor_id);
}

void round_trip_request(std::uint8_t choice, std::span<const std::uint8_t> service) {
    if (choice == service::kReadProperty) {
        ReadPropertyRequest a;
        if (!decode_read_property(service, a)) return;
        std::vector<std::uint8_t> again;
        Writer w(again);
        encode_read_property(w, 1, a);
        ReadPropertyRequest b;
        CHECK(decode_read_property(std::span<const std::uint8_t>(again).subspan(4), b));
        CHECK(a.object == b.object && a.property == b.property && a.array_index == b.array_index);
    } else if (choice == service::kWriteProperty) {
        WritePropertyRequest a;
        if (!decode_write_property(service, a)) return;
        std::vector<std::uint8_t> again;
        Writer w(again);
        encode_write_property(w, 1, a);
        WritePropertyRequest b;
        CHECK(decode_write_property(std::span<const std::uint8_t>(again).subspan(4), b));
        CHECK(a.object == b.object && a.property == b.property && a.array_index == b.array_index &&
              a.priority == b.priority && a.value.size() == b.value.size() &&
              std::memcmp(a.value.data(), b.value.data(), a.value.size()) == 0);
    }
}

struct Harness {
    Stack stack;
    MemoryTransport* net;
    std::array<std::uint8_t, kReceiveBuffer> rx{};

    Harness() {
        auto t = std::make_unique<MemoryTransport>();
        net = t.get();
        stack.attach_datalink(std::move(t), kOwn, Endpoint{0x0A4E00FF, 47808});
        stack.set_diagnostics([](std::string_view) {});
        stack.set_unconfirmed_handler(service::kWhoIs, stack.who_is_handler());
        stack.set_unconfirmed_handler(service::kIAm, [this](auto service, const Address& src) {
            round_trip_i_am(service);
            IAm i_am;
            if (decode_i_am(service, i_am)) stack.add_binding(i_am.device_id, i_am.max_apdu, src);
        });
        stack.set_confirmed_ack_handler(
            service::kReadProperty, [](auto service, const Address&, auto&) {
                ReadPropertyAck ack;
                if (!decode_read_property_ack(service, ack)) return;
                CHECK(ack.application_data.data() >= service.data() &&
                      ack.application_data.data() + ack.application_data.size() <=
                          service.data() + service.size());
            });
        stack.set_unrecognized_service_handler([this](auto service, const Address& src, auto& d) {
            round_trip_request(d.service_choice, service);
            // What the engine does: answer with a Reject.
            std::vector<std::uint8_t> out;
            Writer w(out);
            const Address me = stack.my_address();
            encode_npdu(w, &src, &me, npdu_data_for_apdu(false));
            w.u8(0x60);
            w.u8(d.invoke_id);
            w.u8(9);
            (void)stack.send_pdu(src, out);
        });
        stack.set_error_handler(service::kReadProperty, [](auto&, auto, auto, auto) {});
        stack.set_reject_handler([](auto&, auto, auto) {});
        stack.set_abort_handler([](auto&, auto, auto, auto) {});
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    // Exact-size copy so an overread past the datagram is seen.
    std::vector<std::uint8_t> datagram(data + 1, data + size);

    h.net->sent.clear();
    h.stack.add_binding(1234, 1476, Address::ipv4(kPeer.ip, kPeer.port));
    const std::uint8_t id = h.stack.send_read_property(1234, 2, 1, 85, kArrayAll);

    h.net->queue((flags & 2) ? kOwn : kPeer, datagram, (flags & 1) != 0);
    Address src;
    const std::size_t n = h.stack.receive(src, h.rx, 0);
    if (n > 0) {
        std::vector<std::uint8_t> pdu(h.rx.begin(), h.rx.begin() + static_cast<std::ptrdiff_t>(n));
        round_trip_npdu(pdu);
        h.stack.npdu_handler(src, pdu);
    }
    h.stack.timer_milliseconds(static_cast<std::uint16_t>((flags >> 2) * 100));
    if (id != 0 && !h.stack.invoke_id_free(id)) h.stack.free_invoke_id(id);
    return 0;
}
