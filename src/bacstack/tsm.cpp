#include "bacstack/tsm.hpp"

namespace bacstack {

Tsm::Tsm(Resend resend) : resend_(std::move(resend)) {}

std::uint8_t Tsm::next_free_invoke_id() {
    for (std::size_t tries = 0; tries < kTsmSlots; ++tries) {
        const std::uint8_t id = next_id_;
        next_id_ = next_id_ == 255 ? 1 : static_cast<std::uint8_t>(next_id_ + 1);
        Slot& s = slots_[index(id)];
        if (s.state == State::Free) {
            s.state = State::Idle;
            s.retry_count = 0;
            s.timer = 0;
            return id;
        }
    }
    return 0;
}

void Tsm::set_confirmed_transaction(std::uint8_t invoke_id, const Address& dest,
                                    std::span<const std::uint8_t> pdu) {
    if (invoke_id == 0) return;
    Slot& s = slots_[index(invoke_id)];
    s.state = State::AwaitConfirmation;
    s.timer = apdu_timeout_;
    s.retry_count = 0;
    s.dest = dest;
    s.pdu.assign(pdu.begin(), pdu.end());
}

void Tsm::timer_milliseconds(std::uint16_t ms) {
    for (Slot& s : slots_) {
        if (s.state != State::AwaitConfirmation) continue;
        s.timer = s.timer > ms ? static_cast<std::uint16_t>(s.timer - ms) : 0;
        if (s.timer != 0) continue;
        if (s.retry_count < retries_) {
            s.timer = apdu_timeout_;
            ++s.retry_count;
            if (resend_) resend_(s.dest, s.pdu);
        } else {
            s.state = State::Idle;  // failed: the id stays taken until freed
        }
    }
}

bool Tsm::invoke_id_free(std::uint8_t invoke_id) const {
    return invoke_id == 0 || slots_[index(invoke_id)].state == State::Free;
}

bool Tsm::invoke_id_failed(std::uint8_t invoke_id) const {
    return invoke_id != 0 && slots_[index(invoke_id)].state == State::Idle;
}

void Tsm::free_invoke_id(std::uint8_t invoke_id) {
    if (invoke_id == 0) return;
    Slot& s = slots_[index(invoke_id)];
    s.state = State::Free;
    s.timer = 0;
    s.retry_count = 0;
    s.pdu.clear();
}

unsigned Tsm::transmissions(std::uint8_t invoke_id) const {
    if (invoke_id == 0) return 0;
    const Slot& s = slots_[index(invoke_id)];
    return s.state == State::Free ? 0 : 1u + s.retry_count;
}

}  // namespace bacstack
