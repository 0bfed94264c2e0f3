#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "files/Kiss.h"
#include "files/KissLog.h"
#include "station/FramePipeline.h"
#include "telemetry/FrameText.h"
#include "upload/UploadBody.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::Concat;
using tavrik::test::FrameBuilder;
using tavrik::test::ReadAll;
using tavrik::test::TempDir;

namespace {

const std::string kTs = "2024-03-05 14:07:09.250";

// Records what the station hands on, with what the log file and the history
// held at that moment: "composed" (the upload body), "heard" (the call signs
// of the frame), "log" (an event-log entry), "decoded" (the record number).
class FakeConsumer final : public StationConsumer {
  public:
    struct Call {
        std::string what;
        std::string arg;
        std::uintmax_t logSize;
        std::int32_t rxCount;
    };

    FakeConsumer(const TelemetryHistory& history, std::string logPath)
        : history_(history), logPath_(std::move(logPath)) {}

    void Log(const std::string& text) { Note("log", text); }
    void UploadComposed(const std::string& body) override { Note("composed", body); }
    void FrameHeard(const HeardFrame& heard) override {
        heards.push_back(heard);
        Note("heard", CallSignText(heard.data));
    }
    void TelemetryDecoded(const DecodedFrame& decoded) override {
        decodeds.push_back(decoded);
        Note("decoded", std::to_string(decoded.number));
    }
    void TelemetryRefused(const HeardFrame&) override { Note("refused", ""); }

    std::vector<std::string> Sequence() const {
        std::vector<std::string> s;
        for (const Call& c : calls)
            s.push_back(c.what);
        return s;
    }

    std::vector<Call> calls;
    std::vector<HeardFrame> heards;
    std::vector<DecodedFrame> decodeds;

  private:
    void Note(const char* what, std::string arg) {
        std::error_code ec;
        const auto size = logPath_.empty() ? 0 : std::filesystem::file_size(logPath_, ec);
        calls.push_back({what, std::move(arg), ec ? 0 : size, history_.RxPacketCount()});
    }

    const TelemetryHistory& history_;
    std::string logPath_;
};

class FramePipelineTest : public ::testing::Test {
  protected:
    FramePipelineTest()
        : clock_({{2024, 3, 5, 15, 7, 9, 250}, {-60, 0, 0, TimeZoneInfo::InForce::Standard}}),
          logPath_(dir_.File("N0CALL_05032024_1407.kss")), view_(history_, logPath_),
          pipeline_(clock_, config_, history_, [this](const std::string& t) { view_.Log(t); }) {
        config_.mycall = "N0CALL";
        config_.qthLat = "48.1";
        config_.qthLong = "11.5";
        EXPECT_EQ(log_.Open(logPath_), "");
        pipeline_.SetKissLog(&log_);
        pipeline_.AddConsumer(view_);
    }

    std::string ExpectedBody(const Bytes& frame) const {
        return ComposeUploadBody(TelemetryFrameText(frame), config_, "99999", kTs);
    }

    TempDir dir_;
    FixedClock clock_;
    StationConfig config_;
    TelemetryHistory history_;
    std::string logPath_;
    FakeConsumer view_;
    KissLog log_;
    FramePipeline pipeline_;
};

} // namespace

