// A measured range switch of the chart on a big archive: frames every few
// seconds over a year (10 million by default, made once and kept in the file
// given), the real chart frame offscreen, and for each range the time from
// the choice to its chart drawn, while a 1 ms heartbeat records the longest
// time the window's thread was kept from running.
//   bench_archive_chart [ARCHIVE] [FRAMES]
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/ArchiveChart.h"
#include "app/ArchiveChartQuery.h"
#include "app/ArchiveChartView.h"
#include "app/ArchiveCsvExport.h"
#include "app/TelemetryChart.h"
#include "archive/Archive.h"
#include "bench_archive.h"
#include "bench_data.h"
#include "qt_bench.h"
#include "time/TimeArgument.h"

using namespace tavrik;
using namespace tavrik::bench;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string path = argc > 1 ? argv[1] : "archive_chart_bench.sqlite";
    const std::int64_t frames = argc > 2 ? std::stoll(argv[2]) : 10'000'000;
    const std::int64_t endMs = UnixMilliseconds({2026, 12, 9, 18, 0, 0, 0});

    {
        Archive archive;
        ArchiveExtent extent;
        if (archive.Open(path, Archive::Access::Read).empty()) archive.Extent({}, extent);
        if (extent.count < frames) {
            archive.Close();
            std::remove(path.c_str());
            std::fprintf(stderr, "making an archive of %lld frames: %s\n",
                         static_cast<long long>(frames), path.c_str());
            if (std::string why = FillArchive(path, frames, endMs); !why.empty()) {
                std::fprintf(stderr, "cannot fill the archive: %s\n", why.c_str());
                return 1;
            }
        }
    }

    FixedClock clock({{2026, 12, 9, 18, 0, 0, 0}, {}});
    TelemetryHistory history;
    QGroupBox frame;
    frame.setGeometry(0, 0, 689, 273);
    auto* run = new TelemetryChart(history, &frame);
    run->setGeometry(8, 16, 673, 249);
    ArchiveChart chart(&frame, run, ArchiveChartQueryFor(path), clock);
    chart.Refresh(21, QStringLiteral("Batt volts [mV]"));
    frame.show();
    QApplication::processEvents();

    // The window's thread's own CPU time between two beats tells its work
    // from the time the scheduler gave the core to others on a loaded machine.
    QElapsedTimer clockNs;
    clockNs.start();
    qint64 last = -1, longest = 0, lastCpu = 0, longestCpu = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clockNs.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        if (last >= 0) {
            longest = std::max(longest, now - last);
            longestCpu = std::max(longestCpu, cpu - lastCpu);
        }
        last = now;
        lastCpu = cpu;
    });
    heartbeat.start();

    const double fileMB = static_cast<double>(QFileInfo(QString::fromStdString(path)).size()) / 1e6;
    std::printf("archive: %lld frames over a year, %.0f MB\n", static_cast<long long>(frames),
                fileMB);
    for (const ChartRange range : {ChartRange::Day, ChartRange::Week, ChartRange::Month,
                                   ChartRange::Year, ChartRange::All, ChartRange::LastPass}) {
        std::vector<double> ms;
        qint64 stall = 0, stallCpu = 0;
        std::size_t buckets = 0;
        for (int i = 0; i < 5; ++i) {
            chart.Box()->SetRange(ChartRange::ThisRun);
            QApplication::processEvents();
            last = -1;
            longest = longestCpu = 0;
            QEventLoop wait;
            QObject::connect(&chart, &ArchiveChart::Drawn, &wait, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            chart.Box()->SetRange(range);
            wait.exec(); // until the answer is applied; then its paint
            chart.View()->repaint();
            ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            stall = std::max(stall, longest);
            stallCpu = std::max(stallCpu, longestCpu);
            buckets = chart.View()->Shown().buckets.size();
        }
        const QString name = ChartRangeName(range);
        std::printf(
            "RESULT\tchart range switch to \"%s\", %lld frames archived (median of 5)\t%.1f\tms\n",
            qPrintable(name), static_cast<long long>(frames), Median(ms));
        std::printf("RESULT\tchart range switch to \"%s\": slowest of 5\t%.1f\tms\n",
                    qPrintable(name), *std::max_element(ms.begin(), ms.end()));
        std::printf("RESULT\tchart range switch to \"%s\": window's longest stall\t%.1f\tms\n",
                    qPrintable(name), static_cast<double>(stall) / 1e6);
        std::printf("RESULT\tchart range switch to \"%s\": window's longest stall, its own "
                    "CPU\t%.1f\tms\n",
                    qPrintable(name), static_cast<double>(stallCpu) / 1e6);
        std::printf("  (%zu buckets drawn)\n", buckets);
    }

    // A month of the archive exported to CSV, as Options, "export telemetry
    // (CSV)" does with "30 days" shown.
    chart.Box()->SetRange(ChartRange::Month);
    QApplication::processEvents();
    QTemporaryDir out;
    ArchiveCsvExport exporter;
    QEventLoop done;
    qint64 rows = 0;
    QObject::connect(&exporter, &ArchiveCsvExport::Finished,
                     [&](const QString&, qint64 n, const QString& error) {
                         rows = error.isEmpty() ? n : -1;
                         done.quit();
                     });
    last = -1;
    longest = longestCpu = 0;
    QElapsedTimer t;
    t.start();
    exporter.Start(QString::fromStdString(path), chart.ExportSpan(), out.filePath("month.csv"));
    done.exec();
    std::printf("RESULT\tCSV export of \"30 days\" (%lld rows)\t%.0f\tms\n",
                static_cast<long long>(rows), static_cast<double>(t.nsecsElapsed()) / 1e6);
    std::printf("RESULT\tCSV export of \"30 days\": window's longest stall\t%.1f\tms\n",
                static_cast<double>(longest) / 1e6);
    std::printf(
        "RESULT\tCSV export of \"30 days\": window's longest stall, its own CPU\t%.1f\tms\n",
        static_cast<double>(longestCpu) / 1e6);
    return rows >= 0 ? 0 : 1;
}
