#pragma once
// The values the archive takes and gives: frames in, series buckets, pass and
// hour summaries and export rows out. Times are milliseconds since 1970 UTC.
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/TelemetryExport.h"
#include "sky/FrameSky.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/LimitLevel.h"
#include "telemetry/SeriesBucket.h"

namespace tavrik {

// One telemetry frame as the archive takes it. The archive decodes the frame
// itself (the decoder's own code), so what it stores and exports is always
// what tavrik-decode makes of these bytes.
struct ArchiveFrame {
    std::int64_t timeMs = 0;        // reception time
    std::string source;             // the source call sign, without trailing blanks
    std::vector<std::uint8_t> data; // the raw frame, KISS port byte first; one the decoder takes
    std::string kissFile;           // the KISS file it was logged in ("" unknown)
    std::int64_t kissOffset = -1;   // byte offset of its record there (-1 unknown)
    std::optional<FrameSky> sky;    // where the satellite stood (none without a TLE)
    // Where each value stood against the limits, this frame alone; none when
    // no limits were in force (the archive's judge, if any, then decides).
    std::optional<FieldLevels> levels;
};

// Judges a frame's values field by field (the limits in force when it is
// written): how frames that come without levels (imports, the catch-up) are
// judged the way the station judges an imported frame.
using LevelJudge = std::function<FieldLevels(const std::array<double, kFieldCount>& values)>;

// [fromMs, toMs): the default is everything.
struct TimeRange {
    std::int64_t fromMs = std::numeric_limits<std::int64_t>::min();
    std::int64_t toMs = std::numeric_limits<std::int64_t>::max();
    bool Contains(std::int64_t t) const { return t >= fromMs && t < toMs; }
};

// One field over a set of frames.
struct FieldStats {
    double min = 0;
    double max = 0;
    double sum = 0;
    std::int64_t minMs = 0; // when the minimum was first received
    std::int64_t maxMs = 0; // when the maximum was first received
};

// A pass or an hour: the frames' count, first and last time, every field's stats.
struct Summary {
    std::int64_t startMs = 0; // first frame (a pass) or the hour's start (an hour)
    std::int64_t endMs = 0;   // last frame
    std::int64_t count = 0;
    std::array<FieldStats, kFieldCount> fields{};
    FieldLevels levels{}; // every field's worst level over the frames

    LimitLevel Worst() const; // the worst level of any field

    double Average(int field) const {
        return count > 0 ? fields[static_cast<std::size_t>(field)].sum / static_cast<double>(count)
                         : 0.0;
    }
    // Adds one frame; the first frame sets everything.
    void Add(std::int64_t timeMs, const std::array<double, kFieldCount>& values,
             const FieldLevels& frameLevels = {});
    // Adds another summary's frames (of the same pass or hour).
    void Merge(const Summary& other);
};

// What the archive holds in a range.
struct ArchiveExtent {
    std::int64_t count = 0;
    std::int64_t firstMs = 0; // meaningful when count > 0
    std::int64_t lastMs = 0;
};

// One stored frame, for exports. The views are valid during the callback only.
struct ArchiveRow {
    std::int64_t timeMs = 0;
    std::string_view source;
    std::string_view kissFile;
    std::int64_t kissOffset = -1;
    std::span<const std::uint8_t> data;
    const std::array<double, kFieldCount>* values = nullptr;
};

// A stored frame as tavrik-decode writes one, so an export of the archive and
// a decode of its KISS logs give the same rows; time is its reception time text.
inline ExportRow AsExportRow(const ArchiveRow& row, std::string_view time) {
    return {.record = 0,
            .receptionTime = time,
            .file = row.kissFile,
            .source = row.source,
            .values = row.values,
            .frame = {}};
}

// How far a KISS file has been archived: every telemetry frame whose record
// begins before archivedTo is in the archive.
struct KissMark {
    std::string file;
    std::uint64_t archivedTo = 0;
};

// The outcome of a write. A failed write changed nothing.
struct WriteResult {
    enum class Failure { None, Busy, Full, Damaged, Other };
    std::int64_t added = 0;      // new frames
    std::int64_t duplicates = 0; // frames already there (same time, same bytes)
    std::int64_t refused = 0;    // frames the decoder does not take (not stored)
    Failure failure = Failure::None;
    std::string error; // why it failed, for a log line

    bool Ok() const { return failure == Failure::None; }
};

} // namespace tavrik
