// The whole program under load and under faults: the real main window in this
// process (offscreen), the real agw-replay as the modem program, two local
// HTTP servers. Every run prints one "SOAK ..." line of figures (and appends it
// to $SOAK_REPORT when set); the figures are reported, never asserted on.
//
// SOAK_FRAMES        frames of the soak run (default 2000)
// SOAK_FAULT_FRAMES  frames of each fault run (default 60)
// SOAK_TIMEOUT_S     how long a run may take before it counts as hung (default 600)
// SOAK_FULL_DISK_DIR a small tmpfs for the full-disk run; skipped without it
#include "proc_status.h"
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "app/Form1.h"
#include "intake/qt/AgwClient.h"
#include "files/Kiss.h"
#include "http_test_server.h"
#include "intake/Agw.h"
#include "soak_support.h"
#include "telemetry/FrameText.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;
using namespace tavrik::soak;
using tavrik::test::HttpTestServer;
using tavrik::test::ScriptedReply;

namespace {

// The event loop's pulse (a 1 ms timer: the longest gap between two beats is
// the longest stall) and the resident memory, sampled as the run goes.
class Meter {
  public:
    Meter() {
        beat_.setTimerType(Qt::PreciseTimer);
        beat_.setInterval(1);
        QObject::connect(&beat_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longestNs_ = std::max(longestNs_, now - lastNs_);
            lastNs_ = now;
            if (now - lastSampleNs_ >= 100'000'000) {
                lastSampleNs_ = now;
                const long rss = tavrik::testing::ProcStatusKiB("VmRSS");
                rssSamples_.push_back(rss);
                peakRssKb_ = std::max(peakRssKb_, rss);
            }
        });
    }
    void Start() {
        startRssKb_ = tavrik::testing::ProcStatusKiB("VmRSS");
        clock_.start();
        lastNs_ = lastSampleNs_ = 0;
        beat_.start();
    }
    void Stop() {
        beat_.stop();
        elapsedNs_ = clock_.nsecsElapsed();
        endRssKb_ = tavrik::testing::ProcStatusKiB("VmRSS");
        peakRssKb_ = std::max(peakRssKb_, endRssKb_);
    }
    double LongestStallMs() const { return static_cast<double>(longestNs_) / 1e6; }
    double Seconds() const { return static_cast<double>(elapsedNs_) / 1e9; }
    long StartRssKb() const { return startRssKb_; }
    long EndRssKb() const { return endRssKb_; }
    long PeakRssKb() const { return peakRssKb_; }
    // Resident memory at the middle of the run, to tell growth from a plateau.
    long MidRssKb() const {
        return rssSamples_.empty() ? endRssKb_ : rssSamples_[rssSamples_.size() / 2];
    }

  private:
    QTimer beat_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0, lastSampleNs_ = 0, longestNs_ = 0, elapsedNs_ = 0;
    long startRssKb_ = 0, endRssKb_ = 0, peakRssKb_ = 0;
    std::vector<long> rssSamples_;
};

class NoBoxes final : public MessagePresenter {
  public:
    void Show(Icon, const QString& title, const QString& text) override {
        shown.push_back((title + QStringLiteral(": ") + text).toStdString());
    }
    std::vector<std::string> shown;
};

struct Figures {
    std::string run;
    long frames = 0;
    double seconds = 0;
    long uploadsA = 0, uploadsB = 0;
    std::int32_t postOk = 0, rxPackets = 0;
    long kissRecords = 0, failuresLogged = 0;
    double longestStallMs = 0;
    long rssStartKb = 0, rssMidKb = 0, rssEndKb = 0, peakRssKb = 0, hwmKb = 0;
    std::size_t eventLogEntries = 0, eventLogBytes = 0;

