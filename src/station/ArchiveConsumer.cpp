#include "station/ArchiveConsumer.h"

#include "archive/ArchiveWriter.h"
#include "time/TimeArgument.h"

namespace tavrik {

std::optional<ArchiveFrame> ToArchiveFrame(const DecodedFrame& frame) {
    std::string_view received = frame.heard.received;
    if (received.ends_with(" UTC")) received.remove_suffix(4);
    const auto timeMs = ParseTimestamp(received);
    if (!timeMs) return std::nullopt;
    ArchiveFrame a;
    a.timeMs = *timeMs;
    a.source = frame.source;
    while (!a.source.empty() && a.source.back() == ' ')
        a.source.pop_back();
    a.data = frame.heard.data;
    a.kissFile = frame.heard.kissFile;
    a.kissOffset = frame.heard.kissOffset;
    a.sky = frame.sky;
    // This frame's values alone: persistence is for the alarms, not the record.
    if (frame.limits) a.levels = frame.limits->values.Levels();
    return a;
}

void ArchiveConsumer::TelemetryDecoded(const DecodedFrame& frame) {
    const HeardFrame& heard = frame.heard;
    if (heard.imported && !heard.kissFile.empty()) {
        // A new file, or the same one imported again (its offsets start over).
        if (heard.kissFile != importFile_ || heard.kissOffset <= importOffset_) {
            importFile_ = heard.kissFile;
            writer_.Import({importFile_});
        }
        importOffset_ = heard.kissOffset;
        return;
    }
    std::optional<ArchiveFrame> a = ToArchiveFrame(frame);
    if (!a) {
        ++withoutTime_;
        return;
    }
    if (!writer_.Post(std::move(*a))) ++refused_;
}

} // namespace tavrik
