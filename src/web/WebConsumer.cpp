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
    if (frame.limits)
        for (std::size_t f = 0; f < r.limits.size(); ++f) {
            const FieldLimitState state = frame.limits->inForce.fields[f];
            r.limits[f].level = static_cast<int>(state.level);
            r.limits[f].state = state.level == LimitLevel::InRange ? std::string("ok")
                                                                   : std::string(StateName(state));
        }
    state_.AddRecord(std::move(r));
}

} // namespace tavrik
