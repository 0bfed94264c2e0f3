#pragma once
// What the station core hands to each consumer of a received frame (the KISS
// log, the upload route, the window, the archive, the limits, the web page):
// values, in order, once. A consumer keeps what it needs; nothing here is
// valid only during the call.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sky/FrameSky.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

// A frame heard from the modem, or read from a KISS file by an import.
struct HeardFrame {
    // Reception time "yyyy-MM-dd HH:nn:ss.mmm" UTC: for a live frame the same
    // clock reading as its KISS log record; for an imported frame the file's
    // timestamp record before it (empty when the file has none).
    std::string received;
    std::vector<std::uint8_t> data; // the raw frame, KISS port byte first
    std::string kissFile;           // the KISS file holding it ("" when not logged)
    std::int64_t kissOffset = -1;   // byte offset of its record in kissFile (-1: unknown)
    bool imported = false;          // from an import: never uploaded, never raises alarms
};

// A telemetry frame the decoder took.
struct DecodedFrame {
    HeardFrame heard;
    std::string source;      // the source call sign
    TelemetryRecord record;  // the decoding's timestamp text and the 46 values
    std::int32_t number = 0; // RxPacketCount after it
    // Where the satellite stood at the reception time; none without a TLE (or
    // an imported frame without a time).
    std::optional<FrameSky> sky;
};

// Places a frame on the sky: asked once per decoded frame, before any consumer.
class FrameSkySource {
  public:
    virtual ~FrameSkySource() = default;
    virtual std::optional<FrameSky> SkyAt(std::int64_t timeMs) = 0;
};

class StationConsumer {
  public:
    virtual ~StationConsumer() = default;
    // Every frame, live or imported, after its KISS record is written.
    virtual void FrameHeard(const HeardFrame&) {}
    // A live telemetry frame's upload body, right after its KISS record and
    // before anything slow, so a kill between the two loses no upload.
    virtual void UploadComposed(const std::string& /*body*/) {}
    // A telemetry frame the decoder took, live or imported.
    virtual void TelemetryDecoded(const DecodedFrame&) {}
    // A frame with the telemetry header that the decoder refused (too short,
    // or its fixed bytes are wrong), live or imported: nothing was decoded.
    virtual void TelemetryRefused(const HeardFrame&) {}
};

} // namespace tavrik
