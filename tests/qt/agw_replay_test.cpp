// The replay server run as its own process on 127.0.0.1, driven by a plain
// TCP client that speaks the AGW interface the way the program does.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "files/Kiss.h"
#include "intake/Agw.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

// The programs are built next to the test binary; TAVRIK_BIN_DIR may name another place.
QString ReplayProgram() {
    QString dir = qEnvironmentVariable("TAVRIK_BIN_DIR");
    if (dir.isEmpty()) dir = QCoreApplication::applicationDirPath();
    return QDir(dir).filePath(QStringLiteral("agw-replay"));
}

// Frames that exercise the escaping and the length: FEND and FESC inside,
// plain TFEND/TFESC bytes, a raw "DB DC" pair, and one of 600 bytes.
std::vector<Bytes> SampleFrames() {
    Bytes telemetry = {0x00, 0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0xA8, 0x82,
                       0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03, 0xF0, 0x54, 0x01, 0x01};
    for (int i = 0; i < 100; ++i)
        telemetry.push_back(static_cast<std::uint8_t>(0xB8 + i));
    Bytes escapes = {0x00, 0xC0, 0xDB, 0xDC, 0xDD, 0xDB, 0xDC, 0xC0, 0xC0, 0xDB, 0xDD, 0x7E};
    Bytes longFrame(600);
    for (std::size_t i = 0; i < longFrame.size(); ++i)
        longFrame[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    longFrame[0] = 0x00;
    Bytes foreign = {0x00, 0x82, 0x84, 0x86, 0x40, 0x40, 0x40, 0x60, 0x9C, 0x60,
                     0x86, 0x82, 0x98, 0x98, 0x61, 0x03, 0xF0, 'h',  'i'};
    return {telemetry, escapes, longFrame, foreign};
}

QByteArray KissFile(const std::vector<Bytes>& frames) {
    QByteArray file;
    auto append = [&](const Bytes& record) {
        file.append(reinterpret_cast<const char*>(record.data()),
                    static_cast<qsizetype>(record.size()));
    };
    int second = 10;
    for (const Bytes& f : frames) {
        append(
            tavrik::KissTimestampRecord("2024-03-05 14:07:" + std::to_string(second++) + ".250"));
        append(tavrik::KissFrameRecord(f));
    }
    return file;
}

class ReplayProcess {
  public:
    ~ReplayProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000)) process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // Starts the server on a free port (it reports the one it got).
    bool Start(const QStringList& args) {
        process_.start(ReplayProgram(),
                       QStringList{QStringLiteral("--port"), QStringLiteral("0")} << args);
        if (!process_.waitForStarted(10000)) return false;
        static const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:(\\d+)"));
        QRegularExpressionMatch m;
        if (!WaitFor([&] {
                m = listening.match(Out());
                return m.hasMatch() || process_.state() == QProcess::NotRunning;
            }))
            return false;
        if (!m.hasMatch()) return false;
        port_ = static_cast<quint16>(m.captured(1).toUInt());
        return true;
    }

    QString Out() {
        out_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
        return out_;
    }
    bool WaitOut(const QString& text) {
        return WaitFor([&] { return Out().contains(text); });
    }
    quint16 Port() const { return port_; }
    QProcess& Process() { return process_; }

  private:
    QProcess process_;
    QString out_;
    quint16 port_ = 0;
};

