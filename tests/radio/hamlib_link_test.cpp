// The rig link against daemons that misbehave as real ones can: nobody
// listening, "RPRT -n" to every frequency, silence, an answer cut in the
// middle. Each gives one clear line, the link is made again, and the event
// loop is never held.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "made_up_track.h"
#include "radio/qt/RigControl.h"
#include "radio_test_support.h"

namespace tavrik {
namespace {

// A daemon that answers each command line as the case says.
class ScriptedDaemon : public QObject {
  public:
    using Answer = std::function<void(QTcpSocket&, const QByteArray& line)>;
    explicit ScriptedDaemon(Answer answer) : answer_(std::move(answer)) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                ++connections;
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    while (s->canReadLine())
                        answer_(*s, s->readLine().trimmed());
                });
            }
        });
    }
    bool Listen(int port) {
        return server_.listen(QHostAddress::LocalHost, static_cast<quint16>(port));
    }
    int connections = 0;

  private:
    QTcpServer server_;
    Answer answer_;
};

struct Fixture {
    test::MadeUpTrack track;
    std::vector<std::string> log;
    QElapsedTimer real;
    std::unique_ptr<RigControl> rig;
    Fixture() {
        real.start();
        // In the pass from the start, on the program's own clock.
        rig = std::make_unique<RigControl>(
            DopplerTracker::Settings{435'000'000, 0},
            [this](const std::string& l) { log.push_back(l); },
            [this] { return track.aos + 60'000 + real.elapsed(); });
        rig->Link().SetReplyTimeoutMs(300);
        rig->SetTrack(std::shared_ptr<SkyTrack>(&track, [](SkyTrack*) {}));
    }
    std::size_t Count(const std::string& part) const {
        std::size_t n = 0;
        for (const std::string& l : log)
            n += l.find(part) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string All() const {
        std::string s;
        for (const std::string& l : log)
            s += l + "\n";
        return s;
    }
};

TEST(HamlibLink, BadDaemonsGiveOneLineAndAreTriedAgain) {
    struct Case {
        const char* name;
        ScriptedDaemon::Answer answer;
        const char* line; // the line the user sees
        bool reconnects;  // the link is dropped and made again
    };
    const Case cases[] = {
        {"refuses every frequency",
         [](QTcpSocket& s, const QByteArray& l) {
             s.write(l.startsWith("F ") ? "RPRT -17\n" : "435000000\n");
         },
         "rig: rigctld refused the frequency 435 ", false},
        {"never answers", [](QTcpSocket&, const QByteArray&) {},
         "rig: rigctld at 127.0.0.1:PORT: no answer within 300 ms to \"F 435", true},
        {"cuts its answer",
         [](QTcpSocket& s, const QByteArray&) {
             s.write("4350");
             s.flush();
             s.disconnectFromHost();
         },
         "closed the connection in the middle of an answer to \"F 435", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const int port = test::FreePort();
        ScriptedDaemon daemon(c.answer);
        ASSERT_TRUE(daemon.Listen(port));
        f.rig->Start("127.0.0.1", port);
        // Three seconds: refusals every second, or two reconnections.
        QTest::qWait(3500);
        std::string line = c.line;
        if (const auto at = line.find("PORT"); at != std::string::npos)
            line.replace(at, 4, std::to_string(port));
        EXPECT_EQ(f.Count(line), 1u) << f.All();
        if (c.reconnects) {
            EXPECT_GE(daemon.connections, 2) << f.All();
            EXPECT_EQ(f.Count("trying again in 1 s"), 1u) << f.All();
        } else {
            EXPECT_EQ(daemon.connections, 1);
            EXPECT_TRUE(f.rig->Connected());
            EXPECT_FALSE(f.rig->FrequencySet().has_value());
            EXPECT_NE(f.rig->LastError().find("RPRT -17 (argument out of range)"),
                      std::string::npos);
        }
    }
}

TEST(HamlibLink, RefusedConnectionThenTheRealDaemon) {
    Fixture f;
    const int port = test::FreePort();
    f.rig->Start("127.0.0.1", port);
    QTRY_VERIFY_WITH_TIMEOUT(f.Count("cannot connect") == 1, 5000);
    EXPECT_NE(f.log.front().find("rig: rigctld at 127.0.0.1:" + std::to_string(port) +
                                 ": cannot connect: Connection refused; trying again in 1 s"),
              std::string::npos)
        << f.All();
    QTest::qWait(2500); // attempts keep failing without a line each
    EXPECT_EQ(f.Count("cannot connect"), 1u) << f.All();
    QProcess rigctld;
    ASSERT_TRUE(test::StartDummy(rigctld, "rigctld", port));
    QTRY_VERIFY_WITH_TIMEOUT(f.rig->FrequencySet().has_value(), 10000);
    EXPECT_EQ(f.Count("rig: connected to rigctld at 127.0.0.1:" + std::to_string(port) + " after"),
              1u)
        << f.All();
    f.rig->Stop();
    rigctld.kill();
    rigctld.waitForFinished(5000);
}

TEST(HamlibLink, WithoutATleTheRigStaysIdle) {
    std::vector<std::string> log;
    RigControl rig(
        {435'000'000, 0}, [&](const std::string& l) { log.push_back(l); },
        [] { return std::int64_t{0}; });
    rig.SetTrack(nullptr);
    rig.Start("127.0.0.1", test::FreePort());
    rig.SetTrack(nullptr);
    QTest::qWait(300);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "rig: RIG is set but there is no TLE to follow: the rig stays idle");
    EXPECT_FALSE(rig.Connected());
}

} // namespace
} // namespace tavrik
