#include <algorithm>
#include <limits>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive/ArchiveSql.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

namespace {

using namespace archive_sql;

constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

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

} // namespace

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
    // The field's digit of the levels column: NULL (unchecked) for rows without one.
    const std::string level = "substr(limit_levels, " + std::to_string(field + 1) + ", 1)";
    sqlite3_stmt* q =
        out.fromSummaries
            ? st_->hourSeries[f].Get(db_, "SELECT hour_ms, frames, " + col + "_min, " + col +
                                              "_max, " + col + "_sum, " + level +
                                              " FROM hour_summary WHERE hour_ms >= ? AND "
                                              "hour_ms < ? ORDER BY hour_ms")
            // Grouped in SQL, so at most one row per bucket comes back.
            : st_->rawSeries[f].Get(db_, "SELECT min(time_ms), count(*), min(v), max(v), sum(v), "
                                         "max(l) FROM (SELECT time_ms, " +
                                             CalibratedSql(field) + " AS v, " + level +
                                             " AS l FROM frame WHERE time_ms >= ?1 AND "
                                             "time_ms < ?2) GROUP BY (time_ms - ?3) / ?4 "
                                             "ORDER BY 1 LIMIT ?5");
    if (!q) return sqlite3_errmsg(db_);
    Reset r{q};
    sqlite3_bind_int64(
        q, 1, out.fromSummaries ? FloorDiv(range.fromMs, kHourMs) * kHourMs : range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    if (!out.fromSummaries) {
        sqlite3_bind_int64(q, 3, grid);
        sqlite3_bind_int64(q, 4, bucket);
        sqlite3_bind_int64(q, 5, (range.toMs - grid) / bucket + 1);
    }
    int rc;
    std::int64_t index = -1;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        const std::int64_t t = sqlite3_column_int64(q, 0);
        const std::int64_t n = sqlite3_column_int64(q, 1);
        const double lo = sqlite3_column_double(q, 2);
        const double hi = sqlite3_column_double(q, 3);
        const double sum = sqlite3_column_double(q, 4);
        const LimitLevel worst = LevelOf(q, 5, 0);
        const std::int64_t i = (t - grid) / bucket;
        if (i != index || out.buckets.empty()) {
            index = i;
            out.buckets.push_back({grid + i * bucket, n, lo, sum, hi, worst});
            continue;
        }
        SeriesBucket& b = out.buckets.back();
        b.worst = Worse(b.worst, worst);
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
    return QueryPasses(range, [&](const Summary& s) { return out.push_back(s), true; });
}

std::string Archive::QueryPasses(TimeRange range, const std::function<bool(const Summary&)>& pass) {
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
        const Summary s = ReadSummary(q);
        if (s.endMs >= range.fromMs && !pass(s)) return {};
    }
    return rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
}

std::string Archive::QueryNewestPasses(TimeRange range, std::size_t max,
                                       std::vector<Summary>& out) {
    out.clear();
    if (!db_) return "the archive is not open";
    static const std::string sql =
        SummarySelect("pass_summary", "start_ms") +
        " WHERE start_ms >= coalesce((SELECT max(start_ms) FROM pass_summary WHERE start_ms <= "
        "?1), ?1) AND start_ms < ?2 ORDER BY start_ms DESC LIMIT ?3";
    sqlite3_stmt* q = st_->newestPasses.Get(db_, sql);
    if (!q) return sqlite3_errmsg(db_);
    Reset r{q};
    sqlite3_bind_int64(q, 1, range.fromMs);
    sqlite3_bind_int64(q, 2, range.toMs);
    sqlite3_bind_int64(q, 3, static_cast<std::int64_t>(std::min<std::size_t>(max, 1u << 20)));
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        Summary s = ReadSummary(q);
        // Only the oldest may begin before the range and end before it too.
        if (s.endMs >= range.fromMs) out.push_back(std::move(s));
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