class AgwTestClient {
  public:
    bool Connect(quint16 port) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        return socket_.waitForConnected(10000);
    }
    void Send(char kind) {
        const tavrik::AgwHeader h = tavrik::MakeAgwHeader(kind);
        socket_.write(reinterpret_cast<const char*>(h.data()), static_cast<qint64>(h.size()));
    }
    void SendRaw(const QByteArray& bytes) { socket_.write(bytes); }
    void Poll() {
        const QByteArray b = socket_.readAll();
        for (auto& f : splitter_.Feed({reinterpret_cast<const std::uint8_t*>(b.constData()),
                                       static_cast<std::size_t>(b.size())}))
            frames_.push_back(std::move(f));
    }
    std::size_t Count(char kind) {
        Poll();
        return static_cast<std::size_t>(
            std::count_if(frames_.begin(), frames_.end(),
                          [&](const tavrik::AgwFrame& f) { return f.Kind() == kind; }));
    }
    std::vector<Bytes> Ks() {
        Poll();
        std::vector<Bytes> out;
        for (const auto& f : frames_)
            if (f.Kind() == 'K') out.push_back(f.data);
        return out;
    }
    // Asks for the port information and waits for it: the server answers in
    // order, so every frame it sent before is in by then.
    bool RoundTrip() {
        const std::size_t before = Count('G');
        Send('G');
        return WaitFor([&] { return Count('G') > before; });
    }
    bool WaitKs(std::size_t n) {
        return WaitFor([&] { return Count('K') >= n; });
    }
    const std::vector<tavrik::AgwFrame>& Frames() const { return frames_; }
    QTcpSocket& Socket() { return socket_; }
    bool SplitError() const { return splitter_.Error().has_value(); }

  private:
    QTcpSocket socket_;
    tavrik::AgwStreamSplitter splitter_;
    std::vector<tavrik::AgwFrame> frames_;
};

class AgwReplay : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(ReplayProgram()))
            << "build the agw-replay target first: " << ReplayProgram().toStdString();
        ASSERT_TRUE(dir_.isValid());
        frames_ = SampleFrames();
        path_ = WriteFile(QStringLiteral("replay.kss"), KissFile(frames_));
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    // Every K frame so far is frames_[(first + i) % n], in order, port 0.
    void ExpectInOrder(AgwTestClient& c, std::size_t first = 0) {
        std::size_t i = first;
        for (const auto& f : c.Frames()) {
            if (f.Kind() != 'K') continue;
            EXPECT_EQ(f.header[0], 0) << "frame " << i;
            EXPECT_EQ(f.DataLength(), f.data.size()) << "frame " << i;
            EXPECT_EQ(f.data, frames_[i % frames_.size()]) << "frame " << i;
            ++i;
        }
    }

    QTemporaryDir dir_;
    std::vector<Bytes> frames_;
    QString path_;
};

TEST_F(AgwReplay, AnswersPortInfoAndReplaysEveryFrameByteForByte) {
    ReplayProcess replay;
    ASSERT_TRUE(replay.Start({QStringLiteral("--interval-ms"), QStringLiteral("0"), path_}))
        << replay.Out().toStdString();
    AgwTestClient client;
    ASSERT_TRUE(client.Connect(replay.Port()));
    client.Send('G');
    client.Send('k');
    ASSERT_TRUE(client.WaitKs(frames_.size()));
    ASSERT_TRUE(replay.WaitOut(QStringLiteral("#1 sent 4 frames, end of file")))
        << replay.Out().toStdString();
    ASSERT_TRUE(client.RoundTrip());

    const auto& all = client.Frames();
    ASSERT_EQ(all.size(), frames_.size() + 2) << "G reply, the frames, G reply; nothing more";
    const tavrik::AgwFrame& g = all.front();
    EXPECT_EQ(g.Kind(), 'G');
    EXPECT_EQ(g.DataLength(), g.data.size());
    const std::string text(g.data.begin(), g.data.end());
    EXPECT_EQ(text.rfind("1;Port1 Replay of replay.kss;", 0), 0u) << text;
    // What the program's event log makes of it: all of the text, none of the padding.
    EXPECT_EQ(tavrik::PortInfoLine(g), "total number of ports: 1;Port1 Replay of replay.kss;");
    EXPECT_EQ(all.back().Kind(), 'G');
    ExpectInOrder(client);
    EXPECT_TRUE(replay.Out().contains(QStringLiteral("#1 client connected")));
    EXPECT_TRUE(replay.Out().contains(QStringLiteral("#1 monitoring on")));
}

