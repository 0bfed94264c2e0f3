// The sky: one propagation, one look from the station (propagation, sidereal
// turn, look angles and sub-satellite point), and a week of passes, for low
// orbits from equatorial to sun-synchronous.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>

#include "sky/SkyPredictor.h"

namespace tavrik::bench {
namespace {

constexpr std::int64_t kEpochMs = 1796860800000; // 2026-12-10 00:00 UTC
const Observer kStation{55.75, 37.62, 150};

std::string WithChecksum(std::string line) {
    int sum = 0;
    for (char c : line) sum += c == '-' ? 1 : (c >= '0' && c <= '9' ? c - '0' : 0);
    return line + std::to_string(sum % 10);
}

// A set at 2026-12-10 00:00 UTC for an inclination and mean motion.
Tle MakeSet(int catalogue, double inclination, double revsPerDay) {
    char l1[80], l2[80];
    std::snprintf(l1, sizeof l1, "1 %05dU 26001A   26344.00000000  .00001000  00000-0  50000-4 0  999",
                  catalogue);
    std::snprintf(l2, sizeof l2, "2 %05d %8.4f 123.4567 0012345  45.6789 314.1592 %11.8f%5d",
                  catalogue, inclination, revsPerDay, 1000);
    const TleFile file = ParseTles(WithChecksum(l1) + "\n" + WithChecksum(l2) + "\n");
    if (file.sets.size() != 1) std::abort();
    return file.sets.front();
}

SkyPredictor Predictor(const Tle& set) {
    std::string why;
    auto p = SkyPredictor::Create({set}, kStation, 0, why);
    if (!p) std::abort();
    return *p;
}

void BM_Sgp4Propagate(benchmark::State& state) {
    std::string why;
    const auto model = Sgp4::Create(MakeSet(90001, 51.6, 15.5), why);
    std::array<double, 3> r, v;
    double minutes = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model->Propagate(minutes, r, v, why));
        benchmark::DoNotOptimize(r);
        minutes += 0.37;
        if (minutes > 10080) minutes = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Sgp4Propagate);

void BM_SkyAt(benchmark::State& state) {
    const SkyPredictor sky = Predictor(MakeSet(90001, 51.6, 15.5));
    std::int64_t t = kEpochMs;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sky.At(t));
        t += 22000;
        if (t > kEpochMs + 7 * 86400000LL) t = kEpochMs;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SkyAt);

// A week of passes; the argument is the inclination in degrees.
void BM_PassesWeek(benchmark::State& state) {
    const double inclination = static_cast<double>(state.range(0));
    const SkyPredictor sky = Predictor(MakeSet(90002, inclination, inclination > 90 ? 14.2 : 15.5));
    std::size_t passes = 0;
    for (auto _ : state) {
        const auto found = sky.Passes(kEpochMs, kEpochMs + 7 * 86400000LL);
        passes = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["passes"] = static_cast<double>(passes);
}
BENCHMARK(BM_PassesWeek)->Arg(0)->Arg(52)->Arg(98)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tavrik::bench

BENCHMARK_MAIN();
