#include "archive/Archive.h"

#include <algorithm>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unordered_map>

#include "archive/ArchiveSchema.h"
#include "telemetry/Conversions.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

namespace {

constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

// The smallest round length (1, 2 or 5 times a power of ten milliseconds up
// to a second, then steps of the clock, then whole days) at least `wanted`:
// bucket edges fall on round times and stay put while the view follows new
// frames; from an hour up every bucket is made of whole hours.
std::int64_t NiceBucket(std::int64_t wanted) {
    static constexpr std::int64_t kSteps[] = {
        1,       2,           5,           10,          20,           50,          100,
        200,     500,         1000,        2000,        5000,         10000,       15000,
        30000,   60000,       120000,      300000,      600000,       900000,      1800000,
        kHourMs, 2 * kHourMs, 3 * kHourMs, 6 * kHourMs, 12 * kHourMs, 24 * kHourMs};
    for (const std::int64_t step : kSteps)
        if (step >= wanted) return step;
    const std::int64_t day = 24 * kHourMs;
    return (wanted + day - 1) / day * day;
}

std::int64_t FrameHash(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const std::uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return static_cast<std::int64_t>(h);
}

// A prepared statement, finalized with its owner.
class Stmt {
  public:
    Stmt() = default;
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    // Prepares on first use; nullptr when the SQL does not compile.
    sqlite3_stmt* Get(sqlite3* db, const std::string& sql) {
        if (!st_) sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
        if (st_) sqlite3_reset(st_);
        return st_;
    }

