#pragma once
// What the soak runs share: the frames they feed, the modem stand-in that
// feeds them, and what the servers received.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/Kiss.h"
#include "http_test_server.h"
#include "telemetry/FrameText.h"
#include "telemetry_frames.h"

namespace tavrik::soak {

using namespace tavrik::testing;
using tavrik::test::HttpTestServer;

inline long EnvLong(const char* name, long fallback) {
    const QByteArray v = qgetenv(name);
    bool ok = false;
    const long n = v.toLong(&ok);
    return ok && n > 0 ? n : fallback;
}

inline QByteArray Q(const Bytes& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The frame= field a server gets for a frame: its text without the port byte.
inline std::string FrameField(const Bytes& frame) {
    std::string text = TelemetryFrameText(frame).substr(3);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Frame k of a run: nine in ten are telemetry with raw values that change from
// frame to frame (and the frame number after the last field, so no two bodies
// are alike), the rest foreign. Some carry bytes that the KISS log must escape.
// The last frame is always telemetry, so its arrival marks the end of a run.
struct Feed {
    std::vector<Bytes> frames;
    std::vector<std::string> telemetryFields; // the frame= field each server must get, in order

    explicit Feed(long count) {
        for (long k = 0; k < count; ++k) {
            if (k % 10 == 9 && k != count - 1) {
                frames.push_back(ForeignFrame("soak frame " + std::to_string(k)));
                continue;
            }
            std::vector<long> raw(kFieldCount);
            for (int i = 0; i < kFieldCount; ++i)
                raw[static_cast<std::size_t>(i)] = (k * 131 + i * 17) % 65536;
            Bytes f = TelemetryFrame(raw, 120);
            for (int b = 0; b < 4; ++b)
                f[static_cast<std::size_t>(112 + b)] = static_cast<std::uint8_t>(k >> (8 * b));
            f[116] = k % 3 == 0 ? 0xC0 : k % 3 == 1 ? 0xDB : 0x55;
            telemetryFields.push_back(FrameField(f));
            frames.push_back(std::move(f));
        }
    }
    std::int32_t Telemetry() const { return static_cast<std::int32_t>(telemetryFields.size()); }

    // Frames from..to (all by default) as a KISS file.
    bool WriteKiss(const QString& path, std::size_t from = 0, std::size_t to = SIZE_MAX) const {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        const Bytes ts = KissTimestampRecord("2024-03-05 14:07:09.250");
        for (std::size_t i = from; i < std::min(to, frames.size()); ++i) {
            out.write(Q(ts));
            out.write(Q(KissFrameRecord(frames[i])));
        }
        return out.error() == QFileDevice::NoError;
    }
};

// The frame= fields of the requests a server received, in arrival order.
inline std::vector<std::string> FrameFields(const HttpTestServer& server) {
    std::vector<std::string> out;
    for (const auto& r : server.Requests()) {
        const std::string body = r.body.toStdString();
        const std::size_t from = body.find("&frame=");
        if (from == std::string::npos) {
            out.emplace_back("<no frame field>");
            continue;
        }
        const std::size_t start = from + 7;
        out.push_back(body.substr(start, body.find('&', start) - start));
    }
    return out;
}

// agw-replay serving a KISS file on a free port, at full speed by default.
class Replay {
  public:
    bool Start(const QString& kissFile, int intervalMs = 0, int port = 0) {
        const QString bin = qEnvironmentVariable("TAVRIK_BIN_DIR") + QStringLiteral("/agw-replay");
        proc_.setProgram(bin);
        proc_.setArguments({QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--interval-ms"), QString::number(intervalMs),
                            kissFile});
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start();
        if (!proc_.waitForStarted(10000)) return false;
        const QRegularExpression re(QStringLiteral("listening on [0-9.]+:([0-9]+)"));
        QElapsedTimer t;
        t.start();
        QByteArray seen;
        while (t.elapsed() < 60000 && proc_.state() == QProcess::Running) {
            proc_.waitForReadyRead(100);
            seen += proc_.readAllStandardOutput();
            const auto m = re.match(QString::fromLatin1(seen));
            if (m.hasMatch()) {
                port_ = m.captured(1).toInt();
                return true;
            }
        }
        return false;
    }
    ~Replay() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(5000)) proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    int Port() const { return port_; }
    bool Running() const { return proc_.state() == QProcess::Running; }

  private:
    QProcess proc_;
    int port_ = 0;
};

} // namespace tavrik::soak
