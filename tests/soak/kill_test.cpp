// The unattended station, with AGW_RECONNECT=YES and UPLOAD_RETRY=YES: the real
// program, its modem program restarted twice while it runs, one server down
// for a while, and the program killed (SIGKILL) in the middle of a burst and
// started again. Every telemetry frame that reached a KISS log reaches both
// servers, in order, with at most one duplicate per server (the request in
// flight at the kill). Prints a "SOAK ..." line.
//
// SOAK_KILL_FRAMES    frames of each of the four feeds (default 60)
// SOAK_SERVER_DOWN_S  how long the backup server is down from the start (default 8)
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "soak_support.h"

using namespace tavrik;
using namespace tavrik::soak;

namespace {

// The program from a folder of its own: it reads its settings and keeps its
// logs and queue beside itself.
class Program {
  public:
    Program(const QString& folder) : folder_(folder) {
        proc_.setProgram(QDir(folder).filePath(QStringLiteral("tavrik-decoder")));
        proc_.setWorkingDirectory(folder);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~Program() { Kill(); }
    bool Install() {
        return QFile::copy(qEnvironmentVariable("TAVRIK_BIN_DIR") + "/tavrik-decoder",
                           proc_.program());
    }
    void Configure(int agwPort, const QString& a, const QString& b) {
        QFile f(QDir(folder_).filePath(QStringLiteral("online_conf.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QStringLiteral("PORT=127.0.0.1:%1\r\nMYCALL=N0CALL\r\nSERVER=%2\r\n"
                               "SERVER_BACKUP=%3\r\nUPLOAD_RETRY=YES\r\nAGW_RECONNECT=YES\r\n")
                    .arg(agwPort)
                    .arg(a, b)
                    .toLatin1());
    }
    bool Start() {
        proc_.start();
        return proc_.waitForStarted(10000);
    }
    void Kill() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.kill(); // SIGKILL: no clean-up of any kind
        proc_.waitForFinished(10000);
    }
    // The frame= fields of the telemetry frames in every KISS log of the folder.
    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        const Bytes header = TelemetryHeader();
        const QDir dir(folder_);
        for (const QString& name : dir.entryList({QStringLiteral("*.kss")}, QDir::Files))
            for (const KissRecord& r : KissReader().Feed(ReadAll(dir.filePath(name).toStdString())))
                if (r.kind == KissRecord::Kind::Frame && r.bytes.size() >= header.size() &&
                    std::equal(header.begin(), header.end(), r.bytes.begin()))
                    out.push_back(FrameField(r.bytes));
        return out;
    }

  private:
    QString folder_;
    QProcess proc_;
};

// What a server took: how many more than once, and whether in the feed's order.
struct Delivery {
    long duplicates = 0;
    bool inOrder = true;
};
Delivery Deliveries(const HttpTestServer& server, const std::vector<std::string>& feedOrder) {
    Delivery d;
    std::set<std::string> seen;
    auto next = feedOrder.begin();
    for (const std::string& field : FrameFields(server)) {
        if (!seen.insert(field).second) {
            ++d.duplicates;
            continue;
        }
        next = std::find(next, feedOrder.end(), field);
        d.inOrder = d.inOrder && next != feedOrder.end();
    }
    return d;
}

// Runs the event loop until done() or the limit. A real loop, not qWaitFor:
// that one sleeps between turns and would hold up the test servers' answers.
bool WaitUntil(const std::function<bool()>& done, int limitMs) {
    QEventLoop loop;
    QTimer check;
    QElapsedTimer t;
    t.start();
    bool met = done();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || t.elapsed() > limitMs) loop.quit();
    });
    check.start(20);
    if (!met) loop.exec();
    return met;
}

} // namespace

