// The rig link against daemons that misbehave as real ones can: nobody
// listening, "RPRT -n" to every frequency, silence, an answer cut in the
// middle. Each gives one clear line and the link is made again.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

#include "made_up_track.h"
#include "radio/qt/RigControl.h"
#include "radio_test_support.h"

namespace tavrik {
namespace {

// A rig control in the middle of a made-up pass, its event log in `log`.
struct Fixture {
    test::MadeUpTrack track;
    std::string log;
    QElapsedTimer real;
    RigControl rig{{435'000'000, 0},
                   [this](const std::string& l) { log += l + "\n"; },
                   [this] { return track.aos + 60'000 + real.elapsed(); }};
    Fixture() {
        real.start();
        rig.Link().SetReplyTimeoutMs(300);
        rig.SetTrack(std::shared_ptr<SkyTrack>(&track, [](SkyTrack*) {}));
    }
};

TEST(HamlibLink, BadDaemonsGiveOneLineAndAreTriedAgain) {
    using Answer = std::function<void(QTcpSocket&, const QByteArray&)>;
    const std::tuple<const char*, Answer, bool> cases[] = {
        {"rigctld refused the frequency 435 ",
         [](QTcpSocket& s, const QByteArray& l) {
             s.write(l.startsWith("F ") ? "RPRT -17\n" : "435000000\n");
         },
         false},
        {": no answer within 300 ms to \"F 435", [](QTcpSocket&, const QByteArray&) {}, true},
        {": closed the connection in the middle of an answer to \"F 435",
         [](QTcpSocket& s, const QByteArray&) {
             s.write("4350");
             s.disconnectFromHost();
         },
         true},
    };
    for (const auto& [line, answer, reconnects] : cases) {
        SCOPED_TRACE(line);
        Fixture f;
        QTcpServer daemon;
        int connections = 0;
        QObject::connect(&daemon, &QTcpServer::newConnection, [&, answer = answer] {
            QTcpSocket* s = daemon.nextPendingConnection();
            ++connections;
            QObject::connect(s, &QTcpSocket::readyRead, s, [s, answer] {
                while (s->canReadLine())
                    answer(*s, s->readLine().trimmed());
            });
        });
        ASSERT_TRUE(daemon.listen(QHostAddress::LocalHost));
        f.rig.Start("127.0.0.1", daemon.serverPort());
        QTest::qWait(3500); // refusals every second, or two connections made again
        EXPECT_EQ(test::Count(f.log, line), 1u) << f.log;
        EXPECT_EQ(connections > 1, reconnects) << f.log;
        EXPECT_EQ(test::Count(f.log, "trying again in 1 s"), reconnects ? 1u : 0u) << f.log;
        EXPECT_EQ(f.rig.FrequencySet().has_value(), false);
    }
}

TEST(HamlibLink, RefusedConnectionThenTheRealDaemon) {
    Fixture f;
    const std::string where = "rigctld at 127.0.0.1:" + std::to_string(test::FreePort());
    f.rig.Start("127.0.0.1", std::stoi(where.substr(where.rfind(':') + 1)));
    QTest::qWait(3500); // attempts every 2 s fail without a line each
    EXPECT_EQ(f.log,
              "rig: " + where +
                  ": cannot connect: Connection refused; trying again in 1 s, then every 2 s\n");
    QProcess rigctld;
    ASSERT_TRUE(
        test::StartDummy(rigctld, "rigctld", std::stoi(where.substr(where.rfind(':') + 1))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.rig.FrequencySet().has_value(); }, 10000));
    EXPECT_EQ(test::Count(f.log, "rig: connected to " + where + " after"), 1u) << f.log;
    f.rig.Stop();
    rigctld.kill();
    rigctld.waitForFinished(5000);
}

TEST(HamlibLink, WithoutATleTheRigStaysIdle) {
    std::string log;
    RigControl rig(
        {435'000'000, 0}, [&](const std::string& l) { log += l + "\n"; },
        [] { return std::int64_t{0}; });
    rig.Start("127.0.0.1", test::FreePort());
    rig.SetTrack(nullptr);
    QTest::qWait(300);
    EXPECT_EQ(log, "rig: RIG is set but there is no TLE to follow: the rig stays idle\n");
    EXPECT_FALSE(rig.Connected());
}

} // namespace
} // namespace tavrik
