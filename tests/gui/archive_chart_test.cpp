// The chart's range choice against a real archive file: what each range
// covers, that no extreme is lost over a year, answers that come late or for a
// choice already left, a file that is not an archive, the tooltip, and the
// export of the shown range.
#include <QGroupBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>

#include "app/ArchiveChart.h"
#include "app/ArchiveChartQuery.h"
#include "app/ArchiveChartView.h"
#include "app/ArchiveCsvExport.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryExportAction.h"
#include "archive/Archive.h"
#include "archive/qt/ArchiveService.h"
#include "files/Kiss.h"
#include "form_fixture.h"
#include "telemetry_frames.h"
#include "time/TimeArgument.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

constexpr int kBatt = 21;
constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kDay = 24 * kHour;

class ArchiveChartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.filePath("tavrik-archive.sqlite").toStdString();
        frame.setGeometry(0, 0, 689, 273);
        run = new TelemetryChart(history, &frame);
        run->setGeometry(8, 16, 673, 249);
        chart = std::make_unique<ArchiveChart>(&frame, run, ArchiveChartQueryFor(path), clock);
        chart->Refresh(kBatt, "Batt volts [mV]");
        frame.show();
    }
    // A year of passes before now: every 6 hours, 30 frames 10 s apart, Batt
    // volts 7000 to 7999; one frame far below, one far above the rest.
    void FillYear() {
        std::mt19937 rng(7);
        for (std::int64_t start = now - 365 * kDay + kHour; start < now; start += 6 * kHour)
            for (int i = 0; i < 30; ++i)
                frames.push_back({start + i * 10'000, 7000.0 + rng() % 1000});
        frames[frames.size() / 3].second = 5000;
        frames[frames.size() / 2].second = 9500;
        // The high one red; one in the last pass yellow.
        Insert(frames, {{frames[frames.size() / 2].first, LimitLevel::Red},
                        {frames[frames.size() - 5].first, LimitLevel::Yellow}});
    }
    // Batt volts judged in range but for the frames in `judged`.
    void Insert(const std::vector<std::pair<std::int64_t, double>>& rows,
                const std::map<std::int64_t, LimitLevel>& judged = {}) {
        Archive archive;
        ASSERT_EQ(archive.Open(path, Archive::Access::Write), "");
        std::vector<ArchiveFrame> batch;
        for (const auto& [t, v] : rows) {
            ArchiveFrame f;
            f.timeMs = t;
            f.source = "TAVRIK";
            std::vector<long> raw(kFieldCount, 0);
            raw[kBatt] = static_cast<long>(v); // taken as it stands (mV)
            f.data = TelemetryFrame(raw);
            f.levels = FieldLevels{};
            const auto level = judged.find(t);
            (*f.levels)[kBatt] = level == judged.end() ? LimitLevel::InRange : level->second;
            batch.push_back(f);
        }
        ASSERT_TRUE(archive.Insert(batch).Ok());
    }
    const ArchiveChartData& Choose(ChartRange range) {
        QSignalSpy drawn(chart.get(), &ArchiveChart::Drawn);
        chart->Box()->SetRange(range);
        EXPECT_TRUE(drawn.wait(20000)) << qPrintable(ChartRangeName(range));
        return chart->View()->Shown();
    }
    std::int64_t Count(TimeSpan span) const {
        return std::count_if(frames.begin(), frames.end(), [&](const auto& f) {
            return f.first >= span.fromMs && f.first < span.toMs;
        });
    }

    QTemporaryDir dir;
    std::string path;
    const std::int64_t now = UnixMilliseconds({2026, 12, 9, 18, 0, 0, 0});
    FixedClock clock{Reading(2026, 12, 9, 18, 0, 0, 0)};
    TelemetryHistory history;
    QGroupBox frame;
    TelemetryChart* run = nullptr;
    std::unique_ptr<ArchiveChart> chart;
    std::vector<std::pair<std::int64_t, double>> frames;
};

std::int64_t Frames(const ArchiveChartData& d) {
    std::int64_t n = 0;
    for (const SeriesBucket& b : d.buckets)
        n += b.count;
    return n;
}

} // namespace

