// The panel, the chart and the pipeline as the window shows them.
#include <QAccessible>
#include <QButtonGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTcpServer>
#include <QTest>

#include "app/EventLogView.h"
#include "app/TelemetryChart.h"

#include "files/Kiss.h"
#include "form_fixture.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

class PanelTest : public FormFixture {
  protected:
    Form1& StartQuiet() {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) + "\r\nMYCALL=N0CALL\r\n");
        s.close();
        Form1& f = Start();
        f.Check1->setChecked(false);
        return f;
    }
    void Receive(const Bytes& frame) { form->Pipeline().ProcessRawFrame(frame); }
};

} // namespace

TEST_F(PanelTest, ShowsEveryFieldAsItsKindIsWritten) {
    Form1& f = StartQuiet();
    std::vector<long> raw(46, 0);
    raw[0] = 130;   // norm safe
    raw[5] = 50000; // uptime beyond 32767
    raw[13] = 500;  // bus voltage 8.0645
    raw[14] = 4660; // &H1234
    raw[16] = 0;    // &H0
    raw[21] = 7400; // batt volts
    raw[33] = -2;   // temp BC #1
    raw[37] = 255;  // &HFF
    raw[39] = 4;    // full
    raw[40] = 2;    // SW fixed point
    raw[41] = -128; // -2.00
    Receive(TelemetryFrame(raw));

    EXPECT_EQ(f.Text1[0]->text(), "norm safe");
    EXPECT_EQ(f.Text1[5]->text(), "50000");
    EXPECT_EQ(f.Text1[13]->text(), "8.06");
    EXPECT_EQ(f.Text1[14]->text(), "&H1234");
    EXPECT_EQ(f.Text1[16]->text(), "&H0");
    EXPECT_EQ(f.Text1[21]->text(), "7400");
    EXPECT_EQ(f.Text1[33]->text(), "-2");
    EXPECT_EQ(f.Text1[37]->text(), "&HFF");
    EXPECT_EQ(f.Text1[39]->text(), "full");
    EXPECT_EQ(f.Text1[40]->text(), "SW fixed point");
    EXPECT_EQ(f.Text1[41]->text(), "-2.00");
    EXPECT_EQ(f.Text1[12]->text(), "190.00"); // PA temp of raw 0
    EXPECT_EQ(f.Label5->text(), "last packet: 2024-03-05 14:07:09.250");
    EXPECT_EQ(f.Label4->text(), "TAVRIK -> TAVRIK");
    EXPECT_EQ(f.Label7->text(), "RX packets: 1 | HTTP POST OK: 0");

    // A state outside the list leaves the box as it was.
    raw[0] = 3;
    raw[39] = 9;
    Receive(TelemetryFrame(raw));
    EXPECT_EQ(f.Text1[0]->text(), "norm safe");
    EXPECT_EQ(f.Text1[39]->text(), "full");
    EXPECT_EQ(f.Label7->text(), "RX packets: 2 | HTTP POST OK: 0");

    // Record 0 and records not stored change nothing.
    f.Text1[1]->setText("x");
    f.ShowTelemetryRecord(0);
    f.ShowTelemetryRecord(3);
    EXPECT_EQ(f.Text1[1]->text(), "x");
}

TEST_F(PanelTest, ChoosingAFieldSelectsExactlyOneAcrossAllGroups) {
    Form1& f = StartQuiet();
    const QColor yellow(255, 255, 192);
    for (auto [index, caption] : std::vector<std::pair<int, QString>>{
             {26, "Total curr [mA]"}, {0, "OPS mode"}, {45, "Temp SP4 [C]"}}) {
        f.Option1[static_cast<std::size_t>(index)]->click();
        EXPECT_EQ(f.ChartField(), index);
        EXPECT_EQ(f.Frame5Caption(), caption);
        for (int i = 0; i < kFieldCount; ++i) {
            const auto u = static_cast<std::size_t>(i);
            EXPECT_EQ(f.Option1[u]->isChecked(), i == index) << i;
            EXPECT_EQ(f.Text1[u]->palette().color(QPalette::Base),
                      i == index ? yellow : QColor(Qt::white))
                << i;
        }
    }
    // Clicking the chosen one again keeps it chosen; the keyboard moves the choice too.
    f.Option1[45]->click();
    EXPECT_TRUE(f.Option1[45]->isChecked());
    f.Option1_Click(3);
    EXPECT_EQ(f.Panel().Choices()->checkedId(), 3);
}

