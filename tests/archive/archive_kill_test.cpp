// The real program with ARCHIVE=YES, fed by agw-replay, killed (SIGKILL) in the
// middle of a burst while frames it logged wait for the archive, and started again, in a folder
// that also holds a log of an earlier run that was never archived: afterwards every telemetry frame
// of the KISS logs is in the archive once, and tavrik-archive export gives exactly what
// tavrik-decode gives for the logs.
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "archive/Archive.h"
#include "killed_program.h"
#include "soak_support.h"

using namespace tavrik;
using namespace tavrik::soak;

namespace {

QByteArray RunTool(const QString& program, const QStringList& args, int* status = nullptr) {
    QProcess p;
    p.start(qEnvironmentVariable("TAVRIK_BIN_DIR") + "/" + program, args);
    p.waitForFinished(120000);
    if (status) *status = p.exitCode();
    return p.readAllStandardOutput();
}

std::int64_t Archived(const std::string& path) {
    Archive a;
    ArchiveExtent e;
    if (!a.Open(path, Archive::Access::Read).empty() || !a.Extent({}, e).empty()) return -1;
    return e.count;
}

} // namespace

TEST(ArchiveKill, EveryTelemetryFrameOfTheLogsIsArchivedOnceAfterAKillAndARestart) {
    const long part = EnvLong("ARCHIVE_KILL_FRAMES", 150);
    const Feed feed(2 * part), old(40);
    QTemporaryDir work, folder;
    const QString partA = work.filePath("a.kss"), partB = work.filePath("b.kss");
    ASSERT_TRUE(feed.WriteKiss(partA, 0, static_cast<std::size_t>(part)));
    ASSERT_TRUE(feed.WriteKiss(partB, static_cast<std::size_t>(part)));
    // A log of a run before the archive was turned on.
    ASSERT_TRUE(old.WriteKiss(folder.filePath("N0CALL_05032024_1400.kss")));
    const quint16 port = tavrik::test::ClosedPort();
    KilledProgram program(folder.path(), {"-platform", "offscreen"});
    ASSERT_TRUE(program.Install());
    program.Configure({QStringLiteral("PORT=127.0.0.1:%1").arg(port),
                       QStringLiteral("MYCALL=N0CALL"), QStringLiteral("AGW_RECONNECT=YES"),
                       QStringLiteral("ARCHIVE=YES")});
    const auto logged = [&program] { return program.Logged().size(); };
    const std::string archive = folder.filePath("tavrik-archive.sqlite").toStdString();

    auto replay = std::make_unique<Replay>();
    ASSERT_TRUE(replay->Start(partA, 10, port));
    ASSERT_TRUE(program.Start());
    const auto inOld = static_cast<std::size_t>(old.Telemetry());
    ASSERT_TRUE(
        WaitUntil([&] { return Archived(archive) >= static_cast<std::int64_t>(inOld); }, 30000));
    // Another program holds the lock: frames heard now wait in the queue, and die with the kill.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(archive.c_str(), &holder), SQLITE_OK);
    sqlite3_busy_timeout(holder, 10000); // the station may be writing at this moment
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(WaitUntil([&] { return logged() >= inOld + part / 2; }, 60000));
    program.Kill(); // in the middle of the burst
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    const std::size_t beforeKill = logged();
    EXPECT_LT(Archived(archive), static_cast<std::int64_t>(beforeKill)) << "none was left behind";

    replay = std::make_unique<Replay>();
    ASSERT_TRUE(replay->Start(partB, 10, port));
    ASSERT_TRUE(program.Start());
    const Bytes header = TelemetryHeader();
    const auto inB = static_cast<std::size_t>(
        std::count_if(feed.frames.begin() + part, feed.frames.end(), [&](const Bytes& f) {
            return std::equal(header.begin(), header.end(), f.begin());
        }));
    ASSERT_TRUE(WaitUntil([&] { return logged() >= beforeKill + inB; }, 60000));
    const auto inLogs = static_cast<std::int64_t>(logged());
    EXPECT_TRUE(WaitUntil([&] { return Archived(archive) >= inLogs; }, 30000))
        << Archived(archive) << " of " << inLogs;
    program.Kill();
    EXPECT_LT(beforeKill, inOld + static_cast<std::size_t>(part) * 9 / 10)
        << "killed after the burst";
    EXPECT_EQ(Archived(archive), inLogs);

    // The logs as the archive names them, oldest frames first: what tavrik-decode is given.
    Archive a;
    ASSERT_EQ(a.Open(archive, Archive::Access::Read), "");
    std::vector<KissMark> marks;
    ASSERT_EQ(a.Marks(marks), "");
    QStringList logs;
    for (const KissMark& m : marks) {
        EXPECT_TRUE(QFileInfo(QString::fromStdString(m.file)).dir() == QDir(folder.path()))
            << m.file;
        logs << QString::fromStdString(m.file);
    }
    std::sort(logs.begin(), logs.end(), [](const QString& x, const QString& y) {
        return (x.contains("2024") ? "0" : "1") + x < (y.contains("2024") ? "0" : "1") + y;
    });
    ASSERT_GE(logs.size(), 2);
    int status = -1;
    const QByteArray exported =
        RunTool("tavrik-archive", {"export", QString::fromStdString(archive)}, &status);
    EXPECT_EQ(status, 0);
    const QByteArray decoded = RunTool("tavrik-decode", logs);
    EXPECT_EQ(exported.count('\n'), inLogs + 1);
    EXPECT_TRUE(exported == decoded) << "export:\n"
                                     << exported.left(2000).toStdString() << "\ndecode:\n"
                                     << decoded.left(2000).toStdString();
}
