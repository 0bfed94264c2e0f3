#include "archive/Archive.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

#include "archive/ArchiveSchema.h"
#include "archive/ArchiveSql.h"
#include "telemetry/Conversions.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

namespace {

using namespace archive_sql;

std::int64_t FrameHash(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const std::uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return static_cast<std::int64_t>(h);
}

WriteResult::Failure FailureOf(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return WriteResult::Failure::Busy;
    case SQLITE_FULL:
        return WriteResult::Failure::Full;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return WriteResult::Failure::Damaged;
    default:
        return WriteResult::Failure::Other;
    }
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Whether the file begins as every SQLite database does: one that does, but
// that SQLite cannot read, is damaged; one that does not is someone else's.
bool HasSqliteHeader(const std::string& path) {
    static constexpr char kMagic[] = "SQLite format 3";
    char head[sizeof kMagic] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kMagic, sizeof head) == 0;
}

// Why the archive cannot be written here, or "" when it can: the folder must
// take the -wal and -shm files (and a new file), an existing file be writable.
std::string NotWritable(const std::string& path, bool exists) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::string dir = folder.empty() ? "." : folder;
    const char* verb = exists ? " cannot be written" : " cannot be created";
    if (::access(dir.c_str(), W_OK) != 0)
        return path + verb + ": its folder " + dir + " cannot be written (" + std::strerror(errno) +
               ")";
    if (exists && ::access(path.c_str(), W_OK) != 0)
        return path + verb + " (" + std::strerror(errno) + ")";
    return {};
}

std::string DamagedText(const std::string& path, const std::string& why) {
    return path + " is damaged (" + why + ")";
}

} // namespace

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
    failure_ = OpenFailure::None;
    migratedFrom_ = 0;
    const std::string leftAlone = "; the file is left as it is";
    SchemaCheck check = SchemaCheck::Empty;
    int version = 0;
    auto fail = [&](OpenFailure kind, std::string why) {
        failure_ = kind;
        Close();
        return why;
    };
    // What the connection's last error says about the file: a lock that may
    // go, or damage (only in a file that begins as an SQLite file: anything
    // else is someone else's and just not ours).
    auto failedOn = [&](sqlite3* db, const std::string& doing) {
        const int rc = sqlite3_extended_errcode(db);
        const std::string why = sqlite3_errmsg(db);
        if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
            return fail(OpenFailure::Busy, path + " is locked by another program (" + why + ")");
        if (IsDamage(rc) && HasSqliteHeader(path))
            return fail(OpenFailure::Damaged, DamagedText(path, why) + leftAlone);
        if ((rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_PERM ||
            (rc & 0xFF) == SQLITE_CANTOPEN)
            return fail(OpenFailure::Denied, path + " " + doing + " (" + why + ")");
        return fail(OpenFailure::Refused,
                    path + " is not a tavrik archive (" + why + ")" + leftAlone);
    };
    auto checkWith = [&](sqlite3* db) -> std::string {
        if (std::string why = CheckSchema(db, check, version); !why.empty())
            return failedOn(db, "cannot be read");
        switch (check) {
        case SchemaCheck::Foreign:
            return fail(OpenFailure::Refused,
                        path + " is not a tavrik archive (another program's database)" + leftAlone);
        case SchemaCheck::Newer:
            return fail(OpenFailure::Refused,
                        path + " was written by a newer version of the program (archive version " +
                            std::to_string(version) + ", this one knows up to " +
                            std::to_string(kArchiveSchemaVersion) + ")" + leftAlone);
        case SchemaCheck::Empty:
        case SchemaCheck::Older:
            if (access == Access::Read)
                return fail(OpenFailure::Refused,
                            path + (check == SchemaCheck::Empty
                                        ? " holds no archive yet"
                                        : " is an archive of an older version; the program or "
                                          "tavrik-archive import updates it"));
            return {};
        case SchemaCheck::Current:
            return {};
        }
        return {};
    };
    const bool exists = FileExists(path);
    // Said first: a WAL file in a folder that cannot be written cannot be read either.
    if (access == Access::Write)
        if (std::string why = NotWritable(path, exists); !why.empty())
            return fail(OpenFailure::Denied, why);
    // An existing file is first looked at through a read-only connection: a
    // file that is not ours must not be touched, not even by a WAL recovery.
    if (exists) {
        sqlite3* probe = nullptr;
        int rc = sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY, nullptr);
        // The probe waits for a lock as long as any connection: a program
        // closing the archive holds one for a moment.
        if (rc == SQLITE_OK) sqlite3_busy_timeout(probe, busyMs);
        std::string why =
            rc == SQLITE_OK
                ? checkWith(probe)
                : fail(OpenFailure::Denied,
                       path + " cannot be opened (" + std::string(sqlite3_errmsg(probe)) + ")");
        sqlite3_close_v2(probe);
        if (!why.empty()) return why;
    } else if (access == Access::Read) {
        return fail(OpenFailure::Refused, path + " does not exist");
    }
    const int flags =
        access == Access::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return fail(OpenFailure::Denied,
                    path + " cannot be opened (" + std::string(sqlite3_errmsg(db_)) + ")");
    sqlite3_busy_timeout(db_, busyMs);
    st_ = new ArchiveStatements;
    if (access == Access::Write) {
        auto exec = [&](const char* sql) {
            return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        };
        // Checked again on this connection: another program may have made it meanwhile.
        if (std::string why = checkWith(db_); !why.empty()) return why;
        if (sqlite3_db_readonly(db_, "main") == 1)
            return fail(OpenFailure::Denied, path + " cannot be written (opened read-only)");
        if (!exec("PRAGMA journal_mode = WAL")) return failedOn(db_, "cannot be written");
        // In WAL mode a commit is durable against a crash of the program
        // without waiting for the disk; a power cut may lose the last ones,
        // which the next start's catch-up takes again from the KISS logs.
        // A WAL that was cut back by a checkpoint gives its disk space back
        // instead of keeping its largest size.
        if (!exec("PRAGMA synchronous = NORMAL") || !exec("PRAGMA cache_size = -16000") ||
            !exec("PRAGMA journal_size_limit = 1048576"))
            return failedOn(db_, "cannot be written");
        if (check != SchemaCheck::Current) {
            if (std::string why = CreateOrMigrate(db_, check == SchemaCheck::Empty ? 0 : version);
                !why.empty()) {
                const int rc = sqlite3_extended_errcode(db_);
                if ((rc & 0xFF) == SQLITE_BUSY || IsDamage(rc)) return failedOn(db_, "");
                return fail(OpenFailure::Refused,
                            path + ": the archive cannot be set up (" + why + ")");
            }
            if (check == SchemaCheck::Older) migratedFrom_ = version;
        }
    }
    return {};
}

