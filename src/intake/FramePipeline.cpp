#include "intake/FramePipeline.h"

#include "intake/FrameText.h"
#include "telemetry/FrameLayout.h"
#include "upload/UploadBody.h"

namespace tavrik {

void FramePipeline::LoadFrame(std::span<const std::uint8_t> data) {
    frameBytes_.Load(data);
    telemetryFrame_ = TelemetryFrameText(frameBytes_.Bytes());
}

bool FramePipeline::ProcessImportedFrame(std::span<const std::uint8_t> data) {
    LoadFrame(data);
    if (!MatchesTelemetryHeader(telemetryFrame_)) return false;
    history_.DecodeTelemetryFrame(frameBytes_, UtcTimestamp(clock_));
    return true;
}

void FramePipeline::ComposeUploadBody() {
    uploadBody_ =
        tavrik::ComposeUploadBody(telemetryFrame_, config_, kNoradId, UtcTimestamp(clock_));
    view_.Log(uploadBody_);
}

void FramePipeline::ProcessRawFrame(std::span<const std::uint8_t> data) {
    frameBytes_.Load(data);
    // One reading for the log and the decoded record, so an export of the
    // records and a decode of the log agree on the reception time.
    const std::string received = UtcTimestamp(clock_);

    // The frame reaches the log, whole, before anything else may go wrong.
    if (kissLog_ && kissLog_->IsOpen()) {
        const std::string failure = kissLog_->AppendFrame(received, data);
        if (!failure.empty()) {
            ++kissFailures_;
            view_.Log("KISS log write failed: " + failure);
        }
    }

    telemetryFrame_ = TelemetryFrameText(frameBytes_.Bytes());
    const bool telemetry = MatchesTelemetryHeader(telemetryFrame_);
    if (telemetry) {
        uploadBody_ = tavrik::ComposeUploadBody(telemetryFrame_, config_, kNoradId, received);
        if (view_.UploadAllowed()) view_.KeepUpload(uploadBody_);
    }
    view_.ShowCallSigns(CallSignText(frameBytes_.Bytes()));
    if (!telemetry) return;

    history_.DecodeTelemetryFrame(frameBytes_, received);
    view_.Log(uploadBody_); // the body, composed above
    if (view_.UploadAllowed()) view_.Upload(uploadBody_);
    view_.RefreshChart();
    view_.ShowTelemetryRecord(history_.RxPacketCount());
    view_.ShowCounters();
}

} // namespace tavrik
