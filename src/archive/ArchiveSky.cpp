// The archive's sky columns: retagging frames that lack them, and the dots
// of the sky plot.
#include <algorithm>
#include <future>
#include <sqlite3.h>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive/ArchiveSql.h"
#include "sky/SkyPredictor.h"

namespace tavrik {

using namespace archive_sql;

namespace {

std::string Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK
               ? std::string()
               : std::string(sqlite3_errmsg(db));
}

// One frame's sky as the retag writes it.
struct Placed {
    std::int64_t id = 0;
    bool placed = false; // false: the model cannot place the frame
    SkyPoint at;
    std::int64_t passAos = 0; // 0: outside every pass
};

Placed PlaceFrame(const SkyPredictor& sky, const std::vector<Pass>& passes, std::int64_t id,
                  std::int64_t timeMs) {
    Placed p;
    p.id = id;
    if (auto at = sky.At(timeMs)) {
        p.placed = true;
        p.at = *at;
    }
    auto it = std::upper_bound(passes.begin(), passes.end(), timeMs,
                               [](std::int64_t v, const Pass& x) { return v < x.aosMs; });
    if (it != passes.begin() && timeMs <= std::prev(it)->losMs) p.passAos = std::prev(it)->aosMs;
    return p;
}

// The frames of one slice of ids, placed on the sky by a worker with a
// connection of its own while the writer rewrites the slice before: the
// propagation then costs the writer's thread nothing.
class SlicePlacer {
  public:
    SlicePlacer(const std::string& path, const SkyPredictor& sky, const std::vector<Pass>& passes)
        : sky_(sky), passes_(passes) {
        if (path.empty() || path == ":memory:" ||
            sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_,
                               "SELECT id, time_ms FROM frame WHERE id >= ?1 AND id < ?2 AND "
                               "elevation IS NULL ORDER BY id",
                               -1, &select_, nullptr) != SQLITE_OK) {
            sqlite3_close(db_); // without a reader, the writer's thread places each frame
            db_ = nullptr;
        }
    }
    ~SlicePlacer() {
        if (next_.valid()) next_.wait();
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }
    SlicePlacer(const SlicePlacer&) = delete;
    SlicePlacer& operator=(const SlicePlacer&) = delete;

    bool Reads() const { return db_ != nullptr; }
    // Starts placing the frames of [from, to) on the worker.
    void Start(std::int64_t from, std::int64_t to) {
        if (!db_) return;
        next_ = std::async(std::launch::async, [this, from, to] { return Read(from, to); });
    }
    // The slice Start began, once placed (empty without a reader).
    std::vector<Placed> Take() { return next_.valid() ? next_.get() : std::vector<Placed>(); }

  private:
    std::vector<Placed> Read(std::int64_t from, std::int64_t to) {
        std::vector<Placed> out;
        sqlite3_bind_int64(select_, 1, from);
        sqlite3_bind_int64(select_, 2, to);
        while (sqlite3_step(select_) == SQLITE_ROW)
            out.push_back(PlaceFrame(sky_, passes_, sqlite3_column_int64(select_, 0),
                                     sqlite3_column_int64(select_, 1)));
        sqlite3_reset(select_);
        return out;
    }

    const SkyPredictor& sky_;
    const std::vector<Pass>& passes_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
    std::future<std::vector<Placed>> next_;
};

// What the retag's UPDATE asks of a frame: tavrik_sky(id, time_ms, column),
// column 0 azimuth, 1 elevation, 2 range, 3 range rate, 4 pass AOS; NULL
// where the model cannot place the frame (or, for 4, outside a pass). The
// statement walks the slice in id order, so the answer is the slice's next
// placed frame; one the worker did not see is placed here.
struct RetagSky {
    const SkyPredictor& sky;
    const std::vector<Pass>& passes;
    std::vector<Placed> slice;
    std::size_t next = 0;
    Placed here;
    bool have = false; // here is the frame last asked for

    void NewSlice(std::vector<Placed> placed) {
        slice = std::move(placed);
        next = 0;
        have = false;
    }
    const Placed& For(std::int64_t id, std::int64_t timeMs) {
        if (have && here.id == id) return here;
        have = true;
        while (next < slice.size() && slice[next].id < id)
            ++next;
        here = next < slice.size() && slice[next].id == id ? slice[next]
                                                           : PlaceFrame(sky, passes, id, timeMs);
        return here;
    }
};

void SkyColumn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto& r = *static_cast<RetagSky*>(sqlite3_user_data(ctx));
    const Placed& p = r.For(sqlite3_value_int64(argv[0]), sqlite3_value_int64(argv[1]));
    if (!p.placed) return sqlite3_result_null(ctx);
    switch (sqlite3_value_int(argv[2])) {
    case 0:
        return sqlite3_result_double(ctx, p.at.azimuthDeg);
    case 1:
        return sqlite3_result_double(ctx, p.at.elevationDeg);
    case 2:
        return sqlite3_result_double(ctx, p.at.rangeKm);
    case 3:
        return sqlite3_result_double(ctx, p.at.rangeRateKmS);
    default:
        if (p.passAos != 0) return sqlite3_result_int64(ctx, p.passAos);
        return sqlite3_result_null(ctx);
    }
}

} // namespace

