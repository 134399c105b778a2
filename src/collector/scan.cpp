#include "collector/scan.hpp"

#include <charconv>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "bacnet/handlers.hpp"
#include "bacnet/timer.hpp"
#include "bacnet/transaction.hpp"
#include "bacstack/apdu.hpp"
#include "bacstack/names.hpp"
#include "bacstack/read_property.hpp"
#include "bacstack/value_codec.hpp"
#include "bacstack/who_is.hpp"
#include "codec/value_text.hpp"
#include "logging/logging.hpp"

namespace collector {

namespace {

constexpr std::uint32_t kObjectList = 76;
constexpr std::uint32_t kPropertyList = 371;
constexpr std::uint32_t kDeviceAddressBinding = 30;
constexpr std::uint32_t kDeviceType = bacstack::kObjectTypeDevice;
constexpr std::uint8_t kTagEnumerated = 9;
constexpr std::uint8_t kTagObjectId = 12;
// 21 BACnetAbortReason: the answer would need segmentation the peer cannot do.
constexpr std::uint8_t kAbortSegmentationNotSupported = 4;

}  // namespace

Collector::Collector(bacstack::Stack& stack)
    : stack_(stack),
      console_(logging::get("console")),
      all_(logging::get("all")),
      file_(logging::get("file")) {
    bacnet::resetAnswer(ctx_.answer);
    stack_.set_unconfirmed_handler(bacstack::service::kIAm,
                                   [this](std::span<const std::uint8_t> s, const bacstack::Address& src) {
                                       onIAm(s, src);
                                   });
    stack_.set_unconfirmed_handler(bacstack::service::kWhoIs, stack_.who_is_handler());
    stack_.set_confirmed_ack_handler(
        bacstack::service::kReadProperty,
        [this](std::span<const std::uint8_t> s, const bacstack::Address& src, const bacstack::ConfirmedAckData& d) {
            onReadPropertyAck(s, src, d);
        });
    stack_.set_unrecognized_service_handler(bacnet::make_unrecognized_service_handler(ctx_, stack_));
    stack_.set_error_handler(bacstack::service::kWriteProperty, bacnet::make_error_handler(ctx_));
    stack_.set_error_handler(bacstack::service::kReadProperty, bacnet::make_error_handler(ctx_));
    stack_.set_abort_handler(bacnet::make_abort_handler(ctx_));
    stack_.set_reject_handler(bacnet::make_reject_handler(ctx_));
}

void Collector::onIAm(std::span<const std::uint8_t> service, const bacstack::Address& src) {
    bacstack::IAm i_am;
    if (!bacstack::decode_i_am(service, i_am)) return;
    discovered_.try_emplace(i_am.device_id);
    stack_.add_binding(i_am.device_id, i_am.max_apdu, src);
}

void Collector::clearCapture() {
    requested_property_ = bacstack::kNoProperty;
    collect_ = false;
    current_object_ = nullptr;
    object_list_ = nullptr;
}

void Collector::onReadPropertyAck(std::span<const std::uint8_t> service, const bacstack::Address& src,
                                  const bacstack::ConfirmedAckData& data) {
    if (!bacnet::from_target(ctx_, src) && !bacnet::same_invoke(ctx_, data.invoke_id)) return;
    bacstack::ReadPropertyAck ack;
    if (!bacstack::decode_read_property_ack(service, ack)) {
        console_->error("Ошибка декодирования");
        return;
    }
    bacnet::Answer& answer = ctx_.answer;
    answer.property = ack.property;
    std::span<const std::uint8_t> rest = ack.application_data;
    for (unsigned k = 1;; ++k) {
        bacstack::Value value;
        const int used = bacstack::decode_known_array_property(rest, value, ack.object.type, ack.property,
                                                               ack.array_index);
        if (used < 0) break;
        answer.values.push_back(codec::valueToText({value, ack.property, ack.object.type, k}));
        const std::uint8_t tag = bacstack::app_tag(value);
        answer.tag = tag;
        if (tag == kTagEnumerated && requested_property_ == kPropertyList && collect_ && current_object_) {
            current_object_->properties.insert(std::get<bacstack::Enumerated>(value.data).value);
        } else if (tag == kTagObjectId && requested_property_ == kObjectList && collect_ && object_list_) {
            const auto id = std::get<bacstack::ObjectId>(value.data);
            object_list_->push_back(
                CollectorObject{id.type, id.instance, std::string(bacstack::object_type_name(id.type)), {}});
        }
        if (used == 0 || static_cast<std::size_t>(used) >= rest.size()) break;
        rest = rest.subspan(static_cast<std::size_t>(used));
    }
    clearCapture();
}

void Collector::readWithTimeout(std::int64_t timeout, std::uint32_t device, std::uint32_t type,
                                std::uint32_t instance, std::uint32_t property, std::uint32_t array_index) {
    const bacnet::WaitTimings timings{timeout, kCollectorStepMs, kCollectorStepMs, kCollectorStepMs,
                                      kCollectorStepMs};
    // Error, Reject and Abort answers carry no property; the report header still names it.
    ctx_.answer.property = property;
    const auto end = bacnet::wait_transaction(stack_, ctx_, device, timings, [&] {
        return stack_.send_read_property(device, type, instance, property, array_index);
    });
    switch (end) {
        case bacnet::TransactionEnd::Completed:
            break;
        case bacnet::TransactionEnd::TsmFailed:
            console_->error("Выход за задержку времени TSM");
            break;
        case bacnet::TransactionEnd::NotBound:
        case bacnet::TransactionEnd::Refused:
            console_->error("Выход за задержку времени APDU");
            break;
    }
}

void Collector::logCollectorAnswer(std::uint32_t device) {
    // Runs once per property read. Each line is formatted once, with compiled formats, and
    // handed to the logger as finished text: formatting a header string and then the line
    // around it again took nearly as long as decoding and rendering the answer itself.
    const bacnet::Answer& a = ctx_.answer;
    const std::size_t n = a.values.size();
    if (a.error.empty() && n == 0) return;
    fmt::memory_buffer line;
    const auto emit = [&] {
        file_->info(std::string_view(line.data(), line.size()));
        line.clear();
    };
    fmt::format_to(std::back_inserter(line), FMT_COMPILE("[{0:<6}][Свойство:{1:>4}][TAG:{2:>3}]"), device,
                   a.property, a.tag);
    if (!a.error.empty() || n == 1) {
        line.push_back(' ');
        const std::string& text = a.error.empty() ? a.values.front() : a.error;
        line.append(text.data(), text.data() + text.size());
        emit();
        return;
    }
    emit();
    if (a.property == kDeviceAddressBinding && n % 3 == 0) {
        for (std::size_t i = 0; i + 2 < n; i += 3) {
            if (a.values[i].empty() || a.values[i + 1].empty() || a.values[i + 2].empty()) continue;
            fmt::format_to(std::back_inserter(line), FMT_COMPILE("{0}{1:<4}\t{2}"), a.values[i], a.values[i + 1],
                           a.values[i + 2]);
            emit();
        }
        return;
    }
    for (const std::string& v : a.values) {
        if (!v.empty()) file_->info(std::string_view(v));
    }
}

void Collector::writeObjectHeader(std::uint32_t device, std::uint32_t type, const std::string& type_name,
                                  std::uint32_t instance) {
    if (type == kDeviceType) {
        file_->info("\n\n\n[device:{0}][{1}:{2}][instance:{3}][data device]\n", device, type_name, type, instance);
    } else {
        file_->info("\n\n\n[device:{0}][{1}:{2}][instance:{3}][data object]\n", device, type_name, type, instance);
    }
}

void Collector::readObjectListByElement(std::int64_t timeout, ObjectList& list, std::uint32_t device) {
    resetAnswer();
    readWithTimeout(timeout, device, kDeviceType, device, kObjectList, 0);
    std::uint32_t count = 0;
    const bacnet::Answer& a = ctx_.answer;
    if (!a.error.empty() || a.values.size() != 1) return;
    const std::string& text = a.values.front();
    if (std::from_chars(text.data(), text.data() + text.size(), count).ec != std::errc{}) return;
    for (std::uint32_t index = 1; index <= count; ++index) {
        resetAnswer();
        requested_property_ = kObjectList;
        object_list_ = &list;
        collect_ = true;
        readWithTimeout(timeout, device, kDeviceType, device, kObjectList, index);
    }
    clearCapture();
    resetAnswer();
}

void Collector::scanDevice(std::int64_t timeout, ObjectList& list, std::uint32_t device) {
    resetAnswer();
    requested_property_ = kObjectList;
    object_list_ = &list;
    collect_ = true;
    readWithTimeout(timeout, device, kDeviceType, device, kObjectList);
    const bool too_long = ctx_.answer.abort_reason == kAbortSegmentationNotSupported;
    clearCapture();
    if (too_long && list.empty()) readObjectListByElement(timeout, list, device);

    const std::size_t total = list.size();
    std::size_t k = 0;
    for (CollectorObject& o : list) {
        ++k;
        requested_property_ = kPropertyList;
        current_object_ = &o;
        collect_ = true;
        readWithTimeout(timeout, device, o.object_type, o.instance, kPropertyList);
        clearCapture();
        console_->debug("Проход {0:4} из {1}", k, total);
        writeObjectHeader(device, o.object_type, o.type_name, o.instance);
        resetAnswer();
        const auto read_one = [&](std::uint32_t p) {
            readWithTimeout(timeout, device, o.object_type, o.instance, p);
            logCollectorAnswer(device);
            resetAnswer();
        };
        if (!o.properties.empty()) {
            for (const std::uint32_t p : o.properties) read_one(p);
        } else {
            for (std::uint32_t p = 0; p <= kProbeLastStandard; ++p) read_one(p);
            for (std::uint32_t p = kProbeFirstHigh; p <= kProbeLastHigh; ++p) read_one(p);
        }
    }
}

void Collector::scanProperty(std::int64_t timeout, ObjectList& list, std::uint32_t device, std::uint32_t property) {
    requested_property_ = property;
    object_list_ = &list;
    collect_ = false;
    readWithTimeout(timeout, device, kDeviceType, device, property);
    writeObjectHeader(device, kDeviceType, std::string(bacstack::object_type_name(kDeviceType)), device);
    logCollectorAnswer(device);
    resetAnswer();
}

void Collector::discover(std::int64_t timeout) {
    bacnet::Timer timer;
    timer.start(timeout);
    stack_.send_who_is(-1, -1);
    std::array<std::uint8_t, bacstack::kReceiveBuffer> buffer{};
    while (!timer.expired()) {
        const std::size_t n = stack_.receive(ctx_.sender_address, buffer, kCollectorStepMs);
        if (n > 0) stack_.npdu_handler(ctx_.sender_address, std::span<const std::uint8_t>(buffer.data(), n));
    }
    std::size_t k = 0;
    for (const auto& entry : discovered_) {
        all_->info("[УСТРОЙСТВО:{0}][{1} ИЗ {2}]", entry.first, ++k, discovered_.size());
    }
}

}  // namespace collector
