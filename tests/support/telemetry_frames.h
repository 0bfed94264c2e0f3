#pragma once
// Frames as the modem program hands them over: the KISS port byte, then the
// AX.25 frame. Telemetry frames carry the satellite's header and raw field values.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "telemetry/FrameLayout.h"

namespace tavrik::testing {

using Bytes = std::vector<std::uint8_t>;

// The 17 header bytes, position 1 (KISS port byte) to 17 (PID).
inline Bytes TelemetryHeader() {
    return {0x00, 0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0xA8,
            0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03, 0xF0};
}

// A telemetry frame of `length` bytes whose fields hold the raw values given
// (raw[i] for field i, little-endian for 16-bit fields; signed raws as two's complement).
inline Bytes TelemetryFrame(const std::vector<long>& raw, std::size_t length = 120) {
    // Made at its size, then the header copied in: growing the header with
    // resize() gives GCC 12 -O3 (the arm64 release build) a false -Warray-bounds.
    const Bytes header = TelemetryHeader();
    Bytes f(length, 0);
    std::copy_n(header.begin(), std::min(length, header.size()), f.begin());
    f[18] = 1; // position 19
    f[19] = 1; // position 20
    for (const FieldSpec& s : FieldTable()) {
        const long v = static_cast<std::size_t>(s.index) < raw.size()
                           ? raw[static_cast<std::size_t>(s.index)]
                           : 0;
        const auto p = static_cast<std::size_t>(s.position - 1);
        if (p >= f.size()) continue;
        f[p] = static_cast<std::uint8_t>(v & 0xFF);
        if (s.type != FieldType::U8 && p + 1 < f.size())
            f[p + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    return f;
}

// A UI frame from another station: "CQ" from "N0CALL" with a text.
inline Bytes ForeignFrame(const std::string& text = "hello") {
    Bytes f = {0x00};
    auto addr = [&f](const std::string& call, std::uint8_t ssid, bool last) {
        std::string c = call;
        c.resize(6, ' ');
        for (char ch : c)
            f.push_back(static_cast<std::uint8_t>(ch << 1));
        f.push_back(static_cast<std::uint8_t>(0x60 | (ssid << 1) | (last ? 1 : 0)));
    };
    addr("CQ", 0, false);
    addr("N0CALL", 0, true);
    f.push_back(0x03);
    f.push_back(0xF0);
    f.insert(f.end(), text.begin(), text.end());
    return f;
}

} // namespace tavrik::testing
