// The BACnet/IP client as the engine and the collector use it: data link from the
// environment, receive and NPDU handling with registered service handlers, the
// Who-Is/ReadProperty/WriteProperty senders, the address cache and the transaction
// state machine. Single-threaded: the caller serialises every call; nothing runs in
// the background and time moves only through timer_milliseconds().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bacstack/address.hpp"
#include "bacstack/apdu.hpp"
#include "bacstack/bip.hpp"
#include "bacstack/environment.hpp"
#include "bacstack/npdu.hpp"
#include "bacstack/socket_calls.hpp"
#include "bacstack/tsm.hpp"
#include "bacstack/udp_transport.hpp"

namespace bacstack {

class Stack {
  public:
    explicit Stack(AddressCache::Clock clock = [] { return std::chrono::steady_clock::now(); });
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    // --- our device ---------------------------------------------------------------
    // Our device instance; 4194303 until set. It answers a Who-Is whose range holds it.
    void set_device_instance(std::uint32_t instance) { device_instance_ = instance & kMaxInstance; }
    std::uint32_t device_instance() const { return device_instance_; }
    void set_vendor_id(std::uint16_t vendor_id) { vendor_id_ = vendor_id; }

    // --- data link ------------------------------------------------------------------
    // Opens BACnet/IP as the environment says (see environment.hpp) and applies the APDU
    // timeout, retries and first invoke id. On failure writes one line naming the
    // interface and the reason to standard error and returns false; the program then
    // exits with status 1 (the library never exits by itself).
    bool init_datalink_from_environment();
    // The same with explicit settings; the message goes to `error` instead.
    bool open_datalink(const LinkSettings& settings, std::string& error,
                       SocketCalls& calls = SocketCalls::system(),
                       const std::string& route_table = kRouteTable);
    // Uses a ready transport (in-memory in tests).
    void attach_datalink(std::unique_ptr<Transport> transport, Endpoint own, Endpoint broadcast);
    bool has_datalink() const { return link_ != nullptr; }
    BipLink* datalink() { return link_.get(); }

    // Waits at most wait_ms for one packet; its NPDU goes to the start of `buffer` and its
    // sender to `src`. 0 when nothing (usable) came.
    std::size_t receive(Address& src, std::span<std::uint8_t> buffer, unsigned wait_ms);
    // Sends a complete NPDU (header and APDU); octets sent or -1 with errno.
    int send_pdu(const Address& dest, std::span<const std::uint8_t> pdu);
    Address my_address() const;
    Address broadcast_address() const;

    // --- network layer --------------------------------------------------------------
    // Decodes the NPCI (src gets the SNET/SADR of a routed sender, or net 0), drops
    // network-layer messages and PDUs for other networks, dispatches the APDU.
    void npdu_handler(Address& src, std::span<const std::uint8_t> pdu);

    // --- handlers ---------------------------------------------------------------------
    ApduDispatcher& dispatcher() { return dispatcher_; }
    void set_unconfirmed_handler(std::uint8_t service, ApduDispatcher::UnconfirmedHandler h);
    void set_confirmed_handler(std::uint8_t service, ApduDispatcher::ConfirmedHandler h);
    void set_confirmed_ack_handler(std::uint8_t service, ApduDispatcher::ConfirmedAckHandler h);
    void set_confirmed_simple_ack_handler(std::uint8_t service, ApduDispatcher::SimpleAckHandler h);
    void set_error_handler(std::uint8_t service, ApduDispatcher::ErrorHandler h);
    void set_abort_handler(ApduDispatcher::AbortHandler h);
    void set_reject_handler(ApduDispatcher::RejectHandler h);
    void set_unrecognized_service_handler(ApduDispatcher::ConfirmedHandler h);
    // The stock Who-Is handler: answers with our I-Am when our instance is in range.
    ApduDispatcher::UnconfirmedHandler who_is_handler();

    // --- services -----------------------------------------------------------------------
    // Global broadcast; -1/-1 (or any limit outside 0..4194303) asks every device.
    bool send_who_is(std::int32_t low, std::int32_t high);
    bool send_i_am();
    // Invoke id of the registered request, or 0 when nothing was sent: the device is not
    // bound, no invoke id is free, or the request exceeds the device's maximum APDU. A
    // request whose data-link send fails keeps its id; the resends may still get through.
    std::uint8_t send_read_property(std::uint32_t device, std::uint32_t object_type,
                                    std::uint32_t instance, std::uint32_t property,
                                    std::uint32_t array_index);
    // `encoded_value` is complete application-tagged data; priority 0 sends none.
    std::uint8_t send_write_property(std::uint32_t device, std::uint32_t object_type,
                                     std::uint32_t instance, std::uint32_t property,
                                     std::span<const std::uint8_t> encoded_value,
                                     std::uint8_t priority, std::uint32_t array_index);

    // --- address cache ------------------------------------------------------------------
    // Empties the cache and loads the static bindings of `static_file` when it exists.
    void address_init(const std::string& static_file = "address_cache");
    bool bind_request(std::uint32_t device, unsigned& max_apdu, Address& address);
    void add_binding(std::uint32_t device, unsigned max_apdu, const Address& address);
    AddressCache& address_cache() { return cache_; }

    // --- transactions ---------------------------------------------------------------------
    void apdu_timeout_set(std::uint16_t ms) { tsm_.set_apdu_timeout(ms); }
    std::uint16_t apdu_timeout() const { return tsm_.apdu_timeout(); }
    void apdu_retries_set(std::uint8_t retries) { tsm_.set_retries(retries); }
    void timer_milliseconds(std::uint16_t ms) { tsm_.timer_milliseconds(ms); }
    bool invoke_id_free(std::uint8_t id) const { return tsm_.invoke_id_free(id); }
    bool invoke_id_failed(std::uint8_t id) const { return tsm_.invoke_id_failed(id); }
    void free_invoke_id(std::uint8_t id) { tsm_.free_invoke_id(id); }
    Tsm& tsm() { return tsm_; }

    // Where refused or failed sends are reported (standard error unless replaced).
    void set_diagnostics(std::function<void(std::string_view)> sink) {
        diagnostics_ = std::move(sink);
    }

  private:
    void handle_who_is(std::span<const std::uint8_t> service);
    // NPCI for `dest` from us, then the APDU written by `apdu`, into tx_.
    template <class F>
    std::span<const std::uint8_t> build(const Address& dest, bool expecting_reply, F&& apdu);
    std::uint8_t send_confirmed(std::uint32_t device, const char* service_name,
                                const std::function<void(Writer&, std::uint8_t)>& apdu);
    void diagnose(std::string_view message);

    std::unique_ptr<BipLink> link_;
    AddressCache cache_;
    Tsm tsm_;
    ApduDispatcher dispatcher_;
    std::uint32_t device_instance_ = kMaxInstance;
    std::uint16_t vendor_id_ = 0;
    std::vector<std::uint8_t> tx_;
    std::function<void(std::string_view)> diagnostics_;
};

}  // namespace bacstack