  private:
    sqlite3_stmt* st_ = nullptr;
};

// Resets a statement when it goes out of scope, so no read stays open.
struct Reset {
    sqlite3_stmt* st;
    ~Reset() {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

std::string SummarySelect(const char* table, const char* first) {
    std::string s = std::string("SELECT ") + first + ", start_ms, end_ms, frames";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        s += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
    }
    return s + " FROM " + table;
}

std::string SummaryInsert(const char* table, const char* first) {
    std::string cols = std::string(first) + ", start_ms, end_ms, frames";
    std::string params = "?, ?, ?, ?";
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& c = FieldColumn(i);
        cols += ", " + c + "_min, " + c + "_max, " + c + "_sum, " + c + "_min_ms, " + c + "_max_ms";
        params += ", ?, ?, ?, ?, ?";
    }
    return std::string("INSERT OR REPLACE INTO ") + table + " (" + cols + ") VALUES (" + params +
           ")";
}

// Columns 1.. of a SummarySelect row (column 0 is the key).
Summary ReadSummary(sqlite3_stmt* st) {
    Summary s;
    s.startMs = sqlite3_column_int64(st, 1);
    s.endMs = sqlite3_column_int64(st, 2);
    s.count = sqlite3_column_int64(st, 3);
    int c = 4;
    for (FieldStats& f : s.fields) {
        f.min = sqlite3_column_double(st, c++);
        f.max = sqlite3_column_double(st, c++);
        f.sum = sqlite3_column_double(st, c++);
        f.minMs = sqlite3_column_int64(st, c++);
        f.maxMs = sqlite3_column_int64(st, c++);
    }
    return s;
}

void BindSummary(sqlite3_stmt* st, std::int64_t key, const Summary& s) {
    int p = 1;
    sqlite3_bind_int64(st, p++, key);
    sqlite3_bind_int64(st, p++, s.startMs);
    sqlite3_bind_int64(st, p++, s.endMs);
    sqlite3_bind_int64(st, p++, s.count);
    for (const FieldStats& f : s.fields) {
        sqlite3_bind_double(st, p++, f.min);
        sqlite3_bind_double(st, p++, f.max);
        sqlite3_bind_double(st, p++, f.sum);
        sqlite3_bind_int64(st, p++, f.minMs);
        sqlite3_bind_int64(st, p++, f.maxMs);
    }
}

WriteResult::Failure FailureOf(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return WriteResult::Failure::Busy;
    case SQLITE_FULL:
        return WriteResult::Failure::Full;
    default:
        return WriteResult::Failure::Other;
    }
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

class ArchiveStatements {
  public:
    Stmt begin, commit, rollback;
    Stmt insertFrame, fileId, addFile, setMark, getMark, marks;
    Stmt hourGet, hourPut, passNear, passDelete, passPut;
    Stmt first, last, count, countAll, exportRows, passes, lastPass, hours;
    std::array<Stmt, kFieldCount> rawSeries, hourSeries;
    std::unordered_map<std::string, std::int64_t> fileIds; // committed ids only
    std::vector<std::size_t> inserted;                     // reused per Insert
    std::vector<std::array<double, kFieldCount>> values;   // of the frames of an Insert
};

Archive::Archive() = default;
Archive::~Archive() {
    Close();
}

void Archive::Close() {
    delete st_;
    st_ = nullptr;
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::string Archive::Open(const std::string& path, Access access, int busyMs) {
    Close();
    path_ = path;
    access_ = access;
    const std::string leftAlone = "; the file is left as it is";
    SchemaCheck check = SchemaCheck::Empty;
    int version = 0;
    auto checkWith = [&](sqlite3* db) -> std::string {
        if (std::string why = CheckSchema(db, check, version); !why.empty())
            return path + " is not a tavrik archive (" + why + ")" + leftAlone;
        switch (check) {
        case SchemaCheck::Foreign:
            return path + " is not a tavrik archive (another program's database)" + leftAlone;
        case SchemaCheck::Newer:
            return path + " was written by a newer version of the program (archive version " +
                   std::to_string(version) + ", this one knows up to " +
                   std::to_string(kArchiveSchemaVersion) + ")" + leftAlone;
        case SchemaCheck::Empty:
        case SchemaCheck::Older:
            if (access == Access::Read)
                return path + (check == SchemaCheck::Empty
                                   ? " holds no archive yet"
                                   : " is an archive of an older version; the program or "
                                     "tavrik-archive import updates it");
            return {};
        case SchemaCheck::Current:
            return {};
        }
        return {};
    };
    // An existing file is first looked at through a read-only connection: a
    // file that is not ours must not be touched, not even by a WAL recovery.
    if (FileExists(path)) {
        sqlite3* probe = nullptr;
        int rc = sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY, nullptr);
        std::string why = rc == SQLITE_OK ? checkWith(probe)
                                          : path + " cannot be opened (" +
                                                std::string(sqlite3_errmsg(probe)) + ")";
        sqlite3_close_v2(probe);
        if (!why.empty()) return why;
    } else if (access == Access::Read) {
        return path + " does not exist";
    }
    const int flags =
        access == Access::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        std::string why = path + " cannot be opened (" + std::string(sqlite3_errmsg(db_)) + ")";
        Close();
        return why;
    }
    sqlite3_busy_timeout(db_, busyMs);
    st_ = new ArchiveStatements;
    if (access == Access::Write) {
        auto exec = [&](const char* sql) {
            return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK
                       ? std::string()
                       : std::string(sqlite3_errmsg(db_));
        };
        // Checked again on this connection: another program may have made it meanwhile.
        std::string why = checkWith(db_);
        if (why.empty()) why = exec("PRAGMA journal_mode = WAL");
        // In WAL mode a commit is durable against a crash of the program
        // without waiting for the disk; a power cut may lose the last ones,
        // which the next start's catch-up takes again from the KISS logs.
        if (why.empty()) why = exec("PRAGMA synchronous = NORMAL");
        if (why.empty()) why = exec("PRAGMA cache_size = -16000");
        if (why.empty() && check != SchemaCheck::Current) {
            why = CreateOrMigrate(db_, check == SchemaCheck::Empty ? 0 : version);
            if (!why.empty()) why = path + ": the archive cannot be set up (" + why + ")";
        }
        if (!why.empty()) {
            Close();
            return why;
        }
    }
    return {};
}

