// The limits' levels in the archive: older files brought up in place with
// their rows unchecked, and a red value seen in its hour, its pass, its
// series bucket and in the tool's series, from rows and summaries alike.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>

#include "archive/Archive.h"
#include "archive/ArchiveSchema.h"
#include "archive_support.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

constexpr int kBatt = 21, kUptime = 5;
constexpr std::int64_t kHour = 3'600'000;
const std::int64_t kT0 = UnixMilliseconds({2026, 12, 9, 10, 0, 0, 0});

FieldLevels AllAt(LimitLevel level) {
    FieldLevels l;
    l.fill(level);
    return l;
}

std::vector<LimitLevel> Worsts(const Series& s) {
    std::vector<LimitLevel> out;
    for (const SeriesBucket& b : s.buckets)
        out.push_back(b.worst);
    return out;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

} // namespace

TEST(ArchiveLevels, Versions1And2AreBroughtUpInPlaceTheirRowsUnchecked) {
    for (const int version : {1, 2}) {
        SCOPED_TRACE(version);
        TempDir dir;
        const std::string path = dir.File("tavrik-archive.sqlite");
        {
            // The file as that version made it: frames and their hour and pass.
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(CreateOrMigrate(db, 0, version), "");
            std::string sql;
            for (int i = 0; i < 4; ++i)
                sql += "INSERT INTO frame (time_ms, frame_hash, source, raw) VALUES (" +
                       std::to_string(kT0 + i * 10'000) + ", " + std::to_string(i) +
                       ", 'TAVRIK', x'00');";
            const std::string span = std::to_string(kT0) + ", " + std::to_string(kT0 + 30'000);
            sql += "INSERT INTO hour_summary (hour_ms, start_ms, end_ms, frames) VALUES (" +
                   std::to_string(kT0) + ", " + span + ", 4);";
            sql += "INSERT INTO pass_summary (start_ms, end_ms, frames) VALUES (" + span + ", 4);";
            ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        Archive archive;
        ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
        EXPECT_EQ(archive.MigratedFrom(), version);
        ArchiveExtent extent;
        ASSERT_EQ(archive.Extent({kT0, kT0 + kHour}, extent), "");
        EXPECT_EQ(extent.count, 4);
        std::vector<Summary> hours, passes;
        ASSERT_EQ(archive.QueryHours({kT0, kT0 + kHour}, hours), "");
        ASSERT_EQ(archive.QueryPasses({kT0, kT0 + kHour}, passes), "");
        ASSERT_EQ(hours.size(), 1u);
        ASSERT_EQ(passes.size(), 1u);
        EXPECT_EQ(hours[0].levels, AllAt(LimitLevel::Unchecked));
        EXPECT_EQ(passes[0].Worst(), LimitLevel::Unchecked);
        Series raw;
        ASSERT_EQ(archive.QuerySeries(kBatt, {kT0, kT0 + 40'000}, 100, raw), "");
        EXPECT_EQ(Worsts(raw), std::vector<LimitLevel>(4, LimitLevel::Unchecked));
        // The views show the column too, empty for the old rows.
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(archive.Handle(),
                                     "SELECT count(*), count(limit_levels) FROM telemetry", -1, &st,
                                     nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(st, 0), 4);
        EXPECT_EQ(sqlite3_column_int(st, 1), 0);
        sqlite3_finalize(st);
    }
}

TEST(ArchiveLevels, ARedValueMakesItsHourPassAndBucketRedInTheApiAndTheTool) {
    TempDir dir;
    const std::string path = dir.File("tavrik-archive.sqlite");
    Archive archive;
    ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
    std::mt19937_64 rng(3);
    // Hour 0: twenty frames in range, one red in Batt volts, one yellow in
    // Uptime, in two writes (the hour and the pass are merged). Hour 3: frames
    // stored without limits. Hour 6: a frame judged by the archive's judge.
    std::vector<ArchiveFrame> first, second, unchecked;
    for (int i = 0; i < 20; ++i) {
        ArchiveFrame f = RandomFrame(rng, kT0 + i * 10'000);
        f.levels = AllAt(LimitLevel::InRange);
        if (i == 12) (*f.levels)[kBatt] = LimitLevel::Red;
        if (i == 15) (*f.levels)[kUptime] = LimitLevel::Yellow;
        (i < 10 ? first : second).push_back(f);
    }
    for (int i = 0; i < 5; ++i)
        unchecked.push_back(RandomFrame(rng, kT0 + 3 * kHour + i * 10'000));
    ASSERT_TRUE(archive.Insert(first).Ok());
    ASSERT_TRUE(archive.Insert(second).Ok());
    ASSERT_TRUE(archive.Insert(unchecked).Ok());
    archive.SetJudge([](const std::array<double, kFieldCount>&) {
        FieldLevels l{};
        l[kBatt] = LimitLevel::Yellow;
        return l;
    });
    const std::vector<ArchiveFrame> judged{RandomFrame(rng, kT0 + 6 * kHour)};
    ASSERT_TRUE(archive.Insert(judged).Ok());

    const TimeRange all{kT0, kT0 + 7 * kHour};
    std::vector<Summary> hours, passes;
    ASSERT_EQ(archive.QueryHours(all, hours), "");
    ASSERT_EQ(archive.QueryPasses(all, passes), "");
    ASSERT_EQ(hours.size(), 3u);
    EXPECT_EQ(hours[0].levels[kBatt], LimitLevel::Red);
    EXPECT_EQ(hours[0].levels[kUptime], LimitLevel::Yellow);
    EXPECT_EQ(hours[0].levels[0], LimitLevel::InRange);
    EXPECT_EQ(hours[1].levels, AllAt(LimitLevel::Unchecked));
    EXPECT_EQ(hours[2].levels[kBatt], LimitLevel::Yellow);
    EXPECT_EQ(hours[2].levels[0], LimitLevel::Unchecked);
    std::vector<LimitLevel> passWorst;
    for (const Summary& p : passes)
        passWorst.push_back(p.Worst());
    EXPECT_EQ(passWorst, (std::vector<LimitLevel>{LimitLevel::Red, LimitLevel::Unchecked,
                                                  LimitLevel::Yellow}));

    // Hour buckets from the summaries; 10 s buckets from the rows.
    const std::vector<LimitLevel> byHour{LimitLevel::Red, LimitLevel::Unchecked,
                                         LimitLevel::Yellow};
    Series s;
    ASSERT_EQ(archive.QuerySeries(kBatt, all, 7, s), "");
    EXPECT_TRUE(s.fromSummaries);
    EXPECT_EQ(Worsts(s), byHour);
    ASSERT_EQ(archive.QuerySeries(kBatt, {kT0, kT0 + 200'000}, 20, s), "");
    EXPECT_FALSE(s.fromSummaries);
    std::vector<LimitLevel> rows(20, LimitLevel::InRange);
    rows[12] = LimitLevel::Red;
    EXPECT_EQ(Worsts(s), rows);
    archive.Close();

    // The tool, as a user runs it: the same words in its last column.
    const std::string tool = std::string(TAVRIK_ARCHIVE_TOOL) + " series " + path +
                             " 'Batt volts' --from 2026-12-09T10:00:00Z --to "
                             "2026-12-09T17:00:00Z --points 7";
    const std::string csv = Output(tool);
    EXPECT_NE(csv.find(",Worst\r\n"), std::string::npos) << csv;
    std::vector<std::string> words;
    for (std::size_t at = csv.find("\r\n"); at != std::string::npos && at + 2 < csv.size();) {
        const std::size_t end = csv.find("\r\n", at + 2);
        const std::string line = csv.substr(at + 2, end - at - 2);
        words.push_back(line.substr(line.rfind(',') + 1));
        at = end;
    }
    EXPECT_EQ(words, (std::vector<std::string>{"red", "unchecked", "yellow"})) << csv;
    const std::string json = Output(tool + " --format json");
    EXPECT_NE(json.find("\"Worst\":\"red\"}\n"), std::string::npos) << json;
    EXPECT_NE(json.find("\"Worst\":\"unchecked\"}\n"), std::string::npos) << json;
}
