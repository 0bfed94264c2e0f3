// The event log over a long run: bounded with EVENT_LOG_LINES, and lines that
// one cause repeats without end written once a minute.
#include <QFile>
#include <QTcpServer>

#include "station/EventLog.h"
#include "app/EventLogView.h"
#include "form_fixture.h"

using namespace tavrik;
using namespace tavrik::testing;
using namespace std::chrono_literals;

TEST(EventLog, RepeatingCausesPassOnceAMinuteWithTheCountHeldBack) {
    EventLog log;
    std::chrono::milliseconds now{5000};
    log.SetNow([&] { return now; });
    for (int i = 0; i < 1000; ++i) {
        log.Prepend("t", "KISS frame of " + std::to_string(600 + i) + " bytes skipped");
        log.Prepend("t", "KISS log write failed: No space left on device");
        now += 50ms;
    }
    log.Prepend("t", "AGW winsock connection made"); // any other line passes
    EXPECT_EQ(log.Size(), 3u);
    now += 10s; // a minute after the first
    log.Prepend("t", "KISS frame of 700 bytes skipped");
    ASSERT_EQ(log.Size(), 4u);
    EXPECT_EQ(log.Entry(0),
              "t: KISS frame of 700 bytes skipped (999 more like it in the last minute)");
}

TEST_F(FormFixture, EventLogLinesKeepsTheNewestEntriesInLogBoxAndDebugFile) {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) +
                "\r\nMYCALL=N0CALL\r\nEVENT_LOG_LINES=5\r\n");
    Form1& f = Start();
    for (int i = 0; i < 20; ++i)
        f.Log("line " + std::to_string(i));
    ASSERT_EQ(f.Events().Size(), 5u);
    EXPECT_EQ(EntryText(0), "line 19");
    EXPECT_EQ(EntryText(4), "line 15");
    EXPECT_EQ(f.Text3->toPlainText().count('\n'), 5);
    EXPECT_TRUE(f.Text3->toPlainText().startsWith(QString::fromStdString(Entry(0)) + "\n"));
    EXPECT_TRUE(f.Text3->toPlainText().endsWith(QString::fromStdString(Entry(4)) + "\n"));
    f.MnuDebug_Click();
    QFile debug(dir.filePath("N0CALL_05032024_1407.txt"));
    ASSERT_TRUE(debug.open(QIODevice::ReadOnly));
    const QByteArray text = debug.readAll();
    EXPECT_TRUE(text.contains(QByteArray::fromStdString(Entry(4)) + "\r\n(" +
                              QByteArray::number(f.Events().Dropped()) +
                              " older entries dropped: EVENT_LOG_LINES=5)\r\n"));
    EXPECT_FALSE(text.contains("line 14"));
}
