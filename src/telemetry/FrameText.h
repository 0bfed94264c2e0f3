#pragma once
// The text forms of a received frame: hexadecimal pairs, the satellite's
// header match and the call signs.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "telemetry/FrameBuffer.h"

namespace tavrik {

// The first 17 bytes of every telemetry frame, as the frame text writes them.
inline constexpr std::string_view kTelemetryHeaderText =
    "00 A8 82 AC A4 92 96 00 A8 82 AC A4 92 96 00 03 F0";

// Upper-case hexadecimal digits, for the frame text and the upload body alike.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string HexByte(std::uint8_t b);
// Each byte as two upper-case hex digits and one blank, at most 512 bytes.
std::string TelemetryFrameText(std::span<const std::uint8_t> bytes);
bool MatchesTelemetryHeader(std::string_view frameText);
// The same match made on the frame's bytes, without building its text.
bool HasTelemetryHeader(std::span<const std::uint8_t> frame);
// "DEST -> SRC" from the address fields, each byte halved (round half to even);
// a frame too short for an address shows what it has.
std::string CallSignText(std::span<const std::uint8_t> frame);
// The source half of CallSignText (positions 9 to 14).
std::string SourceCallSign(std::span<const std::uint8_t> frame);

} // namespace tavrik
