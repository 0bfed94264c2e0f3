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

namespace {

// A frame's sky for the retag's UPDATE: the statement asks once per column,
// and the answer for the last time asked is kept, so each frame is
// propagated once. SQL: tavrik_sky(time_ms, column), column 0 azimuth,
// 1 elevation, 2 range, 3 range rate, 4 pass AOS; NULL where the model
// cannot place the frame (or, for 4, outside a pass).
struct RetagSky {
    const SkyPredictor& sky;
    const std::vector<Pass>& passes;
    std::int64_t timeMs = 0;
    bool asked = false;
    std::optional<SkyPoint> at;
    const Pass* pass = nullptr;

    void Place(std::int64_t t) {
        if (asked && t == timeMs) return;
        asked = true;
        timeMs = t;
        at = sky.At(t);
        auto it = std::upper_bound(passes.begin(), passes.end(), t,
                                   [](std::int64_t v, const Pass& p) { return v < p.aosMs; });
        pass = it != passes.begin() && t <= std::prev(it)->losMs ? &*std::prev(it) : nullptr;
    }
};

void SkyColumn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto& r = *static_cast<RetagSky*>(sqlite3_user_data(ctx));
    r.Place(sqlite3_value_int64(argv[0]));
    if (!r.at) return sqlite3_result_null(ctx);
    switch (sqlite3_value_int(argv[1])) {
    case 0:
        return sqlite3_result_double(ctx, r.at->azimuthDeg);
    case 1:
        return sqlite3_result_double(ctx, r.at->elevationDeg);
    case 2:
        return sqlite3_result_double(ctx, r.at->rangeKm);
    case 3:
        return sqlite3_result_double(ctx, r.at->rangeRateKmS);
    default:
        if (r.pass) return sqlite3_result_int64(ctx, r.pass->aosMs);
        return sqlite3_result_null(ctx);
    }
}

} // namespace

std::string Archive::Retag(const SkyPredictor& sky, RetagResult& result,
                           const std::function<void(std::int64_t, std::int64_t)>& progress) {
    result = {};
    if (!db_ || access_ != Access::Write) return "the archive is not open for writing";
    sqlite3_stmt* span = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT count(*), min(time_ms), max(time_ms), min(id), max(id) "
                           "FROM frame WHERE elevation IS NULL",
                           -1, &span, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db_);
    std::int64_t total = 0, firstMs = 0, lastMs = 0, firstId = 0, lastId = 0;
    if (sqlite3_step(span) == SQLITE_ROW) {
        total = sqlite3_column_int64(span, 0);
        firstMs = sqlite3_column_int64(span, 1);
        lastMs = sqlite3_column_int64(span, 2);
        firstId = sqlite3_column_int64(span, 3);
        lastId = sqlite3_column_int64(span, 4);
    }
    sqlite3_finalize(span);
    if (total == 0) return {};

    // Every pass over the span at once: a frame finds its own by a search.
    const std::vector<Pass> passes = sky.Passes(firstMs, lastMs + 1);
    ArchiveStatements& s = *st_;
    std::string why = Exec(db_, "BEGIN IMMEDIATE");
    for (const Pass& p : passes) {
        if (!why.empty()) break;
        if (!PutSkyPass(db_, s.skyPass, p)) why = sqlite3_errmsg(db_);
        result.passes += sqlite3_changes(db_);
    }
    if (why.empty()) why = Exec(db_, "COMMIT");
    if (!why.empty()) return why;

    // One UPDATE per slice of ids, walking the table in its own order: a
    // statement per frame would seek the table once per row, at half the speed.
    RetagSky at{sky, passes};
    // Fewer, larger checkpoints while a million rows change: the WAL is
    // copied into the file a few times instead of every 4 MB.
    Exec(db_, "PRAGMA wal_autocheckpoint = 16384");
    if (sqlite3_create_function_v2(db_, "tavrik_sky", 2, SQLITE_UTF8, &at, SkyColumn, nullptr,
                                   nullptr, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db_);
    sqlite3_stmt* u = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "UPDATE frame SET azimuth = tavrik_sky(time_ms, 0), "
                           "elevation = tavrik_sky(time_ms, 1), range_km = tavrik_sky(time_ms, 2), "
                           "range_rate_km_s = tavrik_sky(time_ms, 3), "
                           "pass_aos = tavrik_sky(time_ms, 4) WHERE id >= ?1 AND id < ?2 AND "
                           "elevation IS NULL AND tavrik_sky(time_ms, 1) IS NOT NULL",
                           -1, &u, nullptr) != SQLITE_OK)
        why = sqlite3_errmsg(db_);
    for (std::int64_t from = firstId; why.empty() && from <= lastId; from += kRetagSlice) {
        if (std::string w = Exec(db_, "BEGIN IMMEDIATE"); !w.empty()) {
            why = w;
            break;
        }
        sqlite3_bind_int64(u, 1, from);
        sqlite3_bind_int64(u, 2, from + kRetagSlice);
        if (sqlite3_step(u) != SQLITE_DONE) why = sqlite3_errmsg(db_);
        sqlite3_reset(u);
        if (why.empty()) {
            result.tagged += sqlite3_changes(db_);
            why = Exec(db_, "COMMIT");
        } else {
            Exec(db_, "ROLLBACK");
        }
        if (why.empty() && progress) progress(result.tagged, total);
    }
    sqlite3_finalize(u);
    sqlite3_create_function_v2(db_, "tavrik_sky", 2, SQLITE_UTF8, nullptr, nullptr, nullptr,
                               nullptr, nullptr);
    Exec(db_, "PRAGMA wal_autocheckpoint = 1000");
    result.unplaced = total - result.tagged;
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