TEST_F(FramePipelineTest, TelemetryFrameRunsEveryStepInOrder) {
    const Bytes frame = FrameBuilder(120).U16(29, 30000).Get();
    pipeline_.ProcessRawFrame(frame);

    EXPECT_EQ(view_.Sequence(), (std::vector<std::string>{"composed", "heard", "log", "decoded"}));
    const Bytes logged = Concat({KissTimestampRecord(kTs), KissFrameRecord(frame)});
    EXPECT_EQ(ReadAll(logPath_), logged);
    // The body is handed on the moment the frame is in the log, before it is decoded.
    EXPECT_EQ(view_.calls[0].logSize, logged.size());
    EXPECT_EQ(view_.calls[0].arg, ExpectedBody(frame));
    EXPECT_EQ(view_.calls[0].rxCount, 0);
    EXPECT_EQ(view_.calls[1].arg, "TAVRIK -> TAVRIK");
    EXPECT_EQ(view_.calls[2].arg, ExpectedBody(frame));
    EXPECT_EQ(view_.calls[2].rxCount, 1);
    EXPECT_EQ(view_.calls[3].arg, "1");
    // Where the frame is in the log, and what was decoded from it.
    ASSERT_EQ(view_.heards.size(), 1u);
    EXPECT_EQ(view_.heards[0].received, kTs);
    EXPECT_EQ(view_.heards[0].data, frame);
    EXPECT_EQ(view_.heards[0].kissFile, logPath_);
    EXPECT_EQ(view_.heards[0].kissOffset, 0);
    EXPECT_FALSE(view_.heards[0].imported);
    ASSERT_EQ(view_.decodeds.size(), 1u);
    EXPECT_EQ(view_.decodeds[0].source, "TAVRIK");
    EXPECT_EQ(view_.decodeds[0].record.values[5], 30000);
    EXPECT_EQ(view_.decodeds[0].heard.kissOffset, 0);

    EXPECT_EQ(history_.RxPacketCount(), 1);
    EXPECT_EQ(history_.Record(1).timestamp, kTs);
    EXPECT_EQ(history_.Record(1).values[5], 30000);
    EXPECT_EQ(pipeline_.UploadBody(), ExpectedBody(frame));
    EXPECT_EQ(pipeline_.TelemetryFrame(), TelemetryFrameText(frame));
    EXPECT_EQ(pipeline_.FrameBytes().Length(), frame.size());
    EXPECT_NE(pipeline_.UploadBody().find("&timestamp=2024-03-05T14:07:09.250Z&"),
              std::string::npos);
}

TEST_F(FramePipelineTest, ConsumersAreHandedEachProductInTheOrderTheyWereAdded) {
    FakeConsumer second(history_, logPath_);
    pipeline_.AddConsumer(second);
    const Bytes frame = FrameBuilder(111).Get();
    pipeline_.ProcessRawFrame(frame);
    pipeline_.ProcessRawFrame(frame);
    EXPECT_EQ(second.Sequence(), (std::vector<std::string>{"composed", "heard", "decoded",
                                                           "composed", "heard", "decoded"}));
    EXPECT_EQ(view_.calls[0].what, "composed");
    EXPECT_EQ(second.calls[0].arg, ExpectedBody(frame));
    // The second record pair starts after the first: 30 bytes of timestamp, the frame's record.
    ASSERT_EQ(second.heards.size(), 2u);
    EXPECT_EQ(second.heards[1].kissOffset,
              static_cast<std::int64_t>(30 + KissFrameRecord(frame).size()));
}

TEST_F(FramePipelineTest, AnImportedFrameIsDecodedAndHandedOnButNeitherLoggedNorUploaded) {
    const Bytes frame = FrameBuilder(111).U16(29, 7).Get();
    EXPECT_TRUE(pipeline_.ProcessImportedFrame(frame, "2020-01-02 03:04:05.678", "old.kss", 60));
    EXPECT_FALSE(pipeline_.ProcessImportedFrame(Bytes{0x00, 0x01}, "", "old.kss", 200));
    EXPECT_EQ(view_.Sequence(), (std::vector<std::string>{"heard", "decoded", "heard"}));
    EXPECT_EQ(ReadAll(logPath_).size(), 0u);
    ASSERT_EQ(view_.heards.size(), 2u);
    EXPECT_TRUE(view_.heards[0].imported);
    EXPECT_EQ(view_.heards[0].received, "2020-01-02 03:04:05.678");
    EXPECT_EQ(view_.heards[0].kissFile, "old.kss");
    EXPECT_EQ(view_.heards[0].kissOffset, 60);
    EXPECT_EQ(view_.heards[1].received, "");
    EXPECT_EQ(view_.heards[1].kissOffset, 200);
    // Decoded at the time of the import, as the window lists it.
    ASSERT_EQ(view_.decodeds.size(), 1u);
    EXPECT_EQ(view_.decodeds[0].record.timestamp, kTs);
    EXPECT_EQ(view_.decodeds[0].record.values[5], 7);
    EXPECT_EQ(view_.decodeds[0].number, 1);
    EXPECT_EQ(pipeline_.UploadBody(), "");
}

