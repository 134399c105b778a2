#include "bacstack/reject.hpp"

#include "bacstack/apdu.hpp"

namespace bacstack {

std::size_t encode_reject(Writer& out, std::uint8_t invoke_id, std::uint8_t reason) {
    out.u8(static_cast<std::uint8_t>(PduType::Reject) << 4);
    out.u8(invoke_id);
    out.u8(reason);
    return 3;
}

}  // namespace bacstack