TEST(Faults, UnattendedStationLosesNoLoggedFrameToModemRestartsAServerDownOrAKill) {
    const long part = EnvLong("SOAK_KILL_FRAMES", 60);
    const int downMs = static_cast<int>(EnvLong("SOAK_SERVER_DOWN_S", 8) * 1000);
    const Feed feed(4 * part);
    const Bytes header = TelemetryHeader();
    QTemporaryDir work;
    QStringList kiss;
    std::vector<std::size_t> upTo; // telemetry frames in the feeds up to and with each one
    for (long p = 0; p < 4; ++p) {
        kiss << work.filePath(QStringLiteral("part%1.kss").arg(p));
        const auto end = static_cast<std::size_t>((p + 1) * part);
        ASSERT_TRUE(feed.WriteKiss(kiss.back(), static_cast<std::size_t>(p * part), end));
        upTo.push_back(static_cast<std::size_t>(
            std::count_if(feed.frames.begin(), feed.frames.begin() + end, [&](const Bytes& f) {
                return std::equal(header.begin(), header.end(), f.begin());
            })));
    }

    HttpTestServer a, b;
    ASSERT_TRUE(a.Listen());
    const quint16 backupPort = tavrik::test::ClosedPort(); // refuses until it comes back
    const QString backupUrl = QStringLiteral("http://127.0.0.1:%1/b").arg(backupPort);
    QTimer::singleShot(downMs, &b, [&] { b.Listen(backupPort); });
    const int modemPort = tavrik::test::ClosedPort();
    QTemporaryDir folder;
    Program program(folder.path());
    ASSERT_TRUE(program.Install());
    program.Configure(modemPort, a.Url("/a"), backupUrl);
    std::unique_ptr<Replay> modem;
    const auto restartModem = [&](int p) {
        modem = std::make_unique<Replay>(); // the one before ends first
        return modem->Start(kiss[p], 10, modemPort);
    };
    const auto heard = [&] { return program.Logged().size(); };
    const auto heardAtLeast = [&](std::size_t n) {
        return WaitUntil([&] { return heard() >= n; }, 60000);
    };

    ASSERT_TRUE(restartModem(0));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(heardAtLeast(upTo[0]));
    ASSERT_TRUE(restartModem(1)); // while the program runs: it connects again
    ASSERT_TRUE(heardAtLeast(upTo[0] + (upTo[1] - upTo[0]) / 2));
    program.Kill();
    const std::size_t heardBeforeKill = heard();
    ASSERT_TRUE(restartModem(2));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(heardAtLeast(heardBeforeKill + upTo[2] - upTo[1]));
    ASSERT_TRUE(restartModem(3)); // and once more
    const auto allDelivered = [&] {
        const std::vector<std::string> atA = FrameFields(a), atB = FrameFields(b);
        const std::set<std::string> inA(atA.begin(), atA.end()), inB(atB.begin(), atB.end());
        return std::ranges::all_of(
            program.Logged(), [&](const std::string& f) { return inA.count(f) && inB.count(f); });
    };
    const bool delivered =
        WaitUntil([&] { return heard() >= heardBeforeKill + upTo[3] - upTo[1] && allDelivered(); },
                  120000 + downMs);
    program.Kill();

    const Delivery da = Deliveries(a, feed.telemetryFields);
    const Delivery db = Deliveries(b, feed.telemetryFields);
    std::ostringstream line;
    line << "SOAK run=unattended frames=" << heard() << " uploads_a=" << a.Requests().size()
         << " uploads_b=" << b.Requests().size() << " duplicates_a=" << da.duplicates
         << " duplicates_b=" << db.duplicates << " heard_before_kill=" << heardBeforeKill
         << " modem_restarts=2 server_down_s=" << downMs / 1000 << " kills=1";
    std::printf("%s\n", line.str().c_str());
    if (const QByteArray file = qgetenv("SOAK_REPORT"); !file.isEmpty())
        std::ofstream(file.toStdString(), std::ios::app) << line.str() << "\n";

    EXPECT_TRUE(delivered) << line.str();
    EXPECT_LT(heardBeforeKill, upTo[1]) << "killed after the burst";
    EXPECT_LE(da.duplicates, 1);
    EXPECT_LE(db.duplicates, 1);
    EXPECT_TRUE(da.inOrder);
    EXPECT_TRUE(db.inOrder);
}