bool archive_sql::PutSkyPass(sqlite3* db, Stmt& stmt, const Pass& pass) {
    sqlite3_stmt* p = stmt.Get(db, "INSERT OR IGNORE INTO sky_pass (aos_ms, tca_ms, los_ms, "
                                   "max_elevation, aos_azimuth, los_azimuth) VALUES (?, ?, ?, ?, "
                                   "?, ?)");
    Reset r{p};
    sqlite3_bind_int64(p, 1, pass.aosMs);
    sqlite3_bind_int64(p, 2, pass.tcaMs);
    sqlite3_bind_int64(p, 3, pass.losMs);
    sqlite3_bind_double(p, 4, pass.maxElevationDeg);
    sqlite3_bind_double(p, 5, pass.aosAzimuthDeg);
    sqlite3_bind_double(p, 6, pass.losAzimuthDeg);
    return sqlite3_step(p) == SQLITE_DONE;
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
        cols += ", azimuth, elevation, range_km, range_rate_km_s, pass_aos, limit_levels";
        params += ", ?, ?, ?, ?, ?, ?";
        return "INSERT INTO frame (" + cols + ") VALUES (" + params +
               ") ON CONFLICT (time_ms, frame_hash) DO NOTHING";
    }();
    sqlite3_stmt* ins = s.insertFrame.Get(db_, insertSql);
    s.inserted.clear();
    s.values.resize(frames.size());
    s.levels.resize(frames.size());
    FrameBuffer fb;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const ArchiveFrame& f = frames[i];
        fb.Load(f.data);
        if (!IsDecodable(fb)) {
            ++result.refused;
            continue;
        }
        s.values[i] = DecodeValues(fb);
        s.levels[i] = f.levels ? *f.levels : judge_ ? judge_(s.values[i]) : FieldLevels{};
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
        const int skyAt = 7 + kFieldCount;
        if (f.sky) {
            sqlite3_bind_double(ins, skyAt, f.sky->azimuthDeg);
            sqlite3_bind_double(ins, skyAt + 1, f.sky->elevationDeg);
            sqlite3_bind_double(ins, skyAt + 2, f.sky->rangeKm);
            sqlite3_bind_double(ins, skyAt + 3, f.sky->rangeRateKmS);
            if (f.sky->pass)
                sqlite3_bind_int64(ins, skyAt + 4, f.sky->pass->aosMs);
            else
                sqlite3_bind_null(ins, skyAt + 4);
        } else {
            for (int k = 0; k < 5; ++k)
                sqlite3_bind_null(ins, skyAt + k);
        }
        BindLevels(ins, skyAt + 5, s.levels[i]);
        if (!ok(sqlite3_step(ins), "adding a frame")) return fail();
        if (sqlite3_changes(db_) > 0)
            s.inserted.push_back(i);
        else
            ++result.duplicates;
        if (f.sky && f.sky->pass && !PutSkyPass(db_, s.skyPass, *f.sky->pass)) {
            rc = sqlite3_errcode(db_);
            doing = "recording a predicted pass";
            return fail();
        }
    }
    sqlite3_reset(ins);
    sqlite3_clear_bindings(ins);
    result.added = static_cast<std::int64_t>(s.inserted.size());

    // Hours: the new frames' summaries merged into the stored ones.
    std::map<std::int64_t, Summary> hours;
    for (const std::size_t i : s.inserted)
        hours[FloorDiv(frames[i].timeMs, kHourMs) * kHourMs].Add(frames[i].timeMs, s.values[i],
                                                                 s.levels[i]);
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
            run.Add(order[b].first, s.values[order[b].second], s.levels[order[b].second]);
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

} // namespace tavrik
