#include "web/WebConsumer.h"

#include "time/TimeArgument.h"

namespace tavrik {

void WebConsumer::FrameHeard(const HeardFrame& heard) {
    if (heard.imported) return; // the station's counters are of frames heard live
    state_.FrameHeard(ParseTimestamp(heard.received).value_or(0));
}

void WebConsumer::TelemetryDecoded(const DecodedFrame& frame) {
    RecordView r;
    r.timestamp = frame.record.timestamp;
    r.timeMs = ParseTimestamp(frame.record.timestamp).value_or(0);
    r.source = frame.source;
    r.number = frame.number;
    r.imported = frame.heard.imported;
    r.values = frame.record.values;
    r.sky = frame.sky;
    if (limits_)
        if (auto states = limits_(frame)) r.limits = std::move(*states);
    state_.AddRecord(std::move(r));
}

} // namespace tavrik