TEST_F(AgwReplay, LoopAndCountDecideHowManyFramesGo) {
    struct Case {
        const char* name;
        QStringList args;
        std::size_t frames;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"whole file once", {}, 4, "sent 4 frames, end of file"},
        {"count within the file", {"--count", "2"}, 2, "sent 2 frames, count reached"},
        {"count past the file without loop", {"--count", "10"}, 4, "sent 4 frames, end of file"},
        {"loop with count", {"--loop", "--count", "10"}, 10, "sent 10 frames, count reached"},
        {"loop, count a whole number of rounds",
         {"--loop", "--count", "8"},
         8,
         "sent 8 frames, count reached"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplayProcess replay;
        ASSERT_TRUE(replay.Start(QStringList{"--interval-ms", "0"} << c.args << path_));
        AgwTestClient client;
        ASSERT_TRUE(client.Connect(replay.Port()));
        client.Send('k');
        ASSERT_TRUE(replay.WaitOut(QString::fromLatin1(c.line))) << replay.Out().toStdString();
        ASSERT_TRUE(client.RoundTrip());
        EXPECT_EQ(client.Count('K'), c.frames);
        ExpectInOrder(client);
        // Switching monitoring off and on again sends nothing more.
        client.Send('k');
        client.Send('k');
        ASSERT_TRUE(replay.WaitOut(QStringLiteral("nothing left to send")));
        ASSERT_TRUE(client.RoundTrip());
        EXPECT_EQ(client.Count('K'), c.frames);
    }
}

TEST_F(AgwReplay, SecondKStopsTheFlowAndAThirdResumesWhereItStopped) {
    ReplayProcess replay;
    ASSERT_TRUE(replay.Start({"--interval-ms", "20", "--loop", path_}));
    AgwTestClient client;
    ASSERT_TRUE(client.Connect(replay.Port()));
    client.Send('k');
    ASSERT_TRUE(client.WaitKs(6));
    client.Send('k');
    static const QRegularExpression off(QStringLiteral("#1 monitoring off after (\\d+) frames"));
    QRegularExpressionMatch m;
    ASSERT_TRUE(WaitFor([&] {
        m = off.match(replay.Out());
        return m.hasMatch();
    })) << replay.Out().toStdString();
    const std::size_t sent = m.captured(1).toUInt();
    ASSERT_TRUE(client.RoundTrip());
    EXPECT_EQ(client.Count('K'), sent);
    // Several intervals later still nothing more has come.
    QTest::qWait(200);
    ASSERT_TRUE(client.RoundTrip());
    EXPECT_EQ(client.Count('K'), sent);

    client.Send('k');
    ASSERT_TRUE(client.WaitKs(sent + 5));
    ExpectInOrder(client); // the loop carries on from the next frame
}