    void Report() const {
        std::ostringstream s;
        s << "SOAK run=" << run << " frames=" << frames << " seconds=" << seconds
          << " frames_per_s=" << (seconds > 0 ? static_cast<long>(frames / seconds) : 0)
          << " uploads_a=" << uploadsA << " uploads_b=" << uploadsB << " post_ok=" << postOk
          << " rx_packets=" << rxPackets << " kiss_records=" << kissRecords
          << " failures_logged=" << failuresLogged << " longest_stall_ms=" << longestStallMs
          << " rss_start_kb=" << rssStartKb << " rss_mid_kb=" << rssMidKb
          << " rss_end_kb=" << rssEndKb << " peak_rss_kb=" << peakRssKb << " vm_hwm_kb=" << hwmKb
          << " event_log_entries=" << eventLogEntries << " event_log_kb=" << eventLogBytes / 1024;
        std::printf("%s\n", s.str().c_str());
        std::fflush(stdout);
        const QByteArray file = qgetenv("SOAK_REPORT");
        if (!file.isEmpty()) {
            std::ofstream out(file.toStdString(), std::ios::app);
            out << s.str() << "\n";
        }
    }
};

// One run of the program: its folder, configuration, window and meter.
class SoakRun {
  public:
    explicit SoakRun(QString folder = {}) : folder_(folder.isEmpty() ? own_.path() : folder) {}

    void Configure(int agwPort, const QString& server, const QString& backup) {
        std::string text = "PORT=127.0.0.1:" + std::to_string(agwPort) + "\r\nMYCALL=N0CALL\r\n";
        text += "QTH_LAT=48.5\r\nQTH_LONG=9.1\r\n";
        if (!server.isEmpty()) text += "SERVER=" + server.toStdString() + "\r\n";
        if (!backup.isEmpty()) text += "SERVER_BACKUP=" + backup.toStdString() + "\r\n";
        QFile f(QDir(folder_).filePath(QStringLiteral("online_conf.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.data(), static_cast<qint64>(text.size()));
    }

    Form1& Start(const std::function<void(Form1&)>& beforeLoop = {}) {
        AppEnvironment env;
        env.programFolder = folder_;
        env.clock = &clock_;
        env.messages = &boxes_;
        form_ = std::make_unique<Form1>(env);
        if (beforeLoop) beforeLoop(*form_);
        form_->show();
        meter_.Start(); // the window exists; frames start with the connection, in the loop
        return *form_;
    }

    // Runs the event loop until done() or the run's time limit; false when it
    // ran out. A real loop, not qWait: that one sleeps between its turns and
    // would slow the program down and show its own sleeps as stalls.
    bool WaitUntil(const std::function<bool()>& done) {
        const qint64 limitMs = EnvLong("SOAK_TIMEOUT_S", 600) * 1000;
        if (done()) return true;
        QEventLoop loop;
        QTimer check;
        QElapsedTimer t;
        t.start();
        bool met = false;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            met = done();
            if (met || t.elapsed() > limitMs) loop.quit();
        });
        check.start(10);
        loop.exec();
        return met;
    }

    Form1& form() { return *form_; }
    const std::vector<std::string>& Boxes() const { return boxes_.shown; }
    const QString& Folder() const { return folder_; }

    std::vector<KissRecord> LogRecords(bool* torn = nullptr) const {
        const Bytes b = ReadAll(form_->Kiss().Path());
        KissReader reader;
        std::vector<KissRecord> records = reader.Feed(b);
        if (torn) *torn = reader.InsideRecord();
        return records;
    }

    // Entries whose text (after the timestamp) matches.
    long CountEntries(const QRegularExpression& re) const {
        long n = 0;
        const EventLog& log = form_->Events();
        for (std::size_t i = 0; i < log.Size(); ++i) {
            const std::string& e = log.Entry(i);
            const std::string text = e.size() >= 25 && e[23] == ':' ? e.substr(25) : e;
            if (re.match(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())))
                    .hasMatch())
                ++n;
        }
        return n;
    }

    Figures Finish(const std::string& name, long frames) {
        meter_.Stop();
        Figures f;
        f.run = name;
        f.frames = frames;
        f.seconds = meter_.Seconds();
        f.postOk = form_->PostOkCount();
        f.rxPackets = form_->History().RxPacketCount();
        for (const KissRecord& r : LogRecords())
            if (r.kind == KissRecord::Kind::Frame) ++f.kissRecords;
        f.failuresLogged = CountEntries(QRegularExpression(
            QStringLiteral("^(KISS log write failed: |AGW connection ended inside a frame|"
                           "Winsock Error |AGW protocol error| ?-?[0-9]+: )")));
        f.longestStallMs = meter_.LongestStallMs();
        f.rssStartKb = meter_.StartRssKb();
        f.rssMidKb = meter_.MidRssKb();
        f.rssEndKb = meter_.EndRssKb();
        f.peakRssKb = meter_.PeakRssKb();
        f.hwmKb = tavrik::testing::ProcStatusKiB("VmHWM");
        const EventLog& log = form_->Events();
        f.eventLogEntries = log.Size();
        for (std::size_t i = 0; i < log.Size(); ++i)
            f.eventLogBytes += log.Entry(i).size();
        return f;
    }

  private:
    QTemporaryDir own_;
    QString folder_;
    FixedClock clock_{[] {
        ClockReading r;
        r.local = {2024, 3, 5, 14, 7, 9, 250};
        return r;
    }()};
    NoBoxes boxes_;
    std::unique_ptr<Form1> form_;
    Meter meter_;
};

