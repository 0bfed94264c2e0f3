// The upload queue's files damaged or removed: every whole record still goes
// out, in order, and what was lost is said.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core_test_support.h"
#include "upload/UploadSpool.h"

namespace tavrik {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::unique_ptr<UploadSpool> OpenAt(const fs::path& dir, SpoolLimits limits = {}) {
    std::string why;
    auto spool = UploadSpool::Open(dir, limits, why);
    EXPECT_TRUE(spool) << why;
    return spool;
}

std::vector<std::string> Drain(UploadSpool& spool) {
    std::vector<std::string> out;
    while (const std::string* body = spool.Front()) {
        out.push_back(*body);
        spool.PopFront();
    }
    return out;
}

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

std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines)
        s += l + "\n";
    return s;
}

// Record i of a queue of equal bodies starts at i * (header + body).
TEST(UploadSpoolDamage, AFlippedByteCostsItsRecordOnly) {
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
            auto spool = OpenAt(dir.Path(), c.limits);
            for (const auto& b : bodies)
                spool->Append(b);
        }
        FlipByte(SegmentFiles(dir.Path()).at(static_cast<std::size_t>(c.segment)), c.offset);
        auto spool = OpenAt(dir.Path(), c.limits);
        std::vector<std::string> expected = bodies;
        expected.erase(expected.begin() + c.lost);
        EXPECT_EQ(Drain(*spool), expected) << c.name;
        const std::string notes = Joined(spool->TakeNotes());
        // The last record of the newest segment reads as torn: cut off, not damage.
        if (c.lost != 99) {
            EXPECT_NE(notes.find("1 waiting upload unreadable"), std::string::npos)
                << c.name << ": " << notes;
        }
    }
}

TEST(UploadSpoolDamage, DamageFoundWhileRunningIsSkippedAndSendingGoesOn) {
    TempDir dir;
    auto spool = OpenAt(dir.Path());
    for (const auto& b : Bodies(5))
        spool->Append(b);
    FlipByte(SegmentFiles(dir.Path()).at(0), 36 + 30);
    EXPECT_EQ(Drain(*spool), (std::vector<std::string>{"upload number 0", "upload number 2",
                                                       "upload number 3", "upload number 4"}));
    EXPECT_EQ(spool->Count(), 0u);
    spool->Append("later");
    EXPECT_EQ(Drain(*spool), std::vector<std::string>{"later"});
}

TEST(UploadSpoolDamage, ADamagedAcknowledgementCostsAtMostOneDuplicate) {
    for (const std::uint64_t flipAt : {0ull, 12ull * 70 + 3}) { // the first and the last of 71
        TempDir dir;
        const std::vector<std::string> bodies = Bodies(100);
        {
            auto spool = OpenAt(dir.Path());
            for (const auto& b : bodies)
                spool->Append(b);
            for (int i = 0; i < 71; ++i)
                spool->PopFront();
        }
        FlipByte(dir.Path() / "ack.log", flipAt);
        auto spool = OpenAt(dir.Path());
        const std::vector<std::string> sent = Drain(*spool);
        ASSERT_GE(sent.size(), 29u);
        EXPECT_LE(sent.size(), 30u) << "at byte " << flipAt;
        EXPECT_EQ(sent.back(), bodies.back());
        EXPECT_NE(Joined(spool->TakeNotes()).find("1 damaged acknowledgement"), std::string::npos);
    }
}

TEST(UploadSpoolDamage, AnUnreadableSegmentIsMovedAsideNotDeleted) {
    TempDir dir;
    const SpoolLimits limits{.segmentBytes = 10 * 36};
    {
        auto spool = OpenAt(dir.Path(), limits);
        for (const auto& b : Bodies(30))
            spool->Append(b);
    }
    const fs::path middle = SegmentFiles(dir.Path()).at(1);
    std::ofstream(middle, std::ios::binary | std::ios::trunc) << std::string(360, '\0');
    auto spool = OpenAt(dir.Path(), limits);
    const std::vector<std::string> sent = Drain(*spool);
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(sent[10], "upload number 20");
    EXPECT_EQ(fs::file_size(dir.Path() / "damaged" /
                            (dir.Path().filename().string() + "-" + middle.filename().string())),
              360u);
    EXPECT_NE(Joined(spool->TakeNotes()).find("10 waiting upload"), std::string::npos);
}

TEST(UploadSpoolDamage, ARemovedFolderIsMadeAgainWithWhatIsStillHeld) {
    TempDir dir;
    const fs::path folder = dir.Path() / "upload_queue" / "server";
    auto spool = OpenAt(folder);
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
    EXPECT_EQ(Joined(spool->TakeNotes()),
              "the folder " + folder.string() +
                  " removed while running: made again, 7 waiting uploads written again\n");
    spool->PopFront(); // the one in flight
    spool.reset();
    spool = OpenAt(folder);
    std::vector<std::string> rest(bodies.begin() + 4, bodies.end());
    rest.push_back("new");
    EXPECT_EQ(Drain(*spool), rest);
    std::ifstream url(folder / "server.url");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(url), {}), "http://a/");
}

} // namespace
} // namespace tavrik
