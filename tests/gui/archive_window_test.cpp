// ARCHIVE=YES in the window: a large import reaches the archive whole (it
// reads frames faster than they could be queued one by one), live frames
// beside it too, and a file that is not an archive is left alone.
#include <QTcpServer>

#include "archive/Archive.h"
#include "files/Kiss.h"
#include "form_fixture.h"
#include "telemetry_frames.h"
#include "time/TimeArgument.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

class ArchiveWindow : public FormFixture {
  protected:
    Form1& StartWith(const std::string& extra) {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) + "\r\nMYCALL=N0CALL\r\n" +
                    extra);
        s.close();
        clock.Set(Reading(2026, 12, 9, 15, 0));
        return Start();
    }
    std::string ArchivePath() const { return dir.filePath("tavrik-archive.sqlite").toStdString(); }
    std::int64_t Archived() const {
        Archive a;
        ArchiveExtent e;
        if (!a.Open(ArchivePath(), Archive::Access::Read).empty() || !a.Extent({}, e).empty())
            return -1;
        return e.count;
    }
    FixedClock clock;
};

TEST_F(ArchiveWindow, ALargeImportAndLiveFramesBesideItAllReachTheArchive) {
    Form1& f = StartWith("ARCHIVE=YES\r\n");
    ASSERT_TRUE(WaitFor([&] { return EventLogged("archive catch-up done: 0 of 0"); }));
    const int n = 60000; // three times the live queue
    std::string bytes;
    for (int i = 0; i < n; ++i) {
        const auto ts = KissTimestampRecord(FormatTimestamp(UtcDateTime(1'700'000'000'000 + i)));
        const auto rec = KissFrameRecord(TelemetryFrame({2, i % 65536, i / 65536}));
        bytes.append(ts.begin(), ts.end());
        bytes.append(rec.begin(), rec.end());
    }
    const QString path = dir.filePath("big.kss");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.data(), static_cast<qint64>(bytes.size()));
    out.close();
    f.ImportFiles({path});
    for (int i = 0; i < 20; ++i) {
        f.Pipeline().ProcessRawFrame(TelemetryFrame({2, 7, 7, i}));
        clock.AdvanceMilliseconds(1000);
    }
    ASSERT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 120000));
    EXPECT_TRUE(WaitFor([&] { return Archived() == n + 20; }, 60000)) << Archived();
    EXPECT_TRUE(WaitFor([&] {
        return EventLogged("archive import done: 1 of 1 KISS file(s) read, 60000 frame(s) added");
    }));
}

TEST_F(ArchiveWindow, AFileThatIsNotAnArchiveIsLeftAloneWithOneLine) {
    {
        QFile notes(QString::fromStdString(ArchivePath()));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write("notes");
    }
    StartWith("ARCHIVE=YES\r\n");
    EXPECT_TRUE(EventLogged("archive not used: "));
    QFile notes(QString::fromStdString(ArchivePath()));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), QByteArray("notes"));
}

TEST_F(ArchiveWindow, WithoutTheKeyThereIsNoArchive) {
    Form1& f = StartWith("");
    f.Pipeline().ProcessRawFrame(TelemetryFrame({2}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ArchivePath())));
    EXPECT_FALSE(EventLogged("archive"));
}

} // namespace
