// The archive file's upkeep: its integrity checks, the WAL given back to the
// disk, and a damaged file set aside.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/Archive.h"

namespace tavrik {

namespace {
bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}
} // namespace

void Archive::CloseWithoutWriting() {
    if (db_) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Close();
}

bool Archive::IsDamage(int rc) {
    return (rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB;
}

std::string Archive::Check(bool full, int limitMs, bool* finished) {
    if (finished) *finished = true;
    if (!db_) return "the archive is not open";
    using Steady = std::chrono::steady_clock;
    struct Deadline {
        Steady::time_point end;
        bool passed = false;
    } deadline{Steady::now() + std::chrono::milliseconds(limitMs)};
    if (limitMs > 0)
        sqlite3_progress_handler(
            db_, 10000,
            [](void* p) {
                auto* d = static_cast<Deadline*>(p);
                d->passed = d->passed || Steady::now() >= d->end;
                return d->passed ? 1 : 0;
            },
            &deadline);
    // The first ten findings say enough; the rest would only repeat them.
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(db_, full ? "PRAGMA integrity_check(10)" : "PRAGMA quick_check(10)",
                                -1, &q, nullptr);
    std::string found;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(q);
        if (rc != SQLITE_ROW) break;
        const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
        std::string text = line ? line : "";
        // One line: SQLite's findings come with a heading and line breaks.
        if (text.starts_with("*** in database main ***")) text.erase(0, 24);
        std::replace(text.begin(), text.end(), '\n', ' ');
        while (!text.empty() && text.front() == ' ')
            text.erase(0, 1);
        if (text == "ok" || text.empty()) continue;
        found += (found.empty() ? "" : "; ") + text;
    }
    const std::string error = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db_);
    sqlite3_finalize(q);
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (deadline.passed) {
        if (finished) *finished = false;
        return found;
    }
    if (found.empty() && !error.empty()) found = error;
    return found;
}

bool Archive::CheckpointTruncate() {
    if (!db_ || access_ != Access::Write) return false;
    int wal = 0, moved = 0;
    return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &wal, &moved) ==
               SQLITE_OK &&
           wal == 0;
}

std::string SetArchiveAside(const std::string& path, std::int64_t unixMs, std::string& movedTo) {
    const auto seconds = std::chrono::sys_seconds(std::chrono::seconds(unixMs / 1000));
    const auto day = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day ymd(day);
    const std::chrono::hh_mm_ss hms(seconds - day);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    std::string target = path + ".damaged-" + stamp;
    // Never over an earlier one set aside within the same second.
    for (int n = 2; Exists(target) && n < 100; ++n)
        target = path + ".damaged-" + stamp + "-" + std::to_string(n);
    if (::rename(path.c_str(), target.c_str()) != 0)
        return path + " cannot be renamed to " + target + " (" + std::strerror(errno) + ")";
    movedTo = target;
    // The WAL belongs to the old file: left behind, it would be read into the new one.
    for (const char* companion : {"-wal", "-shm"})
        if (Exists(path + companion) &&
            ::rename((path + companion).c_str(), (target + companion).c_str()) != 0 &&
            ::unlink((path + companion).c_str()) != 0)
            return path + companion + " cannot be moved (" + std::strerror(errno) + ")";
    return {};
}

} // namespace tavrik
