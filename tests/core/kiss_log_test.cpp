#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core_test_support.h"
#include "files/Kiss.h"
#include "files/KissLog.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::Concat;
using tavrik::test::ReadAll;
using tavrik::test::TempDir;
namespace fs = std::filesystem;

namespace {
const std::string kTs = "2024-03-05 14:07:09.250";
}

TEST(KissLogName, CallSignAndUtcMinute) {
    const DateTime t{2024, 3, 5, 14, 7, 9, 250};
    EXPECT_EQ(KissLogName("/prog", "N0CALL", t), "/prog/N0CALL_05032024_1407.kss");
    EXPECT_EQ(KissLogName("/prog", "", t), "/prog/_05032024_1407.kss");
    EXPECT_EQ(KissLogName("/prog", "DL1ABC/P", t), "/prog/DL1ABC-P_05032024_1407.kss");
    EXPECT_EQ(KissLogName("/prog", "../../etc/x", t), "/prog/------etc-x_05032024_1407.kss");
}

TEST(KissLog, AppendsTimestampAndFrameRecords) {
    TempDir dir;
    const std::string path = dir.File("N0CALL_05032024_1407.kss");
    KissLog log;
    ASSERT_EQ(log.Open(path), "");
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(log.Path(), path);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);

    const Bytes f1{0x00, 0xC0, 0xDB, 0xDC, 0xDD, 0x41};
    const Bytes f2{};
    Bytes f3(600);
    for (std::size_t i = 0; i < f3.size(); ++i)
        f3[i] = static_cast<std::uint8_t>(i * 13);
    EXPECT_EQ(log.AppendFrame(kTs, f1), "");
    EXPECT_EQ(log.AppendFrame("2024-03-05 14:07:10.000", f2), "");
    EXPECT_EQ(log.AppendFrame(kTs, f3), "");
    // Written before the call returns, not at close.
    const Bytes expected =
        Concat({KissTimestampRecord(kTs), KissFrameRecord(f1),
                KissTimestampRecord("2024-03-05 14:07:10.000"), KissFrameRecord(f2),
                KissTimestampRecord(kTs), KissFrameRecord(f3)});
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(log.BytesWritten(), expected.size());
    EXPECT_EQ(Concat({KissTimestampRecord(kTs), KissFrameRecord(f1)}),
              Concat({{0xC0, 0x09},
                      Bytes(kTs.begin(), kTs.end()),
                      {' ', 'U', 'T', 'C', 0xC0},
                      {0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0x41, 0xC0}}));
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    log.Close(); // twice is harmless
    EXPECT_FALSE(log.RemoveIfEmpty());
    EXPECT_TRUE(fs::exists(path));

    // The importer reads it back record for record; the empty frame leaves no record.
    const auto records = ReadKiss(ReadAll(path), 1000);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1].bytes, f1);
    EXPECT_EQ(records[2].kind, KissRecord::Kind::Timestamp);
    EXPECT_EQ(records[3].kind, KissRecord::Kind::Timestamp);
    EXPECT_EQ(records[4].bytes, f3);
}

TEST(KissLog, AnExistingLogOfTheSameNameIsKept) {
    TempDir dir;
    const std::string path = dir.File("N0CALL_05032024_1407.kss");
    const Bytes earlier = Concat({KissTimestampRecord(kTs), KissFrameRecord(Bytes{0x00, 0x01})});
    tavrik::test::WriteAll(path, std::string(earlier.begin(), earlier.end()));
    {
        KissLog log;
        ASSERT_EQ(log.Open(path), "");
        EXPECT_EQ(ReadAll(path), earlier);
        log.Close();
        EXPECT_FALSE(log.RemoveIfEmpty()); // nothing written this run, but the file had content
        EXPECT_EQ(ReadAll(path), earlier);
    }
    KissLog log;
    ASSERT_EQ(log.Open(path), "");
    ASSERT_EQ(log.AppendFrame(kTs, Bytes{0x00, 0x02}), "");
    log.Close();
    EXPECT_EQ(ReadAll(path),
              Concat({earlier, KissTimestampRecord(kTs), KissFrameRecord(Bytes{0x00, 0x02})}));
    EXPECT_FALSE(log.RemoveIfEmpty());
}

