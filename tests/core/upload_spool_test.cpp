#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core_test_support.h"
#include "upload/SpoolRecord.h"
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

// Damaged or removed files: every whole record still goes out, in order,
// and what was lost is said.
std::vector<std::string> Bodies(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back("upload number " + std::to_string(i));
    return out;
}

std::vector<fs::path> SegmentFiles(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".seg") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

void FlipByte(const fs::path& file, std::uint64_t offset) {
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.seekg(static_cast<std::streamoff>(offset));
    const char c = static_cast<char>(f.get() ^ 0x5A);
    f.seekp(static_cast<std::streamoff>(offset));
    f.put(c);
}

std::string Notes(UploadSpool& spool) {
    std::string s;
    for (const auto& l : spool.TakeNotes())
        s += l + "\n";
    return s;
}

// Record i of a queue of equal bodies starts at i * (header + body).
TEST(UploadSpool, AFlippedByteCostsItsRecordOnly) {
    const std::vector<std::string> bodies = Bodies(100); // "upload number NN" is 16 bytes
    const std::uint64_t recordBytes = 20 + 16;
    struct Case {
        const char* name;
        SpoolLimits limits;
        int segment;          // which segment file, oldest first
        std::uint64_t offset; // within it
        int lost;             // index of the body that goes
    };
    const Case cases[] = {
        {"payload of record 50, one segment", {}, 0, 49 * recordBytes + 25, 49},
        {"length of record 50, one segment", {}, 0, 49 * recordBytes + 5, 49},
        {"magic of record 1", {}, 0, 0, 0},
        {"oldest of two segments", {.segmentBytes = 60 * recordBytes}, 0, 30 * recordBytes + 9, 30},
        {"last record of the newest segment",
         {.segmentBytes = 60 * recordBytes},
         1,
         39 * recordBytes + 30,
         99},
    };
    for (const Case& c : cases) {
        TempDir dir;
        {
            auto spool = OpenSpool(dir.Path(), c.limits);
            for (const auto& b : bodies)
                spool->Append(b);
        }
        FlipByte(SegmentFiles(dir.Path()).at(static_cast<std::size_t>(c.segment)), c.offset);
        auto spool = OpenSpool(dir.Path(), c.limits);
        std::vector<std::string> expected = bodies;
        expected.erase(expected.begin() + c.lost);
        EXPECT_EQ(Drain(*spool), expected) << c.name;
        const std::string notes = Notes(*spool);
        // The last record of the newest segment reads as torn: cut off, not damage.
        if (c.lost != 99) {
            EXPECT_NE(notes.find("1 waiting upload unreadable"), std::string::npos)
                << c.name << ": " << notes;
        }
    }
}

TEST(UploadSpool, DamageFoundWhileRunningIsSkippedAndSendingGoesOn) {
    TempDir dir;
    auto spool = OpenSpool(dir.Path());
    for (const auto& b : Bodies(5))
        spool->Append(b);
    FlipByte(SegmentFiles(dir.Path()).at(0), 36 + 30);
    EXPECT_EQ(Drain(*spool), (std::vector<std::string>{"upload number 0", "upload number 2",
                                                       "upload number 3", "upload number 4"}));
    EXPECT_EQ(spool->Count(), 0u);
    spool->Append("later");
    EXPECT_EQ(Drain(*spool), std::vector<std::string>{"later"});
}

TEST(UploadSpool, ADamagedAcknowledgementCostsAtMostOneDuplicate) {
    for (const std::uint64_t flipAt : {0ull, 12ull * 70 + 3}) { // the first and the last of 71
        TempDir dir;
        const std::vector<std::string> bodies = Bodies(100);
        {
            auto spool = OpenSpool(dir.Path());
            for (const auto& b : bodies)
                spool->Append(b);
            for (int i = 0; i < 71; ++i)
                spool->PopFront();
        }
        FlipByte(dir.Path() / "ack.log", flipAt);
        auto spool = OpenSpool(dir.Path());
        const std::vector<std::string> sent = Drain(*spool);
        ASSERT_GE(sent.size(), 29u);
        EXPECT_LE(sent.size(), 30u) << "at byte " << flipAt;
        EXPECT_EQ(sent.back(), bodies.back());
        EXPECT_NE(Notes(*spool).find("1 damaged acknowledgement"), std::string::npos);
    }
}

TEST(UploadSpool, AnUnreadableSegmentIsMovedAsideNotDeleted) {
    TempDir dir;
    const SpoolLimits limits{.segmentBytes = 10 * 36};
    {
        auto spool = OpenSpool(dir.Path(), limits);
        for (const auto& b : Bodies(30))
            spool->Append(b);
    }
    const fs::path middle = SegmentFiles(dir.Path()).at(1);
    std::ofstream(middle, std::ios::binary | std::ios::trunc) << std::string(360, '\0');
    auto spool = OpenSpool(dir.Path(), limits);
    const std::vector<std::string> sent = Drain(*spool);
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(sent[10], "upload number 20");
    EXPECT_EQ(fs::file_size(dir.Path() / "damaged" /
                            (dir.Path().filename().string() + "-" + middle.filename().string())),
              360u);
    EXPECT_NE(Notes(*spool).find("10 waiting upload"), std::string::npos);
}

TEST(UploadSpool, ARemovedFolderIsMadeAgainWithWhatIsStillHeld) {
    TempDir dir;
    const fs::path folder = dir.Path() / "upload_queue" / "server";
    auto spool = OpenSpool(folder);
    std::string why;
    ASSERT_TRUE(spool->KeepFile("server.url", "http://a/", why)) << why;
    const std::vector<std::string> bodies = Bodies(10);
    for (const auto& b : bodies)
        spool->Append(b);
    for (int i = 0; i < 3; ++i)
        spool->PopFront();
    ASSERT_EQ(*spool->Front(), bodies[3]); // in flight while the folder goes
    fs::remove_all(dir.Path() / "upload_queue");
    EXPECT_EQ(spool->Append("new"), UploadSpool::AddResult::Added);
    EXPECT_EQ(Notes(*spool),
              "the folder " + folder.string() +
                  " removed while running: made again, 7 waiting uploads written again\n");
    spool->PopFront(); // the one in flight
    spool.reset();
    spool = OpenSpool(folder);
    std::vector<std::string> rest(bodies.begin() + 4, bodies.end());
    rest.push_back("new");
    EXPECT_EQ(Drain(*spool), rest);
    std::ifstream url(folder / "server.url");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(url), {}), "http://a/");
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

// Queues written by every earlier version must still read: the checksum is
// the standard CRC-32 (zlib's), whatever way it is computed, at every length
// and split.
TEST(SpoolChecksum, IsTheStandardCrc32) {
    std::string pattern(1000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    const struct {
        std::string_view bytes;
        std::uint32_t crc;
    } cases[] = {
        {"", 0},
        {"123456789", 0xCBF43926u},
        {std::string_view(pattern).substr(0, 13), 0xA97AD5C1u},
        {pattern, 0x17BC2A46u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tavrik::Crc32(c.bytes), c.crc) << c.bytes.size() << " bytes";
        // In two pieces, as a record's id and payload are.
        for (std::size_t cut : {std::size_t{1}, std::size_t{8}, c.bytes.size() / 2})
            if (cut <= c.bytes.size()) {
                EXPECT_EQ(tavrik::Crc32(c.bytes.substr(cut), tavrik::Crc32(c.bytes.substr(0, cut))),
                          c.crc)
                    << c.bytes.size() << " bytes cut at " << cut;
            }
    }
}
