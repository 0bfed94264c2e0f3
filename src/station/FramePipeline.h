#pragma once
// The core of a received frame's journey: the frame reaches the KISS log, is
// turned into text, recognised, decoded and composed for upload, and each of
// these products is handed once, in order, to the consumers added to it.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "station/StationConsumer.h"
#include "telemetry/FrameBuffer.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"

namespace tavrik {

class FramePipeline {
  public:
    // One event-log entry: a failed KISS log write, a telemetry frame's upload body.
    using LogLine = std::function<void(const std::string& text)>;

    FramePipeline(const Clock& clock, const StationConfig& config, TelemetryHistory& history,
                  LogLine log)
        : clock_(clock), config_(config), history_(history), log_(std::move(log)) {}

    // Consumers are handed every frame in the order they were added.
    void AddConsumer(StationConsumer& consumer) { consumers_.push_back(&consumer); }
    // The log the frames go to; none (or a closed one) means frames are not logged.
    void SetKissLog(KissLog* log) { kissLog_ = log; }
    // Where decoded frames are placed on the sky; none leaves them without.
    void SetSky(FrameSkySource* sky) { sky_ = sky; }

    // A live frame: its KISS record first, then the upload body (a telemetry
    // frame), the frame itself, and the decoded record.
    void ProcessRawFrame(std::span<const std::uint8_t> data);
    // A frame read from the KISS file `file`, its record at byte `offset`,
    // after the timestamp record `received` ("" for none): made the current
    // one and decoded when it is telemetry; nothing is logged or uploaded.
    // Returns whether it was telemetry.
    bool ProcessImportedFrame(std::span<const std::uint8_t> data, std::string_view received,
                              std::string_view file, std::uint64_t offset);

    const FrameBuffer& FrameBytes() const { return frameBytes_; }
    const std::string& TelemetryFrame() const { return telemetryFrame_; }
    const std::string& UploadBody() const { return uploadBody_; }
    std::uint64_t KissWriteFailures() const { return kissFailures_; }

  private:
    void LoadFrame(std::span<const std::uint8_t> data);
    void Heard(std::span<const std::uint8_t> data, std::string_view received, std::string_view file,
               std::int64_t offset, bool imported);
    // Hands the frame the history just took to the consumers.
    void HandDecoded(const std::string& timestamp);
    void HandRefused();

    const Clock& clock_;
    const StationConfig& config_;
    TelemetryHistory& history_;
    LogLine log_;
    KissLog* kissLog_ = nullptr;
    FrameSkySource* sky_ = nullptr;
    std::vector<StationConsumer*> consumers_;

    FrameBuffer frameBytes_;
    std::string telemetryFrame_;
    std::string uploadBody_;
    // The frame being handed on; its buffers are reused from frame to frame.
    DecodedFrame current_;
    std::uint64_t kissFailures_ = 0;
};

} // namespace tavrik
