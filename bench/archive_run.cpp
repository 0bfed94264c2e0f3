// Measured runs of the telemetry archive, one process per step so the
// generated files are made once and reused:
//   bench_archive make-archive ARCHIVE N   N frames over one year, in passes
//   bench_archive make-kiss FILE N         a KISS log of N telemetry frames
//   bench_archive import ARCHIVE FILE      the import's frames/s and peak memory
//   bench_archive live ARCHIVE [N]         the window thread's cost per frame, and the writer's
//   bench_archive queries ARCHIVE TOOL     series/passes in process and as whole tool runs
//   bench_archive catchup FOLDER           the start-up catch-up of the folder's KISS logs
//                                          beside an event loop: frames/s and its longest stall
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveImport.h"
#include "archive/ArchiveWriter.h"
#include "archive/qt/ArchiveService.h"
#include "bench_data.h"
#include "station/ArchiveConsumer.h"
#include "telemetry/TelemetryHistory.h"
#include "time/TimeArgument.h"

extern char** environ;

using namespace tavrik;
using namespace tavrik::bench;
using Steady = std::chrono::steady_clock;

namespace {

// The year the archive spans: 2025-12-01 to 2026-12-01 UTC; a pass of 12
// minutes every 100 minutes (a low orbit's rhythm).
constexpr std::int64_t kYearStart = 1764547200000; // 2025-12-01 00:00 UTC
constexpr std::int64_t kYearMs = 365LL * 86400000;
constexpr std::int64_t kOrbitMs = 100 * 60000;
constexpr std::int64_t kPassMs = 12 * 60000;

double Seconds(Steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The time of frame i of n, spread evenly over the passes of the year.
std::int64_t FrameTime(std::int64_t i, std::int64_t n) {
    const std::int64_t passes = kYearMs / kOrbitMs;
    const std::int64_t perPass = (n + passes - 1) / passes;
    const std::int64_t pass = i / perPass, k = i % perPass;
    return kYearStart + pass * kOrbitMs + k * kPassMs / perPass;
}

// With TAVRIK_BENCH_LEVELS=1 every frame comes judged, as with LIMITS=: every
// field in range, one in ten frames red in Batt volts.
bool WithLevels() {
    static const bool on = std::getenv("TAVRIK_BENCH_LEVELS") != nullptr;
    return on;
}

FieldLevels Judged(std::int64_t i) {
    FieldLevels l;
    l.fill(LimitLevel::InRange);
    if (i % 10 == 0) l[21] = LimitLevel::Red;
    return l;
}

ArchiveFrame MakeFrame(Lcg& rng, std::int64_t timeMs) {
    ArchiveFrame a;
    if (WithLevels()) a.levels = Judged(timeMs / 1000);
    a.timeMs = timeMs;
    a.source = "TAVRIK";
    a.data = VaryingTelemetryFrame(rng);
    a.kissFile = "TAVRIK_01122025_0000.kss";
    a.kissOffset = 0;
    return a;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long long FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

int MakeArchive(const std::string& path, std::int64_t n) {
    Archive a;
    if (std::string why = a.Open(path, Archive::Access::Write); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    Lcg rng;
    std::vector<ArchiveFrame> batch;
    const auto t0 = Steady::now();
    for (std::int64_t i = 0; i < n;) {
        batch.clear();
        for (; i < n && batch.size() < 20000; ++i)
            batch.push_back(MakeFrame(rng, FrameTime(i, n)));
        const WriteResult r = a.Insert(batch);
        if (!r.Ok()) {
            std::fprintf(stderr, "%s\n", r.error.c_str());
            return 1;
        }
        if (i % 1000000 == 0) std::fprintf(stderr, "%lld frames\n", static_cast<long long>(i));
    }
    a.Close();
    const double s = Seconds(Steady::now() - t0);
    Result("archive generate frames/s", static_cast<double>(n) / s, "frames/s");
    Result("archive bytes per frame", static_cast<double>(FileBytes(path)) / n, "B");
    return 0;
}

int MakeKiss(const std::string& path, std::int64_t n) {
    Lcg rng;
    Bytes out;
    out.reserve(static_cast<std::size_t>(n) * 160);
    for (std::int64_t i = 0; i < n; ++i) {
        const Bytes ts = KissTimestampRecord(FormatTimestamp(UtcDateTime(FrameTime(i, n))));
        out.insert(out.end(), ts.begin(), ts.end());
        const Bytes rec = KissFrameRecord(VaryingTelemetryFrame(rng));
        out.insert(out.end(), rec.begin(), rec.end());
    }
    return WriteBytes(path, out) ? 0 : 1;
}

int Import(const std::string& archivePath, const std::string& kiss) {
    Archive a;
    if (std::string why = a.Open(archivePath, Archive::Access::Write); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    ArchiveImport import;
    if (std::string why = import.Open(kiss); !why.empty()) return 1;
    const auto t0 = Steady::now();
    const double c0 = CpuMs();
    WriteResult r;
    while (import.Slice(a, 10000, r)) {
    }
    const double s = Seconds(Steady::now() - t0), cpu = (CpuMs() - c0) / 1e3;
    if (!r.Ok()) std::fprintf(stderr, "%s\n", r.error.c_str());
    const auto frames = static_cast<double>(import.Counts().frames);
    Result("import frames/s (wall)", frames / s, "frames/s");
    Result("import frames/s (CPU)", frames / cpu, "frames/s");
    Result("import frames added", static_cast<double>(import.Counts().added), "frames");
    Result("import peak memory", static_cast<double>(StatusKiB("VmHWM")) / 1024, "MB");
    a.Close();
    Result("import bytes per frame",
           static_cast<double>(FileBytes(archivePath)) / import.Counts().added, "B");
    return 0;
}

int Live(const std::string& path, int n) {
    // The frames arrive as a station hears them: one after another, with time
    // for the writer between them (a pass brings one every few seconds).
    Lcg rng(99);
    // New frames in the months before the archive's year (after those of an
    // earlier run), so the year's queries stay as they were.
    ArchiveExtent extent, before;
    {
        Archive a;
        if (a.Open(path, Archive::Access::Write).empty()) {
            a.Extent({}, extent);
            a.Extent({kYearStart - 90LL * 86400000, kYearStart}, before);
        }
    }
    std::int64_t t = before.count > 0 ? before.lastMs : kYearStart - 90LL * 86400000;
    extent.count -= before.count;
    std::vector<double> post, commit;
    ArchiveWriter writer;
    if (std::string why = writer.Start(path); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    // What the window's thread does for each frame: the station hands the
    // decoded frame to the archive's consumer.
    ArchiveConsumer consumer(writer);
    for (int i = 0; i < n; ++i) {
        DecodedFrame d;
        d.heard.data = VaryingTelemetryFrame(rng);
        d.heard.received = FormatTimestamp(UtcDateTime(t += 1000));
        d.heard.kissFile = "/home/station/tavrik-decoder/TAVRIK_01112025_0000.kss";
        d.heard.kissOffset = 30 + 152LL * i;
        d.source = "TAVRIK";
        if (WithLevels()) {
            d.limits.emplace();
            const FieldLevels l = Judged(i);
            for (std::size_t f = 0; f < l.size(); ++f)
                d.limits->values.fields[f].level = l[f];
        }
        const auto t0 = Steady::now();
        consumer.TelemetryDecoded(d);
        const auto t1 = Steady::now();
        writer.Flush();
        post.push_back(Seconds(t1 - t0) * 1e3);
        commit.push_back(Seconds(Steady::now() - t0) * 1e3);
    }
    const ArchiveWriterCounts c = writer.Counts();
    std::printf("archived %lld, already there %lld, not taken %lld\n",
                static_cast<long long>(c.archived), static_cast<long long>(c.duplicates),
                static_cast<long long>(consumer.Refused() + consumer.WithoutTime()));
    writer.Stop();
    const std::string label = extent.count > 0
                                  ? " (" + std::to_string(extent.count / 1000000) + " M frames)"
                                  : " (empty archive)";
    Result("live frame on the window thread, median" + label, Median(post), "ms");
    Result("live frame on the window thread, 99th percentile" + label, Percentile(post, 0.99),
           "ms");
    Result("live frame written (writer thread), median" + label, Median(commit), "ms");
    return 0;
}

struct ProcessTime {
    double wallMs = -1;
    double cpuMs = -1; // user + system: what the process itself costs on a busy machine
};

// A whole process, its output thrown away.
ProcessTime RunProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Steady::now();
    pid_t pid = 0;
    ProcessTime t;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return t;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&actions);
    t.wallMs = Seconds(Steady::now() - t0) * 1e3;
    auto ms = [](const timeval& tv) { return tv.tv_sec * 1e3 + tv.tv_usec / 1e3; };
    t.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    return t;
}

int Queries(const std::string& path, const std::string& toolPath) {
    Archive a;
    if (std::string why = a.Open(path, Archive::Access::Read); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    ArchiveExtent extent;
    a.Extent({}, extent);
    const TimeRange year{extent.lastMs - kYearMs, extent.lastMs + 1};
    const TimeRange day{extent.lastMs - 86400000, extent.lastMs + 1};
    // Median wall and CPU time of seven runs.
    auto timed = [&](const std::string& name, auto&& f) {
        std::vector<double> wall, cpu;
        for (int i = 0; i < 7; ++i) {
            const auto t0 = Steady::now();
            const double c0 = CpuMs();
            f();
            wall.push_back(Seconds(Steady::now() - t0) * 1e3);
            cpu.push_back(CpuMs() - c0);
        }
        Result(name + " (query, wall)", Median(wall), "ms");
        Result(name + " (query, CPU)", Median(cpu), "ms");
    };
    Series s;
    std::vector<Summary> passes;
    const int batt = 21;
    timed("series year 1000 points", [&] { a.QuerySeries(batt, year, 1000, s); });
    std::printf("series year: %zu buckets of %lld ms\n", s.buckets.size(),
                static_cast<long long>(s.bucketMs));
    timed("series 24 h full resolution", [&] { a.QuerySeries(batt, day, 1000000, s); });
    std::printf("series 24 h: %zu buckets of %lld ms\n", s.buckets.size(),
                static_cast<long long>(s.bucketMs));
    timed("passes year", [&] { a.QueryPasses(year, passes); });
    std::printf("passes: %zu\n", passes.size());
    const std::string from = FormatIsoUtc(year.fromMs), to = FormatIsoUtc(year.toMs);
    const std::string dayFrom = FormatIsoUtc(day.fromMs);
    auto tool = [&](const std::string& name, std::vector<std::string> args) {
        std::vector<double> wall, cpu;
        for (int i = 0; i < 5; ++i) {
            const ProcessTime t = RunProcess(args);
            wall.push_back(t.wallMs);
            cpu.push_back(t.cpuMs);
        }
        Result("tavrik-archive " + name + " (process, wall)", Median(wall), "ms");
        Result("tavrik-archive " + name + " (process, CPU)", Median(cpu), "ms");
    };
    tool("series year 1000 points",
         {toolPath, "series", path, "Batt volts", "--from", from, "--to", to, "--points", "1000"});
    tool("series 24 h full resolution", {toolPath, "series", path, "Batt volts", "--from", dayFrom,
                                         "--to", to, "--points", "200000"});
    tool("passes year", {toolPath, "passes", path, "--from", from, "--to", to});
    Result("archive frames", static_cast<double>(extent.count), "frames");
    Result("archive bytes per frame", static_cast<double>(FileBytes(path)) / extent.count, "B");
    return 0;
}

int CatchUp(int argc, char** argv, const std::string& folder) {
    QCoreApplication app(argc, argv);
    SystemClock clock;
    ArchiveService service(clock);
    const QString line = service.Start(QString::fromStdString(folder));
    std::printf("%s\n", qPrintable(line));
    if (!service.Running()) return 1;
    // A 1 ms heartbeat: the longest time between two beats is the longest
    // time the window's thread would have been kept from its work.
    // Its own CPU time between two beats tells the thread's work from the
    // time the scheduler gave the core to others (the writer among them).
    QElapsedTimer clockNs;
    qint64 last = -1, longest = 0, lastCpu = 0, longestCpu = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clockNs.nsecsElapsed();
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        const qint64 cpu = static_cast<qint64>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
        if (last >= 0) {
            longest = std::max(longest, now - last);
            longestCpu = std::max(longestCpu, cpu - lastCpu);
        }
        last = now;
        lastCpu = cpu;
    });
    QObject::connect(&service, &ArchiveService::LogLine,
                     [](const QString& l) { std::printf("%s\n", qPrintable(l)); });
    QObject::connect(&service, &ArchiveService::CatchUpFinished, &app, &QCoreApplication::quit);
    clockNs.start();
    beat.start(1);
    const double c0 = CpuMs();
    service.StartCatchUp(QString::fromStdString(folder));
    app.exec();
    const double s = clockNs.nsecsElapsed() / 1e9, cpu = (CpuMs() - c0) / 1e3;
    const double frames = static_cast<double>(service.Writer()->Counts().caughtUp);
    Result("catch-up frames/s (wall)", frames / s, "frames/s");
    Result("catch-up frames/s (CPU, both threads)", frames / cpu, "frames/s");
    Result("catch-up longest event-loop stall", longest / 1e6, "ms");
    Result("catch-up longest event-loop stall, the loop's own CPU", longestCpu / 1e6, "ms");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 3 && a[0] == "make-archive") return MakeArchive(a[1], std::stoll(a[2]));
    if (a.size() == 3 && a[0] == "make-kiss") return MakeKiss(a[1], std::stoll(a[2]));
    if (a.size() == 3 && a[0] == "import") return Import(a[1], a[2]);
    if (a.size() >= 2 && a[0] == "live") return Live(a[1], a.size() > 2 ? std::stoi(a[2]) : 2000);
    if (a.size() == 3 && a[0] == "queries") return Queries(a[1], a[2]);
    if (a.size() == 2 && a[0] == "catchup") return CatchUp(argc, argv, a[1]);
    std::fprintf(stderr, "usage: see the top of bench/archive_run.cpp\n");
    return 2;
}