TEST_F(AgwReplay, ServesSeveralClientsAndOutlivesTheirFaults) {
    ReplayProcess replay;
    ASSERT_TRUE(replay.Start({"--interval-ms", "0", "--loop", "--count", "12", path_}));

    auto quitter = std::make_unique<AgwTestClient>();
    ASSERT_TRUE(quitter->Connect(replay.Port()));
    quitter->Send('k');
    quitter->Socket().abort();
    quitter.reset();

    // A header announcing 4 GiB of data is no AGW stream: that client is cut off.
    AgwTestClient garbage;
    ASSERT_TRUE(garbage.Connect(replay.Port()));
    QByteArray bad(36, '\0');
    bad[4] = 'K';
    for (int i = 28; i < 32; ++i)
        bad[i] = '\xFF';
    garbage.SendRaw(bad);
    ASSERT_TRUE(WaitFor([&] {
        garbage.Poll();
        return garbage.Socket().state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_TRUE(replay.Out().contains(QStringLiteral("bad AGW data")));

    AgwTestClient a, b;
    ASSERT_TRUE(a.Connect(replay.Port()));
    ASSERT_TRUE(b.Connect(replay.Port()));
    a.Send('k');
    b.Send('X'); // other kinds are ignored
    b.Send('k');
    ASSERT_TRUE(a.WaitKs(12));
    ASSERT_TRUE(b.WaitKs(12));
    ASSERT_TRUE(a.RoundTrip());
    ASSERT_TRUE(b.RoundTrip());
    EXPECT_EQ(a.Count('K'), 12u);
    EXPECT_EQ(b.Count('K'), 12u);
    ExpectInOrder(a);
    ExpectInOrder(b);
    EXPECT_TRUE(replay.Out().contains(QStringLiteral("ignored a frame of kind 0x58")));
    EXPECT_TRUE(replay.WaitOut(QStringLiteral("#1 client disconnected")));
    EXPECT_EQ(replay.Process().state(), QProcess::Running);
}

TEST_F(AgwReplay, LeavesOutRecordsTooLongForAnAgwFrame) {
    std::vector<Bytes> frames = frames_;
    frames.insert(frames.begin() + 1, Bytes(70000, 0x11));
    const QString path = WriteFile(QStringLiteral("long.kss"), KissFile(frames));
    ReplayProcess replay;
    ASSERT_TRUE(replay.Start({"--interval-ms", "0", path}));
    EXPECT_TRUE(replay.Out().contains(QStringLiteral("70000 bytes")));
    AgwTestClient client;
    ASSERT_TRUE(client.Connect(replay.Port()));
    client.Send('k');
    ASSERT_TRUE(replay.WaitOut(QStringLiteral("sent 4 frames, end of file")));
    ASSERT_TRUE(client.RoundTrip());
    EXPECT_FALSE(client.SplitError());
    EXPECT_EQ(client.Count('K'), 4u);
    ExpectInOrder(client);
}

TEST_F(AgwReplay, RefusesBadStartsWithAMessage) {
    const QString empty = WriteFile(QStringLiteral("stamps.kss"),
                                    KissFile({}) + QByteArray("\xC0\x09stamp only UTC\xC0"));
    struct Case {
        const char* name;
        QStringList args;
        const char* word;
    };
    const std::vector<Case> cases = {
        {"missing file", {"--port", "0", dir_.filePath("nope.kss")}, "nope.kss"},
        {"unknown option", {"--port", "0", "--bogus", path_}, "bogus"},
        {"no port", {path_}, "--port"},
        {"port out of range", {"--port", "70000", path_}, "--port"},
        {"zero count", {"--port", "0", "--count", "0", path_}, "--count"},
        {"negative interval", {"--port", "0", "--interval-ms", "-5", path_}, "--interval-ms"},
        {"host not an address", {"--port", "0", "--host", "not.an.address", path_}, "--host"},
        {"no frame records", {"--port", "0", "--loop", empty}, "no frame records"},
        {"two files", {"--port", "0", path_, path_}, "one KISS file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess p;
        p.start(ReplayProgram(), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_NE(p.exitCode(), 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(err.contains(QString::fromLatin1(c.word))) << err.toStdString();
    }
}

TEST_F(AgwReplay, StopsCleanlyOnSigintAndSigterm) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        ReplayProcess replay;
        ASSERT_TRUE(replay.Start({"--interval-ms", "10", "--loop", path_}));
        AgwTestClient client;
        ASSERT_TRUE(client.Connect(replay.Port()));
        client.Send('k');
        ASSERT_TRUE(client.WaitKs(3));
        ASSERT_EQ(::kill(static_cast<pid_t>(replay.Process().processId()), sig), 0);
        ASSERT_TRUE(replay.Process().waitForFinished(30000));
        EXPECT_EQ(replay.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(replay.Process().exitCode(), 0)
            << QString::fromLocal8Bit(replay.Process().readAllStandardError()).toStdString();
        EXPECT_TRUE(replay.Out().contains(QStringLiteral("stopping")));
        EXPECT_TRUE(WaitFor([&] {
            client.Poll();
            return client.Socket().state() == QAbstractSocket::UnconnectedState;
        }));
        ExpectInOrder(client);
    }
}

} // namespace