TEST_F(FramePipelineTest, ForeignFrameIsLoggedAndShownOnly) {
    Bytes frame{0x00};
    for (char c : std::string("APRS  "))
        frame.push_back(static_cast<std::uint8_t>(c << 1));
    frame.push_back(0x60);
    for (char c : std::string("N0CALL"))
        frame.push_back(static_cast<std::uint8_t>(c << 1));
    frame.insert(frame.end(), {0x61, 0x03, 0xF0, '!', '4', '8'});
    pipeline_.ProcessRawFrame(frame);
    ASSERT_EQ(view_.Sequence(), (std::vector<std::string>{"heard"}));
    EXPECT_EQ(view_.calls[0].arg, "APRS   -> N0CALL");
    EXPECT_EQ(ReadAll(logPath_), Concat({KissTimestampRecord(kTs), KissFrameRecord(frame)}));
    EXPECT_EQ(pipeline_.TelemetryFrame(), TelemetryFrameText(frame));
    EXPECT_EQ(pipeline_.FrameBytes().Length(), frame.size());
    EXPECT_EQ(pipeline_.UploadBody(), "");
    EXPECT_EQ(history_.RxPacketCount(), 0);
}

TEST_F(FramePipelineTest, RefusedTelemetryFrameIsStillComposedAndUploaded) {
    const Bytes refused = FrameBuilder(111).U8(20, 2).Get();
    pipeline_.ProcessRawFrame(refused);
    EXPECT_EQ(view_.Sequence(), (std::vector<std::string>{"composed", "heard", "log", "refused"}));
    EXPECT_EQ(view_.calls[0].arg, ExpectedBody(refused));
    EXPECT_EQ(history_.RxPacketCount(), 0);

    // The bare header matches too, and is too short to decode.
    view_.calls.clear();
    const Bytes header = tavrik::test::TelemetryHeader();
    pipeline_.ProcessRawFrame(header);
    EXPECT_EQ(pipeline_.TelemetryFrame().size(), 51u);
    EXPECT_EQ(view_.Sequence(), (std::vector<std::string>{"composed", "heard", "log", "refused"}));
    EXPECT_EQ(history_.RxPacketCount(), 0);
    EXPECT_EQ(pipeline_.UploadBody(), ExpectedBody(header));
}

TEST_F(FramePipelineTest, EmptyFrame) {
    pipeline_.ProcessRawFrame({});
    EXPECT_EQ(ReadAll(logPath_), Concat({KissTimestampRecord(kTs), {0xC0, 0xC0}}));
    EXPECT_EQ(pipeline_.TelemetryFrame(), "");
    EXPECT_EQ(pipeline_.FrameBytes().Length(), 0u);
    ASSERT_EQ(view_.Sequence(), (std::vector<std::string>{"heard"}));
    EXPECT_EQ(view_.calls[0].arg, " -> ");
}

