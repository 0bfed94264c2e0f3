// The archive on real SQLite files: its schema as other programs see it,
// files it must leave alone, de-duplication, summaries against a brute-force
// scan, a lock held by another program and a full disk.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <sqlite3.h>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive/ArchiveWriter.h"
#include "archive_support.h"
#include "time/TimeArgument.h"

namespace tavrik {
namespace {

using testing::RandomFrame;
using testing::TempDir;
using testing::ValuesOf;

std::int64_t Count(Archive& a) {
    ArchiveExtent e;
    EXPECT_EQ(a.Extent({}, e), "");
    return e.count;
}

void Exec(sqlite3* db, const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
}

TEST(ArchiveSchema, NewFileIsVersionedInWalModeAndItsViewGivesTheDecodersValues) {
    TempDir dir;
    const std::string path = dir.File("a.sqlite");
    std::mt19937_64 rng(1);
    std::vector<ArchiveFrame> frames;
    for (int i = 0; i < 40; ++i)
        frames.push_back(RandomFrame(rng, 1'700'000'000'000 + i * 1500));
    {
        Archive a;
        ASSERT_EQ(a.Open(path, Archive::Access::Write), "");
        ASSERT_EQ(a.Insert(frames).added, 40);
    }
    // What the sqlite3 shell and Grafana read: the view, on a plain connection.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto one = [&](const char* sql) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        sqlite3_step(st);
        std::string v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return v;
    };
    EXPECT_EQ(one("PRAGMA application_id"), std::to_string(kArchiveApplicationId));
    EXPECT_EQ(one("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
    EXPECT_EQ(one("PRAGMA journal_mode"), "wal");
    std::string sql = "SELECT time, utc";
    for (int i = 0; i < kFieldCount; ++i)
        sql += ", " + FieldColumn(i);
    sql += " FROM telemetry ORDER BY time";
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    for (const ArchiveFrame& f : frames) {
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_double(st, 0), static_cast<double>(f.timeMs) / 1000.0);
        EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                  FormatIsoUtc(f.timeMs));
        const auto values = ValuesOf(f);
        for (int i = 0; i < kFieldCount; ++i) // exactly: the same operations as the decoder
            EXPECT_EQ(sqlite3_column_double(st, 2 + i), values[static_cast<std::size_t>(i)])
                << FieldColumn(i);
    }
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST(ArchiveSchema, FilesThatAreNotArchivesOfAKnownVersionAreRefusedAndLeftAsTheyAre) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* reason;
    };
    auto sqlite = [](const std::string& path, const std::string& sql) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        Exec(db, sql);
        sqlite3_close(db);
    };
    const Case cases[] = {
        {"a text file", [](const std::string& p) { testing::WriteAll(p, std::string(5000, 'x')); },
         "not a tavrik archive"},
        {"another program's database",
         [&](const std::string& p) { sqlite(p, "CREATE TABLE notes (t TEXT)"); },
         "another program's database"},
        {"a newer version",
         [&](const std::string& p) {
             Archive a;
             ASSERT_EQ(a.Open(p, Archive::Access::Write), "");
             a.Close();
             sqlite(p, "PRAGMA journal_mode = DELETE; PRAGMA user_version = " +
                           std::to_string(kArchiveSchemaVersion + 1));
         },
         "newer version"},
        {"a damaged archive",
         [&](const std::string& p) {
             Archive a;
             ASSERT_EQ(a.Open(p, Archive::Access::Write), "");
             a.Close();
             sqlite(p, "PRAGMA journal_mode = DELETE");
             std::string bytes = testing::ReadAll(p);
             std::fill(bytes.begin() + 16, bytes.begin() + 100, '\x7f');
             testing::WriteAll(p, bytes);
         },
         "is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("tavrik-archive.sqlite");
        c.make(path);
        const std::string before = testing::ReadAll(path);
        for (const auto access : {Archive::Access::Write, Archive::Access::Read}) {
            Archive a;
            const std::string why = a.Open(path, access);
            EXPECT_NE(why.find(c.reason), std::string::npos) << why;
            EXPECT_NE(why.find("left as it is"), std::string::npos) << why;
            EXPECT_FALSE(a.IsOpen());
        }
        EXPECT_EQ(testing::ReadAll(path), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
    }
}

TEST(ArchiveDedup, TheSameFrameAtTheSameTimeIsKeptOnceAnythingElseIsKept) {
    TempDir dir;
    Archive a;
    ASSERT_EQ(a.Open(dir.File("a.sqlite"), Archive::Access::Write), "");
    std::mt19937_64 rng(2);
    const ArchiveFrame f = RandomFrame(rng, 1'000'000);
    ArchiveFrame later = f, other = RandomFrame(rng, f.timeMs), foreign = f;
    later.timeMs += 1;
    foreign.data = testing::ForeignFrame();
    struct Step {
        std::vector<ArchiveFrame> frames;
        std::int64_t added, duplicates, refused;
    };
    const Step steps[] = {
        {{f, f}, 1, 1, 0},           // twice in one write
        {{f}, 0, 1, 0},              // again later
        {{later, other}, 2, 0, 0},   // same bytes at another time, other bytes at the same time
        {{foreign, later}, 0, 1, 1}, // a frame the decoder does not take is not stored
    };
    for (const Step& s : steps) {
        const WriteResult r = a.Insert(s.frames);
        ASSERT_TRUE(r.Ok()) << r.error;
        EXPECT_EQ(std::tuple(r.added, r.duplicates, r.refused),
                  std::tuple(s.added, s.duplicates, s.refused));
    }
    EXPECT_EQ(Count(a), 3);
    std::vector<Summary> passes, hours;
    a.QueryPasses({}, passes);
    a.QueryHours({}, hours);
    ASSERT_EQ(passes.size(), 1u);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_EQ(passes[0].count + hours[0].count, 6);
}

// The brute force: frames sorted, passes cut at gaps over the limit, stats by plain loops.
Summary Scan(const std::vector<std::pair<std::int64_t, std::array<double, kFieldCount>>>& frames) {
    Summary s;
    s.startMs = frames.front().first;
    s.endMs = frames.back().first;
    s.count = static_cast<std::int64_t>(frames.size());
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        FieldStats& f = s.fields[i];
        f = {frames[0].second[i], frames[0].second[i], 0, frames[0].first, frames[0].first};
        for (const auto& [t, v] : frames) { // in time order: the first extreme keeps its time
            if (v[i] < f.min) f.min = v[i], f.minMs = t;
            if (v[i] > f.max) f.max = v[i], f.maxMs = t;
            f.sum += v[i];
        }
    }
    return s;
}

