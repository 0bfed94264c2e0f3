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
#include <map>
#include <set>
#include <sstream>

#include "soak_support.h"

using namespace tavrik;
using namespace tavrik::soak;
using tavrik::test::ScriptedReply;

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
    // The telemetry frames of every KISS log in the folder.
    std::vector<Bytes> LoggedTelemetry() const {
        std::vector<Bytes> out;
        const QStringList logs = QDir(folder_).entryList({QStringLiteral("*.kss")}, QDir::Files);
        for (const QString& name : logs) {
            KissReader reader;
            for (const KissRecord& r :
                 reader.Feed(ReadAll(QDir(folder_).filePath(name).toStdString())))
                if (r.kind == KissRecord::Kind::Frame && r.bytes.size() >= 17 &&
                    std::equal(r.bytes.begin(), r.bytes.begin() + 17, TelemetryHeader().begin()))
                    out.push_back(r.bytes);
        }
        return out;
    }

  private:
    QString folder_;
    QProcess proc_;
};

struct Delivery {
    long accepted = 0, distinct = 0, duplicates = 0;
    bool inOrder = true;
};

// What a server accepted (its requests after the scripted refusals), against
// the feed's order.
Delivery Deliveries(const HttpTestServer& server, qsizetype refused,
                    const std::map<std::string, std::size_t>& order, std::set<std::string>& seen) {
    Delivery d;
    std::size_t last = 0;
    const std::vector<std::string> fields = FrameFields(server);
    for (std::size_t i = static_cast<std::size_t>(refused); i < fields.size(); ++i) {
        ++d.accepted;
        if (!seen.insert(fields[i]).second) {
            ++d.duplicates;
            continue;
        }
        const std::size_t at = order.count(fields[i]) ? order.at(fields[i]) : 0;
        d.inOrder = d.inOrder && at >= last;
        last = at;
    }
    d.distinct = static_cast<long>(seen.size());
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

std::size_t TelemetryBefore(const Feed& feed, long end) {
    const Bytes header = TelemetryHeader();
    std::size_t n = 0;
    for (long i = 0; i < end; ++i)
        n += std::equal(header.begin(), header.end(),
                        feed.frames[static_cast<std::size_t>(i)].begin());
    return n;
}

} // namespace

TEST(Faults, UnattendedStationLosesNoLoggedFrameToModemRestartsAServerDownOrAKill) {
    const long part = EnvLong("SOAK_KILL_FRAMES", 60);
    const int downMs = static_cast<int>(EnvLong("SOAK_SERVER_DOWN_S", 8) * 1000);
    const Feed feed(4 * part);
    QTemporaryDir work;
    QStringList kiss;
    std::vector<std::size_t> upTo; // telemetry frames in the feeds up to and with each one
    for (long p = 0; p < 4; ++p) {
        kiss << work.filePath(QStringLiteral("part%1.kss").arg(p));
        ASSERT_TRUE(feed.WriteKiss(kiss.back(), static_cast<std::size_t>(p * part),
                                   static_cast<std::size_t>((p + 1) * part)));
        upTo.push_back(TelemetryBefore(feed, (p + 1) * part));
    }
    std::map<std::string, std::size_t> order;
    for (std::size_t i = 0; i < feed.telemetryFields.size(); ++i)
        order[feed.telemetryFields[i]] = i;

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
    const auto heard = [&] { return program.LoggedTelemetry().size(); };
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
        std::set<std::string> atA, atB;
        for (const std::string& f : FrameFields(a))
            atA.insert(f);
        for (const std::string& f : FrameFields(b))
            atB.insert(f);
        for (const Bytes& frame : program.LoggedTelemetry()) {
            std::string text = TelemetryFrameText(frame).substr(3);
            while (!text.empty() && text.back() == ' ')
                text.pop_back();
            if (!atA.count(text) || !atB.count(text)) return false;
        }
        return true;
    };
    const bool delivered =
        WaitUntil([&] { return heard() >= heardBeforeKill + upTo[3] - upTo[1] && allDelivered(); },
                  120000 + downMs);
    program.Kill();

    std::set<std::string> seenA, seenB;
    const Delivery da = Deliveries(a, 0, order, seenA);
    const Delivery db = Deliveries(b, 0, order, seenB);
    std::ostringstream line;
    line << "SOAK run=unattended frames=" << heard() << " uploads_a=" << da.distinct
         << " uploads_b=" << db.distinct << " duplicates_a=" << da.duplicates
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