TEST_F(FramePipelineTest, FendAndFescAreEscapedInTheLog) {
    Bytes frame = FrameBuilder(111).Get();
    frame.insert(frame.end(), {0xC0, 0xDB, 0xDC, 0xDD, 0xC0});
    pipeline_.ProcessRawFrame(frame);
    const Bytes log = ReadAll(logPath_);
    const Bytes tail{0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0xDB, 0xDC, 0xC0};
    ASSERT_GE(log.size(), tail.size());
    EXPECT_TRUE(
        std::equal(tail.begin(), tail.end(), log.end() - static_cast<std::ptrdiff_t>(tail.size())));
    const auto records = ReadKiss(log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].bytes, frame);
    EXPECT_EQ(history_.RxPacketCount(), 1);
}

TEST_F(FramePipelineTest, LongFrameIsWholeInTheLogAnd512InTheText) {
    Bytes frame = FrameBuilder(600).Get();
    for (std::size_t i = 111; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i);
    pipeline_.ProcessRawFrame(frame);
    const auto records = ReadKiss(ReadAll(logPath_), 10000);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].bytes, frame);
    EXPECT_EQ(pipeline_.TelemetryFrame(),
              TelemetryFrameText(Bytes(frame.begin(), frame.begin() + 512)));
    EXPECT_EQ(pipeline_.TelemetryFrame().size(), 1536u);
    EXPECT_EQ(pipeline_.FrameBytes().Length(), 512u);
    EXPECT_EQ(history_.RxPacketCount(), 1);
    const std::string& body = pipeline_.UploadBody();
    const auto from = body.find("&frame=") + 7;
    EXPECT_EQ(body.find("&locator=") - from, 511u * 3 - 1);
}

TEST_F(FramePipelineTest, LogWriteFailureGivesOneLineAndTheFrameGoesOn) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    KissLog full;
    ASSERT_EQ(full.Open("/dev/full"), "");
    pipeline_.SetKissLog(&full);
    const Bytes frame = FrameBuilder(111).Get();
    pipeline_.ProcessRawFrame(frame);
    ASSERT_EQ(view_.Sequence(),
              (std::vector<std::string>{"log", "composed", "heard", "log", "decoded"}));
    EXPECT_NE(view_.calls[0].arg.find("KISS log"), std::string::npos) << view_.calls[0].arg;
    EXPECT_EQ(view_.calls[3].arg, ExpectedBody(frame));
    // Not in the log: nowhere to point to.
    EXPECT_EQ(view_.heards[0].kissFile, "");
    EXPECT_EQ(view_.heards[0].kissOffset, -1);
    EXPECT_EQ(pipeline_.KissWriteFailures(), 1u);
    EXPECT_EQ(history_.RxPacketCount(), 1);
}

TEST_F(FramePipelineTest, WithoutALogFramesAreStillProcessed) {
    pipeline_.SetKissLog(nullptr);
    pipeline_.ProcessRawFrame(FrameBuilder(111).Get());
    EXPECT_EQ(view_.Sequence(), (std::vector<std::string>{"composed", "heard", "log", "decoded"}));
    EXPECT_EQ(ReadAll(logPath_).size(), 0u);
    EXPECT_EQ(pipeline_.KissWriteFailures(), 0u);
}

TEST_F(FramePipelineTest, TheNewestFrameReplacesTheCurrentOne) {
    const Bytes first = FrameBuilder(111).U16(29, 1).Get();
    const Bytes second = FrameBuilder(112).U16(29, 2).Get();
    pipeline_.ProcessRawFrame(first);
    clock_.AdvanceMilliseconds(5);
    pipeline_.ProcessRawFrame(second);
    EXPECT_EQ(pipeline_.UploadBody(), ComposeUploadBody(TelemetryFrameText(second), config_,
                                                        "99999", "2024-03-05 14:07:09.255"));
    EXPECT_EQ(pipeline_.TelemetryFrame(), TelemetryFrameText(second));
    EXPECT_EQ(history_.RxPacketCount(), 2);
    EXPECT_EQ(history_.Record(2).values[5], 2);
    EXPECT_EQ(history_.Record(2).timestamp, "2024-03-05 14:07:09.255");
    const auto records = ReadKiss(ReadAll(logPath_));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].bytes, first);
    EXPECT_EQ(records[3].bytes, second);
    EXPECT_EQ(view_.calls.back().what, "decoded");
    EXPECT_EQ(view_.calls.back().arg, "2");
}

