#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "files/Kiss.h"
#include "files/KissFileReader.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::Concat;
using Kind = tavrik::KissRecord::Kind;

namespace {

// Bytes that favour the ones KISS treats specially.
Bytes RandomFrame(std::mt19937& rng, std::size_t length) {
    static const std::uint8_t special[] = {0xC0, 0xDB, 0xDC, 0xDD, 0x09, 0x00};
    Bytes b(length);
    for (auto& x : b)
        x = rng() % 3 == 0 ? special[rng() % 6] : static_cast<std::uint8_t>(rng());
    return b;
}

std::vector<Bytes> FrameBodies(const std::vector<KissRecord>& records) {
    std::vector<Bytes> out;
    for (const KissRecord& r : records)
        out.push_back(r.bytes);
    return out;
}

Bytes TextBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(KissFrameRecord, EscapesInTheStatedOrder) {
    struct Case {
        Bytes frame, record;
    } cases[] = {
        {{}, {0xC0, 0xC0}},
        {{0xC0}, {0xC0, 0xDB, 0xDC, 0xC0}},
        {{0xDB}, {0xC0, 0xDB, 0xDD, 0xC0}},
        {{0xDB, 0xDC}, {0xC0, 0xDB, 0xDD, 0xDC, 0xC0}},
        {{0xC0, 0xDB}, {0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}},
        {{0xDC, 0xDD}, {0xC0, 0xDC, 0xDD, 0xC0}},
        {{0x00, 0x41, 0xFF}, {0xC0, 0x00, 0x41, 0xFF, 0xC0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KissFrameRecord(c.frame), c.record);
}

TEST(KissTimestampRecord, ThirtyBytes) {
    const Bytes r = KissTimestampRecord("2024-03-05 14:07:09.250");
    ASSERT_EQ(r.size(), 30u);
    EXPECT_EQ(r, Concat({{0xC0, 0x09}, TextBytes("2024-03-05 14:07:09.250 UTC"), {0xC0}}));
}

TEST(KissReader, EveryFendDelimits) {
    const Bytes f{0x00, 0x41}, g{0x00, 0x42}, h{0x00, 0x43};
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<Bytes> frames;
    } cases[] = {
        {"shared FENDs", Concat({{0xC0}, f, {0xC0}, g, {0xC0}, h, {0xC0}}), {f, g, h}},
        {"doubled FEND in front", Concat({{0xC0, 0xC0}, f, {0xC0}}), {f}},
        {"own FENDs", Concat({{0xC0}, f, {0xC0, 0xC0}, g, {0xC0}}), {f, g}},
        {"many FENDs", Concat({{0xC0, 0xC0, 0xC0}, f, {0xC0, 0xC0, 0xC0}}), {f}},
        {"bytes before the first FEND", Concat({{0x41, 0x42, 0xDB}, {0xC0}, f, {0xC0}}), {f}},
        {"cut off at the end", Concat({{0xC0}, f, {0xC0}, g}), {f}},
        {"cut off after an escape", Concat({{0xC0}, f, {0xC0, 0x01, 0xDB}}), {f}},
        {"no FEND", f, {}},
        {"empty", {}, {}},
        {"escapes", {0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}, {{0xC0, 0xDB}}},
        {"plain TFEND and TFESC", {0xC0, 0xDC, 0xDD, 0x01, 0xC0}, {{0xDC, 0xDD, 0x01}}},
        {"FESC before another byte keeps it",
         {0xC0, 0x01, 0xDB, 0x41, 0x02, 0xC0},
         {{0x01, 0x41, 0x02}}},
        {"FESC FESC", {0xC0, 0xDB, 0xDB, 0xDC, 0xC0}, {{0xDB, 0xDC}}},
        {"FESC at the end of a record", {0xC0, 0x01, 0xDB, 0xC0, 0x02, 0xC0}, {{0x01}, {0x02}}},
    };
    for (const Case& c : cases) {
        const std::vector<KissRecord> records = ReadKiss(c.stream);
        EXPECT_EQ(FrameBodies(records), c.frames) << c.name;
        for (const KissRecord& r : records) {
            EXPECT_EQ(r.kind, Kind::Frame) << c.name;
            EXPECT_EQ(r.length, r.bytes.size()) << c.name;
        }
    }
}

TEST(KissReader, TimestampRecordsAreTold) {
    const Bytes ts = KissTimestampRecord("2024-03-05 14:07:09.250");
    const Bytes stream = Concat({ts, KissFrameRecord(Bytes{0x00, 0x01}), ts});
    const auto records = ReadKiss(stream);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, Kind::Timestamp);
    EXPECT_EQ(records[0].bytes, Concat({{0x09}, TextBytes("2024-03-05 14:07:09.250 UTC")}));
    EXPECT_EQ(records[1].kind, Kind::Frame);
    EXPECT_EQ(records[2].kind, Kind::Timestamp);
    EXPECT_EQ(records[0].offset, 0u);
    EXPECT_EQ(records[1].offset, 30u);
    EXPECT_EQ(records[2].offset, 34u);
}

TEST(KissReader, FrameLongerThan511IsReportedAndReadingGoesOn) {
    for (std::size_t length : {511u, 512u, 513u, 5000u}) {
        const Bytes big(length, 0x41);
        const Bytes after{0x00, 0x07};
        const auto records = ReadKiss(Concat({KissFrameRecord(big), KissFrameRecord(after)}));
        ASSERT_EQ(records.size(), 2u) << length;
        if (length <= 511) {
            EXPECT_EQ(records[0].kind, Kind::Frame);
            EXPECT_EQ(records[0].bytes, big);
        } else {
            EXPECT_EQ(records[0].kind, Kind::TooLong);
            EXPECT_TRUE(records[0].bytes.empty());
        }
        EXPECT_EQ(records[0].length, length);
        EXPECT_EQ(records[1].kind, Kind::Frame);
        EXPECT_EQ(records[1].bytes, after);
    }
    // The limit counts unescaped bytes: 511 escaped bytes fit.
    const auto escaped = ReadKiss(KissFrameRecord(Bytes(511, 0xC0)));
    ASSERT_EQ(escaped.size(), 1u);
    EXPECT_EQ(escaped[0].kind, Kind::Frame);
    EXPECT_EQ(escaped[0].bytes, Bytes(511, 0xC0));
}

TEST(KissReader, InsideRecordTellsACutOffEnd) {
    KissReader r;
    EXPECT_FALSE(r.InsideRecord());
    r.Feed(Bytes{0xC0, 0x01});
    EXPECT_TRUE(r.InsideRecord());
    EXPECT_EQ(r.Feed(Bytes{0xC0}).size(), 1u);
    EXPECT_FALSE(r.InsideRecord());
    EXPECT_EQ(r.Offset(), 3u);
}

TEST(KissRoundTrip, AnyBytesEscapedReadBackAsTheSameFrames) {
    std::mt19937 rng(1200);
    for (int round = 0; round < 300; ++round) {
        std::vector<Bytes> frames;
        Bytes stream;
        const int count = 1 + static_cast<int>(rng() % 20);
        for (int i = 0; i < count; ++i) {
            frames.push_back(RandomFrame(rng, 1 + rng() % 511));
            const Bytes rec = KissFrameRecord(frames.back());
            stream.insert(stream.end(), rec.begin(), rec.end());
        }
        const auto records = ReadKiss(stream);
        ASSERT_EQ(FrameBodies(records), frames);
        for (std::size_t i = 0; i < records.size(); ++i)
            EXPECT_EQ(records[i].kind, frames[i][0] == 0x09 ? Kind::Timestamp : Kind::Frame);
    }
}

TEST(KissRoundTrip, ALogReadsBackRecordForRecordInAnyPieces) {
    std::mt19937 rng(73);
    for (int round = 0; round < 100; ++round) {
        std::vector<std::pair<std::string, Bytes>> written;
        Bytes log;
        const int count = 1 + static_cast<int>(rng() % 15);
        for (int i = 0; i < count; ++i) {
            char ts[32];
            std::snprintf(ts, sizeof ts, "2024-03-%02d 14:%02d:09.%03d", 1 + i % 28, i % 60,
                          static_cast<int>(rng() % 1000));
            Bytes frame = RandomFrame(rng, 1 + rng() % 511);
            if (frame[0] == 0x09) frame[0] = 0x00; // a frame record starts with its port byte
            written.emplace_back(ts, frame);
            log = Concat({log, KissTimestampRecord(ts), KissFrameRecord(frame)});
        }
        KissReader reader;
        std::vector<KissRecord> records;
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t n = std::min<std::size_t>(log.size() - at, rng() % 64);
            reader.Feed(std::span(log).subspan(at, n), records);
            at += n;
        }
        EXPECT_FALSE(reader.InsideRecord());
        ASSERT_EQ(records.size(), 2 * written.size());
        for (std::size_t i = 0; i < written.size(); ++i) {
            EXPECT_EQ(records[2 * i].kind, Kind::Timestamp);
            EXPECT_EQ(records[2 * i].bytes, Concat({{0x09}, TextBytes(written[i].first + " UTC")}));
            EXPECT_EQ(records[2 * i + 1].kind, Kind::Frame);
            EXPECT_EQ(records[2 * i + 1].bytes, written[i].second);
        }
        // The same for every split of the log into two pieces.
        if (round < 5) {
            for (std::size_t cut = 0; cut <= log.size(); ++cut) {
                KissReader two;
                std::vector<KissRecord> got;
                two.Feed(std::span(log).first(cut), got);
                two.Feed(std::span(log).subspan(cut), got);
                ASSERT_EQ(got.size(), records.size()) << cut;
                for (std::size_t i = 0; i < got.size(); ++i) {
                    ASSERT_EQ(got[i].bytes, records[i].bytes);
                    ASSERT_EQ(got[i].offset, records[i].offset);
                }
            }
        }
    }
}

