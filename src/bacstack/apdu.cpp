#include "bacstack/apdu.hpp"

#include "bacstack/tag.hpp"
#include "bacstack/tsm.hpp"

namespace bacstack {

namespace {

// 20.1.2.x: bits of the first APDU octet.
constexpr std::uint8_t kSegmentedMessage = 0x08;
constexpr std::uint8_t kMoreFollows = 0x04;
constexpr std::uint8_t kSegmentedResponseAccepted = 0x02;
constexpr std::uint8_t kAbortServer = 0x01;

// 21: confirmed services acknowledged with a Simple-ACK. Only for these does a Simple-ACK
// end a transaction.
bool is_simple_ack_service(std::uint8_t s) {
    switch (s) {
        case 0:   // acknowledgeAlarm
        case 1:   // confirmedCOVNotification
        case 2:   // confirmedEventNotification
        case 5:   // subscribeCOV
        case 8:   // addListElement
        case 9:   // removeListElement
        case 11:  // deleteObject
        case 15:  // writeProperty
        case 16:  // writePropertyMultiple
        case 17:  // deviceCommunicationControl
        case 19:  // confirmedTextMessage
        case 20:  // reinitializeDevice
        case 22:  // vtClose
        case 27:  // lifeSafetyOperation
        case 28:  // subscribeCOVProperty
        case 30:  // subscribeCOVPropertyMultiple
        case 31:  // confirmedCOVNotificationMultiple
        case 32:  // confirmedAuditNotification
            return true;
        default:
            return false;
    }
}

}  // namespace

unsigned max_apdu_from_code(std::uint8_t code) {
    static constexpr unsigned kOctets[] = {50, 128, 206, 480, 1024, 1476};
    return code < 6 ? kOctets[code] : 0;
}

void encode_confirmed_request_header(Writer& out, std::uint8_t invoke_id,
                                     std::uint8_t service_choice) {
    // No segmentation: the segmented-response-accepted bit stays clear and the maximum
    // number of segments is "unspecified".
    out.u8(static_cast<std::uint8_t>(PduType::ConfirmedRequest) << 4);
    out.u8(kMaxApduCode1476);
    out.u8(invoke_id);
    out.u8(service_choice);
}

void encode_unconfirmed_request_header(Writer& out, std::uint8_t service_choice) {
    out.u8(static_cast<std::uint8_t>(PduType::UnconfirmedRequest) << 4);
    out.u8(service_choice);
}

bool decode_error(std::span<const std::uint8_t> service, std::uint32_t& error_class,
                  std::uint32_t& error_code) {
    Reader r(service);
    Tag t;
    bool wrapped = false;
    if (peek_tag(r, t) && t.is_opening(0)) {
        decode_tag(r, t);
        wrapped = true;
    }
    std::uint32_t cls, code;
    if (!decode_app_enumerated(r, cls) || !decode_app_enumerated(r, code)) return false;
    if (wrapped && !(decode_tag(r, t) && t.is_closing(0))) return false;
    error_class = cls;
    error_code = code;
    return true;
}

void ApduDispatcher::handle(const Address& src, std::span<const std::uint8_t> apdu) {
    Reader r(apdu);
    std::uint8_t first;
    if (!r.read_u8(first)) return;
    switch (static_cast<PduType>(first >> 4)) {
        case PduType::ConfirmedRequest:
            handle_confirmed(src, r, first);
            return;
        case PduType::UnconfirmedRequest: {
            std::uint8_t choice;
            if (!r.read_u8(choice)) return;
            if (unconfirmed_[choice]) unconfirmed_[choice](r.rest(), src);
            return;
        }
        case PduType::SimpleAck: {
            std::uint8_t invoke_id, choice;
            if (!r.read_u8(invoke_id) || !r.read_u8(choice)) return;
            if (!is_simple_ack_service(choice)) return;
            if (simple_ack_[choice]) simple_ack_[choice](src, invoke_id);
            tsm_.free_invoke_id(invoke_id);
            return;
        }
        case PduType::ComplexAck:
            handle_complex_ack(src, r, first);
            return;
        case PduType::Error: {
            std::uint8_t invoke_id, choice;
            if (!r.read_u8(invoke_id) || !r.read_u8(choice)) return;
            std::uint32_t cls = 0, code = 0;
            // The peer has answered even when its error is unreadable; a resend would
            // not change that, so the transaction ends either way.
            if (decode_error(r.rest(), cls, code) && error_[choice])
                error_[choice](src, invoke_id, cls, code);
            tsm_.free_invoke_id(invoke_id);
            return;
        }
        case PduType::Reject: {
            std::uint8_t invoke_id, reason;
            if (!r.read_u8(invoke_id) || !r.read_u8(reason)) return;
            if (reject_) reject_(src, invoke_id, reason);
            tsm_.free_invoke_id(invoke_id);
            return;
        }
        case PduType::Abort: {
            std::uint8_t invoke_id, reason;
            if (!r.read_u8(invoke_id) || !r.read_u8(reason)) return;
            if (abort_) abort_(src, invoke_id, reason, (first & kAbortServer) != 0);
            tsm_.free_invoke_id(invoke_id);
            return;
        }
        case PduType::SegmentAck:
        default:
            return;  // we never send segments
    }
}

void ApduDispatcher::handle_confirmed(const Address& src, Reader& r, std::uint8_t first) {
    ConfirmedServiceData d;
    std::uint8_t sizes;
    d.segmented_message = (first & kSegmentedMessage) != 0;
    d.more_follows = (first & kMoreFollows) != 0;
    d.segmented_response_accepted = (first & kSegmentedResponseAccepted) != 0;
    if (!r.read_u8(sizes) || !r.read_u8(d.invoke_id)) return;
    d.max_segments = (sizes >> 4) & 0x07;
    d.max_resp = max_apdu_from_code(sizes & 0x0F);
    if (d.segmented_message) {
        // We cannot reassemble; the requester's own timeout ends its transaction.
        return;
    }
    if (!r.read_u8(d.service_choice)) return;
    if (confirmed_[d.service_choice]) {
        confirmed_[d.service_choice](r.rest(), src, d);
    } else if (unrecognized_) {
        unrecognized_(r.rest(), src, d);
    }
}

void ApduDispatcher::handle_complex_ack(const Address& src, Reader& r, std::uint8_t first) {
    ConfirmedAckData d;
    d.segmented_message = (first & kSegmentedMessage) != 0;
    d.more_follows = (first & kMoreFollows) != 0;
    if (!r.read_u8(d.invoke_id)) return;
    if (d.segmented_message) {
        // Our requests do not accept segmented answers; a segment is dropped and the
        // transaction runs into its timeout.
        return;
    }
    if (!r.read_u8(d.service_choice)) return;
    if (complex_ack_[d.service_choice]) complex_ack_[d.service_choice](r.rest(), src, d);
    tsm_.free_invoke_id(d.invoke_id);
}

}  // namespace bacstack
