#pragma once
// Helpers of the radio tests: an element set made for a pass in progress now,
// Hamlib's dummy daemons started on a free port of 127.0.0.1, and a short
// blocking reading of rigctld's frequency (the test's own second client).
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "sky/SkyPredictor.h"
#include "time/Clock.h"
#include "time/TimeArgument.h"

namespace tavrik::test {

// How many lines of the log hold `part`.
inline std::size_t Count(const std::string& log, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = log.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

inline int FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

inline std::string WithChecksum(std::string line) {
    int sum = 0;
    for (char c : line)
        sum += c == '-' ? 1 : (c >= '0' && c <= '9' ? c - '0' : 0);
    return line + std::to_string(sum % 10);
}

// A low circular orbit (51.6°, 15.5 rev/day) at its ascending node at epochMs.
inline std::string MadeUpTle(std::int64_t epochMs, double raanDeg) {
    const DateTime d = UtcDateTime(epochMs);
    const std::int64_t yearStart = UnixMilliseconds(DateTime{d.year, 1, 1});
    const double day = 1.0 + static_cast<double>(epochMs - yearStart) / 86'400'000.0;
    char l1[80], l2[80];
    std::snprintf(l1, sizeof l1,
                  "1 99999U 26001A   %02d%012.8f  .00000000  00000-0  00000-0 0  999", d.year % 100,
                  day);
    std::snprintf(l2, sizeof l2,
                  "2 99999  51.6000 %8.4f 0001000   0.0000   0.0000 15.50000000    1", raanDeg);
    return "RADIOTEST\n" + WithChecksum(l1) + "\n" + WithChecksum(l2) + "\n";
}

// A station beside the made-up satellite's track: a pass of some 26° in progress at nowMs.
inline std::optional<SkyPredictor> PassInProgress(std::int64_t nowMs, std::string& tle) {
    tle = MadeUpTle(nowMs - 3 * 60'000, 40.0);
    std::string why;
    const std::vector<Tle> sets = ParseTles(tle).sets;
    const auto probe = SkyPredictor::Create(sets, Observer{}, 0, why);
    const std::optional<SkyPoint> mid = probe ? probe->At(nowMs + 60'000) : std::nullopt;
    if (!mid) return std::nullopt;
    return SkyPredictor::Create(
        sets, Observer{mid->latitudeDeg + 7.0, mid->longitudeDeg - 3.0, 100}, 0, why);
}

// rigctld / rotctld with the dummy model on 127.0.0.1:port; ready when it takes a connection.
inline bool StartDummy(QProcess& p, const char* program, int port, bool verbose = false) {
    QStringList args{"-m", "1", "-T", "127.0.0.1", "-t", QString::number(port)};
    if (verbose) args << "-vvvvv";
    p.start(QString::fromLatin1(program), args);
    if (!p.waitForStarted(5000)) return false;
    for (int i = 0; i < 100; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (s.waitForConnected(200)) return true;
        p.waitForFinished(50);
        if (p.state() != QProcess::Running) return false;
    }
    return false;
}

// "f" on the test's own connection: the frequency rigctld is on.
inline std::string ReadFrequency(QTcpSocket& s) {
    s.write("f\n");
    while (!s.canReadLine())
        if (!s.waitForReadyRead(2000)) return "(no answer)";
    return s.readLine().trimmed().toStdString();
}

} // namespace tavrik::test