// The frame records of the log, in order, as bytes.
std::vector<Bytes> LoggedFrames(const std::vector<KissRecord>& records) {
    std::vector<Bytes> out;
    for (const KissRecord& r : records)
        if (r.kind == KissRecord::Kind::Frame) out.push_back(r.bytes);
    return out;
}

// Every timestamp record is followed by its frame record, nothing else.
bool RecordsPaired(const std::vector<KissRecord>& records) {
    if (records.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < records.size(); i += 2)
        if (records[i].kind != KissRecord::Kind::Timestamp ||
            records[i + 1].kind != KissRecord::Kind::Frame)
            return false;
    return true;
}

const QRegularExpression kTransferErrorLine(QStringLiteral("^( [0-9]+|-[0-9]+): "));

} // namespace

// ---------------------------------------------------------------- the soak run

TEST(Soak, EveryFrameLoggedDecodedAndUploadedOnceToEachServer) {
    const long count = EnvLong("SOAK_FRAMES", 2000);
    const Feed feed(count);
    QTemporaryDir work;
    const QString kiss = work.filePath(QStringLiteral("feed.kss"));
    ASSERT_TRUE(feed.WriteKiss(kiss));

    HttpTestServer a, b;
    ASSERT_TRUE(a.Listen());
    ASSERT_TRUE(b.Listen());
    Replay modem;
    ASSERT_TRUE(modem.Start(kiss));

    SoakRun run;
    run.Configure(modem.Port(), a.Url(QStringLiteral("/a")), b.Url(QStringLiteral("/b")));
    Form1& form = run.Start();
    ASSERT_TRUE(run.Boxes().empty()) << run.Boxes().front();

    const auto all = static_cast<qsizetype>(feed.Telemetry());
    const bool finished = run.WaitUntil([&] {
        return form.History().RxPacketCount() >= feed.Telemetry() && !form.Inet1().Busy() &&
               a.Requests().size() >= all && b.Requests().size() >= all;
    });
    Figures fig = run.Finish("soak", count);
    fig.uploadsA = a.Requests().size();
    fig.uploadsB = b.Requests().size();
    fig.Report();
    ASSERT_TRUE(finished) << "the run did not finish: " << fig.rxPackets << " of "
                          << feed.Telemetry() << " decoded, " << fig.uploadsA << "/" << fig.uploadsB
                          << " uploads";

    // The KISS log: every frame, whole, in order, each after its timestamp record.
    bool torn = true;
    const std::vector<KissRecord> records = run.LogRecords(&torn);
    EXPECT_FALSE(torn);
    EXPECT_TRUE(RecordsPaired(records));
    EXPECT_TRUE(LoggedFrames(records) == feed.frames)
        << LoggedFrames(records).size() << " frames logged of " << feed.frames.size();

    // Each server: every telemetry frame once, in the order received.
    EXPECT_TRUE(FrameFields(a) == feed.telemetryFields) << a.Requests().size() << " requests";
    EXPECT_TRUE(FrameFields(b) == feed.telemetryFields) << b.Requests().size() << " requests";

    // The counters and the stored records agree with what was sent.
    EXPECT_EQ(form.History().RxPacketCount(), feed.Telemetry());
    EXPECT_EQ(form.History().StoredCount(),
              std::min(feed.Telemetry(), TelemetryHistory::kCapacity));
    EXPECT_EQ(form.PostOkCount(), 2 * feed.Telemetry());
    EXPECT_EQ(form.Label7->text(), QStringLiteral("RX packets: %1 | HTTP POST OK: %2")
                                       .arg(feed.Telemetry())
                                       .arg(2 * feed.Telemetry()));
    EXPECT_EQ(fig.failuresLogged, 0);
    EXPECT_EQ(form.Pipeline().KissWriteFailures(), 0u);
    EXPECT_TRUE(modem.Running());
}

