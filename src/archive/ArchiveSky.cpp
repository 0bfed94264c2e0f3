// The archive's sky columns: retagging frames that lack them, and the dots
// of the sky plot.
#include <algorithm>
#include <sqlite3.h>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive/ArchiveSql.h"
#include "sky/SkyPredictor.h"

namespace tavrik {

using namespace archive_sql;

namespace {

// Frames read and written per transaction: big enough that commits cost
// nothing, small enough that a reader is never kept waiting long.
constexpr int kRetagSlice = 50000;

std::string Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK
               ? std::string()
               : std::string(sqlite3_errmsg(db));
}

} // namespace

std::string Archive::Retag(const SkyPredictor& sky, RetagResult& result,
                           const std::function<void(std::int64_t, std::int64_t)>& progress) {
    result = {};
    if (!db_ || access_ != Access::Write) return "the archive is not open for writing";
    sqlite3_stmt* span = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT count(*), min(time_ms), max(time_ms) FROM frame "
                           "WHERE elevation IS NULL",
                           -1, &span, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db_);
    std::int64_t total = 0, firstMs = 0, lastMs = 0;
    if (sqlite3_step(span) == SQLITE_ROW) {
        total = sqlite3_column_int64(span, 0);
        firstMs = sqlite3_column_int64(span, 1);
        lastMs = sqlite3_column_int64(span, 2);
    }
    sqlite3_finalize(span);
    if (total == 0) return {};

    // Every pass over the span at once: a frame finds its own by a search.
    const std::vector<Pass> passes = sky.Passes(firstMs, lastMs + 1);
    auto passAt = [&](std::int64_t t) -> const Pass* {
        auto it = std::upper_bound(passes.begin(), passes.end(), t,
                                   [](std::int64_t v, const Pass& p) { return v < p.aosMs; });
        if (it == passes.begin()) return nullptr;
        --it;
        return t <= it->losMs ? &*it : nullptr;
    };

    ArchiveStatements& s = *st_;
    struct Row {
        std::int64_t id, timeMs;
    };
    std::vector<Row> rows;
    rows.reserve(kRetagSlice);
    std::int64_t afterMs = firstMs - 1, afterId = 0;
    std::int64_t done = 0;
    std::string why = Exec(db_, "BEGIN IMMEDIATE");
    for (const Pass& p : passes) {
        if (!why.empty()) break;
        if (!PutSkyPass(db_, s.skyPass, p)) why = sqlite3_errmsg(db_);
        result.passes += sqlite3_changes(db_);
    }
    if (why.empty()) why = Exec(db_, "COMMIT");
    while (why.empty()) {
        rows.clear();
        sqlite3_stmt* q = s.retagRead.Get(
            db_, "SELECT id, time_ms FROM frame WHERE elevation IS NULL AND (time_ms > ?1 OR "
                 "(time_ms = ?1 AND id > ?2)) ORDER BY time_ms, id LIMIT ?3");
        {
            Reset r{q};
            sqlite3_bind_int64(q, 1, afterMs);
            sqlite3_bind_int64(q, 2, afterId);
            sqlite3_bind_int(q, 3, kRetagSlice);
            int rc;
            while ((rc = sqlite3_step(q)) == SQLITE_ROW)
                rows.push_back({sqlite3_column_int64(q, 0), sqlite3_column_int64(q, 1)});
            if (rc != SQLITE_DONE) why = sqlite3_errmsg(db_);
        }
        if (!why.empty() || rows.empty()) break;
        afterMs = rows.back().timeMs;
        afterId = rows.back().id;
        if (std::string w = Exec(db_, "BEGIN IMMEDIATE"); !w.empty()) {
            why = w;
            break;
        }
        sqlite3_stmt* u = s.retagWrite.Get(
            db_, "UPDATE frame SET azimuth = ?, elevation = ?, range_km = ?, range_rate_km_s = ?, "
                 "pass_aos = ? WHERE id = ?");
        for (const Row& row : rows) {
            const std::optional<SkyPoint> at = sky.At(row.timeMs);
            if (!at) {
                ++result.unplaced;
                continue;
            }
            sqlite3_reset(u);
            sqlite3_bind_double(u, 1, at->azimuthDeg);
            sqlite3_bind_double(u, 2, at->elevationDeg);
            sqlite3_bind_double(u, 3, at->rangeKm);
            sqlite3_bind_double(u, 4, at->rangeRateKmS);
            if (const Pass* p = passAt(row.timeMs))
                sqlite3_bind_int64(u, 5, p->aosMs);
            else
                sqlite3_bind_null(u, 5);
            sqlite3_bind_int64(u, 6, row.id);
            if (sqlite3_step(u) != SQLITE_DONE) {
                why = sqlite3_errmsg(db_);
                break;
            }
            ++result.tagged;
        }
        sqlite3_reset(u);
        if (why.empty())
            why = Exec(db_, "COMMIT");
        else
            Exec(db_, "ROLLBACK");
        done += static_cast<std::int64_t>(rows.size());
        if (why.empty() && progress) progress(done, total);
    }
    return why;
}

std::string Archive::SkyDots(TimeRange range, std::size_t limit,
                             std::vector<std::pair<float, float>>& out) {
    out.clear();
    if (!db_) return "the archive is not open";
    sqlite3_stmt* q = nullptr;
    if (sqlite3_prepare_v2(
            db_,
            "SELECT azimuth, elevation FROM frame WHERE time_ms >= ? AND time_ms < ? "
            "AND elevation IS NOT NULL ORDER BY time_ms DESC LIMIT ?",
            -1, &q, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db_);
    sqlite3_bind_int64(q, 1, range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    sqlite3_bind_int64(q, 3, static_cast<sqlite3_int64>(limit));
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW)
        out.emplace_back(static_cast<float>(sqlite3_column_double(q, 0)),
                         static_cast<float>(sqlite3_column_double(q, 1)));
    std::string why = rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
    sqlite3_finalize(q);
    return why;
}

} // namespace tavrik