TEST_F(ArchiveChartTest, EachRangeCoversItsFramesAndAYearKeepsEveryExtreme) {
    FillYear();
    const std::int64_t lastPassStart = frames.back().first - 29 * 10'000;
    struct Case {
        ChartRange range;
        TimeSpan span;
    };
    for (const Case& c : {Case{ChartRange::Day, {now + 1 - kDay, now + 1}},
                          Case{ChartRange::Week, {now + 1 - 7 * kDay, now + 1}},
                          Case{ChartRange::Year, {now + 1 - 365 * kDay, now + 1}},
                          Case{ChartRange::LastPass, {lastPassStart, frames.back().first + 1}},
                          Case{ChartRange::All, {frames.front().first, frames.back().first + 1}}}) {
        const ArchiveChartData& d = Choose(c.range);
        const QString name = ChartRangeName(c.range);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.span.fromMs, c.span.fromMs);
        EXPECT_EQ(d.span.toMs, c.span.toMs);
        EXPECT_EQ(Frames(d), Count(c.span));
        EXPECT_LE(d.buckets.size(), 700u); // about one a pixel
        EXPECT_TRUE(std::is_sorted(d.buckets.begin(), d.buckets.end(),
                                   [](auto& a, auto& b) { return a.startMs < b.startMs; }));
        EXPECT_TRUE(chart->View()->accessibleDescription().startsWith(name + ", "))
            << qPrintable(chart->View()->accessibleDescription());
        EXPECT_TRUE(chart->View()->isVisible());
        EXPECT_FALSE(run->isVisible());
        // The red frame marks its bucket of the year (hour summaries), the
        // yellow one of the last pass also that of its day (rows).
        if (c.range == ChartRange::Day || c.range == ChartRange::Year) {
            EXPECT_TRUE(chart->View()->accessibleDescription().endsWith(
                c.range == ChartRange::Day ? "; beyond a yellow limit in 1 place"
                                           : "; beyond a red limit in 1 place, beyond a yellow "
                                             "limit in 1 place"));
        }
    }
    const ArchiveChartData& year = Choose(ChartRange::Year);
    const auto [lo, hi] = std::minmax_element(
        year.buckets.begin(), year.buckets.end(),
        [](const SeriesBucket& a, const SeriesBucket& b) { return a.min < b.min; });
    EXPECT_EQ(lo->min, 5000);
    EXPECT_EQ(std::max_element(year.buckets.begin(), year.buckets.end(),
                               [](auto& a, auto& b) { return a.max < b.max; })
                  ->max,
              9500);
    (void)hi;

    // The tooltip of the bucket under the pointer.
    const SeriesBucket& b = year.buckets[year.buckets.size() / 2];
    const QPointF at = chart->View()->chart()->mapToPosition(
        {double(b.startMs) + double(year.bucketMs) / 2, b.avg});
    const SeriesBucket* found = chart->View()->BucketAt(chart->View()->mapFromScene(at));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->startMs, b.startMs);
    EXPECT_TRUE(chart->View()->BucketText(b).contains(QStringLiteral("max %1 mV").arg(b.max)));

    chart->Box()->SetRange(ChartRange::ThisRun);
    EXPECT_TRUE(run->isVisible());
    EXPECT_FALSE(chart->View()->isVisible());
    EXPECT_TRUE(run->accessibleDescription().startsWith("this run"));
}

