// The sky in the archive: a version-1 file brought up in place, its old rows
// kept without sky, then placed on it by a retag with a pass overhead.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive_support.h"
#include "sky_tle.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

constexpr double kLat = 50.1, kLon = 14.4;

// A version-1 archive as that version made it, with frames at the given times.
void MakeVersion1(const std::string& path, const std::vector<std::int64_t>& times) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    for (const std::string& sql : SchemaStatements())
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    const std::string ids = "PRAGMA application_id = " + std::to_string(kArchiveApplicationId) +
                            "; PRAGMA user_version = 1";
    ASSERT_EQ(sqlite3_exec(db, ids.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::string sql = "INSERT INTO frame (time_ms, frame_hash, source, raw) VALUES (" +
                                std::to_string(times[i]) + ", " + std::to_string(i) +
                                ", 'TAVRIK', x'00')";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
}

// The first row of a query as text, columns joined by "|" (NULL as "null").
std::string Row(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return std::string("error: ") + sqlite3_errmsg(db);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW)
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            const unsigned char* t = sqlite3_column_text(st, i);
            out += (i ? "|" : "") + (t ? std::string(reinterpret_cast<const char*>(t)) : "null");
        }
    sqlite3_finalize(st);
    return out;
}

} // namespace

// In one slice, and one frame a slice (the next slice placed while one is written).
class ArchiveSky : public ::testing::TestWithParam<std::int64_t> {};
INSTANTIATE_TEST_SUITE_P(Slices, ArchiveSky, ::testing::Values(kRetagSliceIds, 1));

TEST_P(ArchiveSky, Version1IsBroughtUpInPlaceAndRetagFillsTheSky) {
    TempDir dir;
    const std::string path = dir.File("tavrik-archive.sqlite");
    const std::int64_t overhead = UnixMilliseconds({2026, 12, 9, 14, 0, 0, 0});
    // Two frames near the zenith, one an hour later (below the horizon).
    MakeVersion1(path, {overhead - 60'000, overhead + 30'000});

    Archive archive;
    ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
    EXPECT_EQ(archive.MigratedFrom(), 1);
    sqlite3* db = archive.Handle();
    EXPECT_EQ(Row(db, "PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
    EXPECT_EQ(Row(db, "SELECT count(*), count(elevation) FROM telemetry"), "2|0");
    // A frame of the new version, archived without a TLE.
    std::mt19937_64 rng(7);
    const std::vector<ArchiveFrame> later{RandomFrame(rng, overhead + 3'600'000)};
    ASSERT_TRUE(archive.Insert(later).Ok());

    std::string why;
    const std::optional<SkyPredictor> sky = SkyPredictor::Create(
        ParseTles(OverheadTle(kLat, kLon, overhead)).sets, {kLat, kLon, 0}, 0, why);
    ASSERT_TRUE(sky) << why;
    RetagResult r;
    std::int64_t progressed = 0;
    ASSERT_EQ(archive.Retag(*sky, r, [&](std::int64_t done, double) { progressed = done; }), "");
    EXPECT_EQ(r.tagged, 3);
    EXPECT_EQ(r.unplaced, 0);
    EXPECT_EQ(progressed, 3);
    EXPECT_GE(r.passes, 1);

    const Pass pass = *sky->PassAt(overhead);
    // Each row where the model puts it; the pass its AOS (none for the later frame).
    for (const std::int64_t t : {overhead - 60'000, overhead + 30'000, overhead + 3'600'000}) {
        SCOPED_TRACE(t);
        const SkyPoint at = *sky->At(t);
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db,
                                     "SELECT azimuth, elevation, range_km, range_rate_km_s, "
                                     "pass_aos FROM telemetry WHERE time = ?",
                                     -1, &st, nullptr),
                  SQLITE_OK);
        sqlite3_bind_double(st, 1, static_cast<double>(t) / 1000.0);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 0), at.azimuthDeg);
        EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 1), at.elevationDeg);
        EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 2), at.rangeKm);
        EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 3), at.rangeRateKmS);
        if (t < pass.losMs)
            EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 4),
                             static_cast<double>(pass.aosMs) / 1000.0);
        else
            EXPECT_EQ(sqlite3_column_type(st, 4), SQLITE_NULL);
        sqlite3_finalize(st);
    }
    // The predicted pass with what was heard of it: one frame on the way up, one down.
    const SkyPoint up = *sky->At(overhead - 60'000), down = *sky->At(overhead + 30'000);
    EXPECT_EQ(Row(db, "SELECT frames_heard, abs(lowest_elevation_up - " +
                          std::to_string(up.elevationDeg) +
                          ") < 1e-6, abs(lowest_elevation_down - " +
                          std::to_string(down.elevationDeg) +
                          ") < 1e-6, max_elevation > 85 FROM "
                          "passes WHERE aos = " +
                          std::to_string(pass.aosMs / 1000.0)),
              "2|1|1|1");
    // A second retag has nothing left to do.
    ASSERT_EQ(archive.Retag(*sky, r, {}, GetParam()), "");
    EXPECT_EQ(r.tagged, 0);
}
