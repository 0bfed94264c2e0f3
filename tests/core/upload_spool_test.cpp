#include <gtest/gtest.h>

#include <filesystem>

#include "core_test_support.h"
#include "upload/UploadLane.h"
#include "upload/UploadSpool.h"

namespace tavrik {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::unique_ptr<UploadSpool> OpenSpool(const fs::path& dir, SpoolLimits limits = {}) {
    std::string why;
    auto spool = UploadSpool::Open(dir, limits, why);
    EXPECT_TRUE(spool) << why;
    return spool;
}

std::vector<std::string> Drain(UploadSpool& spool) {
    std::vector<std::string> out;
    while (const std::string* body = spool.Front()) {
        out.push_back(*body);
        EXPECT_TRUE(spool.PopFront());
    }
    return out;
}

fs::path LastSegment(const fs::path& dir) {
    fs::path last;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".seg" && e.path() > last) last = e.path();
    return last;
}

TEST(UploadSpool, RestartResumesWithTheOriginalBodiesAcrossSegments) {
    TempDir dir;
    const SpoolLimits small{.segmentBytes = 100, .ackRecordsPerJournal = 3};
    {
        auto spool = OpenSpool(dir.Path(), small);
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(spool->Append("body " + std::to_string(i)), UploadSpool::AddResult::Added);
        for (int i = 0; i < 7; ++i)
            ASSERT_TRUE(spool->PopFront());
    } // no Sync: what a kill leaves in the files must be enough
    auto spool = OpenSpool(dir.Path(), small);
    EXPECT_EQ(spool->Count(), 13u);
    const std::vector<std::string> rest = Drain(*spool);
    ASSERT_EQ(rest.size(), 13u);
    EXPECT_EQ(rest.front(), "body 7");
    EXPECT_EQ(rest.back(), "body 19");
    // Fully acknowledged segments are gone; the one taking appends stays.
    EXPECT_EQ(spool->Segments(), 1u);
    spool->Append("after");
    spool.reset();
    spool = OpenSpool(dir.Path(), small);
    EXPECT_EQ(Drain(*spool), std::vector<std::string>{"after"});
}

TEST(UploadSpool, TornTailIsCutOffAndLaterAppendsSurvive) {
    struct Case {
        const char* name;
        int cut;             // bytes taken off the end
        std::string garbage; // bytes added after that
        std::size_t survivors;
    };
    const Case cases[] = {
        {"half a header", 25, "", 2},
        {"half a payload", 3, "", 2},
        {"garbage after whole records", 0, std::string("TUQ1\x05\0\0\0xx", 10), 3},
        {"flipped payload byte", 1, "#", 2},
    };
    for (const Case& c : cases) {
        TempDir dir;
        {
            auto spool = OpenSpool(dir.Path());
            for (const char* b : {"one", "two", "three"})
                spool->Append(b);
        }
        const fs::path seg = LastSegment(dir.Path());
        fs::resize_file(seg, fs::file_size(seg) - static_cast<std::uintmax_t>(c.cut));
        std::ofstream(seg, std::ios::binary | std::ios::app) << c.garbage;
        auto spool = OpenSpool(dir.Path());
        EXPECT_EQ(spool->Count(), c.survivors) << c.name;
        spool->Append("four");
        spool.reset();
        spool = OpenSpool(dir.Path());
        std::vector<std::string> expected = {"one", "two", "three"};
        expected.resize(c.survivors);
        expected.push_back("four");
        EXPECT_EQ(Drain(*spool), expected) << c.name;
    }
}

TEST(UploadSpool, TornAcknowledgementSendsThatEntryAgainOnly) {
    TempDir dir;
    {
        auto spool = OpenSpool(dir.Path());
        for (const char* b : {"a", "b", "c"})
            spool->Append(b);
        spool->PopFront();
        spool->PopFront();
    }
    fs::resize_file(dir.Path() / "ack.log", 12 + 5);
    auto spool = OpenSpool(dir.Path());
    EXPECT_EQ(Drain(*spool), (std::vector<std::string>{"b", "c"}));
}

TEST(UploadSpool, RefusesBeyondItsBound) {
    TempDir dir;
    auto spool = OpenSpool(dir.Path(), {.segmentBytes = 64, .maxBytes = 100});
    EXPECT_EQ(spool->Append(std::string(40, 'x')), UploadSpool::AddResult::Added);
    EXPECT_EQ(spool->Append(std::string(40, 'y')), UploadSpool::AddResult::Full);
    spool->PopFront();
    EXPECT_EQ(spool->Append(std::string(10, 'z')), UploadSpool::AddResult::Added);
}

TEST(UploadLane, BacksOffUntilDeliveredAndLogsGrowthAndDrain) {
    TempDir dir;
    std::chrono::milliseconds now{1000};
    std::vector<std::string> log;
    UploadLane lane(
        "http://a/", OpenSpool(dir.Path()), [&] { return now; },
        [&](const std::string& t) { log.push_back(t); });
    lane.Enqueue("f1");
    lane.Enqueue("f2");
    std::vector<long> pauses;
    for (int i = 0; i < 9; ++i) {
        ASSERT_NE(lane.StartNext(), nullptr);
        EXPECT_EQ(lane.StartNext(), nullptr); // one request at a time
        lane.Finish(UploadOutcome::Transient);
        EXPECT_EQ(lane.StartNext(), nullptr);
        pauses.push_back(static_cast<long>(lane.RetryIn().count() / 1000));
        now += lane.RetryIn();
    }
    EXPECT_EQ(pauses, (std::vector<long>{5, 10, 20, 40, 80, 160, 320, 600, 600}));
    EXPECT_EQ(*lane.StartNext(), "f1"); // the same entry again
    lane.Finish(UploadOutcome::Delivered);
    EXPECT_EQ(*lane.StartNext(), "f2"); // no pause after a delivery
    lane.Finish(UploadOutcome::Permanent);
    EXPECT_EQ(lane.Count(), 0u);
    // The first failure, then how far behind once a minute at most, then the drain.
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log.front(), "Upload queue for http://a/ growing: 2 waiting, next try in 5 s");
    EXPECT_EQ(log[1], "Upload queue for http://a/: 2 waiting, next try in 80 s");
    // f2 was refused for good: dropped, not counted as sent.
    EXPECT_EQ(log.back(), "Upload queue for http://a/ drained: 1 queued uploads sent, 1 refused "
                          "by the server and dropped");
}

} // namespace
} // namespace tavrik
