#pragma once
// What the station core hands to each consumer of a received frame (the
// upload route, the archive, the limits, the web page, the InfluxDB lane, the
// window): values, in order, once, with the judgements made on them first. A consumer keeps what it
// needs; nothing here is valid only during the call.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "limits/LimitState.h"
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

// The limits' judgement of one decoded frame, made once before any consumer sees it.
struct FrameLimits {
    FrameLimitStates values;  // this frame's values alone: what the archive keeps
    FrameLimitStates inForce; // the states in force after it (persistence counted):
                              // what the window, the page and the metrics show
};

// A telemetry frame the decoder took.
struct DecodedFrame {
    HeardFrame heard;
    std::string source;      // the source call sign
    TelemetryRecord record;  // the decoding's timestamp text and the 46 values
    std::int32_t number = 0; // RxPacketCount after it

    // Annotations, filled by the station's annotators in their order before
    // the consumers run; empty when no annotator of that kind is in force.
    std::optional<FrameLimits> limits; // none without LIMITS
    // Where the satellite stood at the reception time; none without a TLE (or
    // an imported frame without a time).
    std::optional<FrameSky> sky;
};

// A judgement added to each decoded frame before the consumers see it (the
// limits, the sky). Annotators run in the order they were added; a later one
// may read what an earlier one wrote.
class FrameAnnotator {
  public:
    virtual ~FrameAnnotator() = default;
    virtual void Annotate(DecodedFrame& frame) = 0;
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
