// The web page's cost: /api/current rendered and answered over loopback at
// 10 000 records, and the live-frame handler of the real window while 50
// clients poll /api/current once a second (against none).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_data.h"
#include "qt_bench.h"
#include "quiet_form.h"
#include "time/Clock.h"
#include "web/StationWeb.h"

namespace tavrik::bench {
namespace {

void Fill(StationWeb& web, std::size_t records) {
    Lcg rng(99);
    for (std::size_t i = 0; i < records; ++i) {
        DecodedFrame d;
        d.record.timestamp = Timestamp(i);
        d.number = static_cast<std::int32_t>(i + 1);
        d.source = "BENCH";
        for (double& v : d.record.values)
            v = rng.Next() % 100000 / 7.0;
        web.Consumer().TelemetryDecoded(d);
    }
}

// A blocking keep-alive connection asking for one path.
class Client {
  public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Ok() const { return ok_; }
    // Sends the request; Done() then reads until the whole answer is in.
    void Send(const std::string& path) {
        const std::string req = "GET " + path + " HTTP/1.1\r\nHost: b\r\n\r\n";
        ok_ = ok_ &&
              ::send(fd_, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size());
        got_.clear();
    }
    bool Done(bool wait) {
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, wait ? 0 : MSG_DONTWAIT);
        if (n > 0) got_.append(buf, static_cast<std::size_t>(n));
        if (n == 0) ok_ = false;
        const std::size_t end = got_.find("\r\n\r\n");
        if (end == std::string::npos) return !ok_;
        const std::size_t cl = got_.find("Content-Length: ");
        const std::size_t length = cl < end ? std::stoul(got_.substr(cl + 16)) : 0;
        return got_.size() >= end + 4 + length;
    }

  private:
    int fd_;
    bool ok_ = false;
    std::string got_;
};

void BM_ApiCurrentRender(benchmark::State& state) {
    SystemClock clock;
    StationWeb web(clock);
    Fill(web, 10000);
    for (auto _ : state) {
        Fill(web, 1); // a new record: nothing cached
        benchmark::DoNotOptimize(web.Api().Current());
    }
}
BENCHMARK(BM_ApiCurrentRender)->Unit(benchmark::kMicrosecond);

// One request and its whole answer over loopback, the server on this
// thread's event loop as in the program; a new record before every other one.
void BM_ApiCurrentHttp(benchmark::State& state) {
    SystemClock clock;
    StationWeb web(clock);
    StationConfig config;
    config.web = "127.0.0.1:0";
    web.Start(config);
    Fill(web, 10000);
    Client client(web.Port());
    std::size_t i = 0;
    for (auto _ : state) {
        if (i++ % 2 == 0) Fill(web, 1);
        client.Send("/api/current");
        while (!client.Done(false))
            QCoreApplication::processEvents();
    }
    if (!client.Ok()) state.SkipWithError("the connection failed");
}
BENCHMARK(BM_ApiCurrentHttp)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The real window's live-frame handler at 10 000 records, with the web page
// on and `clients` pollers asking for /api/current once a second each, on
// their own threads as browsers would.
void BM_LiveFrameWithPollers(benchmark::State& state) {
    const int web = ClosedPort();
    QuietForm q("WEB=127.0.0.1:" + std::to_string(web) + "\r\n");
    q.FillRecords(10000);
    std::atomic<bool> stop{false};
    std::atomic<long> answers{0};
    std::vector<std::thread> pollers;
    for (int c = 0; c < state.range(0); ++c)
        pollers.emplace_back([&, c] {
            Client client(web);
            // Spread over the second, as independent browsers are.
            std::this_thread::sleep_for(std::chrono::milliseconds(c * 1000 / 50));
            while (!stop && client.Ok()) {
                const auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                client.Send("/api/current");
                while (!client.Done(true)) {
                }
                ++answers;
                while (!stop && std::chrono::steady_clock::now() < next)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    Lcg rng(777);
    std::vector<Bytes> frames;
    for (int i = 0; i < 64; ++i)
        frames.push_back(VaryingTelemetryFrame(rng));
    std::size_t i = 0;
    TimeHandler(
        state, "ms", [&] { q.form->Pipeline().ProcessRawFrame(frames[i++ % frames.size()]); },
        [] {
            // Frames a tenth of a second apart, the event loop serving the pollers between.
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 100)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        });
    stop = true;
    for (std::thread& t : pollers)
        t.join();
    state.counters["answers"] = static_cast<double>(answers);
    state.counters["rss_mib"] = static_cast<double>(testing::ProcStatusKiB("VmRSS")) / 1024.0;
}
BENCHMARK(BM_LiveFrameWithPollers)
    ->ArgName("clients")
    ->Arg(0)
    ->Arg(50)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tavrik::bench

int main(int argc, char** argv) {
    return tavrik::bench::RunQtBenchmarks(argc, argv);
}