TEST_F(PanelTest, AssistiveToolsReadRadioButtonsFieldsChartAndLog) {
    Form1& f = StartQuiet();
    auto text = [](QObject* o, QAccessible::Text t) {
        return QAccessible::queryAccessibleInterface(o)->text(t);
    };
    for (const FieldSpec& field : FieldTable()) {
        const auto i = static_cast<std::size_t>(field.index);
        const QString caption = QString::fromLatin1(field.caption);
        const QString unit = QString::fromLatin1(field.unit);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(f.Option1[i])->role(),
                  QAccessible::RadioButton);
        EXPECT_EQ(text(f.Option1[i], QAccessible::Name), caption);
        EXPECT_EQ(text(f.Text1[i], QAccessible::Name), caption);
        EXPECT_EQ(text(f.Text1[i], QAccessible::Description), unit);
        EXPECT_EQ(text(f.Label2[i], QAccessible::Name), unit) << i; // never the group's title
    }
    std::vector<long> raw(46, 0);
    raw[5] = 50000;
    Receive(TelemetryFrame(raw));
    EXPECT_EQ(text(f.MSChart1, QAccessible::Name), "Uptime [s]");
    EXPECT_EQ(text(f.MSChart1, QAccessible::Description), "50000 s");

    QAccessibleTextInterface* log = QAccessible::queryAccessibleInterface(f.Text3)->textInterface();
    ASSERT_NE(log, nullptr);
    QString shown = QString::fromStdString(f.Events().Text());
    shown.replace("\r\n", "\n");
    EXPECT_EQ(log->text(0, log->characterCount()), shown);
}

TEST_F(PanelTest, EventLogLinesAreSelectedByKeyboardAndCopied) {
    Form1& f = StartQuiet();
    f.Log(std::string("older line"));
    f.Log(std::string("newest line"));
    QTest::keyClick(f.Text3, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(f.Text3, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(f.Text3, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(f.Text3, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              Entry(0) + "\n" + Entry(1) + "\n");
    EXPECT_EQ(EntryText(0), "newest line");
    // The context menu offers the same, and nothing that would change the log.
    std::unique_ptr<QMenu> menu(f.Text3->createStandardContextMenu());
    QStringList actions;
    for (QAction* a : menu->actions())
        if (a->isVisible() && !a->isSeparator()) actions.append(a->text().section('\t', 0, 0));
    EXPECT_EQ(actions, (QStringList{"&Copy", "Select All"}));
}

TEST_F(PanelTest, ChartHasOneRowPerRecordLabelledByHourAndMinute) {
    Form1& f = StartQuiet();
    std::vector<long> raw(46, 0);
    const std::vector<std::pair<int, long>> at = {{1, 100}, {3, 110}, {7, 130}};
    for (auto [minute, uptime] : at) {
        clock.Set(Reading(2024, 3, 5, 12, minute, 30));
        raw[5] = uptime;
        Receive(TelemetryFrame(raw));
    }
    EXPECT_EQ(f.ChartRowLabels(), (QStringList{"12:01", "12:03", "12:07"}));
    EXPECT_EQ(f.ChartValues(), (std::vector<double>{100, 110, 130}));
    // The line drawn for records that came close together catches up with them.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return f.MSChart1->DrawnPoints().constLast() == QPointF(3, 130); }, 5000));
    f.Option1_Click(26);
    EXPECT_EQ(f.ChartValues(), (std::vector<double>{0, 0, 0}));
}

TEST_F(PanelTest, ForeignRefusedAndEmptyFramesAreLoggedButNotDecoded) {
    Form1& f = StartQuiet();
    const std::string before = f.Label7->text().toStdString();
    Receive(ForeignFrame("beacon"));
    EXPECT_EQ(f.Label4->text(), "CQ     -> N0CALL");
    EXPECT_EQ(f.History().RxPacketCount(), 0);
    EXPECT_EQ(f.Label7->text().toStdString(), before);
    EXPECT_TRUE(f.Pipeline().UploadBody().empty());

    Bytes refused = TelemetryFrame(std::vector<long>(46, 0));
    refused[19] = 2; // position 20
    Receive(refused);
    EXPECT_EQ(f.History().RxPacketCount(), 0);
    EXPECT_FALSE(f.Pipeline().UploadBody().empty()); // composed all the same
    EXPECT_EQ(f.Label7->text(), "RX packets: 0 | HTTP POST OK: 0");

    Receive({});
    EXPECT_EQ(f.Pipeline().TelemetryFrame(), "");

    // All three are in the log, each after its timestamp record.
    QFile log(QString::fromStdString(f.Kiss().Path()));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    const auto records = ReadKiss({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size())});
    // The empty frame's record (C0 C0) holds nothing, so it reads back as no record.
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].kind, KissRecord::Kind::Timestamp);
    EXPECT_EQ(records[1].bytes, ForeignFrame("beacon"));
    EXPECT_EQ(records[3].bytes, refused);
    EXPECT_EQ(records[4].kind, KissRecord::Kind::Timestamp);
    EXPECT_TRUE(bytes.endsWith(QByteArray("\xC0\xC0", 2)));
}

TEST_F(PanelTest, UploadBodyIsComposedAndLoggedForEveryTelemetryFrame) {
    Form1& f = StartQuiet();
    Receive(TelemetryFrame(std::vector<long>(46, 0), 111));
    const std::string& body = f.Pipeline().UploadBody();
    EXPECT_EQ(
        body.rfind("noradID=99999&source=N0CALL&timestamp=2024-03-05T14:07:09.250Z&frame=A8 82 AC",
                   0),
        0u)
        << body;
    EXPECT_TRUE(body.ends_with("&locator=longLat&longitude=&latitude=&tncPort=0"));
    EXPECT_EQ(EntryText(0), body);
}
