#pragma once
// The telemetry archive: one SQLite file in WAL mode, so that the program
// writes while the tool, the sqlite3 shell and Grafana read. One Archive is
// one connection and belongs to one thread; the program writes through one
// connection (ArchiveWriter's thread) and reads through others.
//
// Nothing here throws or prints: every failure comes back as a value (an
// error text, a WriteResult) for the caller to log.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/ArchiveTypes.h"

struct sqlite3;

namespace tavrik {

class ArchiveStatements;
class SkyPredictor;

// Ids per transaction of a retag: big enough that commits cost nothing,
// small enough that a reader is never kept waiting long.
constexpr std::int64_t kRetagSliceIds = 50000;

struct RetagResult {
    std::int64_t tagged = 0;   // frames given their sky columns
    std::int64_t unplaced = 0; // frames the model could not place
    std::int64_t passes = 0;   // predicted passes recorded (new ones)
};

class Archive {
  public:
    enum class Access { Read, Write };
    // How long every connection waits for another program's lock before it fails.
    static constexpr int kDefaultBusyMs = 5000;
    // Why the last Open failed, for callers that act on it.
    enum class OpenFailure {
        None,
        Busy,    // another program holds a lock: may work later
        Denied,  // the file or its folder cannot be written (permissions, read-only disk)
        Damaged, // an SQLite file that SQLite finds damaged: never written
        Refused, // not an archive of a version this program knows, or any other reason
    };

    Archive();
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens the archive. Write access creates a missing (or empty) file and
    // brings an older version up to date; Read access needs an existing
    // archive and changes nothing. A file that is not an archive of a version
    // this program knows is never changed. Returns an empty text on success,
    // else why the file cannot be used ("... is not a tavrik archive", "...
    // was written by a newer version ...", SQLite's reason).
    std::string Open(const std::string& path, Access access, int busyMs = kDefaultBusyMs);
    OpenFailure LastFailure() const { return failure_; }
    void Close();
    // Closes without the checkpoint SQLite makes when the last connection
    // closes: a damaged file is left exactly as it was.
    void CloseWithoutWriting();

    // PRAGMA quick_check, or integrity_check when `full`. Returns an empty
    // text when the file is whole, else SQLite's findings (the first few).
    // With limitMs > 0 the check stops after that long; `finished` then says
    // whether it got to the end (an unfinished check found nothing so far).
    std::string Check(bool full, int limitMs = 0, bool* finished = nullptr);
    // Whether an SQLite result code means the file itself is damaged.
    static bool IsDamage(int rc);
    // Moves the WAL's pages into the file and cuts the WAL to nothing, so it
    // holds no disk space; false when a reader kept it from finishing.
    bool CheckpointTruncate();
    bool IsOpen() const { return db_ != nullptr; }
    // The version an older archive was at before Open brought it up to date; 0 when it was not.
    int MigratedFrom() const { return migratedFrom_; }
    const std::string& Path() const { return path_; }

    // Adds the frames in one transaction, skipping those already there, and
    // updates the hour and pass summaries. With a mark, the KISS file's
    // archived-to offset is moved in the same transaction, so the mark never
    // runs ahead of the frames.
    // A frame that comes without levels is judged by the judge, when one is set.
    WriteResult Insert(std::span<const ArchiveFrame> frames, const KissMark* mark = nullptr);
    void SetJudge(LevelJudge judge) { judge_ = std::move(judge); }
    // The archived-to offset of a KISS file as it was named when archived (0 when unknown).
    std::uint64_t ArchivedTo(const std::string& kissFile, std::string* error = nullptr);
    std::string Marks(std::vector<KissMark>& out);

    // Count and first/last reception time of the frames in the range.
    std::string Extent(TimeRange range, ArchiveExtent& out);
    // One field in about `points` buckets over the range. An unbounded end is
    // taken from the frames. Buckets of an hour or more come from the hour
    // summaries (the range widened to whole hours); shorter ones from the rows.
    std::string QuerySeries(int field, TimeRange range, int points, Series& out);
    // The passes that overlap the range, oldest first.
    std::string QueryPasses(TimeRange range, std::vector<Summary>& out);
    // The same, one at a time in flat memory; the callback returns false to stop.
    std::string QueryPasses(TimeRange range, const std::function<bool(const Summary&)>& pass);
    // At most `max` of them, newest first: a page's list, read with a limit
    // however many passes the archive holds.
    std::string QueryNewestPasses(TimeRange range, std::size_t max, std::vector<Summary>& out);
    // The latest pass, if any.
    std::string LastPass(std::optional<Summary>& out);
    // The hour summaries that begin in the range, oldest first.
    std::string QueryHours(TimeRange range, std::vector<Summary>& out);
    // Every frame in the range in reception-time order (frames of the same
    // millisecond in the order they were archived). The callback returns false
    // to stop. Reads one snapshot, in flat memory.
    std::string Export(TimeRange range, const std::function<bool(const ArchiveRow&)>& row);

    // ---- the sky (archive version 2 up)
    // Fills the sky columns of every frame that lacks them from the predictor
    // (each frame from the element set of its time), and records the
    // predicted passes over the archive's span. One transaction per slice;
    // progress(frames placed so far, share of the table walked, 0..1) after
    // each. Frames the model cannot place (a decayed orbit) are left as they
    // are and counted. A slice is that many ids.
    std::string Retag(const SkyPredictor& sky, RetagResult& result,
                      const std::function<void(std::int64_t, double)>& progress = {},
                      std::int64_t sliceIds = kRetagSliceIds);
    // Where the frames in the range were heard (azimuth, elevation, degrees),
    // newest first, at most `limit`; frames without sky columns are left out.
    std::string SkyDots(TimeRange range, std::size_t limit,
                        std::vector<std::pair<float, float>>& out);

    // The connection, for tests and the sqlite3-level tools.
    sqlite3* Handle() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
    std::string path_;
    Access access_ = Access::Read;
    OpenFailure failure_ = OpenFailure::None;
    int migratedFrom_ = 0;
    LevelJudge judge_;
    ArchiveStatements* st_ = nullptr; // the prepared statements, kept for the connection's life
};

// Renames a damaged archive, with its -wal and -shm files, to
// <path>.damaged-<yyyymmddThhmmssZ of unixMs>, so that a new one can take its
// place and the old one stays for whoever wants to look into it. Returns an
// empty text and the new name, else why it could not be moved.
std::string SetArchiveAside(const std::string& path, std::int64_t unixMs, std::string& movedTo);

} // namespace tavrik
