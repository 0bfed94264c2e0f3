#include "station/FramePipeline.h"

#include "telemetry/FrameLayout.h"
#include "telemetry/FrameText.h"
#include "time/TimeArgument.h"
#include "upload/UploadBody.h"

namespace tavrik {

void FramePipeline::LoadFrame(std::span<const std::uint8_t> data) {
    frameBytes_.Load(data);
    telemetryFrame_ = TelemetryFrameText(frameBytes_.Bytes());
}

void FramePipeline::Heard(std::span<const std::uint8_t> data, std::string_view received,
                          std::string_view file, std::int64_t offset, bool imported) {
    HeardFrame& heard = current_.heard;
    heard.received.assign(received);
    heard.data.assign(data.begin(), data.end());
    heard.kissFile.assign(file);
    heard.kissOffset = offset;
    heard.imported = imported;
}

void FramePipeline::HandDecoded(const std::string& timestamp) {
    current_.number = history_.RxPacketCount();
    if (history_.IsStored(current_.number)) {
        current_.record = history_.Record(current_.number);
    } else { // past the history's room: the values all the same
        current_.record.timestamp = timestamp;
        current_.record.values = DecodeValues(frameBytes_);
    }
    current_.sky.reset();
    // At the reception time; an imported frame without one is not placed at all.
    if (sky_ && !current_.heard.received.empty()) {
        std::string_view at = current_.heard.received;
        if (at.ends_with(" UTC")) at.remove_suffix(4);
        if (const std::optional<std::int64_t> ms = ParseTimestamp(at))
            current_.sky = sky_->SkyAt(*ms);
    }
    current_.source = SourceCallSign(frameBytes_.Bytes());
    while (!current_.source.empty() && current_.source.back() == ' ')
        current_.source.pop_back();
    // The judgements first, once: every consumer sees the same ones.
    current_.limits.reset();
    for (FrameAnnotator* annotator : annotators_)
        annotator->Annotate(current_);
    for (StationConsumer* consumer : consumers_)
        consumer->TelemetryDecoded(current_);
}

void FramePipeline::HandRefused() {
    for (StationConsumer* consumer : consumers_)
        consumer->TelemetryRefused(current_.heard);
}

bool FramePipeline::ProcessImportedFrame(std::span<const std::uint8_t> data,
                                         std::string_view received, std::string_view file,
                                         std::uint64_t offset) {
    LoadFrame(data);
    Heard(data, received, file, static_cast<std::int64_t>(offset), true);
    for (StationConsumer* consumer : consumers_)
        consumer->FrameHeard(current_.heard);
    if (!MatchesTelemetryHeader(telemetryFrame_)) return false;
    const std::string timestamp = UtcTimestamp(clock_);
    if (history_.DecodeTelemetryFrame(frameBytes_, timestamp))
        HandDecoded(timestamp);
    else
        HandRefused();
    return true;
}

// What a frame that missed the log still reaches, and what can never be had
// again: the log is what the archive's catch-up and an import read.
void FramePipeline::KissWritten(const std::string& failure, const std::string& received) {
    const std::int64_t now = UnixMillisecondsNow(clock_);
    const auto count = [&] { return std::to_string(kissLost_) + " frame(s)"; };
    if (failure.empty()) {
        // A nearly full disk takes a short record now and then between
        // failures: the total waits until the last line is a minute old.
        if (kissLost_ == 0 || now - kissLineMs_ < kKissFailureLineMs) return;
        log_("KISS log written again: " + count() + " received from " + kissLostSince_ + " on " +
             "are not in it; they went to the uploads, the archive and the page as they came, "
             "and cannot be taken from the log later");
        kissLost_ = 0;
        return;
    }
    ++kissFailures_;
    if (kissLost_++ == 0) {
        kissLostSince_ = received;
        kissLineMs_ = now;
        log_("KISS log write failed: " + failure +
             "; frames that miss the log still go to the uploads, the archive and the page, "
             "but cannot be taken from the log later (not by the archive's catch-up, not by an "
             "import); they are counted until it works again");
        return;
    }
    if (now - kissLineMs_ < kKissFailureLineMs) return;
    kissLineMs_ = now;
    log_("KISS log still failing: " + failure + "; " + count() + " not logged since " +
         kissLostSince_);
}

void FramePipeline::ProcessRawFrame(std::span<const std::uint8_t> data) {
    frameBytes_.Load(data);
    // One reading for the log and the decoded record, so an export of the
    // records and a decode of the log agree on the reception time.
    const std::string received = UtcTimestamp(clock_);

    // The frame reaches the log, whole, before anything else may go wrong.
    std::int64_t offset = -1;
    if (kissLog_ && kissLog_->IsOpen()) {
        KissWritten(kissLog_->AppendFrame(received, data, offset), received);
    }
    Heard(data, received, offset >= 0 ? std::string_view(kissLog_->Path()) : std::string_view(),
          offset, false);

    telemetryFrame_ = TelemetryFrameText(frameBytes_.Bytes());
    const bool telemetry = MatchesTelemetryHeader(telemetryFrame_);
    if (telemetry) {
        uploadBody_ = tavrik::ComposeUploadBody(telemetryFrame_, config_, kNoradId, received);
        // Right after the log record, before anything slow: an upload kept on
        // disk is kept here, so only a kill within these few microseconds
        // leaves a logged frame without its upload.
        for (StationConsumer* consumer : consumers_)
            consumer->UploadComposed(uploadBody_);
    }
    for (StationConsumer* consumer : consumers_)
        consumer->FrameHeard(current_.heard);
    if (!telemetry) return;

    const bool taken = history_.DecodeTelemetryFrame(frameBytes_, received);
    log_(uploadBody_); // the body, composed above
    if (taken)
        HandDecoded(received);
    else
        HandRefused();
}

} // namespace tavrik
