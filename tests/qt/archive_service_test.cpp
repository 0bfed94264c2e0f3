// The archive beside the event loop: the catch-up's news reaches the loop's thread.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "archive/qt/ArchiveService.h"
#include "files/Kiss.h"
#include "telemetry_frames.h"
#include "time/TimeArgument.h"

namespace tavrik {
namespace {

void Write(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

TEST(ArchiveService, TheCatchUpSummaryArrivesOnTheLoopsThread) {
    QTemporaryDir dir;
    std::string log;
    for (int i = 0; i < 30; ++i) {
        const auto ts =
            KissTimestampRecord(FormatTimestamp(UtcDateTime(1'700'000'000'000 + i * 1000)));
        const auto frame = KissFrameRecord(testing::TelemetryFrame({2, i}));
        log.append(ts.begin(), ts.end());
        log.append(frame.begin(), frame.end());
    }
    Write(dir.filePath("OLD_01012026_0000.kss"), log);
    SystemClock clock;
    ArchiveService service(clock);
    QSignalSpy finished(&service, &ArchiveService::CatchUpFinished);
    QSignalSpy lines(&service, &ArchiveService::LogLine);
    EXPECT_TRUE(service.Start(dir.path()).startsWith("archive: "));
    service.StartCatchUp(dir.path());
    ASSERT_TRUE(finished.wait(10000));
    const QString summary = finished.at(0).at(0).toString();
    EXPECT_TRUE(
        summary.startsWith("archive catch-up done: 1 of 1 KISS log(s) read, 30 frame(s) added"))
        << summary.toStdString();
    EXPECT_EQ(lines.last().at(0).toString(), summary);
}

} // namespace
} // namespace tavrik
