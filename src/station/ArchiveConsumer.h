#pragma once
// The archive's place among the station's consumers: every decoded telemetry
// frame, live or imported, goes to the archive writer's queue. It only copies
// the frame; the writer's thread does the rest.
#include <cstdint>
#include <optional>

#include "archive/ArchiveTypes.h"
#include "station/StationConsumer.h"

namespace tavrik {

class ArchiveWriter;

// The archive's form of a decoded frame; nothing when its reception time is
// not a timestamp (a frame imported without a timestamp record).
std::optional<ArchiveFrame> ToArchiveFrame(const DecodedFrame& frame);

class ArchiveConsumer final : public StationConsumer {
  public:
    explicit ArchiveConsumer(ArchiveWriter& writer) : writer_(writer) {}
    void TelemetryDecoded(const DecodedFrame& frame) override;

    std::int64_t WithoutTime() const { return withoutTime_; }
    std::int64_t Refused() const { return refused_; }

  private:
    ArchiveWriter& writer_;
    std::int64_t withoutTime_ = 0;
    std::int64_t refused_ = 0; // queue full or writer stopped: the next catch-up takes them
};

} // namespace tavrik
