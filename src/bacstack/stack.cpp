#include "bacstack/stack.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "bacstack/read_property.hpp"
#include "bacstack/udp_transport.hpp"
#include "bacstack/who_is.hpp"
#include "bacstack/write_property.hpp"

namespace bacstack {

Stack::Stack(AddressCache::Clock clock)
    : cache_(std::move(clock)),
      tsm_([this](const Address& dest, std::span<const std::uint8_t> pdu) {
          (void)send_pdu(dest, pdu);
      }),
      dispatcher_(tsm_),
      diagnostics_([](std::string_view m) { std::cerr << m << std::endl; }) {
    tx_.reserve(kMaxMpdu);
}

void Stack::diagnose(std::string_view message) {
    if (diagnostics_) diagnostics_(message);
}

// --- data link -------------------------------------------------------------------------

bool Stack::init_datalink_from_environment() {
    LinkSettings settings;
    std::string error;
    if (!read_link_environment([](const char* name) { return std::getenv(name); }, settings,
                               error) ||
        !open_datalink(settings, error)) {
        std::cerr << error << std::endl;
        return false;
    }
    return true;
}

bool Stack::open_datalink(const LinkSettings& settings, std::string& error, SocketCalls& calls,
                          const std::string& route_table) {
    std::string iface = settings.iface;
    if (iface.empty()) {
        iface = default_route_interface(route_table);
        if (iface.empty()) {
            error =
                "BACnet/IP: no interface: BACNET_IFACE is not set and there is no default route";
            return false;
        }
    }
    const std::string prefix = "BACnet/IP: cannot open the data link on interface " + iface + ": ";
    InterfaceAddress ifa;
    std::string reason;
    if (!query_interface(calls, iface, ifa, reason)) {
        error = prefix + reason;
        return false;
    }
    UdpTransport::Options options;
    options.iface = iface;
    options.own = Endpoint{ifa.ip, settings.port};
    options.broadcast_bind = settings.broadcast_bind.value_or(ifa.broadcast);
    auto transport = UdpTransport::open(options, calls, reason);
    if (!transport) {
        error = prefix + reason;
        return false;
    }
    tsm_.set_apdu_timeout(settings.apdu_timeout);
    tsm_.set_retries(settings.apdu_retries);
    tsm_.set_next_invoke_id(settings.first_invoke_id);
    attach_datalink(std::move(transport), options.own, Endpoint{ifa.broadcast, settings.port});
    return true;
}

void Stack::attach_datalink(std::unique_ptr<Transport> transport, Endpoint own,
                            Endpoint broadcast) {
    link_ = std::make_unique<BipLink>(std::move(transport), own, broadcast);
}

std::size_t Stack::receive(Address& src, std::span<std::uint8_t> buffer, unsigned wait_ms) {
    if (!link_) return 0;
    return link_->receive(src, buffer, wait_ms);
}

int Stack::send_pdu(const Address& dest, std::span<const std::uint8_t> pdu) {
    if (!link_) {
        errno = ENOTCONN;
        return -1;
    }
    return link_->send_pdu(dest, pdu);
}

Address Stack::my_address() const { return link_ ? link_->my_address() : Address{}; }
Address Stack::broadcast_address() const {
    if (link_) return link_->broadcast_address();
    Address a;
    a.net = kBroadcastNetwork;
    return a;
}

// --- network layer -------------------------------------------------------------------------

void Stack::npdu_handler(Address& src, std::span<const std::uint8_t> pdu) {
    Reader r(pdu);
    Address dest;
    NpduData data;
    if (!decode_npdu(r, dest, src, data)) return;
    // Router and other network-layer messages are not for a plain node.
    if (data.network_layer_message) return;
    // A DNET other than the global broadcast names a network behind some router, not us.
    if (dest.net != 0 && dest.net != kBroadcastNetwork) return;
    dispatcher_.handle(src, r.rest());
}

// --- handlers ---------------------------------------------------------------------------------

void Stack::set_unconfirmed_handler(std::uint8_t s, ApduDispatcher::UnconfirmedHandler h) {
    dispatcher_.set_unconfirmed_handler(s, std::move(h));
}
void Stack::set_confirmed_handler(std::uint8_t s, ApduDispatcher::ConfirmedHandler h) {
    dispatcher_.set_confirmed_handler(s, std::move(h));
}
void Stack::set_confirmed_ack_handler(std::uint8_t s, ApduDispatcher::ConfirmedAckHandler h) {
    dispatcher_.set_confirmed_ack_handler(s, std::move(h));
}
void Stack::set_confirmed_simple_ack_handler(std::uint8_t s, ApduDispatcher::SimpleAckHandler h) {
    dispatcher_.set_confirmed_simple_ack_handler(s, std::move(h));
}
void Stack::set_error_handler(std::uint8_t s, ApduDispatcher::ErrorHandler h) {
    dispatcher_.set_error_handler(s, std::move(h));
}
void Stack::set_abort_handler(ApduDispatcher::AbortHandler h) {
    dispatcher_.set_abort_handler(std::move(h));
}
void Stack::set_reject_handler(ApduDispatcher::RejectHandler h) {
    dispatcher_.set_reject_handler(std::move(h));
}
void Stack::set_unrecognized_service_handler(ApduDispatcher::ConfirmedHandler h) {
    dispatcher_.set_unrecognized_service_handler(std::move(h));
}

ApduDispatcher::UnconfirmedHandler Stack::who_is_handler() {
    return
        [this](std::span<const std::uint8_t> service, const Address&) { handle_who_is(service); };
}

void Stack::handle_who_is(std::span<const std::uint8_t> service) {
    std::optional<WhoIsRange> range;
    if (!decode_who_is(service, range)) return;
    if (range && (device_instance_ < range->low || device_instance_ > range->high)) return;
    (void)send_i_am();
}

// --- services
// -------------------------------------------------------------------------------------

template <class F>
std::span<const std::uint8_t> Stack::build(const Address& dest, bool expecting_reply, F&& apdu) {
    tx_.clear();
    Writer w(tx_);
    const Address me = my_address();
    encode_npdu(w, &dest, &me, npdu_data_for_apdu(expecting_reply));
    apdu(w);
    return tx_;
}

bool Stack::send_who_is(std::int32_t low, std::int32_t high) {
    const Address dest = broadcast_address();
    const auto pdu = build(dest, false, [&](Writer& w) { encode_who_is(w, low, high); });
    if (send_pdu(dest, pdu) <= 0) {
        diagnose(std::string("Failed to Send Who-Is Request (") + std::strerror(errno) + ")");
        return false;
    }
    return true;
}

bool Stack::send_i_am() {
    const Address dest = broadcast_address();
    const IAm me{device_instance_, static_cast<unsigned>(kMaxApdu), kSegmentationNone, vendor_id_};
    const auto pdu = build(dest, false, [&](Writer& w) { encode_i_am(w, me); });
    return send_pdu(dest, pdu) > 0;
}

std::uint8_t Stack::send_confirmed(std::uint32_t device, const char* service_name,
                                   const std::function<void(Writer&, std::uint8_t)>& apdu) {
    if (!link_) return 0;
    unsigned max_apdu = 0;
    Address dest;
    if (!cache_.bind_request(device, max_apdu, dest)) return 0;
    const std::uint8_t invoke_id = tsm_.next_free_invoke_id();
    if (invoke_id == 0) return 0;
    std::size_t apdu_start = 0;
    const auto pdu = build(dest, true, [&](Writer& w) {
        apdu_start = w.size();
        apdu(w, invoke_id);
    });
    const std::size_t apdu_len = pdu.size() - apdu_start;
    const std::size_t limit = std::min<std::size_t>(max_apdu, kMaxApdu);
    if (apdu_len > limit) {
        tsm_.free_invoke_id(invoke_id);
        diagnose(std::string("Failed to Send ") + service_name +
                 " Request (exceeds destination maximum APDU)!");
        return 0;
    }
    tsm_.set_confirmed_transaction(invoke_id, dest, pdu);
    if (send_pdu(dest, pdu) <= 0) {
        diagnose(std::string("Failed to Send ") + service_name + " Request (" +
                 std::strerror(errno) + ")");
    }
    return invoke_id;
}

std::uint8_t Stack::send_read_property(std::uint32_t device, std::uint32_t object_type,
                                       std::uint32_t instance, std::uint32_t property,
                                       std::uint32_t array_index) {
    const ReadPropertyRequest request{
        ObjectId{static_cast<std::uint16_t>(object_type & kMaxObjectType), instance & kMaxInstance},
        property, array_index};
    return send_confirmed(device, "ReadProperty", [&](Writer& w, std::uint8_t id) {
        encode_read_property(w, id, request);
    });
}

std::uint8_t Stack::send_write_property(std::uint32_t device, std::uint32_t object_type,
                                        std::uint32_t instance, std::uint32_t property,
                                        std::span<const std::uint8_t> encoded_value,
                                        std::uint8_t priority, std::uint32_t array_index) {
    if (priority > kLowestPriority) {
        diagnose("Failed to Send WriteProperty Request (priority out of 1..16)");
        return 0;
    }
    if (encoded_value.size() >= kMaxApdu) {
        diagnose("Failed to Send WriteProperty Request (exceeds destination maximum APDU)!");
        return 0;
    }
    const WritePropertyRequest request{
        ObjectId{static_cast<std::uint16_t>(object_type & kMaxObjectType), instance & kMaxInstance},
        property, array_index, encoded_value, priority};
    return send_confirmed(device, "WriteProperty", [&](Writer& w, std::uint8_t id) {
        encode_write_property(w, id, request);
    });
}

// --- address cache
// ---------------------------------------------------------------------------------

void Stack::address_init(const std::string& static_file) {
    cache_.clear();
    struct stat st;
    if (!static_file.empty() && ::stat(static_file.c_str(), &st) == 0)
        (void)cache_.load_static_file(static_file);
}

bool Stack::bind_request(std::uint32_t device, unsigned& max_apdu, Address& address) {
    return cache_.bind_request(device, max_apdu, address);
}

void Stack::add_binding(std::uint32_t device, unsigned max_apdu, const Address& address) {
    cache_.add_binding(device, max_apdu, address);
}

}  // namespace bacstack