TEST(KissFileReader, NextHandsRecordsAndTellsWhatWasLeftOutInFileOrder) {
    tavrik::test::TempDir dir;
    const Bytes small(20, 0x41), big(600, 0x42);
    const Bytes file = Concat({KissTimestampRecord("2024-03-05 14:07:09.250"), KissFrameRecord(big),
                               KissFrameRecord(small), Bytes{0xC0, 0x01, 0x02}});
    const std::string path = dir.File("f.kss");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    // Pieces smaller than a record, so that records span reads.
    for (std::size_t piece : {7u, 64u * 1024u}) {
        KissFileReader reader(kMaxImportFrame, piece);
        ASSERT_EQ(reader.Open(path), "");
        std::vector<std::string> seen;
        const auto skipped = [&](const KissSkip& s) {
            seen.push_back("skip " + std::to_string(static_cast<int>(s.kind)) + " at " +
                           std::to_string(s.offset) + " len " + std::to_string(s.length));
        };
        while (const KissRecord* r = reader.Next(skipped))
            seen.push_back("record " + std::to_string(r->bytes.size()) + " at " +
                           std::to_string(r->offset));
        const std::size_t frameAt = 30 + KissFrameRecord(big).size();
        EXPECT_EQ(seen, (std::vector<std::string>{"record 28 at 0", "skip 0 at 30 len 600",
                                                  "record 20 at " + std::to_string(frameAt),
                                                  "skip 2 at " + std::to_string(file.size() - 3) +
                                                      " len 0"}))
            << piece;
        EXPECT_EQ(reader.Next(skipped), nullptr); // the end is told once
        EXPECT_EQ(seen.size(), 4u);
    }
}
