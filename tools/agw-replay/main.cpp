// agw-replay: a stand-in modem program. It listens like AGW Packet Engine and
// replays the frame records of a KISS file (a log of the program, or the
// bundled sample) to every client that switches raw monitoring on.
//   agw-replay --port N [--host 127.0.0.1] [--interval-ms MS] [--loop] [--count N] FILE.kss
#include "ReplayServer.h"
#include "files/Kiss.h"
#include "files/KissFileReader.h"
#include "files/Version.h"
#include "support/qt/QtText.h"
#include "support/qt/StopSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <limits>

#include "files/SafeText.h"
#include "files/ToolIo.h"

namespace {

int Fail(const QString& text) {
    std::fprintf(stderr, "agw-replay: %s\n",
                 tavrik::EscapeControls(text.toLocal8Bit().toStdString()).c_str());
    return 2;
}

bool ReadInt(const QCommandLineParser& p, const QString& name, qint64 lo, qint64 hi, qint64& out,
             QString& error) {
    bool ok = false;
    out = p.value(name).toLongLong(&ok);
    if (!ok || out < lo || out > hi) {
        error = QStringLiteral("--%1 \"%2\": expected a whole number from %3 to %4")
                    .arg(name, p.value(name))
                    .arg(lo)
                    .arg(hi);
        return false;
    }
    return true;
}

// The frame records of the file, timestamp records left out. Records longer
// than an AGW frame may carry are reported and left out.
std::vector<QByteArray> LoadFrames(const QString& path) {
    tavrik::KissFileReader reader(tavrik::kAgwMaxDataLength);
    std::vector<QByteArray> frames;
    const std::string why = reader.Open(tavrik::PathBytes(path));
    if (!why.empty()) {
        Say(QStringLiteral("%1: cannot be read: %2")
                .arg(path, QString::fromLocal8Bit(why.c_str())));
        return frames;
    }
    const tavrik::KissFileReader::SkipReport skipped = [&path](const tavrik::KissSkip& skip) {
        switch (skip.kind) {
        case tavrik::KissSkip::Kind::TooLong:
            Say(QStringLiteral("%1: record at offset %2 has %3 bytes, more than an AGW frame "
                               "carries; left out")
                    .arg(path)
                    .arg(skip.offset)
                    .arg(skip.length));
            break;
        case tavrik::KissSkip::Kind::ReadError:
            Say(QStringLiteral("%1: %2; the rest of the file is left out")
                    .arg(path, QString::fromLocal8Bit(skip.error.c_str())));
            break;
        case tavrik::KissSkip::Kind::EndsInsideRecord:
            Say(QStringLiteral("%1: the file ends inside a record; that record is left out")
                    .arg(path));
            break;
        }
    };
    while (const tavrik::KissRecord* r = reader.Next(skipped))
        if (r->kind == tavrik::KissRecord::Kind::Frame)
            frames.emplace_back(reinterpret_cast<const char*>(r->bytes.data()),
                                static_cast<qsizetype>(r->bytes.size()));
    return frames;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("agw-replay"));
    QCoreApplication::setApplicationVersion(
        QString::fromLatin1(tavrik::kVersionText.data(), tavrik::kVersionText.size()));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays the frames of a KISS file over the AGW Packet Engine TCP interface."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("TCP port to listen on (0: any free one)."),
         QStringLiteral("N")},
        {QStringLiteral("host"), QStringLiteral("Address to listen on."), QStringLiteral("ADDR"),
         QStringLiteral("127.0.0.1")},
        {QStringLiteral("interval-ms"),
         QStringLiteral("Pause between frames in ms (0: as fast as the client reads)."),
         QStringLiteral("MS"), QStringLiteral("1000")},
        {QStringLiteral("loop"),
         QStringLiteral("Start again from the top at the end of the file.")},
        {QStringLiteral("count"), QStringLiteral("Stop after N frames in all."),
         QStringLiteral("N")},
    });
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The KISS file to replay."));
    // Help, version and usage errors as the other companion programs give them.
    const std::string usage = parser.helpText().toLocal8Bit().toStdString();
    tavrik::ToolIo tool("agw-replay", usage);
    const auto usageError = [&tool](const QString& why) {
        return tool.Usage(why.toLocal8Bit().toStdString());
    };
    if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        return tool.Standard("--help");
    if (parser.isSet(QStringLiteral("version"))) return tool.Standard("--version");
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) return usageError(QStringLiteral("expected exactly one KISS file"));
    if (!parser.isSet(QStringLiteral("port")))
        return usageError(QStringLiteral("--port is required"));

    ReplayOptions options;
    QString error;
    qint64 v = 0;
    if (!ReadInt(parser, QStringLiteral("port"), 0, 65535, v, error)) return usageError(error);
    options.port = static_cast<quint16>(v);
    if (!ReadInt(parser, QStringLiteral("interval-ms"), 0, 24 * 3600 * 1000, v, error))
        return usageError(error);
    options.intervalMs = static_cast<int>(v);
    if (parser.isSet(QStringLiteral("count"))) {
        if (!ReadInt(parser, QStringLiteral("count"), 1, std::numeric_limits<qint64>::max(), v,
                     error))
            return usageError(error);
        options.count = v;
    }
    options.loop = parser.isSet(QStringLiteral("loop"));
    const QString host = parser.value(QStringLiteral("host"));
    if (host == QLatin1String("localhost"))
        options.host = QHostAddress::LocalHost;
    else if (!options.host.setAddress(host))
        return usageError(QStringLiteral("--host \"%1\" is not an IP address").arg(host));

    const QString path = files.first();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("%1: cannot open (%2)").arg(path, file.errorString()));
    file.close();
    std::vector<QByteArray> frames = LoadFrames(path);
    // Nothing to send would make --loop spin without end.
    if (frames.empty()) return Fail(QStringLiteral("%1: holds no frame records").arg(path));
    const std::size_t frameCount = frames.size();

    tavrik::StopSignals stopSignals;
    if (!stopSignals.Installed()) return Fail(QStringLiteral("cannot set up signal handling"));
    QObject::connect(&stopSignals, &tavrik::StopSignals::stopRequested, &app, [](int) {
        Say(QStringLiteral("stopping"));
        QCoreApplication::quit();
    });
    std::signal(SIGPIPE, SIG_IGN);

    ReplayServer server(std::move(frames), QFileInfo(path).fileName(), options);
    if (!server.Listen(error))
        return Fail(QStringLiteral("cannot listen on %1:%2 (%3)")
                        .arg(options.host.toString())
                        .arg(options.port)
                        .arg(error));
    Say(QStringLiteral("listening on %1:%2, %3 frames from %4")
            .arg(options.host.toString())
            .arg(server.Port())
            .arg(frameCount)
            .arg(path));
    const int rc = app.exec();
    server.Shutdown();
    Say(QStringLiteral("stopped"));
    return rc;
}