// ---------------------------------------------------------------- the modem cuts a frame

// A modem stand-in that sends whole frames, then part of one, then ends the
// connection, politely (FIN) or not (RST).
class ModemCut : public ::testing::TestWithParam<bool> {};

TEST_P(ModemCut, WholeFramesKeptOneLineForTheCutFrameAndTheProgramGoesOn) {
    const bool reset = GetParam();
    const long count = EnvLong("SOAK_FAULT_FRAMES", 60);
    const Feed feed(count);
    HttpTestServer server;
    ASSERT_TRUE(server.Listen());
    QTcpServer modem;
    ASSERT_TRUE(modem.listen(QHostAddress::LocalHost));

    SoakRun run;
    run.Configure(modem.serverPort(), server.Url(QStringLiteral("/up")), {});
    Form1& form = run.Start();
    ASSERT_TRUE(run.WaitUntil([&] { return modem.hasPendingConnections(); }));
    QTcpSocket* peer = modem.nextPendingConnection();
    ASSERT_TRUE(run.WaitUntil([&] { return peer->bytesAvailable() >= 72; }));
    peer->readAll();

    QByteArray stream;
    for (const Bytes& f : feed.frames)
        stream += Q(EncodeAgwFrame('K', f));
    const QByteArray cut = Q(EncodeAgwFrame('K', feed.frames.front()));
    const qsizetype partial = cut.size() / 2; // inside the data, past the header
    peer->write(stream);
    peer->write(cut.left(partial));
    peer->flush();
    ASSERT_TRUE(run.WaitUntil([&] {
        return form.History().RxPacketCount() >= feed.Telemetry() &&
               form.Winsock1().PendingBytes() == static_cast<std::size_t>(partial);
    }));
    if (reset) {
        const ::linger hard{1, 0};
        ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                     sizeof hard);
        peer->abort();
    } else {
        peer->disconnectFromHost();
    }
    ASSERT_TRUE(run.WaitUntil([&] { return form.Winsock1().State() == AgwClient::Closed; }));
    ASSERT_TRUE(run.WaitUntil(
        [&] { return !form.Inet1().Busy() && server.Requests().size() >= feed.Telemetry(); }));

    // The program goes on: a click still uploads, the clock still ticks.
    form.Post_Packet_Click();
    ASSERT_TRUE(run.WaitUntil([&] { return server.Requests().size() > feed.Telemetry(); }));
    ASSERT_TRUE(run.WaitUntil([&] { return !form.Inet1().Busy(); }));

    Figures fig = run.Finish(reset ? "modem-reset-mid-frame" : "modem-close-mid-frame", count);
    fig.uploadsA = server.Requests().size();
    fig.Report();

    const std::vector<KissRecord> records = run.LogRecords();
    EXPECT_TRUE(RecordsPaired(records));
    EXPECT_TRUE(LoggedFrames(records) == feed.frames);
    EXPECT_EQ(form.History().RxPacketCount(), feed.Telemetry());
    // One line for the cut: the dropped part of the frame, or the socket's error.
    EXPECT_EQ(fig.failuresLogged, 1);
    if (!reset) {
        EXPECT_EQ(
            run.CountEntries(QRegularExpression(
                QStringLiteral("^AGW connection ended inside a frame: %1 bytes of it dropped$")
                    .arg(partial))),
            1);
    }
    std::vector<std::string> expected = feed.telemetryFields;
    expected.push_back(feed.telemetryFields.back()); // the click re-sends the last body
    EXPECT_TRUE(FrameFields(server) == expected);
    EXPECT_EQ(form.PostOkCount(), feed.Telemetry() + 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ModemCut, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Reset" : "Close"; });

// ---------------------------------------------------------------- servers that fail

enum class ServerFault { Refuses, Hangs, Resets };

class FailingServer : public ::testing::TestWithParam<ServerFault> {};

TEST_P(FailingServer, EveryFrameStillReachesTheOtherServerOneLinePerFailedTransfer) {
    const ServerFault fault = GetParam();
    const long count = EnvLong("SOAK_FAULT_FRAMES", 60);
    const Feed feed(count);
    QTemporaryDir work;
    const QString kiss = work.filePath(QStringLiteral("feed.kss"));
    ASSERT_TRUE(feed.WriteKiss(kiss));

    HttpTestServer bad, good;
    ASSERT_TRUE(bad.Listen());
    ASSERT_TRUE(good.Listen());
    QString badUrl = bad.Url(QStringLiteral("/bad"));
    const char* name = "server-refuses";
    if (fault == ServerFault::Refuses) {
        badUrl = QStringLiteral("http://127.0.0.1:%1/bad").arg(tavrik::test::ClosedPort());
    } else if (fault == ServerFault::Hangs) {
        bad.SetDefault(ScriptedReply::Hang());
        name = "server-hangs";
    } else {
        bad.SetDefault(ScriptedReply::ResetMidResponse());
        name = "server-resets";
    }
    Replay modem;
    ASSERT_TRUE(modem.Start(kiss));

    SoakRun run;
    // The failing server first: the good one's uploads wait behind every failure.
    run.Configure(modem.Port(), badUrl, good.Url(QStringLiteral("/good")));
    long errors = 0, completed = 0;
    Form1& form = run.Start([&](Form1& f) {
        // Long enough that the good server's answer never misses it on a loaded
        // machine, short enough that the hanging server costs seconds, not minutes.
        f.Inet1().SetTimeout(std::chrono::milliseconds(600));
        QObject::connect(&f.Inet1(), &Uploader::stateChanged, [&](const TransferReport& r) {
            if (r.state == TransferState::Error) ++errors;
            if (r.state == TransferState::ResponseCompleted) ++completed;
        });
    });
    const auto all = static_cast<qsizetype>(feed.Telemetry());
    ASSERT_TRUE(run.WaitUntil([&] {
        return form.History().RxPacketCount() >= feed.Telemetry() && !form.Inet1().Busy() &&
               good.Requests().size() >= all;
    }));
    Figures fig = run.Finish(name, count);
    fig.uploadsA = bad.Requests().size();
    fig.uploadsB = good.Requests().size();
    fig.Report();

    EXPECT_TRUE(FrameFields(good) == feed.telemetryFields);
    if (fault != ServerFault::Refuses) {
        // Each frame reached the failing server once: no retry.
        EXPECT_TRUE(FrameFields(bad) == feed.telemetryFields) << bad.Requests().size();
    }
    EXPECT_EQ(errors, feed.Telemetry());
    EXPECT_EQ(completed, feed.Telemetry());
    EXPECT_EQ(run.CountEntries(kTransferErrorLine), feed.Telemetry());
    EXPECT_EQ(form.PostOkCount(), feed.Telemetry());
    EXPECT_EQ(form.History().RxPacketCount(), feed.Telemetry());
    EXPECT_TRUE(LoggedFrames(run.LogRecords()) == feed.frames);
    EXPECT_TRUE(modem.Running());
}

INSTANTIATE_TEST_SUITE_P(Faults, FailingServer,
                         ::testing::Values(ServerFault::Refuses, ServerFault::Hangs,
                                           ServerFault::Resets),
                         [](const auto& info) {
                             switch (info.param) {
                             case ServerFault::Refuses:
                                 return "Refuses";
                             case ServerFault::Hangs:
                                 return "Hangs";
                             case ServerFault::Resets:
                                 return "Resets";
                             }
                             return "Unknown";
                         });

// ---------------------------------------------------------------- the disk fills up

TEST(Faults, FullDiskLostRecordsCountedWholeRecordsKeptTheRestGoesOn) {
    const QString tmpfs = qEnvironmentVariable("SOAK_FULL_DISK_DIR");
    if (tmpfs.isEmpty()) GTEST_SKIP() << "SOAK_FULL_DISK_DIR (a small tmpfs) not given";
    // Enough frames to fill the tmpfs (256 KiB) well before the end.
    const long count = std::max(EnvLong("SOAK_FRAMES", 2000), 2000L);
    const Feed feed(count);
    QTemporaryDir work;
    const QString kiss = work.filePath(QStringLiteral("feed.kss"));
    ASSERT_TRUE(feed.WriteKiss(kiss));
    HttpTestServer server;
    ASSERT_TRUE(server.Listen());
    Replay modem;
    ASSERT_TRUE(modem.Start(kiss));

    QDir(tmpfs).mkpath(QStringLiteral("program"));
    SoakRun run(QDir(tmpfs).filePath(QStringLiteral("program")));
    run.Configure(modem.Port(), server.Url(QStringLiteral("/up")), {});
    Form1& form = run.Start();
    ASSERT_TRUE(run.Boxes().empty()) << run.Boxes().front();
    const auto all = static_cast<qsizetype>(feed.Telemetry());
    ASSERT_TRUE(run.WaitUntil([&] {
        return form.History().RxPacketCount() >= feed.Telemetry() && !form.Inet1().Busy() &&
               server.Requests().size() >= all;
    }));
    Figures fig = run.Finish("full-disk", count);
    fig.uploadsA = server.Requests().size();
    fig.Report();

    // The log holds whole records only, of frames received, in order.
    bool torn = true;
    const std::vector<KissRecord> records = run.LogRecords(&torn);
    EXPECT_FALSE(torn);
    EXPECT_TRUE(RecordsPaired(records));
    const std::vector<Bytes> logged = LoggedFrames(records);
    ASSERT_LT(logged.size(), feed.frames.size()) << "the disk never filled up";
    ASSERT_GT(logged.size(), 0u);
    // In order, each one once; a short record may still fit after a long one did not.
    std::size_t next = 0;
    for (const Bytes& f : logged) {
        while (next < feed.frames.size() && feed.frames[next] != f)
            ++next;
        ASSERT_LT(next, feed.frames.size()) << "a logged frame that was not sent, or out of order";
        ++next;
    }
    // Every frame that did not fit is counted, and nothing else lost; the
    // failure is said once, the repeats within the minute held back.
    const auto lost = static_cast<long>(feed.frames.size() - logged.size());
    EXPECT_EQ(run.CountEntries(QRegularExpression(QStringLiteral("^KISS log write failed: .+"))),
              1);
    EXPECT_EQ(static_cast<long>(form.Pipeline().KissWriteFailures()), lost);
    EXPECT_EQ(form.History().RxPacketCount(), feed.Telemetry());
    EXPECT_TRUE(FrameFields(server) == feed.telemetryFields);
    EXPECT_EQ(form.PostOkCount(), feed.Telemetry());
}