TEST_F(ArchiveChartTest, NewFramesAreFollowedAndOnlyTheLastChoiceIsDrawn) {
    FillYear();
    Choose(ChartRange::Day);
    Insert({{now - kHour, 12345}});
    QSignalSpy drawn(chart.get(), &ArchiveChart::Drawn);
    chart->Refresh(kBatt, "Batt volts [mV]"); // a new frame, the same field
    ASSERT_TRUE(drawn.wait(5000));
    EXPECT_EQ(chart->View()->Shown().buckets.back().max, 12345);

    // Choices in quick succession: the answers for those left behind are not drawn.
    drawn.clear();
    chart->Box()->SetRange(ChartRange::Year);
    chart->Box()->SetRange(ChartRange::Week);
    chart->Refresh(5, "Uptime [s]");
    ASSERT_TRUE(drawn.wait(10000));
    QTest::qWait(300);
    EXPECT_EQ(drawn.size(), 1);
    EXPECT_EQ(chart->View()->Shown().request.range, ChartRange::Week);
    EXPECT_EQ(chart->View()->Shown().request.field, 5);
}

TEST_F(ArchiveChartTest, AFileThatIsNotAnArchiveIsSaidAndLeftAlone) {
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a database, a shopping list\n");
    }
    const ArchiveChartData& d = Choose(ChartRange::Week);
    EXPECT_NE(d.error, "");
    EXPECT_TRUE(d.buckets.empty());
    EXPECT_TRUE(chart->View()->accessibleDescription().startsWith("7 days: the archive could not"));
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "not a database, a shopping list\n");
}

TEST_F(ArchiveChartTest, ExportOfTheShownRangeWritesItsFrames) {
    FillYear();
    const ArchiveChartData& week = Choose(ChartRange::Week);
    ArchiveCsvExport exporter;
    QSignalSpy finished(&exporter, &ArchiveCsvExport::Finished);
    const QString out = dir.filePath("week.csv");
    ASSERT_TRUE(exporter.Start(QString::fromStdString(path), chart->ExportSpan(), out));
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(finished[0][2].toString(), "");
    EXPECT_EQ(finished[0][1].toLongLong(), Count(week.span));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromLatin1(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), Count(week.span) + 1);
    EXPECT_TRUE(rows[0].startsWith("Reception time [UTC],File,Source,"));
    const auto first = std::find_if(frames.begin(), frames.end(),
                                    [&](const auto& fr) { return fr.first >= week.span.fromMs; });
    EXPECT_TRUE(rows[1].startsWith(
        QString::fromStdString(FormatTimestamp(UtcDateTime(first->first))) + ",,TAVRIK,"));
}

TEST(TimeTicks, RoundUtcTimesNamedByTheirStep) {
    const std::int64_t t = UnixMilliseconds({2026, 12, 9, 18, 0, 0, 0});
    struct Case {
        std::int64_t span;
        QStringList labels;
    };
    for (const Case& c :
         {Case{kDay, {"18:00", "21:00", "12-09", "03:00", "06:00", "09:00", "12:00", "15:00"}},
          Case{7 * kDay, {"12-03", "12-04", "12-05", "12-06", "12-07", "12-08", "12-09"}},
          Case{365 * kDay, {"2026-01", "2026-03", "2026-05", "2026-07", "2026-09", "2026-11"}}}) {
        QStringList labels;
        for (const auto& [ms, label] : TimeTicks(t - c.span, t))
            labels << label;
        EXPECT_EQ(labels, c.labels);
    }
}

class ArchiveWindowTest : public FormFixture {
  protected:
    // A KISS file of telemetry frames a second apart whose Uptime is their number.
    QString KissFile(int frames) {
        std::vector<std::uint8_t> bytes;
        for (int i = 1; i <= frames; ++i) {
            const std::string ts = FormatTimestamp(UtcDateTime(now - (frames - i) * 1000LL));
            for (const auto& record :
                 {KissTimestampRecord(ts), KissFrameRecord(TelemetryFrame({0, 0, 0, 0, 0, i}))})
                bytes.insert(bytes.end(), record.begin(), record.end());
        }
        const QString path = dir.filePath("old.kss");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }
    const std::int64_t now = UnixMilliseconds({2026, 12, 9, 18, 0, 0, 0});
};

