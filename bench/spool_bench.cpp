// The upload queue on disk: adding and removing one entry with 10 and with
// 1 000 000 entries waiting. Both must cost the same.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
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

} // namespace
} // namespace tavrik::bench