std::string Archive::Retag(const SkyPredictor& sky, RetagResult& result,
                           const std::function<void(std::int64_t, double)>& progress,
                           std::int64_t slice) {
    result = {};
    if (!db_ || access_ != Access::Write) return "the archive is not open for writing";
    slice = std::max<std::int64_t>(slice, 1);
    // Where the walk starts and ends, and the span the passes cover, without
    // reading the whole table: the first frame that lacks its sky, the last
    // id, and the archive's first and last times from the time index.
    std::int64_t firstId = 0, lastId = 0, firstMs = 0, lastMs = 0;
    {
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db_,
                               "SELECT (SELECT id FROM frame WHERE elevation IS NULL ORDER BY id "
                               "LIMIT 1), (SELECT max(id) FROM frame), (SELECT min(time_ms) FROM "
                               "frame), (SELECT max(time_ms) FROM frame)",
                               -1, &q, nullptr) != SQLITE_OK)
            return sqlite3_errmsg(db_);
        const bool any = sqlite3_step(q) == SQLITE_ROW && sqlite3_column_type(q, 0) != SQLITE_NULL;
        if (any) {
            firstId = sqlite3_column_int64(q, 0);
            lastId = sqlite3_column_int64(q, 1);
            firstMs = sqlite3_column_int64(q, 2);
            lastMs = sqlite3_column_int64(q, 3);
        }
        sqlite3_finalize(q);
        if (!any) return {};
    }

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
    RetagSky at{sky, passes, {}, 0, {}, false};
    // Fewer, larger checkpoints while a million rows change, into a WAL file
    // kept at its size: the WAL is copied into the file a few times instead
    // of every 4 MB, and its blocks are not given back and taken anew each
    // time. The connection's own settings come back however the retag ends.
    Exec(db_, "PRAGMA wal_autocheckpoint = 16384");
    Exec(db_, "PRAGMA journal_size_limit = -1");
    struct Settle {
        sqlite3* db;
        ~Settle() {
            sqlite3_create_function_v2(db, "tavrik_sky", 3, SQLITE_UTF8, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
            Exec(db, "PRAGMA wal_autocheckpoint = 1000");
            Exec(db, "PRAGMA journal_size_limit = 1048576");
        }
    } settle{db_};
    if (sqlite3_create_function_v2(db_, "tavrik_sky", 3, SQLITE_UTF8, &at, SkyColumn, nullptr,
                                   nullptr, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db_);
    sqlite3_stmt* u = nullptr;
    if (sqlite3_prepare_v2(
            db_,
            "UPDATE frame SET azimuth = tavrik_sky(id, time_ms, 0), "
            "elevation = tavrik_sky(id, time_ms, 1), range_km = tavrik_sky(id, time_ms, 2), "
            "range_rate_km_s = tavrik_sky(id, time_ms, 3), "
            "pass_aos = tavrik_sky(id, time_ms, 4) WHERE id >= ?1 AND id < ?2 AND "
            "elevation IS NULL AND tavrik_sky(id, time_ms, 1) IS NOT NULL",
            -1, &u, nullptr) != SQLITE_OK)
        why = sqlite3_errmsg(db_);
    SlicePlacer placer(path_, sky, passes);
    // The frames to place: counted by the worker slice by slice, or, with
    // no worker (an archive in memory), here and now.
    std::int64_t needing = 0;
    if (!placer.Reads()) {
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM frame WHERE elevation IS NULL", -1, &q,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(q) == SQLITE_ROW)
            needing = sqlite3_column_int64(q, 0);
        sqlite3_finalize(q);
    }
    if (why.empty()) placer.Start(firstId, firstId + slice);
    for (std::int64_t from = firstId; why.empty() && from <= lastId; from += slice) {
        at.NewSlice(placer.Take());
        if (placer.Reads()) needing += static_cast<std::int64_t>(at.slice.size());
        if (from + slice <= lastId) placer.Start(from + slice, from + 2 * slice);
        if (std::string w = Exec(db_, "BEGIN IMMEDIATE"); !w.empty()) {
            why = w;
            break;
        }
        sqlite3_bind_int64(u, 1, from);
        sqlite3_bind_int64(u, 2, from + slice);
        if (sqlite3_step(u) != SQLITE_DONE) why = sqlite3_errmsg(db_);
        sqlite3_reset(u);
        if (why.empty()) {
            result.tagged += sqlite3_changes(db_);
            why = Exec(db_, "COMMIT");
        } else {
            Exec(db_, "ROLLBACK");
        }
        if (why.empty() && progress)
            progress(result.tagged,
                     static_cast<double>(std::min(from + slice, lastId + 1) - firstId) /
                         static_cast<double>(lastId + 1 - firstId));
    }
    sqlite3_finalize(u);
    result.unplaced = needing - result.tagged;
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
