// The InfluxDB lane against a real influxd on loopback (Debian's influxdb):
// frames at 100 a second for a while, on the disk queue, then a burst of a
// whole backlog at once. Prints how far the lane fell behind, how long it took
// to catch up, how many points a request carried, and the points InfluxDB holds.
//
// influx_run [seconds at 100 frames/s, default 30] [burst points, default 20000]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "upload/qt/InfluxUploader.h"

using namespace tavrik;

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void Wait(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QByteArray Http(QNetworkAccessManager& net, const QString& url, const QByteArray& post) {
    QNetworkReply* reply = net.post(QNetworkRequest(QUrl(url)), post);
    reply->ignoreSslErrors();
    Wait([reply] { return reply->isFinished(); }, 10000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int burst = argc > 2 ? std::atoi(argv[2]) : 20000;

    QTemporaryDir dir;
    const quint16 port = FreePort();
    QFile conf(dir.filePath("influxdb.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("reporting-enabled = false\nbind-address = \"127.0.0.1:%1\"\n"
                              "[meta]\n dir = \"%2/meta\"\n[data]\n dir = \"%2/data\"\n"
                              " wal-dir = \"%2/wal\"\n query-log-enabled = false\n"
                              "[monitor]\n store-enabled = false\n"
                              "[http]\n bind-address = \"127.0.0.1:%3\"\n log-enabled = false\n")
                   .arg(FreePort())
                   .arg(dir.path())
                   .arg(port)
                   .toUtf8());
    conf.close();
    QProcess influxd;
    influxd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    influxd.setStandardOutputFile(QProcess::nullDevice());
    influxd.start(QStringLiteral("influxd"), {QStringLiteral("-config"), conf.fileName()});
    if (!influxd.waitForStarted(10000)) {
        std::fprintf(stderr, "influxd (Debian's influxdb) cannot be started\n");
        return 1;
    }
    QNetworkAccessManager net;
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QByteArray created;
    Wait(
        [&] {
            return (created = Http(net, base + "/query", "q=CREATE%20DATABASE%20b"))
                .contains("results");
        },
        20000);

    FixedClock clock;
    InfluxUploader lane(clock);
    lane.Start((base + "/write?db=b").toStdString(), {}, dir.filePath("queue").toStdString());
    std::array<double, kFieldCount> values{};
    for (int i = 0; i < kFieldCount; ++i)
        values[static_cast<std::size_t>(i)] = i * 1.25;
    std::int64_t n = 0;
    auto add = [&] {
        values[5] = static_cast<double>(n);
        const std::int64_t ms = 1'700'000'000'000 + n++;
        char stamp[32];
        const std::time_t s = static_cast<std::time_t>(ms / 1000);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::gmtime(&s));
        lane.Add("BENCH", std::string(stamp) + "." + std::to_string(1000 + ms % 1000).substr(1),
                 values);
    };

    // 100 frames a second.
    std::uint64_t mostWaiting = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer t;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        // As many as are due: a late tick on a busy machine does not slow the feed.
        while (n < t.elapsed() / 10)
            add();
        mostWaiting = std::max(mostWaiting, lane.Status().counts.queued);
    });
    t.start();
    tick.start(10);
    Wait([&] { return n >= seconds * 100; }, seconds * 1000 + 60000);
    tick.stop();
    const double feedS = t.elapsed() / 1000.0;
    const double liveRate = static_cast<double>(n) / feedS;
    t.restart();
    Wait([&] { return lane.Idle(); }, 60000);
    const qint64 drainLiveMs = t.elapsed();
    std::printf("live: %lld in %.1f s (%.0f frames/s), most waiting %llu, "
                "caught up %lld ms after the last\n",
                static_cast<long long>(n), feedS, n / feedS,
                static_cast<unsigned long long>(mostWaiting), static_cast<long long>(drainLiveMs));

    // A backlog at once: how fast the lane drains it.
    t.restart();
    for (int i = 0; i < burst; ++i)
        add();
    const qint64 queuedMs = t.elapsed();
    Wait([&] { return lane.Idle(); }, 600000);
    const double drainS = t.elapsed() / 1000.0;
    std::printf("backlog: %d points queued on disk in %lld ms, all taken in %.2f s "
                "(%.0f points/s)\n",
                burst, static_cast<long long>(queuedMs), drainS, burst / drainS);

    const QByteArray count =
        Http(net, base + "/query?db=b", "q=SELECT%20count(%22Uptime%22)%20FROM%20tavrik");
    const QJsonValue held =
        QJsonDocument::fromJson(count)["results"][0]["series"][0]["values"][0][1];
    const InfluxStatus s = lane.Status();
    std::printf("InfluxDB holds %lld of %lld points; accepted %llu, failed requests %llu\n",
                static_cast<long long>(held.toDouble()), static_cast<long long>(n),
                static_cast<unsigned long long>(s.counts.accepted),
                static_cast<unsigned long long>(s.counts.failed));
    std::printf("RESULT\tinflux_live_rate\t%.1f\tframes/s fed\n", liveRate);
    std::printf("RESULT\tinflux_live_most_waiting\t%llu\tpoints\n",
                static_cast<unsigned long long>(mostWaiting));
    std::printf("RESULT\tinflux_backlog_drain\t%.0f\tpoints/s\n", burst / drainS);
    lane.Stop();
    influxd.terminate();
    influxd.waitForFinished(10000);
    return held.toDouble() == static_cast<double>(n) ? 0 : 1;
}