TEST(KissLog, RemoveIfEmptyRemovesOnlyThisRunsEmptyLog) {
    TempDir dir;
    {
        KissLog log;
        ASSERT_EQ(log.Open(dir.File("a.kss")), "");
        log.Close();
        EXPECT_TRUE(log.RemoveIfEmpty());
        EXPECT_FALSE(fs::exists(dir.File("a.kss")));
        EXPECT_FALSE(log.RemoveIfEmpty());
    }
    {
        // Written this run: kept.
        KissLog log;
        ASSERT_EQ(log.Open(dir.File("b.kss")), "");
        ASSERT_EQ(log.AppendFrame(kTs, Bytes{}), "");
        log.Close();
        EXPECT_FALSE(log.RemoveIfEmpty());
        EXPECT_TRUE(fs::exists(dir.File("b.kss")));
    }
    {
        // Someone else wrote to it meanwhile: no longer empty, kept.
        KissLog log;
        ASSERT_EQ(log.Open(dir.File("c.kss")), "");
        tavrik::test::WriteAll(dir.File("c.kss"), "x");
        log.Close();
        EXPECT_FALSE(log.RemoveIfEmpty());
        EXPECT_TRUE(fs::exists(dir.File("c.kss")));
    }
    {
        // Other empty files of the folder are left alone.
        tavrik::test::WriteAll(dir.File("other.txt"), "");
        KissLog log;
        ASSERT_EQ(log.Open(dir.File("d.kss")), "");
        log.Close();
        EXPECT_TRUE(log.RemoveIfEmpty());
        EXPECT_TRUE(fs::exists(dir.File("other.txt")));
    }
    {
        // A log that was never opened removes nothing.
        KissLog log;
        EXPECT_FALSE(log.RemoveIfEmpty());
    }
}

TEST(KissLog, TwoRunsInOneMinuteShareTheLogAndNeitherRemovesItUnderTheOther) {
    TempDir dir;
    const std::string path = dir.File("N0CALL_05032024_1407.kss");
    KissLog first, second;
    ASSERT_EQ(first.Open(path), "");
    ASSERT_EQ(second.Open(path), "");
    // The first run ends without frames while the second is still receiving.
    first.Close();
    EXPECT_FALSE(first.RemoveIfEmpty());
    ASSERT_TRUE(fs::exists(path));
    ASSERT_EQ(second.AppendFrame(kTs, Bytes{0x00, 0x05}), "");
    EXPECT_EQ(ReadAll(path),
              Concat({KissTimestampRecord(kTs), KissFrameRecord(Bytes{0x00, 0x05})}));

    // Both without frames: the one that ends last removes it.
    const std::string quiet = dir.File("quiet.kss");
    KissLog a, b;
    ASSERT_EQ(a.Open(quiet), "");
    ASSERT_EQ(b.Open(quiet), "");
    EXPECT_FALSE(a.RemoveIfEmpty());
    EXPECT_TRUE(fs::exists(quiet));
    EXPECT_TRUE(b.RemoveIfEmpty());
    EXPECT_FALSE(fs::exists(quiet));
}

TEST(KissLog, AFailedOpenNeverRemovesAFileOfThatName) {
    TempDir dir;
    KissLog log;
    ASSERT_NE(log.Open(dir.File("missing/x.kss")), "");
    // A file that turns up under the name later belongs to someone else.
    fs::create_directory(dir.File("missing"));
    tavrik::test::WriteAll(dir.File("missing/x.kss"), "");
    EXPECT_FALSE(log.RemoveIfEmpty());
    EXPECT_TRUE(fs::exists(dir.File("missing/x.kss")));
}

TEST(KissLog, FailuresAreReportedNotHidden) {
    TempDir dir;
    KissLog log;
    const std::string missing = dir.File("no/such/folder/x.kss");
    const std::string why = log.Open(missing);
    EXPECT_NE(why, "");
    EXPECT_NE(why.find(missing), std::string::npos) << why;
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NE(log.AppendFrame(kTs, Bytes{0x00}), "");
    EXPECT_FALSE(log.RemoveIfEmpty());

    KissLog onDir;
    EXPECT_NE(onDir.Open(dir.Path().string()), ""); // a folder cannot be a log
    EXPECT_FALSE(onDir.RemoveIfEmpty());
    EXPECT_TRUE(fs::is_directory(dir.Path()));

    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    KissLog full;
    ASSERT_EQ(full.Open("/dev/full"), "");
    EXPECT_NE(full.AppendFrame(kTs, Bytes{0x00, 0x01}), "");
    EXPECT_EQ(full.BytesWritten(), 0u);
}