WriteResult Archive::Insert(std::span<const ArchiveFrame> frames, const KissMark* mark) {
    WriteResult result;
    if (!db_ || access_ != Access::Write) {
        result.failure = WriteResult::Failure::Other;
        result.error = "the archive is not open for writing";
        return result;
    }
    ArchiveStatements& s = *st_;
    int rc = SQLITE_OK;
    const char* doing = "";
    auto ok = [&](int code, const char* what) {
        rc = code;
        doing = what;
        return code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW;
    };
    auto fail = [&]() {
        result.failure = FailureOf(rc);
        result.error = result.failure == WriteResult::Failure::Busy
                           ? path_ + " is locked by another program (" + doing + ": " +
                                 sqlite3_errmsg(db_) + ")"
                           : path_ + ": " + doing + ": " + sqlite3_errmsg(db_);
        if (!sqlite3_get_autocommit(db_)) sqlite3_step(s.rollback.Get(db_, "ROLLBACK"));
        s.fileIds.clear(); // ids handed out in the rolled-back transaction are gone
        result.added = result.duplicates = 0;
        return result;
    };
    auto fileId = [&](const std::string& name, std::int64_t& id) {
        if (auto it = s.fileIds.find(name); it != s.fileIds.end()) {
            id = it->second;
            return true;
        }
        sqlite3_stmt* q = s.fileId.Get(db_, "SELECT id FROM kiss_file WHERE name = ?");
        Reset r{q};
        sqlite3_bind_text(q, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        if (!ok(sqlite3_step(q), "reading the KISS file list")) return false;
        if (rc == SQLITE_ROW) {
            id = sqlite3_column_int64(q, 0);
        } else {
            sqlite3_stmt* a = s.addFile.Get(db_, "INSERT INTO kiss_file (name) VALUES (?)");
            Reset ra{a};
            sqlite3_bind_text(a, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
            if (!ok(sqlite3_step(a), "adding to the KISS file list")) return false;
            id = sqlite3_last_insert_rowid(db_);
        }
        s.fileIds.emplace(name, id);
        return true;
    };

    if (!ok(sqlite3_step(s.begin.Get(db_, "BEGIN IMMEDIATE")), "starting a write")) return fail();
    static const std::string insertSql = [] {
        std::string cols = "time_ms, frame_hash, source, file_id, kiss_offset, raw";
        std::string params = "?, ?, ?, ?, ?, ?";
        for (int i = 0; i < kFieldCount; ++i) {
            cols += ", " + StoredColumn(i);
            params += ", ?";
        }
        return "INSERT INTO frame (" + cols + ") VALUES (" + params +
               ") ON CONFLICT (time_ms, frame_hash) DO NOTHING";
    }();
    sqlite3_stmt* ins = s.insertFrame.Get(db_, insertSql);
    s.inserted.clear();
    s.values.resize(frames.size());
    FrameBuffer fb;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const ArchiveFrame& f = frames[i];
        fb.Load(f.data);
        if (!IsDecodable(fb)) {
            ++result.refused;
            continue;
        }
        s.values[i] = DecodeValues(fb);
        std::int64_t id = 0;
        if (!f.kissFile.empty() && !fileId(f.kissFile, id)) return fail();
        sqlite3_reset(ins);
        sqlite3_bind_int64(ins, 1, f.timeMs);
        sqlite3_bind_int64(ins, 2, FrameHash(f.data));
        sqlite3_bind_text(ins, 3, f.source.data(), static_cast<int>(f.source.size()),
                          SQLITE_STATIC);
        if (f.kissFile.empty())
            sqlite3_bind_null(ins, 4);
        else
            sqlite3_bind_int64(ins, 4, id);
        if (f.kissOffset < 0)
            sqlite3_bind_null(ins, 5);
        else
            sqlite3_bind_int64(ins, 5, f.kissOffset);
        sqlite3_bind_blob(ins, 6, f.data.data(), static_cast<int>(f.data.size()), SQLITE_STATIC);
        // The counts as the frame carries them: whole numbers take one to
        // three bytes where a calibrated double takes eight.
        for (const FieldSpec& field : FieldTable()) {
            const std::int32_t p = field.position;
            const std::int64_t raw = field.type == FieldType::U8
                                         ? fb.At(static_cast<std::size_t>(p))
                                     : field.type == FieldType::U16 ? ReadU16(fb, p)
                                                                    : ReadS16(fb, p);
            sqlite3_bind_int64(ins, 7 + field.index, raw);
        }
        if (!ok(sqlite3_step(ins), "adding a frame")) return fail();
        if (sqlite3_changes(db_) > 0)
            s.inserted.push_back(i);
        else
            ++result.duplicates;
    }
    sqlite3_reset(ins);
    sqlite3_clear_bindings(ins);
    result.added = static_cast<std::int64_t>(s.inserted.size());

    // Hours: the new frames' summaries merged into the stored ones.
    std::map<std::int64_t, Summary> hours;
    for (const std::size_t i : s.inserted)
        hours[FloorDiv(frames[i].timeMs, kHourMs) * kHourMs].Add(frames[i].timeMs, s.values[i]);
    static const std::string hourGetSql =
        SummarySelect("hour_summary", "hour_ms") + " WHERE hour_ms = ?";
    static const std::string hourPutSql = SummaryInsert("hour_summary", "hour_ms");
    for (auto& [hour, summary] : hours) {
        sqlite3_stmt* g = s.hourGet.Get(db_, hourGetSql);
        Reset rg{g};
        sqlite3_bind_int64(g, 1, hour);
        if (!ok(sqlite3_step(g), "reading an hour summary")) return fail();
        if (rc == SQLITE_ROW) summary.Merge(ReadSummary(g));
        sqlite3_stmt* p = s.hourPut.Get(db_, hourPutSql);
        Reset rp{p};
        BindSummary(p, hour, summary);
        if (!ok(sqlite3_step(p), "writing an hour summary")) return fail();
    }

    // Passes: the new frames in runs without a gap longer than a pass allows;
    // each run merged with every stored pass within that gap of it (there can
    // be several when the run bridges them). Stored passes never come closer
    // than that gap to each other, so no merge reaches further.
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.reserve(s.inserted.size());
    for (const std::size_t i : s.inserted)
        order.emplace_back(frames[i].timeMs, i);
    std::sort(order.begin(), order.end());
    static const std::string passNearSql =
        SummarySelect("pass_summary", "start_ms") + " WHERE start_ms <= ? ORDER BY start_ms DESC";
    static const std::string passPutSql = SummaryInsert("pass_summary", "start_ms");
    std::vector<std::int64_t> stale;
    for (std::size_t a = 0; a < order.size();) {
        Summary run;
        std::size_t b = a;
        do {
            run.Add(order[b].first, s.values[order[b].second]);
            ++b;
        } while (b < order.size() && order[b].first - order[b - 1].first <= kPassGapMs);
        a = b;
        stale.clear();
        {
            sqlite3_stmt* q = s.passNear.Get(db_, passNearSql);
            Reset rq{q};
            sqlite3_bind_int64(q, 1, run.endMs + kPassGapMs);
            while (ok(sqlite3_step(q), "reading the passes") && rc == SQLITE_ROW) {
                Summary stored = ReadSummary(q);
                if (stored.endMs < run.startMs - kPassGapMs) break;
                stale.push_back(sqlite3_column_int64(q, 0));
                run.Merge(stored);
            }
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail();
        }
        for (const std::int64_t start : stale) {
            sqlite3_stmt* d = s.passDelete.Get(db_, "DELETE FROM pass_summary WHERE start_ms = ?");
            Reset rd{d};
            sqlite3_bind_int64(d, 1, start);
            if (!ok(sqlite3_step(d), "merging passes")) return fail();
        }
        sqlite3_stmt* p = s.passPut.Get(db_, passPutSql);
        Reset rp{p};
        BindSummary(p, run.startMs, run);
        if (!ok(sqlite3_step(p), "writing a pass summary")) return fail();
    }

    if (mark) {
        std::int64_t id = 0;
        if (!fileId(mark->file, id)) return fail();
        sqlite3_stmt* m = s.setMark.Get(db_, "UPDATE kiss_file SET archived_to = ? WHERE id = ?");
        Reset rm{m};
        sqlite3_bind_int64(m, 1, static_cast<std::int64_t>(mark->archivedTo));
        sqlite3_bind_int64(m, 2, id);
        if (!ok(sqlite3_step(m), "recording how far the KISS file is archived")) return fail();
    }
    if (!ok(sqlite3_step(s.commit.Get(db_, "COMMIT")), "committing")) return fail();
    return result;
}

std::uint64_t Archive::ArchivedTo(const std::string& kissFile, std::string* error) {
    if (!db_) return 0;
    sqlite3_stmt* q = st_->getMark.Get(db_, "SELECT archived_to FROM kiss_file WHERE name = ?");
    Reset r{q};
    sqlite3_bind_text(q, 1, kissFile.data(), static_cast<int>(kissFile.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(q);
    if (rc == SQLITE_ROW) return static_cast<std::uint64_t>(sqlite3_column_int64(q, 0));
    if (rc != SQLITE_DONE && error) *error = sqlite3_errmsg(db_);
    return 0;
}

std::string Archive::Marks(std::vector<KissMark>& out) {
    out.clear();
    if (!db_) return "the archive is not open";
    sqlite3_stmt* q = st_->marks.Get(db_, "SELECT name, archived_to FROM kiss_file ORDER BY name");
    Reset r{q};
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW)
        out.push_back({reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
                       static_cast<std::uint64_t>(sqlite3_column_int64(q, 1))});
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::Extent(TimeRange range, ArchiveExtent& out) {
    out = {};
    if (!db_) return "the archive is not open";
    auto one = [&](Stmt& stmt, const char* sql, std::int64_t& value) -> int {
        sqlite3_stmt* q = stmt.Get(db_, sql);
        Reset r{q};
        sqlite3_bind_int64(q, 1, range.fromMs);
        sqlite3_bind_int64(q, 2, range.toMs);
        const int rc = sqlite3_step(q);
        if (rc == SQLITE_ROW) value = sqlite3_column_int64(q, 0);
        return rc;
    };
    int rc = one(st_->first,
                 "SELECT time_ms FROM frame WHERE time_ms >= ? AND time_ms < ? "
                 "ORDER BY time_ms LIMIT 1",
                 out.firstMs);
    if (rc == SQLITE_DONE) return {};
    if (rc == SQLITE_ROW)
        rc = one(st_->last,
                 "SELECT time_ms FROM frame WHERE time_ms >= ? AND time_ms < ? "
                 "ORDER BY time_ms DESC LIMIT 1",
                 out.lastMs);
    if (rc == SQLITE_ROW) {
        // The whole archive is counted from the hour summaries, not the rows.
        rc = range.fromMs == kMin && range.toMs == kMax
                 ? one(st_->countAll,
                       "SELECT coalesce(sum(frames), 0) FROM hour_summary WHERE ?1 = ?1 AND "
                       "?2 = ?2",
                       out.count)
                 : one(st_->count, "SELECT count(*) FROM frame WHERE time_ms >= ? AND time_ms < ?",
                       out.count);
    }
    return rc == SQLITE_ROW ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::QuerySeries(int field, TimeRange range, int points, Series& out) {
    out = {};
    if (!db_) return "the archive is not open";
    if (field < 0 || field >= kFieldCount) return "no such field";
    if (points < 1) points = 1;
    if (range.fromMs == kMin || range.toMs == kMax) {
        ArchiveExtent extent;
        if (std::string why = Extent(range, extent); !why.empty()) return why;
        if (extent.count == 0) return {};
        if (range.fromMs == kMin) range.fromMs = extent.firstMs;
        if (range.toMs == kMax) range.toMs = extent.lastMs + 1;
    }
    if (range.toMs <= range.fromMs) return {};
    const std::int64_t span = range.toMs - range.fromMs;
    const std::int64_t bucket = NiceBucket((span + points - 1) / points);
    out.fromSummaries = bucket >= kHourMs;
    out.bucketMs = bucket;
    const std::int64_t grid = FloorDiv(range.fromMs, bucket) * bucket;
    const std::string& col = FieldColumn(field);
    const auto f = static_cast<std::size_t>(field);
    sqlite3_stmt* q =
        out.fromSummaries
            ? st_->hourSeries[f].Get(db_, "SELECT hour_ms, frames, " + col + "_min, " + col +
                                              "_max, " + col +
                                              "_sum FROM hour_summary WHERE hour_ms >= ? AND "
                                              "hour_ms < ? ORDER BY hour_ms")
            : st_->rawSeries[f].Get(db_, "SELECT time_ms, 1, v, v, v FROM (SELECT time_ms, " +
                                             CalibratedSql(field) +
                                             " AS v FROM frame WHERE time_ms >= ? AND "
                                             "time_ms < ? ORDER BY time_ms)");
    if (!q) return sqlite3_errmsg(db_);
    Reset r{q};
    sqlite3_bind_int64(
        q, 1, out.fromSummaries ? FloorDiv(range.fromMs, kHourMs) * kHourMs : range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    int rc;
    std::int64_t index = -1;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        const std::int64_t t = sqlite3_column_int64(q, 0);
        const std::int64_t n = sqlite3_column_int64(q, 1);
        const double lo = sqlite3_column_double(q, 2);
        const double hi = sqlite3_column_double(q, 3);
        const double sum = sqlite3_column_double(q, 4);
        const std::int64_t i = (t - grid) / bucket;
        if (i != index || out.buckets.empty()) {
            index = i;
            out.buckets.push_back({grid + i * bucket, n, lo, sum, hi});
            continue;
        }
        SeriesBucket& b = out.buckets.back();
        b.count += n;
        b.min = std::min(b.min, lo);
        b.max = std::max(b.max, hi);
        b.avg += sum; // the sum until the end
    }
    for (SeriesBucket& b : out.buckets)
        b.avg /= static_cast<double>(b.count);
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::QueryPasses(TimeRange range, std::vector<Summary>& out) {
    out.clear();
    if (!db_) return "the archive is not open";
    // Passes never overlap: the one that may reach into the range begins at
    // or before its start, every other one inside it.
    static const std::string sql =
        SummarySelect("pass_summary", "start_ms") +
        " WHERE start_ms >= coalesce((SELECT max(start_ms) FROM pass_summary WHERE start_ms <= "
        "?1), ?1) AND start_ms < ?2 ORDER BY start_ms";
    sqlite3_stmt* q = st_->passes.Get(db_, sql);
    Reset r{q};
    sqlite3_bind_int64(q, 1, range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        Summary s = ReadSummary(q);
        if (s.endMs >= range.fromMs) out.push_back(s);
    }
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::LastPass(std::optional<Summary>& out) {
    out.reset();
    if (!db_) return "the archive is not open";
    static const std::string sql =
        SummarySelect("pass_summary", "start_ms") + " ORDER BY start_ms DESC LIMIT 1";
    sqlite3_stmt* q = st_->lastPass.Get(db_, sql);
    Reset r{q};
    const int rc = sqlite3_step(q);
    if (rc == SQLITE_ROW) out = ReadSummary(q);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::QueryHours(TimeRange range, std::vector<Summary>& out) {
    out.clear();
    if (!db_) return "the archive is not open";
    static const std::string sql = SummarySelect("hour_summary", "hour_ms") +
                                   " WHERE hour_ms >= ? AND hour_ms < ? ORDER BY hour_ms";
    sqlite3_stmt* q = st_->hours.Get(db_, sql);
    Reset r{q};
    sqlite3_bind_int64(q, 1, range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW)
        out.push_back(ReadSummary(q));
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::Export(TimeRange range, const std::function<bool(const ArchiveRow&)>& row) {
    if (!db_) return "the archive is not open";
    static const std::string sql = [] {
        return std::string("SELECT f.time_ms, f.source, k.name, f.kiss_offset, f.raw") +
               " FROM frame f LEFT JOIN kiss_file k ON k.id = f.file_id "
               "WHERE f.time_ms >= ? AND f.time_ms < ? ORDER BY f.time_ms, f.id";
    }();
    sqlite3_stmt* q = st_->exportRows.Get(db_, sql);
    Reset r{q};
    sqlite3_bind_int64(q, 1, range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    std::array<double, kFieldCount> values{};
    FrameBuffer fb;
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        ArchiveRow a;
        a.timeMs = sqlite3_column_int64(q, 0);
        auto text = [&](int c) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, c));
            return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(q, c)))
                     : std::string_view();
        };
        a.source = text(1);
        a.kissFile = text(2);
        a.kissOffset = sqlite3_column_type(q, 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(q, 3);
        const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(q, 4));
        a.data = {blob, static_cast<std::size_t>(sqlite3_column_bytes(q, 4))};
        // The decoder's values of the stored frame: what tavrik-decode gives.
        fb.Load(a.data);
        values = DecodeValues(fb);
        a.values = &values;
        if (!row(a)) return {};
    }
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

} // namespace tavrik
