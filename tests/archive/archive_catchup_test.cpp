// KISS logs into the archive: marks that survive a stop at any slice, a log
// still being written, the writer's catch-up beside live frames, and the
// once-a-minute error line.
#include <gtest/gtest.h>

#include "archive/Archive.h"
#include "archive/ArchiveImport.h"
#include "archive/ArchiveWriter.h"
#include "archive/LogThrottle.h"
#include "archive_support.h"
#include "files/Kiss.h"
#include "time/TimeArgument.h"

namespace tavrik {
namespace {

using testing::RandomFrame;
using testing::TempDir;

using testing::Log;
using testing::MakeLog;
using testing::Times;

TEST(ArchiveImport, AStopAfterAnySliceLosesNothingAndTakesNothingTwice) {
    std::mt19937_64 rng(6);
    const Log log = MakeLog(rng, 40, 1'700'000'000'000, 17);
    for (const std::size_t slice : {1, 2, 3, 7, 100}) {
        SCOPED_TRACE(slice);
        TempDir dir;
        const std::string kiss = dir.File("log.kss");
        testing::WriteAll(kiss, log.bytes);
        Archive a;
        ASSERT_EQ(a.Open(dir.File("a.sqlite"), Archive::Access::Write), "");
        // One slice, then a fresh start from the mark, as after a kill.
        std::int64_t withoutTime = 0, duplicates = 0;
        for (bool more = true; more;) {
            ArchiveImport import;
            ASSERT_EQ(import.Open(kiss, a.ArchivedTo(kiss)), "");
            WriteResult r;
            more = import.Slice(a, slice, r);
            ASSERT_TRUE(r.Ok()) << r.error;
            withoutTime += import.Counts().withoutTime;
            duplicates += import.Counts().duplicates;
        }
        EXPECT_EQ(Times(a), Times(log.frames));
        EXPECT_EQ(withoutTime, 1);
        EXPECT_EQ(duplicates, 0);
        EXPECT_EQ(a.ArchivedTo(kiss), log.bytes.size());
    }
}

TEST(ArchiveImport, ALogStillBeingWrittenIsTakenUpToItsLastWholeRecordAndLaterOn) {
    std::mt19937_64 rng(7);
    const Log log = MakeLog(rng, 12, 1'700'000'000'000);
    TempDir dir;
    const std::string kiss = dir.File("log.kss");
    Archive a;
    ASSERT_EQ(a.Open(dir.File("a.sqlite"), Archive::Access::Write), "");
    // Cut inside the last frame record, then between a timestamp and its frame.
    const std::size_t lastFrame = log.bytes.rfind('\xC0', log.bytes.size() - 2);
    const std::size_t cuts[] = {log.bytes.size() - 5, lastFrame + 1, log.bytes.size()};
    for (const std::size_t cut : cuts) {
        testing::WriteAll(kiss, log.bytes.substr(0, cut));
        ArchiveImport import;
        ASSERT_EQ(import.Open(kiss, a.ArchivedTo(kiss)), "");
        WriteResult r;
        while (import.Slice(a, 1000, r)) {
        }
        ASSERT_TRUE(r.Ok());
        EXPECT_EQ(import.Counts().withoutTime, 0);
        EXPECT_LT(a.ArchivedTo(kiss), cut == log.bytes.size() ? cut + 1 : cut);
    }
    EXPECT_EQ(Times(a), Times(log.frames));
}

TEST(ArchiveWriter, CatchUpAndLiveFramesTogetherLeaveEveryFrameOnce) {
    TempDir dir;
    std::mt19937_64 rng(8);
    const Log old1 = MakeLog(rng, 300, 1'700'000'000'000, 3);
    const Log old2 = MakeLog(rng, 200, 1'700'100'000'000);
    const Log live = MakeLog(rng, 50, 1'700'200'000'000);
    testing::WriteAll(dir.File("A_01.kss"), old1.bytes);
    testing::WriteAll(dir.File("A_02.kss"), old2.bytes);
    testing::WriteAll(dir.File("A_03.kss"), live.bytes);
    testing::WriteAll(dir.File("notes.txt"), "not a log");
    const std::string path = dir.File("tavrik-archive.sqlite");
    const auto unique =
        static_cast<std::int64_t>(old1.frames.size() + old2.frames.size() + live.frames.size());
    const auto posted = static_cast<std::int64_t>(live.frames.size()) + 1;
    for (int run = 0; run < 2; ++run) {
        ArchiveWriter writer(ArchiveWriter::Options{.queueCapacity = 1000, .sliceFrames = 37});
        ASSERT_EQ(writer.Start(path), "");
        // The run's own log (A_03) is in the folder too: its frames come both ways.
        writer.CatchUp(KissLogsIn(dir.path));
        for (const ArchiveFrame& f : live.frames)
            ASSERT_TRUE(writer.Post(f));
        ASSERT_TRUE(writer.Post(old2.frames[5])); // heard live, and in an old log
        writer.Flush();
        const ArchiveWriterCounts c = writer.Counts();
        const std::vector<ArchiveNews> news = writer.TakeNews();
        ASSERT_FALSE(news.empty());
        const ArchiveNews& done = news.back();
        EXPECT_EQ(done.kind, ArchiveNews::Kind::CatchUpDone);
        EXPECT_EQ(c.archived + c.duplicates, posted);
        if (run == 0) {
            EXPECT_EQ(c.archived + c.caughtUp, unique);
            EXPECT_NE(done.text.find("3 of 3 KISS log(s) read"), std::string::npos) << done.text;
            EXPECT_NE(done.text.find("1 without a reception time"), std::string::npos);
        } else { // the marks say every log is done
            EXPECT_EQ(std::tuple(c.archived, c.caughtUp), std::tuple(0, 0));
            EXPECT_NE(done.text.find("0 of 0 KISS log(s) read"), std::string::npos) << done.text;
        }
    }
    Archive a;
    ASSERT_EQ(a.Open(path, Archive::Access::Read), "");
    std::vector<ArchiveFrame> all = old1.frames;
    all.insert(all.end(), old2.frames.begin(), old2.frames.end());
    all.insert(all.end(), live.frames.begin(), live.frames.end());
    EXPECT_EQ(Times(a), Times(all));
}

TEST(LogThrottle, OneLineAMinuteSayingHowManyWereHeldBack) {
    LogThrottle t;
    const struct {
        std::int64_t at;
        const char* want; // nullptr: held back
    } steps[] = {{0, "full"},      {1000, nullptr},
                 {59999, nullptr}, {60000, "full (2 more like it since the last line)"},
                 {61000, nullptr}, {200000, "full (1 more like it since the last line)"},
                 {400000, "full"}};
    for (const auto& s : steps) {
        const auto line = t.Pass(s.at, "full");
        EXPECT_EQ(line.has_value(), s.want != nullptr) << s.at;
        if (line && s.want) {
            EXPECT_EQ(*line, s.want);
        }
    }
}

} // namespace
} // namespace tavrik
