// The upload queue on disk: adding and removing one entry with 10 and with
// 1 000 000 entries waiting. Both must cost the same.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "upload/UploadSpool.h"

namespace tavrik::bench {
namespace {

constexpr int kIterations = 20000;
const std::string kBody(380, 'b'); // about one composed upload body

class SpoolDir {
  public:
    SpoolDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "tavrik_spool_XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~SpoolDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::unique_ptr<UploadSpool> Filled(const SpoolDir& dir, std::int64_t entries) {
    std::string why;
    auto spool = UploadSpool::Open(dir.Path(), {}, why);
    if (!spool) throw std::runtime_error(why);
    for (std::int64_t i = 0; i < entries; ++i)
        spool->Append(kBody);
    spool->Sync();
    return spool;
}

void BM_SpoolAppend(benchmark::State& state) {
    SpoolDir dir;
    auto spool = Filled(dir, state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(spool->Append(kBody));
    state.counters["segments"] = static_cast<double>(spool->Segments());
}
BENCHMARK(BM_SpoolAppend)->Arg(10)->Arg(1000000)->Iterations(kIterations);

void BM_SpoolRemove(benchmark::State& state) {
    SpoolDir dir;
    auto spool = Filled(dir, state.range(0) + kIterations);
    for (auto _ : state)
        benchmark::DoNotOptimize(spool->PopFront());
}
BENCHMARK(BM_SpoolRemove)->Arg(10)->Arg(1000000)->Iterations(kIterations);

// The flush that follows a burst (at most one a second): what a power cut
// could otherwise take.
void BM_SpoolAppendAndSync(benchmark::State& state) {
    SpoolDir dir;
    auto spool = Filled(dir, state.range(0));
    for (auto _ : state) {
        spool->Append(kBody);
        spool->Sync();
    }
}
BENCHMARK(BM_SpoolAppendAndSync)->Arg(10)->Iterations(200);

// A 4 MiB segment whose middle is damaged: one whole record, then 4 MiB of
// noise strewn with false record starts (the magic every 1 000 bytes, with a
// length that fits), then one whole record. Opening it and reaching the second
// record reads past all of it.
void BM_SpoolResyncOverADamaged4MiBSegment(benchmark::State& state) {
    SpoolDir dir;
    {
        std::string why;
        auto spool = UploadSpool::Open(dir.Path(), {.segmentBytes = 8u << 20}, why);
        if (!spool) throw std::runtime_error(why);
        spool->Append(kBody);
        spool->Append(kBody);
    }
    std::filesystem::path seg;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        if (e.path().extension() == ".seg") seg = e.path();
    std::string bytes;
    {
        std::ifstream in(seg, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t record = bytes.size() / 2;
    std::string noise(4u << 20, '\0');
    std::mt19937 random(1);
    for (char& c : noise)
        c = static_cast<char>(random());
    for (std::size_t at = 0; at + 8 < noise.size(); at += 1000)
        noise.replace(at, 8, std::string("TUQ1\x10\0\0\0", 8));
    std::ofstream(seg, std::ios::binary | std::ios::trunc)
        << bytes.substr(0, record) << noise << bytes.substr(record);
    for (auto _ : state) {
        std::string why;
        auto spool = UploadSpool::Open(dir.Path(), {.segmentBytes = 8u << 20}, why);
        spool->PopFront();
        if (!spool->Front() || *spool->Front() != kBody) state.SkipWithError("second record lost");
        state.PauseTiming();
        spool.reset(); // the journal says one was taken: the next round starts as this one did
        std::filesystem::remove(dir.Path() / "ack.log");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SpoolResyncOverADamaged4MiBSegment)->Unit(benchmark::kMillisecond)->Iterations(20);

// The queue's folder removed while 100 000 uploads wait: the next entry
// makes it again from the files still open, the oldest and newest segment
// (the repair a running station does; the segments between are gone).
void BM_SpoolRebuildAfterTheFolderWentAway(benchmark::State& state) {
    std::uint64_t kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SpoolDir dir;
        auto spool = Filled(dir, state.range(0));
        std::filesystem::remove_all(dir.Path());
        state.ResumeTiming();
        benchmark::DoNotOptimize(spool->Append(kBody));
        state.PauseTiming();
        kept = spool->Count();
        spool.reset();
        state.ResumeTiming();
    }
    state.counters["kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_SpoolRebuildAfterTheFolderWentAway)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace
} // namespace tavrik::bench
