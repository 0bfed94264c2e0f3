#pragma once
// KISS files turned into decoded telemetry rows (or the frames' hex texts),
// record by record, so that files of any size pass through in flat memory.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "files/Kiss.h"
#include "files/TelemetryExport.h"
#include "telemetry/FrameBuffer.h"

namespace tavrik {

enum class DecodeOutput { Csv, Json, Hex };

class KissExport {
  public:
    // all: every frame gets a row (with its hex text), decoded or not.
    KissExport(DecodeOutput output, bool all);

    // The CSV header; nothing for the other outputs.
    void Begin(std::string& out) const;
    // The file the next records come from; a timestamp of an earlier file
    // never stamps a frame of this one.
    void StartFile(std::string_view name);
    // Appends what the record gives: a row, a hex line or nothing. A frame
    // takes the reception time of the timestamp record just before it; a
    // timestamp record is used by one frame at most.
    void Add(const KissRecord& record, std::string& out);
    // A record left out of the file: the timestamp before it stamps no later frame.
    void Skipped() { hasTime_ = false; }

  private:
    DecodeOutput output_;
    bool all_;
    std::optional<TelemetryRowWriter> writer_;
    std::string file_;
    std::string receptionTime_;
    bool hasTime_ = false;
    std::array<double, kFieldCount> values_{};
    FrameBuffer frame_;
};

} // namespace tavrik
