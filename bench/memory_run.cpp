// Peak resident memory of the logic: after 10 000 decoded frames (a full
// history), and after 100 000 frames through the frame pipeline with its
// KISS log, a kept event log and everything the window would be asked to show.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench_data.h"
#include "files/KissLog.h"
#include "station/FramePipeline.h"
#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"

using namespace tavrik;
using namespace tavrik::bench;

namespace {

// Keeps every log entry as the window does; shows nothing.
class KeepingView final : public StationConsumer {
  public:
    explicit KeepingView(const Clock& clock) : clock_(clock) {}
    void Log(const std::string& text) { entries.push_front(UtcTimestamp(clock_) + ": " + text); }
    void FrameHeard(const HeardFrame& heard) override { callSigns = CallSignText(heard.data); }
    std::deque<std::string> entries;
    std::string callSigns;

  private:
    const Clock& clock_;
};

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const long before = StatusKiB("VmHWM");
    if (mode == "decode") {
        TelemetryHistory history;
        Lcg rng;
        FrameBuffer frame;
        for (int i = 0; i < 10000; ++i) {
            frame.Load(VaryingTelemetryFrame(rng));
            history.DecodeTelemetryFrame(frame, Timestamp(static_cast<std::size_t>(i)));
        }
        std::printf("decode: %d records stored\n", history.StoredCount());
        Result("memory: peak resident after 10000 decoded frames",
               static_cast<double>(StatusKiB("VmHWM")) / 1024.0, "MiB");
        Result("memory: growth for 10000 decoded frames",
               static_cast<double>(StatusKiB("VmHWM") - before) / 1024.0, "MiB");
        return 0;
    }
    if (mode == "pipeline") {
        char tmpl[] = "/tmp/tavrik-bench-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        if (!dir) return 1;
        SystemClock clock;
        StationConfig config;
        config.mycall = "BENCH";
        TelemetryHistory history;
        KeepingView view(clock);
        FramePipeline pipeline(clock, config, history,
                               [&view](const std::string& text) { view.Log(text); });
        pipeline.AddConsumer(view);
        KissLog kiss;
        const std::string logPath = std::string(dir) + "/BENCH.kss";
        if (!kiss.Open(logPath).empty()) return 1;
        pipeline.SetKissLog(&kiss);
        Lcg rng;
        for (int i = 0; i < 100000; ++i) {
            const Bytes frame =
                i % 10 == 9 ? testing::ForeignFrame("station text") : VaryingTelemetryFrame(rng);
            pipeline.ProcessRawFrame(frame);
        }
        kiss.Close();
        std::printf("pipeline: %d telemetry counted, %zu log entries, %llu KISS bytes\n",
                    history.RxPacketCount(), view.entries.size(),
                    static_cast<unsigned long long>(kiss.BytesWritten()));
        Result("memory: peak resident after 100000 frames through the pipeline",
               static_cast<double>(StatusKiB("VmHWM")) / 1024.0, "MiB");
        Result("memory: growth for 100000 pipeline frames",
               static_cast<double>(StatusKiB("VmHWM") - before) / 1024.0, "MiB");
        std::filesystem::remove_all(dir);
        return 0;
    }
    std::fprintf(stderr, "usage: bench_memory decode|pipeline\n");
    return 2;
}
