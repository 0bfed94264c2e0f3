#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <sched.h>
#include <sys/mount.h>

#include "http_test_server.h"
#include "upload/qt/RetryUploader.h"

using namespace std::chrono_literals;
using tavrik::RetryBackoff;
using tavrik::RetryUploader;
using tavrik::test::ClosedPort;
using tavrik::test::HttpTestServer;
using tavrik::test::ScriptedReply;

namespace {

constexpr int kWaitMs = 20000; // a safety net only; no test measures time

QList<QByteArray> Bodies(int n) {
    QList<QByteArray> out;
    for (int i = 0; i < n; ++i)
        out << "frame=" + QByteArray::number(i);
    return out;
}

// The bodies a server accepted: those of the requests answered after its script.
QList<QByteArray> Accepted(const HttpTestServer& server, qsizetype scripted) {
    QList<QByteArray> out;
    for (qsizetype i = scripted; i < server.Requests().size(); ++i)
        out << server.Requests()[i].body;
    return out;
}

std::unique_ptr<RetryUploader> Make(const QTemporaryDir& dir, QStringList* log) {
    auto up = std::make_unique<RetryUploader>(dir.path().toStdString());
    up->SetBackoff(RetryBackoff(20ms, 80ms));
    up->SetTimeout(300ms);
    QObject::connect(up.get(), &RetryUploader::logLine, [log](const QString& t) { *log << t; });
    return up;
}

} // namespace

TEST(RetryUploader, EachServerGetsEveryUploadOnceInOrderThroughFailures) {
    QTemporaryDir dir;
    HttpTestServer primary;
    ASSERT_TRUE(primary.Listen());
    primary.Script({ScriptedReply::Status(503, "Busy"), ScriptedReply::Hang(),
                    ScriptedReply::ResetMidResponse(), ScriptedReply::Status(429, "Slow")});
    const quint16 backupPort = ClosedPort(); // refuses until it comes back below
    const QString backupUrl = QStringLiteral("http://127.0.0.1:%1/b").arg(backupPort);
    QStringList log;
    auto up = Make(dir, &log);
    up->Start();
    const QList<QByteArray> bodies = Bodies(12);
    for (const QByteArray& b : bodies)
        up->Enqueue(b, {primary.Url("/p"), backupUrl});

    // The backup being down holds up nothing on the primary.
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Waiting(primary.Url("/p")) == 0; }, kWaitMs));
    EXPECT_EQ(Accepted(primary, 4), bodies);
    for (qsizetype i = 0; i < 4; ++i)
        EXPECT_EQ(primary.Requests()[i].body, bodies[0]);
    EXPECT_EQ(up->Waiting(backupUrl), 12u);

    HttpTestServer backup;
    ASSERT_TRUE(backup.Listen(backupPort));
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    EXPECT_EQ(Accepted(backup, 0), bodies);
    EXPECT_TRUE(log.contains("Upload queue for " + backupUrl + " drained: 12 queued uploads sent"))
        << log.join('\n').toStdString();
}

TEST(RetryUploader, QueueLeftByAnEarlyEndGoesToItsServerAfterARestart) {
    QTemporaryDir dir;
    HttpTestServer server;
    ASSERT_TRUE(server.Listen());
    server.SetDefault(ScriptedReply::Hang());
    QStringList log;
    const QList<QByteArray> bodies = Bodies(3);
    {
        auto up = Make(dir, &log);
        up->Start();
        for (const QByteArray& b : bodies)
            up->Enqueue(b, {server.Url("/s")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.Requests().size() == 1; }, kWaitMs));
    } // ends with the first request in flight

    // Started again and nothing new to send: the queue still goes to its server.
    server.Script({ScriptedReply::Status(404, "Not Found")}); // final: dropped, not retried
    server.SetDefault(ScriptedReply::Status(200, "OK"));
    auto up = Make(dir, &log);
    up->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    EXPECT_EQ(Accepted(server, 2), bodies.mid(1));
    EXPECT_EQ(server.Requests()[1].body, bodies[0]); // the one in flight, once more
    EXPECT_TRUE(log.contains("Upload queue for " + server.Url("/s") +
                             ": 3 uploads kept from an earlier run"));

    // A second copy of the program on the same folder posts once, without a queue.
    QStringList otherLog;
    auto other = Make(dir, &otherLog);
    other->Enqueue("frame=other", {server.Url("/s")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Requests().size() == 5; }, kWaitMs));
    EXPECT_EQ(server.Requests().back().body, "frame=other");
    EXPECT_TRUE(otherLog.value(0).contains("in use by another running copy"));
}

// A small tmpfs of its own (a mount namespace of this test process only),
// filled to the last page while uploads wait for their server.
TEST(RetryUploader, AFullDiskSendsNoAcceptedUploadAgain) {
    QTemporaryDir dir;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        GTEST_SKIP() << "needs root for a mount namespace";
    const QByteArray mountPoint = dir.path().toLocal8Bit();
    ASSERT_EQ(::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=256k"), 0);
    const quint16 port = ClosedPort();
    const QString url = QStringLiteral("http://127.0.0.1:%1/t").arg(port);
    QStringList log;
    auto up = Make(dir, &log);
    up->SetTimeout(std::chrono::seconds(10)); // a slow answer is no failure here
    up->Start();
    QList<QByteArray> bodies;
    for (int i = 0; i < 40; ++i) {
        bodies << "frame=" + QByteArray::number(i) + QByteArray(200, 'x');
        up->Enqueue(bodies.back(), {url});
    }
    std::ofstream filler(dir.filePath("filler").toStdString(), std::ios::binary);
    const std::string page(4096, 'f');
    while (filler.write(page.data(), page.size()) && filler.flush()) {
    }
    HttpTestServer server;
    server.SetDefault(ScriptedReply::Status(201, "Created"));
    ASSERT_TRUE(server.Listen(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    QTest::qWait(300); // time for a send that should not come
    EXPECT_EQ(Accepted(server, 0), bodies);
    EXPECT_TRUE(log.join('\n').contains("No space left on device; acknowledgements kept in memory"))
        << log.join('\n').toStdString();
    up.reset();
    // What was taken is not sent again after a restart either.
    up = Make(dir, &log);
    up->SetTimeout(std::chrono::seconds(10));
    up->Start();
    QTest::qWait(300);
    EXPECT_EQ(server.Requests().size(), bodies.size());
    up.reset();
    ::umount2(mountPoint.constData(), MNT_DETACH);
}

TEST(RetryUploader, AFolderRemovedWhileRunningStillReachesItsServerAfterARestart) {
    QTemporaryDir dir;
    const quint16 port = ClosedPort();
    const QString url = QStringLiteral("http://127.0.0.1:%1/t").arg(port);
    QStringList log;
    const QList<QByteArray> bodies = Bodies(6);
    {
        auto up = Make(dir, &log);
        up->SetTimeout(std::chrono::seconds(10));
        up->Start();
        for (int i = 0; i < 6; ++i) {
            if (i == 3) std::filesystem::remove_all(dir.path().toStdString());
            up->Enqueue(bodies[i], {url});
        }
        EXPECT_TRUE(log.join('\n').contains(
            "removed while running: made again, 3 waiting uploads written again"))
            << log.join('\n').toStdString();
    }
    HttpTestServer server;
    ASSERT_TRUE(server.Listen(port));
    auto up = Make(dir, &log);
    up->SetTimeout(std::chrono::seconds(10)); // a slow answer is no failure here
    up->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    EXPECT_EQ(Accepted(server, 0), bodies);
}