void ExpectSame(const Summary& got, const Summary& want) {
    ASSERT_EQ(std::tuple(got.startMs, got.endMs, got.count),
              std::tuple(want.startMs, want.endMs, want.count));
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldStats &g = got.fields[static_cast<std::size_t>(i)],
                         &w = want.fields[static_cast<std::size_t>(i)];
        EXPECT_EQ(std::tuple(g.min, g.minMs, g.max, g.maxMs),
                  std::tuple(w.min, w.minMs, w.max, w.maxMs))
            << FieldColumn(i);
        EXPECT_NEAR(got.Average(i), want.Average(i), 1e-9 * (1 + std::fabs(want.Average(i))));
    }
}

TEST(ArchiveSummaries, PassesHoursAndSeriesMatchABruteForceScanWhateverTheArrivalOrder) {
    TempDir dir;
    Archive a;
    ASSERT_EQ(a.Open(dir.File("a.sqlite"), Archive::Access::Write), "");
    std::mt19937_64 rng(3);
    // Passes of frames a few seconds apart, separated by gaps at and around
    // the limit; the values repeat often, so ties of extremes are common.
    const std::int64_t gaps[] = {kPassGapMs, kPassGapMs + 1, kPassGapMs - 1, 3 * kHourMs, 7};
    std::vector<ArchiveFrame> frames;
    std::int64_t t = 1'760'000'000'000;
    for (int pass = 0; pass < 40; ++pass) {
        const int n = 1 + static_cast<int>(rng() % 60);
        for (int k = 0; k < n; ++k) {
            if (k > 0) t += 1 + static_cast<std::int64_t>(rng() % 20000);
            frames.push_back(RandomFrame(rng, t));
            frames.back().data[65] = static_cast<std::uint8_t>(rng() % 4); // Batt volts, low byte
        }
        t += gaps[rng() % std::size(gaps)]; // from the pass's last frame
    }
    // Arrival in random order and random writes: frames bridge stored passes.
    std::vector<ArchiveFrame> shuffled = frames;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (std::size_t i = 0; i < shuffled.size();) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 200, shuffled.size() - i);
        ASSERT_TRUE(a.Insert({shuffled.data() + i, n}).Ok());
        i += n;
    }
    using Rows = std::vector<std::pair<std::int64_t, std::array<double, kFieldCount>>>;
    Rows sorted;
    for (const ArchiveFrame& f : frames)
        sorted.emplace_back(f.timeMs, ValuesOf(f));
    std::vector<Rows> passes(1);
    std::map<std::int64_t, Rows> hours;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0 && sorted[i].first - sorted[i - 1].first > kPassGapMs) passes.emplace_back();
        passes.back().push_back(sorted[i]);
        hours[sorted[i].first / kHourMs * kHourMs].push_back(sorted[i]);
    }
    std::vector<Summary> got;
    ASSERT_EQ(a.QueryPasses({}, got), "");
    ASSERT_EQ(got.size(), passes.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ExpectSame(got[i], Scan(passes[i]));
    ASSERT_EQ(a.QueryHours({}, got), "");
    ASSERT_EQ(got.size(), hours.size());
    std::size_t h = 0;
    for (const auto& [hour, rows] : hours)
        ExpectSame(got[h++], Scan(rows));
    // A range inside: the passes that overlap it, nothing else.
    const TimeRange middle{sorted[sorted.size() / 3].first, sorted[sorted.size() / 2].first};
    ASSERT_EQ(a.QueryPasses(middle, got), "");
    std::size_t overlapping = 0;
    for (const Rows& p : passes)
        overlapping += p.back().first >= middle.fromMs && p.front().first < middle.toMs;
    EXPECT_EQ(got.size(), overlapping);

    // Series, from rows (short buckets) and from hour summaries (long ones).
    const int batt = *FieldByName("Batt volts");
    for (const int points : {50, 7, 1000000}) {
        SCOPED_TRACE(points);
        const TimeRange range{sorted[5].first, sorted[sorted.size() - 5].first};
        Series s;
        ASSERT_EQ(a.QuerySeries(batt, range, points, s), "");
        EXPECT_EQ(s.fromSummaries, s.bucketMs >= kHourMs);
        std::map<std::int64_t, std::vector<double>> want; // bucket start -> values
        const std::int64_t firstHour = range.fromMs / kHourMs * kHourMs;
        for (const auto& [time, v] : sorted) {
            // Summaries take whole hours: those beginning in the range.
            const std::int64_t key = s.fromSummaries ? time / kHourMs * kHourMs : time;
            if (key < (s.fromSummaries ? firstHour : range.fromMs) || key >= range.toMs) continue;
            want[key / s.bucketMs * s.bucketMs].push_back(v[static_cast<std::size_t>(batt)]);
        }
        ASSERT_EQ(s.buckets.size(), want.size());
        auto b = s.buckets.begin();
        for (const auto& [start, values] : want) {
            double sum = 0;
            for (double v : values)
                sum += v;
            EXPECT_EQ(std::tuple(b->startMs, b->count, b->min, b->max),
                      std::tuple(start, static_cast<std::int64_t>(values.size()),
                                 *std::min_element(values.begin(), values.end()),
                                 *std::max_element(values.begin(), values.end())));
            EXPECT_NEAR(b->avg, sum / static_cast<double>(values.size()), 1e-9 * std::fabs(b->avg));
            ++b;
        }
    }
}

