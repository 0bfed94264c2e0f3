#pragma once
// Every received raw frame: logged, turned into text, recognised, decoded,
// composed for upload, shown.
#include <cstdint>
#include <span>
#include <string>

#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "telemetry/FrameBuffer.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"

namespace tavrik {

// What the pipeline asks of the window.
class PipelineView {
  public:
    virtual ~PipelineView() = default;
    virtual void Log(const std::string& text) = 0;           // one event-log entry
    virtual void ShowCallSigns(const std::string& text) = 0; // Label4
    virtual bool UploadAllowed() const = 0;                  // Check1
    virtual void Upload(const std::string& body) = 0;        // one upload run
    // The body of a telemetry frame, offered the moment the frame is in the
    // log, before anything slow: an upload kept on disk is kept here, so a
    // kill can never fall between the two. Upload() follows in its turn.
    virtual void KeepUpload(const std::string& /*body*/) {}
    virtual void RefreshChart() = 0;                           // the current ChartField
    virtual void ShowTelemetryRecord(std::int32_t number) = 0; // the panel
    virtual void ShowCounters() = 0;                           // Label7
};

class FramePipeline {
  public:
    FramePipeline(const Clock& clock, const StationConfig& config, TelemetryHistory& history,
                  PipelineView& view)
        : clock_(clock), config_(config), history_(history), view_(view) {}

    // The log the frames go to; none (or a closed one) means frames are not logged.
    void SetKissLog(KissLog* log) { kissLog_ = log; }

    void ProcessRawFrame(std::span<const std::uint8_t> data);

    // Makes a frame the current one (FrameBytes and its text).
    void LoadFrame(std::span<const std::uint8_t> data);
    // An imported frame: made the current one and decoded when it is telemetry;
    // nothing is logged, uploaded or shown. Returns whether it was telemetry.
    bool ProcessImportedFrame(std::span<const std::uint8_t> data);
    // Replaces UploadBody with the current frame's body and logs it.
    void ComposeUploadBody();

    const FrameBuffer& FrameBytes() const { return frameBytes_; }
    const std::string& TelemetryFrame() const { return telemetryFrame_; }
    const std::string& UploadBody() const { return uploadBody_; }
    std::uint64_t KissWriteFailures() const { return kissFailures_; }

  private:
    const Clock& clock_;
    const StationConfig& config_;
    TelemetryHistory& history_;
    PipelineView& view_;
    KissLog* kissLog_ = nullptr;

    FrameBuffer frameBytes_;
    std::string telemetryFrame_;
    std::string uploadBody_;
    std::uint64_t kissFailures_ = 0;
};

} // namespace tavrik
