// The limits' levels in the archive: older files brought up with their rows
// unchecked; a red value seen in its hour, pass and bucket, and in the tool.
#include <cstdio>
#include <gtest/gtest.h>
#include <regex>
#include <sqlite3.h>

#include "archive/ArchiveSchema.h"
#include "archive_support.h"

using namespace tavrik;
using namespace tavrik::testing;
using L = LimitLevel;

namespace {
constexpr int kBatt = 21;
constexpr std::int64_t kHour = 3'600'000;
const std::int64_t kT0 = UnixMilliseconds({2026, 12, 9, 10, 0, 0, 0});

std::vector<L> Worsts(Archive& a, TimeRange range, int points, bool summaries) {
    Series s;
    EXPECT_EQ(a.QuerySeries(kBatt, range, points, s), "");
    EXPECT_EQ(s.fromSummaries, summaries);
    std::vector<L> out;
    for (const SeriesBucket& b : s.buckets)
        out.push_back(b.worst);
    return out;
}
} // namespace

TEST(ArchiveLevels, Versions1And2AreBroughtUpInPlaceTheirRowsUnchecked) {
    for (const int version : {1, 2}) {
        TempDir dir;
        const std::string path = dir.File("tavrik-archive.sqlite");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(CreateOrMigrate(db, 0, version), ""); // the file as that version made it
        const std::string t0 = std::to_string(kT0), span = t0 + ", " + std::to_string(kT0 + 3);
        const std::string sql =
            "INSERT INTO frame (time_ms, frame_hash, source, raw) VALUES (" + t0 +
            ", 1, 'T', x'00'), (" + std::to_string(kT0 + 3) + ", 2, 'T', x'00'); " +
            "INSERT INTO hour_summary (hour_ms, start_ms, end_ms, frames) VALUES (" + t0 + ", " +
            span + ", 2); INSERT INTO pass_summary (start_ms, end_ms, frames) VALUES (" + span +
            ", 2)";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        Archive archive;
        ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
        EXPECT_EQ(archive.MigratedFrom(), version);
        std::vector<Summary> hours, passes;
        ASSERT_EQ(archive.QueryHours({kT0, kT0 + kHour}, hours), "");
        ASSERT_EQ(archive.QueryPasses({kT0, kT0 + kHour}, passes), "");
        ASSERT_EQ(std::pair(hours.size(), passes.size()),
                  (std::pair<std::size_t, std::size_t>(1, 1)));
        EXPECT_EQ(hours[0].count, 2);
        EXPECT_EQ(hours[0].levels, FieldLevels{});
        EXPECT_EQ(passes[0].Worst(), L::Unchecked);
        EXPECT_EQ(Worsts(archive, {kT0, kT0 + 10}, 10, false), std::vector<L>(2, L::Unchecked));
    }
}

TEST(ArchiveLevels, ARedValueMakesItsHourPassAndBucketRedInTheApiAndTheTool) {
    TempDir dir;
    const std::string path = dir.File("tavrik-archive.sqlite");
    Archive archive;
    ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
    std::mt19937_64 rng(3);
    // Hour 0: 20 frames judged in range, one red, in two writes (summaries
    // merged); hour 3: frames stored without limits; hour 6: one the judge judges.
    for (const int part : {0, 1, 3, 6}) {
        std::vector<ArchiveFrame> frames;
        for (int i = 0; i < 10; ++i) {
            const std::int64_t t = part < 3 ? kT0 + (part * 10 + i) * 10'000 : kT0 + part * kHour;
            frames.push_back(RandomFrame(rng, t + i));
            if (part >= 3) continue;
            frames.back().levels.emplace().fill(L::InRange);
            if (part == 1 && i == 2) (*frames.back().levels)[kBatt] = L::Red;
        }
        if (part == 6)
            archive.SetJudge([](const auto&) {
                FieldLevels l{};
                l[kBatt] = L::Yellow;
                return l;
            });
        ASSERT_TRUE(archive.Insert(frames).Ok());
    }
    const TimeRange all{kT0, kT0 + 7 * kHour};
    std::vector<Summary> hours, passes;
    ASSERT_EQ(archive.QueryHours(all, hours), "");
    ASSERT_EQ(archive.QueryPasses(all, passes), "");
    ASSERT_EQ(std::pair(hours.size(), passes.size()), (std::pair<std::size_t, std::size_t>(3, 3)));
    const std::vector<L> byHour{L::Red, L::Unchecked, L::Yellow};
    EXPECT_EQ(
        (std::vector<L>{hours[0].levels[kBatt], hours[1].levels[kBatt], hours[2].levels[kBatt]}),
        byHour);
    EXPECT_EQ(hours[0].levels[0], L::InRange);
    EXPECT_EQ((std::vector<L>{passes[0].Worst(), passes[1].Worst(), passes[2].Worst()}), byHour);
    EXPECT_EQ(Worsts(archive, all, 7, true), byHour);
    std::vector<L> rows(20, L::InRange);
    rows[12] = L::Red;
    EXPECT_EQ(Worsts(archive, {kT0, kT0 + 200'000}, 20, false), rows);
    archive.Close();

    // The tool as a user runs it: the same words in its last column.
    for (const std::string format : {"csv", "json"}) {
        const std::string command = std::string(TAVRIK_ARCHIVE_TOOL) + " series " + path +
                                    " 'Batt volts' --from 2026-12-09T10:00Z --to "
                                    "2026-12-09T17:00Z --points 7 --format " +
                                    format;
        std::string out(8192, '\0');
        FILE* p = ::popen(command.c_str(), "r");
        out.resize(p ? std::fread(out.data(), 1, out.size(), p) : 0);
        if (p) ::pclose(p);
        const char* want = format == "csv" ? ",Worst\r\n[^\n]*,red\r\n[^\n]*,unchecked\r\n[^\n]*,"
                                             "yellow\r\n$"
                                           : "^[^\n]*\"Worst\":\"red\"\\}\n[^\n]*\"Worst\":"
                                             "\"unchecked\"\\}\n[^\n]*\"Worst\":\"yellow\"\\}\n$";
        EXPECT_TRUE(std::regex_search(out, std::regex(want))) << out;
    }
}