TEST(ArchiveLock, AWriteWaitsForAnotherProgramsLockThenFailsWithTheReasonReadsGoOn) {
    TempDir dir;
    const std::string path = dir.File("a.sqlite");
    std::mt19937_64 rng(4);
    Archive holder, writer, reader;
    ASSERT_EQ(holder.Open(path, Archive::Access::Write), "");
    ASSERT_TRUE(holder.Insert(std::vector{RandomFrame(rng, 1000)}).Ok());
    ASSERT_EQ(writer.Open(path, Archive::Access::Write, 200), "");
    ASSERT_EQ(reader.Open(path, Archive::Access::Read), "");
    Exec(holder.Handle(), "BEGIN IMMEDIATE");
    Exec(holder.Handle(), "DELETE FROM frame");
    const WriteResult r = writer.Insert(std::vector{RandomFrame(rng, 2000)});
    EXPECT_EQ(r.failure, WriteResult::Failure::Busy);
    EXPECT_NE(r.error.find("locked by another program"), std::string::npos) << r.error;
    EXPECT_EQ(Count(reader), 1); // the last committed state, not the open write
    Exec(holder.Handle(), "ROLLBACK");
    EXPECT_TRUE(writer.Insert(std::vector{RandomFrame(rng, 2000)}).Ok());
    EXPECT_EQ(Count(reader), 2);
}

