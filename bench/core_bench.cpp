// The logic without a window: decoding, KISS reading, AGW splitting, upload body.
#include <benchmark/benchmark.h>
#include <memory>

#include "bench_data.h"
#include "files/Kiss.h"
#include "files/StationConfig.h"
#include "intake/Agw.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"
#include "upload/UploadBody.h"

namespace tavrik::bench {
namespace {

// Decoding into a history that is already full measures the decoding itself;
// storing is measured while the history still has room.
void BM_DecodeTelemetryFrame(benchmark::State& state) {
    Lcg rng;
    FrameBuffer frame;
    frame.Load(VaryingTelemetryFrame(rng));
    const std::string ts = Timestamp(1);
    auto history = std::make_unique<TelemetryHistory>();
    for (auto _ : state) {
        if (history->StoredCount() == TelemetryHistory::kCapacity && state.range(0) == 1) {
            state.PauseTiming();
            history = std::make_unique<TelemetryHistory>();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(history->DecodeTelemetryFrame(frame, ts));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeTelemetryFrame)->Arg(1)->ArgName("storing");

void BM_DecodeValues(benchmark::State& state) {
    Lcg rng;
    FrameBuffer frame;
    frame.Load(VaryingTelemetryFrame(rng));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeValues(frame));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeValues);

// A 1.4 MB log (10000 frames) read in the import's 64 KiB pieces.
void BM_KissReader(benchmark::State& state) {
    const Bytes log = KissLogBytes(10000);
    std::vector<KissRecord> records;
    records.reserve(2048);
    for (auto _ : state) {
        KissReader reader;
        std::size_t n = 0;
        for (std::size_t at = 0; at < log.size(); at += 64 * 1024) {
            const std::size_t len = std::min<std::size_t>(64 * 1024, log.size() - at);
            records.clear();
            reader.Feed(std::span<const std::uint8_t>(log.data() + at, len), records);
            n += records.size();
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
}
BENCHMARK(BM_KissReader)->Unit(benchmark::kMillisecond);

// AGW 'K' frames as a modem program sends them, arriving in TCP pieces of 1460 bytes.
void BM_AgwSplitter(benchmark::State& state) {
    Lcg rng;
    Bytes stream;
    for (int i = 0; i < 10000; ++i) {
        const Bytes frame = i % 10 == 9 ? testing::ForeignFrame("x") : VaryingTelemetryFrame(rng);
        const auto agw = EncodeAgwFrame('K', frame);
        stream.insert(stream.end(), agw.begin(), agw.end());
    }
    const std::size_t piece = 1460;
    for (auto _ : state) {
        AgwStreamSplitter splitter;
        std::size_t n = 0;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t len = std::min(piece, stream.size() - at);
            n += splitter.Feed(std::span<const std::uint8_t>(stream.data() + at, len)).size();
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_AgwSplitter)->Unit(benchmark::kMillisecond);

void BM_TelemetryFrameText(benchmark::State& state) {
    Lcg rng;
    const Bytes frame = VaryingTelemetryFrame(rng);
    for (auto _ : state)
        benchmark::DoNotOptimize(TelemetryFrameText(frame));
}
BENCHMARK(BM_TelemetryFrameText);

void BM_ComposeUploadBody(benchmark::State& state) {
    Lcg rng;
    const std::string text = TelemetryFrameText(VaryingTelemetryFrame(rng));
    StationConfig config;
    config.mycall = "N0CALL";
    config.qthLat = "48,1234";
    config.qthLong = "11.5";
    const std::string ts = Timestamp(7);
    for (auto _ : state)
        benchmark::DoNotOptimize(ComposeUploadBody(text, config, kNoradId, ts));
}
BENCHMARK(BM_ComposeUploadBody);

} // namespace
} // namespace tavrik::bench

BENCHMARK_MAIN();
