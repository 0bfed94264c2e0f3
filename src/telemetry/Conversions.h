#pragma once
// Bytes of a frame turned into numbers: little-endian 16-bit fields, unsigned
// and two's complement.
#include <cstdint>

#include "telemetry/FrameBuffer.h"

namespace tavrik {

// The fields at positions p and p + 1 (1-based, p from 1 to 511); a position
// outside that range or past the frame's end throws std::out_of_range.
std::uint16_t ReadU16(const FrameBuffer& frame, std::int32_t p);
std::int32_t ReadS16(const FrameBuffer& frame, std::int32_t p);

} // namespace tavrik
