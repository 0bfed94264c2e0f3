// A measured import: a 100 000-frame KISS log (about 14 MB, telemetry and
// foreign frames, each after its timestamp record) through Form1::ImportFiles
// in the real window, while a 1 ms heartbeat records the longest time the
// event loop was kept from running.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include "quiet_form.h"

using namespace tavrik::bench;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::size_t frames = 100000;
    if (argc > 1) frames = static_cast<std::size_t>(std::stoul(argv[1]));

    QuietForm q;
    const QString path = q.Path("import.kss");
    WriteBytes(QFile::encodeName(path).toStdString(), KissLogBytes(frames, 10));
    const double fileMB = static_cast<double>(QFileInfo(path).size()) / 1e6;
    const long rssBeforeKiB = StatusKiB("VmRSS");

    QElapsedTimer clock;
    clock.start();
    qint64 last = -1, longestDuring = 0, longestAfter = 0, over50 = 0, ticks = 0;
    qint64 started = -1, ended = -1;
    struct Gap {
        qint64 length, began, cpu; // began: from the start of the import
        bool operator<(const Gap& o) const { return length < o.length; }
    };
    std::vector<Gap> gaps;

    // The thread's CPU time tells work from waiting for a core: on a shared
    // machine a gap can be the scheduler's, not the program's.
    auto threadCpuNs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<qint64>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
    };
    qint64 lastCpu = 0, longestCpuDuring = 0;

    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        if (last >= 0 && started >= 0) {
            const qint64 gap = now - last;
            if (ended < 0) {
                longestDuring = std::max(longestDuring, gap);
                longestCpuDuring = std::max(longestCpuDuring, cpu - lastCpu);
            } else
                longestAfter = std::max(longestAfter, gap);
            if (gap > 50'000'000) ++over50;
            gaps.push_back({gap, last - started, cpu - lastCpu});
        }
        last = now;
        lastCpu = cpu;
        ++ticks;
        if (started >= 0 && ended < 0 && !q.form->ImportRunning()) ended = now;
        // The chart and panel are repainted after the end; that stall counts too.
        if (ended >= 0 && now - ended > 300'000'000) app.quit();
    });
    heartbeat.start();
    // Started from the loop, as the file dialog's answer would start it.
    QTimer::singleShot(20, [&] {
        started = clock.nsecsElapsed();
        q.form->ImportFiles({path});
    });
    app.exec();

    const double seconds = static_cast<double>(ended - started) / 1e9;
    const auto decoded = q.form->History().RxPacketCount();
    std::fprintf(stdout,
                 "import: %zu frames, %.1f MB, %d telemetry counted, %lld heartbeat ticks\n",
                 frames, fileMB, decoded, static_cast<long long>(ticks));
    std::sort(gaps.rbegin(), gaps.rend());
    for (std::size_t i = 0; i < std::min<std::size_t>(5, gaps.size()); ++i)
        std::fprintf(
            stdout,
            "import: gap of %.1f ms (%.1f ms of it on the CPU) at %.1f ms after the start%s\n",
            static_cast<double>(gaps[i].length) / 1e6, static_cast<double>(gaps[i].cpu) / 1e6,
            static_cast<double>(gaps[i].began) / 1e6,
            started + gaps[i].began >= ended ? " (after the end)" : "");
    if (q.presenter.shown > 0) std::fprintf(stdout, "import: a message box was shown\n");
    Result("import " + std::to_string(frames) + " frames: file size", fileMB, "MB");
    Result("import " + std::to_string(frames) + " frames: time", seconds, "s");
    Result("import " + std::to_string(frames) + " frames: rate",
           static_cast<double>(frames) / seconds, "frames/s");
    Result("import: longest event-loop gap during import", static_cast<double>(longestDuring) / 1e6,
           "ms");
    Result("import: longest CPU time between two heartbeats during import",
           static_cast<double>(longestCpuDuring) / 1e6, "ms");
    Result("import: longest gap at the end (final chart and panel)",
           static_cast<double>(longestAfter) / 1e6, "ms");
    Result("import: event-loop gaps over 50 ms", static_cast<double>(over50), "count");
    Result("import: resident memory growth",
           static_cast<double>(StatusKiB("VmRSS") - rssBeforeKiB) / 1024.0, "MiB");
    Result("import: peak resident memory (window + 100000 frames)",
           static_cast<double>(StatusKiB("VmHWM")) / 1024.0, "MiB");
    return decoded > 0 ? 0 : 1;
}
