#include "telemetry/Conversions.h"

#include <stdexcept>

namespace tavrik {

std::uint16_t ReadU16(const FrameBuffer& frame, std::int32_t p) {
    if (p < 1 || p > 511) throw std::out_of_range("field position outside 1 to 511");
    const auto at = static_cast<std::size_t>(p);
    return static_cast<std::uint16_t>(frame.At(at) | frame.At(at + 1) << 8);
}

std::int32_t ReadS16(const FrameBuffer& frame, std::int32_t p) {
    return static_cast<std::int16_t>(ReadU16(frame, p));
}

} // namespace tavrik