TEST_F(ArchiveWindowTest, WithTheArchiveTheRunGoesOnPast10000AndTheExportOffersTheRange) {
    WriteConfig("PORT=127.0.0.1:1\r\nMYCALL=N0CALL\r\nARCHIVE=YES\r\n");
    clock.Set(Reading(2026, 12, 9, 18, 0));
    const QString file = KissFile(10005);
    Form1& f = Start();
    auto* chart = f.findChild<ArchiveChart*>();
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->Box()->parentWidget(), f.Frame5);
    f.ImportFiles({file});
    ASSERT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 120000));
    // The panel shows the newest frame, the run's chart the newest 10000.
    EXPECT_EQ(f.Text1[5]->text(), "10005");
    ASSERT_EQ(f.ChartValues().size(), 10000u);
    EXPECT_EQ(f.ChartValues().front(), 6);
    EXPECT_EQ(f.ChartValues().back(), 10005);

    QSignalSpy drawn(chart, &ArchiveChart::Drawn);
    chart->Box()->SetRange(ChartRange::Day);
    ASSERT_TRUE(drawn.wait(20000));
    ASSERT_TRUE(WaitFor([&] { return Frames(chart->View()->Shown()) == 10005; }, 20000));
    f.MnuExport->trigger();
    auto* exporter = f.findChild<TelemetryExportAction*>();
    ASSERT_NE(exporter->Dialog(), nullptr);
    EXPECT_EQ(exporter->Dialog()->windowTitle(),
              "export telemetry (CSV): 24 hours from the archive");
    const QString out = exporter->Dialog()->selectedFiles().value(0);
    QMetaObject::invokeMethod(exporter->Dialog(), "accept");
    ASSERT_TRUE(WaitFor([&] { return !exporter->Running(); }, 60000));
    EXPECT_EQ(EntryText(0), "telemetry export " + QDir::toNativeSeparators(out).toStdString() +
                                ": 10005 archived frames written");
}

TEST_F(ArchiveWindowTest, WithoutTheKeyTheRunStopsAt10000AsBefore) {
    WriteConfig("PORT=127.0.0.1:1\r\nMYCALL=N0CALL\r\n");
    const QString file = KissFile(10005);
    Form1& f = Start();
    EXPECT_EQ(f.findChild<ArchiveChart*>(), nullptr);
    EXPECT_EQ(f.findChild<ChartRangeBox*>(), nullptr);
    f.ImportFiles({file});
    ASSERT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 120000));
    EXPECT_EQ(f.Text1[5]->text(), ""); // record 10005 is not stored, so not shown
    EXPECT_EQ(f.ChartValues().size(), 10000u);
    EXPECT_EQ(f.ChartValues().back(), 10000);
}

TEST(ArchiveChartView, NothingIsDrawnBetweenPassesAndALoneBucketHasItsWidth) {
    ArchiveChartView view(nullptr);
    view.resize(673, 249);
    ArchiveChartData d;
    d.request.range = ChartRange::Day;
    d.span = {0, 24 * kHour};
    d.bucketMs = 300'000;
    for (const std::int64_t start : {kHour, kHour + 300'000, kHour + 600'000, 9 * kHour})
        d.buckets.push_back({start, 10, 7000, 7500, 8000});
    view.Show(d, "Batt volts [mV]");
    const QList<QPointF> upper = view.Band()->upperSeries()->points();
    const QList<QPointF> lower = view.Band()->lowerSeries()->points();
    ASSERT_EQ(upper.size(), lower.size());
    const double gapFrom = kHour + 900'000, gapTo = 9 * kHour;
    double loneFrom = 1e18, loneTo = -1e18;
    for (qsizetype i = 0; i < upper.size(); ++i) {
        ASSERT_EQ(upper[i].x(), lower[i].x());
        if (upper[i].x() > gapFrom && upper[i].x() < gapTo) {
            EXPECT_EQ(upper[i].y(), lower[i].y());
        }
        if (upper[i].x() >= gapTo && upper[i].y() == 8000) {
            loneFrom = std::min(loneFrom, upper[i].x());
            loneTo = std::max(loneTo, upper[i].x());
        }
    }
    EXPECT_EQ(loneFrom, gapTo);
    EXPECT_EQ(loneTo, gapTo + 300'000);
}
