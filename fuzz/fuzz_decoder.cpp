// The decoder over arbitrary frames: the frame buffer, the decoding and the
// value texts, the frame texts, and the whole frame pipeline with its upload body.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "fuzz_check.h"
#include "station/FramePipeline.h"
#include "telemetry/FrameBuffer.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"

using namespace tavrik;

namespace {

class NullConsumer final : public StationConsumer {
  public:
    void FrameHeard(const HeardFrame& heard) override { heardBytes += heard.data.size(); }
    void UploadComposed(const std::string& body) override { uploads += body.empty() ? 0 : 1; }
    void TelemetryDecoded(const DecodedFrame& decoded) override { shown = decoded.number; }

    std::size_t heardBytes = 0;
    std::size_t uploads = 0;
    std::int32_t shown = 0;
};

// One log per process in /tmp, started afresh now and then so it stays small.
class ScratchLog {
  public:
    ScratchLog() : path_("/tmp/tavrik_fuzz_decoder_" + std::to_string(::getpid()) + ".kss") {}
    ~ScratchLog() {
        log_.Close();
        std::remove(path_.c_str());
    }
    KissLog* Get() {
        if (++uses_ % 4096 == 1) {
            log_.Close();
            std::remove(path_.c_str());
            if (!log_.Open(path_).empty()) return nullptr;
        }
        return &log_;
    }

  private:
    std::string path_;
    KissLog log_;
    std::uint64_t uses_ = 0;
};

void CheckRecord(const TelemetryRecord& rec) {
    for (int i = 0; i < kFieldCount; ++i) {
        const auto text = ValueText(i, rec.values[static_cast<std::size_t>(i)]);
        if (text) FUZZ_CHECK(!text->empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchLog scratch;
    const std::span<const std::uint8_t> frame(data, size);

    FrameBuffer buffer;
    buffer.Load(frame);
    FUZZ_CHECK(buffer.Length() == std::min(size, FrameBuffer::kCapacity));

    // The histories live as long as the process, as the program's does: a fresh one per input
    // would cost most of the time in allocating its 10000 records, and a long run also goes
    // past the point where records stop being stored.
    static TelemetryHistory history;
    const std::int32_t countBefore = history.RxPacketCount();
    const std::int32_t storedBefore = history.StoredCount();
    const bool counted = history.DecodeTelemetryFrame(buffer, "2024-03-05 14:07:09.250");
    FUZZ_CHECK(history.RxPacketCount() == countBefore + (counted ? 1 : 0));
    FUZZ_CHECK(history.StoredCount() <= TelemetryHistory::kCapacity);
    if (counted) {
        FUZZ_CHECK(buffer.Length() >= static_cast<std::size_t>(kLastFieldPosition));
        if (history.StoredCount() > storedBefore)
            CheckRecord(history.Record(history.StoredCount()));
    } else {
        FUZZ_CHECK(history.StoredCount() == storedBefore);
    }
    // Whatever a frame holds, every field of it has a text or none, never a crash.
    if (buffer.Length() >= static_cast<std::size_t>(kLastFieldPosition)) {
        TelemetryRecord rec{"", DecodeValues(buffer)};
        CheckRecord(rec);
    }

    const std::string text = TelemetryFrameText(buffer.Bytes());
    FUZZ_CHECK(text.size() == 3 * buffer.Length());
    const bool matches = MatchesTelemetryHeader(text);
    (void)CallSignText(frame);

    // The pipeline, as the window runs it for a frame from the modem.
    FixedClock clock(ClockReading{{2024, 3, 5, 14, 7, 9, 250}, {}});
    StationConfig config;
    config.mycall = "N0CALL";
    config.qthLat = "47.1";
    config.qthLong = "8.5";
    NullConsumer view;
    std::size_t logged = 0;
    static TelemetryHistory live;
    const std::int32_t liveBefore = live.RxPacketCount();
    FramePipeline pipeline(clock, config, live,
                           [&logged](const std::string& text) { logged += text.size(); });
    pipeline.AddConsumer(view);
    pipeline.SetKissLog(size > 0 && (data[0] & 1) ? scratch.Get() : nullptr);
    pipeline.ProcessRawFrame(frame);
    FUZZ_CHECK(pipeline.TelemetryFrame() == text);
    FUZZ_CHECK(pipeline.KissWriteFailures() == 0);
    FUZZ_CHECK(view.heardBytes == size);
    if (matches) {
        FUZZ_CHECK(!pipeline.UploadBody().empty());
        FUZZ_CHECK(view.uploads == 1);
        FUZZ_CHECK(live.RxPacketCount() - liveBefore == (counted ? 1 : 0));
        FUZZ_CHECK(view.shown == (counted ? live.RxPacketCount() : 0));
        const std::string& body = pipeline.UploadBody();
        FUZZ_CHECK(body.rfind("noradID=", 0) == 0);
        FUZZ_CHECK(body.find('\0') == std::string::npos);
        FUZZ_CHECK(logged >= body.size());
    } else {
        FUZZ_CHECK(pipeline.UploadBody().empty() && view.uploads == 0);
        FUZZ_CHECK(live.RxPacketCount() == liveBefore);
    }
    return 0;
}
