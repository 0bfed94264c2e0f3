// Checking a frame's 46 values against the example limits, every field limited.
#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>

#include "bench_data.h"
#include "limits/LimitsChecker.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik::bench {
namespace {

LimitsTable ExampleLimits() {
    std::ifstream in(TAVRIK_SOURCE_DIR_DEFAULT "/data/limits.example.conf");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseLimits(text).table;
}

// Frames with varying values, so the checks go both ways as they would live.
std::vector<std::array<double, kFieldCount>> VaryingValues() {
    Lcg rng;
    std::vector<std::array<double, kFieldCount>> values(256);
    FrameBuffer frame;
    for (auto& v : values) {
        frame.Load(VaryingTelemetryFrame(rng));
        v = DecodeValues(frame);
    }
    return values;
}

void BM_CheckLimits(benchmark::State& state) {
    LimitsChecker checker;
    checker.SetTable(ExampleLimits());
    const auto values = VaryingValues();
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(checker.Check(values[i++ & 255]));
    state.counters["fields_limited"] = checker.Table().InForce();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckLimits);

} // namespace
} // namespace tavrik::bench
