// The real program killed (SIGKILL) in the middle of a burst and started
// again, with UPLOAD_RETRY=YES: every telemetry frame that reached a KISS log
// reaches both servers, in order, with at most one duplicate per server for
// the kill. One server answers 503 for a while first. Prints a "SOAK ..." line.
//
// SOAK_KILL_FRAMES  frames fed before the kill and as many after (default 150)
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
                               "SERVER_BACKUP=%3\r\nUPLOAD_RETRY=YES\r\n")
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

} // namespace

TEST(Faults, KilledInABurstAndStartedAgainEveryLoggedFrameReachesBothServers) {
    const long half = EnvLong("SOAK_KILL_FRAMES", 150);
    const Feed feed(2 * half);
    QTemporaryDir work;
    const QString before = work.filePath(QStringLiteral("before.kss"));
    const QString after = work.filePath(QStringLiteral("after.kss"));
    ASSERT_TRUE(feed.WriteKiss(before, 0, static_cast<std::size_t>(half)));
    ASSERT_TRUE(feed.WriteKiss(after, static_cast<std::size_t>(half)));
    std::map<std::string, std::size_t> order;
    for (std::size_t i = 0; i < feed.telemetryFields.size(); ++i)
        order[feed.telemetryFields[i]] = i;

    HttpTestServer a, b;
    ASSERT_TRUE(a.Listen());
    ASSERT_TRUE(b.Listen());
    constexpr qsizetype kRefused = 1; // then a pause of 5 s before the next try
    b.Script({ScriptedReply::Status(503, "Unavailable")});
    QTemporaryDir folder;
    Program program(folder.path());
    ASSERT_TRUE(program.Install());

    Replay first;
    ASSERT_TRUE(first.Start(before, 10));
    program.Configure(first.Port(), a.Url("/a"), b.Url("/b"));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitUntil(
        [&] { return program.LoggedTelemetry().size() >= static_cast<std::size_t>(half / 2); },
        60000));
    program.Kill();
    const std::size_t heardBeforeKill = program.LoggedTelemetry().size();

    Replay second;
    ASSERT_TRUE(second.Start(after, 10));
    program.Configure(second.Port(), a.Url("/a"), b.Url("/b"));
    ASSERT_TRUE(program.Start());
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
    // The second feed ends with telemetry; once it is logged and delivered, all is.
    const bool delivered = WaitUntil(
        [&] { return program.LoggedTelemetry().size() > heardBeforeKill + 1 && allDelivered(); },
        120000);
    program.Kill();

    std::set<std::string> seenA, seenB;
    const Delivery da = Deliveries(a, 0, order, seenA);
    const Delivery db = Deliveries(b, kRefused, order, seenB);
    const std::size_t heard = program.LoggedTelemetry().size();
    std::ostringstream line;
    line << "SOAK run=kill-restart frames=" << heard << " uploads_a=" << da.distinct
         << " uploads_b=" << db.distinct << " duplicates_a=" << da.duplicates
         << " duplicates_b=" << db.duplicates << " heard_before_kill=" << heardBeforeKill;
    std::printf("%s\n", line.str().c_str());
    if (const QByteArray file = qgetenv("SOAK_REPORT"); !file.isEmpty())
        std::ofstream(file.toStdString(), std::ios::app) << line.str() << "\n";

    EXPECT_TRUE(delivered) << line.str();
    EXPECT_GT(heardBeforeKill, 0u);
    EXPECT_LT(heardBeforeKill, static_cast<std::size_t>(half)) << "killed after the burst";
    EXPECT_LE(da.duplicates, 1);
    EXPECT_LE(db.duplicates, 1);
    EXPECT_TRUE(da.inOrder);
    EXPECT_TRUE(db.inOrder);
}
