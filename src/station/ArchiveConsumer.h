#pragma once
// The archive's place among the station's consumers: every decoded telemetry
// frame, live or imported, goes to the archive writer's queue. It only copies
// the frame; the writer's thread does the rest.
#include <cstdint>
#include <optional>
#include <string>

#include "archive/ArchiveTypes.h"
#include "station/StationConsumer.h"

namespace tavrik {

class ArchiveWriter;

// The archive's form of a decoded frame; nothing when its reception time is
// not a timestamp (a frame imported without a timestamp record).
std::optional<ArchiveFrame> ToArchiveFrame(const DecodedFrame& frame);

// Live frames are queued one by one. An import reads frames faster than
// they could be written one by one (a full queue would drop them, and an
// imported file is not among the logs a catch-up reads), so for imported
// frames the writer is asked, once per file, to read that file itself.
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
    std::string importFile_;   // the file an import is reading, and how far
    std::int64_t importOffset_ = -1;
};

} // namespace tavrik
