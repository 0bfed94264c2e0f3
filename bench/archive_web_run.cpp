// The web page's archive questions against an archive of 2 million frames in
// 33 334 passes (60 frames a pass, one pass every 30 minutes):
//   bench_archive_web ARCHIVE [N]   (the archive is made first when missing)
// Prints the pass list's query as the page used to read it (every pass of
// the range, 100 kept) beside the one with a limit in SQL; /api/passes over
// loopback, one at a time; and /api/station polled while eight clients ask
// for passes as fast as they may, with the event loop's longest stall.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "archive/Archive.h"
#include "bench_data.h"
#include "web/ArchiveWebSource.h"
#include "web/WebApi.h"
#include "web/WebServer.h"
#include "web/WebState.h"

using namespace tavrik;
using namespace tavrik::bench;
using Steady = std::chrono::steady_clock;

namespace {

constexpr std::int64_t kStart = 1764547200000; // 2025-12-01 00:00 UTC
constexpr std::int64_t kPassEveryMs = 30 * 60000;
constexpr int kPerPass = 60;
const std::string kRange = "from=2025-12-01&to=2028-01-01";

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

int Make(const std::string& path, std::int64_t n) {
    Archive a;
    if (std::string why = a.Open(path, Archive::Access::Write); !why.empty())
        return std::fprintf(stderr, "%s\n", why.c_str()), 1;
    Lcg rng;
    std::vector<ArchiveFrame> batch;
    for (std::int64_t i = 0; i < n;) {
        batch.clear();
        for (; i < n && batch.size() < 20000; ++i) {
            ArchiveFrame f;
            f.timeMs = kStart + (i / kPerPass) * kPassEveryMs + (i % kPerPass) * 10000;
            f.source = "TAVRIK";
            f.data = VaryingTelemetryFrame(rng);
            batch.push_back(std::move(f));
        }
        if (const WriteResult r = a.Insert(batch); !r.Ok())
            return std::fprintf(stderr, "%s\n", r.error.c_str()), 1;
    }
    return 0;
}

// One request on its own connection; the answer's time in ms, or -1.
double Get(int port, const std::string& path, int* status = nullptr) {
    const auto t0 = Steady::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string req = "GET " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n\r\n";
        ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        // Until the whole answer is in (the server keeps the connection open).
        char buf[65536];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
            got.append(buf, static_cast<std::size_t>(n));
            const std::size_t head = got.find("\r\n\r\n");
            const std::size_t length = got.find("Content-Length: ");
            if (head != std::string::npos && length != std::string::npos &&
                got.size() >= head + 4 + std::stoul(got.substr(length + 16)))
                break;
        }
    }
    ::close(fd);
    if (status) *status = got.size() > 12 ? std::atoi(got.c_str() + 9) : 0;
    return got.empty() ? -1 : Ms(Steady::now() - t0);
}

void InProcess(const std::string& path) {
    Archive a;
    a.Open(path, Archive::Access::Read);
    const TimeRange all{kStart, kStart + 800LL * 86400000};
    std::vector<double> full, limited;
    std::size_t passes = 0;
    for (int i = 0; i < 10; ++i) {
        std::vector<Summary> out;
        auto t0 = Steady::now();
        a.QueryPasses(all, out); // as the page read them before: all, then 100 kept
        passes = out.size();
        full.push_back(Ms(Steady::now() - t0));
        t0 = Steady::now();
        a.QueryNewestPasses(all, 100, out);
        limited.push_back(Ms(Steady::now() - t0));
    }
    std::printf("passes in the archive: %zu\n", passes);
    std::printf("pass list, every pass read, 100 kept: median %.1f ms\n", Percentile(full, 0.5));
    std::printf("pass list, LIMIT 100 in SQL:          median %.2f ms\n", Percentile(limited, 0.5));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return std::fprintf(stderr, "usage: bench_archive_web ARCHIVE [N]\n"), 2;
    const std::string path = argv[1];
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && Make(path, argc > 2 ? std::atoll(argv[2]) : 2000000))
        return 1;
    InProcess(path);

    WebState state;
    ArchiveWebSource source([&] { return path; });
    WebApi api(
        state,
        [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        },
        &source);
    WebServer server(api);
    if (const std::string why = server.Listen("127.0.0.1", 0); !why.empty())
        return std::fprintf(stderr, "%s\n", why.c_str()), 1;
    const int port = server.Port();

    // The event loop's longest gap between 5 ms ticks.
    QElapsedTimer tick;
    tick.start();
    qint64 last = 0, stall = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        stall = std::max(stall, tick.elapsed() - last);
        last = tick.elapsed();
    });
    watch.start(5);

    std::vector<double> one, station;
    std::atomic<int> asked{0}, refused{0};
    std::atomic<bool> done{false};
    std::thread clients([&] {
        // One at a time, within the page's query budget (20 a second).
        for (int i = 0; i < 60; ++i) {
            int status = 0;
            const double ms = Get(port, "/api/passes?" + kRange, &status);
            if (status == 200) one.push_back(ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        // Eight clients asking as fast as they may, a poller of /api/station.
        std::atomic<bool> flood{true};
        std::vector<std::thread> eight;
        for (int c = 0; c < 8; ++c)
            eight.emplace_back([&] {
                while (flood) {
                    int status = 0;
                    Get(port, "/api/passes?" + kRange, &status);
                    ++asked;
                    if (status != 200) ++refused;
                }
            });
        for (int i = 0; i < 100; ++i) {
            station.push_back(Get(port, "/api/station"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        flood = false;
        for (std::thread& t : eight)
            t.join();
        done = true;
    });
    QTimer finish;
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (done) app.quit();
    });
    finish.start(50);
    app.exec();
    clients.join();

    std::printf("/api/passes over loopback, one at a time: median %.1f ms, p95 %.1f ms, max %.1f "
                "ms (%zu answers)\n",
                Percentile(one, 0.5), Percentile(one, 0.95), Percentile(one, 1.0), one.size());
    std::printf("/api/station beside 8 pass clients (%d asked, %d refused 429): median %.1f ms, "
                "max %.1f ms\n",
                asked.load(), refused.load(), Percentile(station, 0.5), Percentile(station, 1.0));
    std::printf("event loop's longest stall: %lld ms\n", static_cast<long long>(stall));
    return 0;
}