TEST(FramePipelineClock, TheRecordCarriesTheReceptionTimeOfTheLog) {
    // A clock that moves on at every reading: two readings would differ.
    class Stepping final : public Clock {
      public:
        ClockReading Read() const override {
            ClockReading r = clock_.Read();
            clock_.AdvanceMilliseconds(1);
            return r;
        }
        mutable FixedClock clock_{{{2024, 3, 5, 14, 7, 9, 250}, {}}};
    } clock;
    TempDir dir;
    StationConfig config;
    TelemetryHistory history;
    KissLog log;
    ASSERT_EQ(log.Open(dir.File("run.kss")), "");
    FramePipeline pipeline(clock, config, history, [](const std::string&) {});
    pipeline.SetKissLog(&log);
    const Bytes frame = FrameBuilder(120).Get();
    pipeline.ProcessRawFrame(frame);
    ASSERT_EQ(history.RxPacketCount(), 1);
    EXPECT_EQ(ReadAll(dir.File("run.kss")),
              Concat({KissTimestampRecord(history.Record(1).timestamp), KissFrameRecord(frame)}));
}

// Runs on a 2 MiB tmpfs (see tests/archive/CMakeLists.txt): the log fills the
// disk, the frames that miss it are counted and said at most once a minute,
// and the total is said when writing works again.
TEST_F(FramePipelineTest, KissFullDiskEveryFrameThatMissesTheLogIsCountedAndTheTruthSaid) {
    const char* folder = std::getenv("KISS_FULL_DISK_DIR");
    if (!folder) GTEST_SKIP() << "needs KISS_FULL_DISK_DIR (ctest runs it on a small tmpfs)";
    const std::string filler = std::string(folder) + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(64 * 1024, 'x');
        for (int i = 0; i < 64 && out.write(block.data(), block.size()); ++i) {
        }
    }
    KissLog log;
    ASSERT_EQ(log.Open(std::string(folder) + "/N0CALL.kss"), "");
    pipeline_.SetKissLog(&log);
    view_.calls.clear();
    const Bytes frame = FrameBuilder(120).Get();
    for (int i = 0; i < 300; ++i) {
        pipeline_.ProcessRawFrame(frame);
        clock_.AdvanceMilliseconds(1000); // five minutes in all
    }
    const std::uint64_t lost = pipeline_.KissWriteFailures();
    ASSERT_GT(lost, 0u) << "the disk never filled";
    std::filesystem::remove(filler);
    pipeline_.ProcessRawFrame(frame);
    clock_.AdvanceMilliseconds(FramePipeline::kKissFailureLineMs);
    pipeline_.ProcessRawFrame(frame); // the total, once the last line is a minute old
    EXPECT_EQ(pipeline_.KissWriteFailures(), lost);

    std::vector<std::string> lines;
    for (const auto& c : view_.calls)
        if (c.what == "log" && c.arg.starts_with("KISS log")) lines.push_back(c.arg);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(lines.front().starts_with("KISS log write failed: "));
    EXPECT_NE(lines.front().find("No space left on device"), std::string::npos) << lines.front();
    EXPECT_NE(lines.front().find("cannot be taken from the log later"), std::string::npos);
    // At most one line a minute while it goes on, each with the count so far.
    EXPECT_LE(lines.size(), 2u + 300 / 60);
    EXPECT_TRUE(lines[1].starts_with("KISS log still failing: ")) << lines[1];
    EXPECT_EQ(lines.back(), "KISS log written again: " + std::to_string(lost) +
                                " frame(s) received from " + kTs +
                                " on are not in it; they went to the uploads, the archive and "
                                "the page as they came, and cannot be taken from the log later");
}
