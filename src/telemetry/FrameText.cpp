#include "telemetry/FrameText.h"

#include <algorithm>

namespace tavrik {

namespace {
char HalfToEven(std::uint8_t b) {
    unsigned q = b / 2u;
    if ((b & 1u) && (q & 1u)) ++q; // an exact half goes to the even neighbour
    return static_cast<char>(q);
}

std::string AddressText(std::span<const std::uint8_t> frame, std::size_t from, std::size_t to) {
    std::string s;
    for (std::size_t p = from; p <= to && p <= frame.size(); ++p)
        s += HalfToEven(frame[p - 1]);
    return s;
}
} // namespace

std::string HexByte(std::uint8_t b) {
    return {kHexDigits[b >> 4], kHexDigits[b & 15]};
}

std::string TelemetryFrameText(std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), FrameBuffer::kCapacity);
    std::string s(3 * n, ' ');
    for (std::size_t i = 0; i < n; ++i) {
        s[3 * i] = kHexDigits[bytes[i] >> 4];
        s[3 * i + 1] = kHexDigits[bytes[i] & 15];
    }
    return s;
}

bool MatchesTelemetryHeader(std::string_view frameText) {
    return frameText.size() >= kTelemetryHeaderText.size() &&
           frameText.substr(0, kTelemetryHeaderText.size()) == kTelemetryHeaderText;
}

bool HasTelemetryHeader(std::span<const std::uint8_t> frame) {
    constexpr std::size_t n = (kTelemetryHeaderText.size() + 1) / 3; // 17 bytes
    if (frame.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (kHexDigits[frame[i] >> 4] != kTelemetryHeaderText[3 * i] ||
            kHexDigits[frame[i] & 15] != kTelemetryHeaderText[3 * i + 1])
            return false;
    return true;
}

std::string SourceCallSign(std::span<const std::uint8_t> frame) {
    return AddressText(frame, 9, 14);
}

std::string CallSignText(std::span<const std::uint8_t> frame) {
    return AddressText(frame, 2, 7) + " -> " + SourceCallSign(frame);
}

} // namespace tavrik
