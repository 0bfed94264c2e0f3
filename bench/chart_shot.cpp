// A picture of the run chart with 10 000 records, for comparing how the chart
// is drawn (before and after a change): a slow wave with noise, a one-frame
// spike and a one-frame dip in Uptime, imported into the real window
// offscreen; the chart frame is saved as a PNG. With a second name, the
// archive chart of a day of buckets (a wave, one red and some yellow ones) too.
//   bench_chart_shot OUT.png [ARCHIVE_OUT.png]
#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <cstdio>

#include "app/ArchiveChartView.h"
#include "quiet_form.h"

using namespace tavrik;
using namespace tavrik::bench;

namespace {

bool ArchiveShot(const QString& file) {
    constexpr std::int64_t kDay = 86400000, kBuckets = 288, kFrom = 1765238400000; // 2025-12-09
    ArchiveChartData data;
    data.request.range = ChartRange::Day;
    data.span = {kFrom, kFrom + kDay};
    data.bucketMs = kDay / kBuckets;
    for (std::int64_t i = 0; i < kBuckets; ++i) {
        if (i % 50 == 17) continue; // no frames there
        const double wave = 3900 + 250 * std::sin(2 * M_PI * static_cast<double>(i) / kBuckets);
        SeriesBucket b;
        b.startMs = kFrom + i * data.bucketMs;
        b.count = 20;
        b.min = wave - 40 - static_cast<double>(i % 7) * 5;
        b.avg = wave;
        b.max = wave + 40 + static_cast<double>(i % 5) * 6;
        b.worst = i == 100 ? LimitLevel::Red : (i % 60 == 30 ? LimitLevel::Yellow : LimitLevel::InRange);
        data.buckets.push_back(b);
    }
    ArchiveChartView view(nullptr);
    view.resize(700, 360);
    view.show();
    view.Show(data, QStringLiteral("Batt volts [mV]"));
    Drain(10);
    return view.grab().save(file);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_chart_shot OUT.png [ARCHIVE.png [WINDOW.png]]\n");
        return 2;
    }
    constexpr std::size_t kRecords = 10000;
    const auto position = static_cast<std::size_t>(Field(kDefaultChartField).position - 1);
    Lcg rng(4242);
    Bytes log;
    for (std::size_t i = 0; i < kRecords; ++i) {
        Bytes frame = VaryingTelemetryFrame(rng);
        const double wave = 20000 + 8000 * std::sin(2 * M_PI * static_cast<double>(i) / 3000);
        auto v = static_cast<std::uint16_t>(wave + static_cast<double>(rng.Next() % 1200) - 600);
        if (i == 4321) v = 65000;
        if (i == 7777) v = 100;
        frame[position] = static_cast<std::uint8_t>(v & 0xFF);
        frame[position + 1] = static_cast<std::uint8_t>(v >> 8);
        const Bytes ts = KissTimestampRecord(Timestamp(i * 3));
        log.insert(log.end(), ts.begin(), ts.end());
        const Bytes rec = KissFrameRecord(frame);
        log.insert(log.end(), rec.begin(), rec.end());
    }
    QuietForm q;
    const QString path = q.Path("shot.kss");
    WriteBytes(QFile::encodeName(path).toStdString(), log);
    q.form->ImportFiles({path});
    while (q.form->ImportRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    Drain(10);
    const bool saved = q.form->Frame5->grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%zu records, chart of field %d: %s\n",
                static_cast<std::size_t>(q.form->History().StoredCount()), q.form->ChartField(),
                saved ? "saved" : "not saved");
    // The whole window too: the value boxes and the event log as drawn.
    if (argc > 3 && !q.form->grab().save(QString::fromLocal8Bit(argv[3]))) return 1;
    if (argc > 2 && !ArchiveShot(QString::fromLocal8Bit(argv[2]))) return 1;
    return saved ? 0 : 1;
}
