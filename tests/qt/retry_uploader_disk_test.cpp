// The upload queue on a disk that fills up or loses its folder while running,
// against a real server on 127.0.0.1.
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

std::unique_ptr<RetryUploader> Make(const std::string& folder, QStringList* log) {
    auto up = std::make_unique<RetryUploader>(folder);
    up->SetBackoff(RetryBackoff(20ms, 80ms));
    up->SetTimeout(300ms);
    QObject::connect(up.get(), &RetryUploader::logLine, [log](const QString& t) { *log << t; });
    return up;
}

QList<QByteArray> Bodies(const HttpTestServer& server) {
    QList<QByteArray> out;
    for (const auto& r : server.Requests())
        out << r.body;
    return out;
}

} // namespace

// A small tmpfs of its own (a mount namespace of this test process only),
// filled to the last page while uploads wait for their server.
TEST(RetryUploaderDisk, AFullDiskSendsNoAcceptedUploadAgain) {
    QTemporaryDir dir;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        GTEST_SKIP() << "needs root for a mount namespace";
    ASSERT_EQ(::mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=256k"), 0);
    const std::string folder = dir.path().toStdString() + "/upload_queue";
    const quint16 port = ClosedPort();
    const QString url = QStringLiteral("http://127.0.0.1:%1/t").arg(port);
    QStringList log;
    auto up = Make(folder, &log);
    up->Start();
    QList<QByteArray> bodies;
    for (int i = 0; i < 40; ++i) {
        bodies << "frame=" + QByteArray::number(i) + QByteArray(200, 'x');
        up->Enqueue(bodies.back(), {url});
    }
    {
        std::ofstream filler(dir.path().toStdString() + "/filler", std::ios::binary);
        const std::string page(4096, 'f');
        while (filler.write(page.data(), page.size()) && filler.flush()) {
        }
    }
    HttpTestServer server;
    server.SetDefault(ScriptedReply::Status(201, "Created"));
    ASSERT_TRUE(server.Listen(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    QTest::qWait(300); // time for a send that should not come
    EXPECT_EQ(Bodies(server), bodies);
    EXPECT_TRUE(log.join('\n').contains("No space left on device; acknowledgements kept in memory"))
        << log.join('\n').toStdString();
    up.reset();

    // What was taken is not sent again after a restart either.
    auto again = Make(folder, &log);
    again->Start();
    QTest::qWait(300);
    EXPECT_EQ(server.Requests().size(), bodies.size());
    again.reset();
    ::umount2(dir.path().toLocal8Bit().constData(), MNT_DETACH);
}

TEST(RetryUploaderDisk, AFolderRemovedWhileRunningStillReachesItsServerAfterARestart) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/upload_queue";
    const quint16 port = ClosedPort();
    const QString url = QStringLiteral("http://127.0.0.1:%1/t").arg(port);
    QStringList log;
    QList<QByteArray> bodies;
    {
        auto up = Make(folder, &log);
        up->Start();
        for (int i = 0; i < 6; ++i) {
            if (i == 3) std::filesystem::remove_all(folder);
            bodies << "frame=" + QByteArray::number(i);
            up->Enqueue(bodies.back(), {url});
        }
        EXPECT_TRUE(log.join('\n').contains("removed while running: made again, 3 waiting "
                                            "uploads written again"))
            << log.join('\n').toStdString();
    }
    HttpTestServer server;
    ASSERT_TRUE(server.Listen(port));
    auto up = Make(folder, &log);
    up->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return up->Idle(); }, kWaitMs));
    EXPECT_EQ(Bodies(server), bodies);
}
