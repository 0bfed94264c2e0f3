// The live path in the real window (offscreen platform): one telemetry frame
// through the pipeline with the panel, the chart and the event log repainted,
// a chart refresh alone, and one event-log entry.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <vector>

#include "app/ArchiveChart.h"
#include "app/ArchiveChartView.h"
#include "bench_archive.h"
#include "qt_bench.h"
#include "quiet_form.h"

namespace tavrik::bench {
namespace {

constexpr int kLiveIterations = 200;

std::vector<Bytes> LiveFrames() {
    Lcg rng(777);
    std::vector<Bytes> frames;
    for (int i = 0; i < 64; ++i)
        frames.push_back(VaryingTelemetryFrame(rng));
    return frames;
}

// The time per iteration is the frame and its repaint; handler_ms is the
// pipeline's own share (the handler that holds up the event loop). 9 800
// records: the timed frames take the history to its 10 000, each stored and
// drawn (past 10 000 a station without an archive counts frames, shows none).
void BM_LiveFrame(benchmark::State& state) {
    QuietForm q;
    q.FillRecords(static_cast<std::size_t>(state.range(0)));
    q.FillLog(static_cast<std::size_t>(state.range(1)));
    const std::vector<Bytes> frames = LiveFrames();
    std::size_t i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->Pipeline().ProcessRawFrame(frames[i++ % frames.size()]); },
        [] { Drain(); });
    state.counters["records_end"] = q.form->History().StoredCount();
}
BENCHMARK(BM_LiveFrame)
    ->ArgNames({"records", "log"})
    ->ArgsProduct({{0, 1000, 9800}, {0, 100000}})
    ->Iterations(kLiveIterations)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A frame that finds the run chart's drawing hold over (frames a quarter of
// a second apart or more): the chart is drawn with it. The waits between
// frames are not timed.
void BM_LiveFrameSpaced(benchmark::State& state) {
    QuietForm q;
    q.FillRecords(static_cast<std::size_t>(state.range(0)));
    const std::vector<Bytes> frames = LiveFrames();
    std::size_t i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->Pipeline().ProcessRawFrame(frames[i++ % frames.size()]); },
        [&] {
            Drain();
            state.PauseTiming();
            QEventLoop wait;
            QTimer::singleShot(300, &wait, &QEventLoop::quit);
            wait.exec();
            state.ResumeTiming();
        });
}
BENCHMARK(BM_LiveFrameSpaced)
    ->ArgName("records")
    ->Arg(9800)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same at 10000 records with limits in force: every number field limited
// and the values inside (the checking alone), or the example limits, which these
// random values leave and enter in many fields at every frame (a state change,
// a log line and a repainted box each time).
void BM_LiveFrameLimits(benchmark::State& state) {
    std::string limits;
    for (const FieldSpec& f : FieldTable()) {
        const bool named = f.display == Display::OpsState || f.display == Display::EpsModeState ||
                           f.display == Display::EpsTrackState;
        limits += std::string(f.caption) + (named ? " -\n" : " -1e9 -1e9 1e9 1e9\n");
    }
    if (state.range(0) == 1) {
        QFile example(QStringLiteral(TAVRIK_SOURCE_DIR_DEFAULT "/data/limits.example.conf"));
        limits = example.open(QIODevice::ReadOnly) ? example.readAll().toStdString() : "";
    }
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("limits.conf")));
    if (file.open(QIODevice::WriteOnly))
        file.write(limits.data(), static_cast<qint64>(limits.size()));
    file.close();
    QuietForm q("LIMITS=" + file.fileName().toStdString() + "\r\n");
    q.FillRecords(10000);
    const std::vector<Bytes> frames = LiveFrames();
    std::size_t i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->Pipeline().ProcessRawFrame(frames[i++ % frames.size()]); },
        [] { Drain(); });
    state.counters["log_entries"] = static_cast<double>(q.form->Events().Size());
}
BENCHMARK(BM_LiveFrameLimits)
    ->ArgName("example")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(kLiveIterations)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A station that keeps an archive of a million frames over the year, the
// chart showing "7 days" of it: the frame is archived, the run's chart
// follows unseen, and the archive's chart asks again at most once a second.
void BM_LiveFrameArchiveWeek(benchmark::State& state) {
    const auto frames = static_cast<std::int64_t>(state.range(0));
    const std::string kept = QCoreApplication::applicationDirPath().toStdString() +
                             "/window_bench_archive_" + std::to_string(frames) + ".sqlite";
    if (const std::string why = KeptArchive(kept, frames); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    QuietForm q("ARCHIVE=YES\r\n", [&](const QString& folder) {
        QFile::link(QString::fromStdString(kept),
                    folder + QStringLiteral("/tavrik-archive.sqlite"));
    });
    auto* chart = q.form->findChild<ArchiveChart*>();
    if (chart == nullptr) {
        state.SkipWithError("the archive did not start");
        return;
    }
    q.FillRecords(10000);
    chart->Box()->SetRange(ChartRange::Week);
    QEventLoop wait;
    QObject::connect(chart, &ArchiveChart::Drawn, &wait, &QEventLoop::quit);
    QTimer::singleShot(30000, &wait, &QEventLoop::quit);
    wait.exec();
    const std::vector<Bytes> live = LiveFrames();
    std::size_t i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->Pipeline().ProcessRawFrame(live[i++ % live.size()]); },
        [] { Drain(); });
    state.counters["buckets"] = static_cast<double>(chart->View()->Shown().buckets.size());
}
BENCHMARK(BM_LiveFrameArchiveWeek)
    ->ArgName("archived")
    ->Arg(1000000)
    ->Iterations(kLiveIterations)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_RefreshChart(benchmark::State& state) {
    QuietForm q;
    q.FillRecords(static_cast<std::size_t>(state.range(0)));
    // Two fields in turn: each refresh draws the chart from all records, as a
    // choice of field does (the same field again would find nothing new).
    int i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->RefreshChart(++i % 2 == 0 ? 5 : 21); }, [] { Drain(); });
}
BENCHMARK(BM_RefreshChart)
    ->ArgName("records")
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(100)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One entry on top of the log, with its repaint; the log grows by one per iteration.
void BM_EventLogPrepend(benchmark::State& state) {
    QuietForm q;
    q.FillLog(static_cast<std::size_t>(state.range(0)));
    const std::string text = "http://127.0.0.1:1/x: 200 OK | Server: bench";
    TimeHandler(
        state, "us", [&] { q.form->Log(text); }, [] { Drain(1); });
}
BENCHMARK(BM_EventLogPrepend)
    ->ArgName("entries")
    ->Arg(0)
    ->Arg(100000)
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace tavrik::bench

int main(int argc, char** argv) {
    return tavrik::bench::RunQtBenchmarks(argc, argv);
}