// Runs in a mount namespace with a 2 MiB tmpfs (see CMakeLists.txt).
TEST(FullDisk, AWriteThatDoesNotFitIsReportedAndTheArchiveStaysWhole) {
    const char* folder = std::getenv("ARCHIVE_FULL_DISK_DIR");
    if (!folder) GTEST_SKIP() << "needs ARCHIVE_FULL_DISK_DIR (ctest runs it on a small tmpfs)";
    const std::string path = std::string(folder) + "/tavrik-archive.sqlite";
    std::mt19937_64 rng(5);
    std::int64_t added = 0;
    {
        ArchiveWriter writer;
        ASSERT_EQ(writer.Start(path), "");
        std::vector<ArchiveNews> news;
        for (int i = 0; i < 20000 && news.empty(); ++i) {
            writer.Post(RandomFrame(rng, 1000 * i));
            if (i % 50 == 0) writer.Flush(), news = writer.TakeNews();
        }
        writer.Flush();
        ASSERT_FALSE(news.empty()) << "the disk never filled";
        EXPECT_EQ(news[0].failure, WriteResult::Failure::Full) << news[0].text;
        // The archive gives way before the disk is full: the KISS log gets the rest.
        EXPECT_NE(news[0].text.find("leaves the room to the KISS log"), std::string::npos)
            << news[0].text;
        // Its WAL was emptied after every write as the disk filled: what is
        // left of the disk is for the KISS log.
        std::error_code ec;
        EXPECT_LE(std::filesystem::file_size(path + "-wal", ec), 64u * 1024);
        EXPECT_GE(std::filesystem::space(folder).available, 64u * 1024);
        added = writer.Counts().archived;
    }
    Archive a;
    ASSERT_EQ(a.Open(path, Archive::Access::Read), "");
    EXPECT_EQ(Count(a), added);
    std::vector<Summary> passes;
    ASSERT_EQ(a.QueryPasses({}, passes), "");
    std::int64_t inPasses = 0;
    for (const Summary& p : passes)
        inPasses += p.count;
    EXPECT_EQ(inPasses, added);
}

} // namespace
} // namespace tavrik
