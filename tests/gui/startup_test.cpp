// Start-up, the clock, the About window and the ways out of the program.
#include <QDir>
#include <QFileInfo>
#include <QTcpServer>

#include "app/EventLogView.h"
#include "app/Info.h"
#include "files/KissLog.h"
#include "form_fixture.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

// A port on which nothing listens: the connection attempt fails later, not during start-up.
int ClosedPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

class StartupTest : public FormFixture {};

} // namespace

TEST_F(StartupTest, ValidConfigurationRunsEveryStep) {
    const int port = ClosedPort();
    WriteConfig("# station\r\nSERVER=http://127.0.0.1:1/x\r\nPORT=127.0.0.1:" +
                std::to_string(port) + "\r\nMYCALL=N0CALL\r\nQTH_LAT=48,1234\r\nQTH_LONG=11.5\r\n");
    Form1& f = Start();

    EXPECT_TRUE(presenter.messages.empty());
    ASSERT_EQ(f.Events().Size(), 3u);
    EXPECT_EQ(EntryText(0), "Winsock RemotePort: " + std::to_string(port));
    EXPECT_EQ(EntryText(1), "Winsock RemoteHost: 127.0.0.1");
    EXPECT_EQ(EntryText(2), "127.0.0.1:" + std::to_string(port) +
                                " | http://127.0.0.1:1/x | N0CALL | 48.1234 | 11.5");
    EXPECT_EQ(Entry(2).substr(0, 25), "2024-03-05 14:07:09.250: ");

    EXPECT_EQ(f.ChartField(), 5);
    EXPECT_TRUE(f.Option1[5]->isChecked());
    EXPECT_EQ(f.Frame5Caption(), "Uptime [s]");
    EXPECT_TRUE(f.Check1->isChecked());
    EXPECT_FALSE(f.LampGreen());
    EXPECT_EQ(f.Label1->text(), "UTC");
    EXPECT_EQ(f.Option1[0]->text(), "OPS mode");
    EXPECT_EQ(f.Option1[29]->text(), "3v3 #3 curr");
    EXPECT_EQ(f.Label2[13]->text(), "V");
    EXPECT_EQ(f.Label2[0]->text(), "");
    for (QLineEdit* box : f.Text1)
        EXPECT_TRUE(box->text().isEmpty());

    // The KISS log of the run exists, named by call sign and UTC minute.
    EXPECT_TRUE(f.Kiss().IsOpen());
    EXPECT_EQ(QFileInfo(QString::fromStdString(f.Kiss().Path())).fileName(),
              "N0CALL_05032024_1407.kss");

    // The failed connection attempt arrives later, on top.
    ASSERT_TRUE(WaitFor([&] { return f.Events().Size() == 4; }));
    EXPECT_EQ(EntryText(0).rfind("Winsock Error \"10061\" occured: ", 0), 0u) << Entry(0);
}

TEST_F(StartupTest, StartupNotesComeBeforeTheSettingsLine) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\nMYCALL=N0CALL\r\n");
    Form1& f = Start({"station folder /x", "wrote a default"});
    ASSERT_EQ(f.Events().Size(), 5u);
    EXPECT_EQ(EntryText(4), "station folder /x");
    EXPECT_EQ(EntryText(3), "wrote a default");
    EXPECT_EQ(EntryText(2).rfind("127.0.0.1:", 0), 0u) << Entry(2);
}

TEST_F(StartupTest, MissingConfigurationShowsOneOpenErrorAndStopsThere) {
    Form1& f = Start();
    ASSERT_EQ(presenter.messages.size(), 1u);
    const RecordedMessage& m = presenter.messages[0];
    EXPECT_EQ(m.title, "Open Error");
    EXPECT_EQ(m.icon, MessagePresenter::Icon::Critical);
    EXPECT_TRUE(
        m.text.startsWith("The following error occured: \r\nError # 53\r\nonline_conf.ini "))
        << m.text.toStdString();
    EXPECT_EQ(f.Events().Size(), 0u); // no settings line, no connection attempt
    EXPECT_EQ(f.Option1[5]->text(), "Option1");
    EXPECT_EQ(f.Label2[5]->text(), "");
    EXPECT_EQ(f.Frame5Caption(), "");
    EXPECT_FALSE(f.Kiss().IsOpen());
    // The clock still runs.
    f.Timer1_Timer();
    EXPECT_EQ(f.Label1->text(), "14:07:09 UTC");
}

TEST_F(StartupTest, ConfigurationFailuresKeepTheWindowAsTheFinishedStepsLeftIt) {
    struct Case {
        std::string content;
        int number;
        std::size_t events; // entries written before the failure
    };
    const std::vector<Case> cases = {
        {"", 62, 0},
        {"SERVER=x\r\n #comment\r\nPORT=127.0.0.1:1\r\n", 5, 0},
        {"MYCALL=N0CALL\r\n", 13, 1},      // the file was read: the settings line is there
        {"PORT=localhost\r\n", 13, 1},     // no ":"
        {"PORT=localhost:80a\r\n", 13, 1}, // no whole number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        presenter.messages.clear();
        WriteConfig(c.content);
        Form1& f = Start();
        ASSERT_EQ(presenter.messages.size(), 1u);
        EXPECT_TRUE(presenter.messages[0].text.contains(
            QStringLiteral("\r\nError # %1\r\nonline_conf.ini ").arg(c.number)))
            << presenter.messages[0].text.toStdString();
        EXPECT_EQ(f.Events().Size(), c.events);
        EXPECT_EQ(f.Option1[0]->text(), "Option1");
    }
}

TEST_F(StartupTest, KissLogThatCannotBeCreatedFailsAfterTheConnectionAttempt) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\nMYCALL=N0CALL\r\n");
    // A folder where the log file should go makes creating it fail.
    ASSERT_TRUE(QDir(dir.path()).mkdir("N0CALL_05032024_1407.kss"));
    Form1& f = Start();
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_TRUE(presenter.messages[0].text.contains("Error # 75"))
        << presenter.messages[0].text.toStdString();
    EXPECT_EQ(f.Events().Size(), 3u); // settings and both Winsock lines: the attempt was started
    EXPECT_EQ(f.Option1[5]->text(), "Option1");
    EXPECT_EQ(f.Frame5Caption(), "");
}

TEST_F(StartupTest, UnsafeCallSignStaysInTheProgramFolder) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\nMYCALL=../N0CALL/P\r\n");
    Form1& f = Start();
    EXPECT_TRUE(presenter.messages.empty());
    const QFileInfo log(QString::fromStdString(f.Kiss().Path()));
    EXPECT_EQ(log.absolutePath(), QDir(dir.path()).absolutePath());
    EXPECT_EQ(log.fileName(), "---N0CALL-P_05032024_1407.kss");
}

TEST_F(StartupTest, ScreenshotSettingTurnsTheButtonOnAndOff) {
    const std::string port = "PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\n";
    for (auto [line, enabled] : std::vector<std::pair<std::string, bool>>{
             {"", true}, {"SCREENSHOT=YES\r\n", true}, {"SCREENSHOT=yes\r\n", false}}) {
        WriteConfig(port + line);
        EXPECT_EQ(Start().Command2->isEnabled(), enabled) << line;
    }
}

TEST_F(StartupTest, ClockLabelAndLamp) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\n");
    Form1& f = Start();
    clock.Set(Reading(2024, 1, 1, 9, 5, 3));
    f.Timer1_Timer();
    EXPECT_EQ(f.Label1->text(), "09:05:03 UTC");
    // Right after start-up the socket is connecting: not closed, so green.
    EXPECT_TRUE(f.LampGreen());
    ASSERT_TRUE(WaitFor([&] { return f.Winsock1().State() == AgwClient::Closed; }));
    f.Timer1_Timer();
    EXPECT_FALSE(f.LampGreen());
}

TEST_F(StartupTest, AboutWindowIsOneWindowWithTheVersionLine) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\n");
    Form1& f = Start();
    f.MnuAbout_Click();
    QPointer<Info> first = f.InfoWindow;
    f.MnuAbout_Click();
    ASSERT_TRUE(first);
    EXPECT_EQ(f.InfoWindow, first);
    EXPECT_EQ(first->windowTitle(), "About");
    EXPECT_EQ(first->Label2->text(), "Version 0.3    (24 January 2016)");
    EXPECT_EQ(first->size(), QSize(495, 330));
    EXPECT_EQ(first->parent(), nullptr); // modeless, without owner
    // Closing the main window closes it too.
    f.close();
    EXPECT_TRUE(WaitFor([&] { return first.isNull() || !first->isVisible(); }));
}

TEST_F(StartupTest, ExitRemovesOnlyThisRunsEmptyLog) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\nMYCALL=N0CALL\r\n");
    QFile other(dir.filePath("keep-me.txt"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close(); // an empty file of the user's
    Form1& f = Start();
    const QString log = QString::fromStdString(f.Kiss().Path());
    ASSERT_TRUE(QFileInfo::exists(log));
    f.show();
    f.MnuExit_Click(); // closes the log twice and cleans up twice, harmlessly
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(QFileInfo::exists(log));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("keep-me.txt")));
    EXPECT_FALSE(f.Kiss().IsOpen());
}

TEST_F(StartupTest, WindowHasTheClientAreaAndMenus) {
    WriteConfig("PORT=127.0.0.1:" + std::to_string(ClosedPort()) + "\r\n");
    Form1& f = Start();
    EXPECT_EQ(f.ClientArea()->size(), QSize(703, 828));
    EXPECT_EQ(f.windowTitle(), "Tavrik Online Telemetry Decoder (Veskar)");
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(f.MnuImport->text(), "Import KISS file");
    EXPECT_EQ(f.MnuExit->text(), "&Exit");
    EXPECT_EQ(f.MnuDebug->text(), "write debug file");
    EXPECT_EQ(f.MnuAbout->text(), "&About");
    EXPECT_EQ(f.Picture2().size(), QSize(703, 828));
}

TEST(StartupPaths, ProgramFolderWithNonAsciiNameIsUsedUnderItsOwnBytes) {
    QTemporaryDir base;
    const QString folder = base.filePath(QString::fromUtf8("st\xC3\xA4tion \xE2\x82\xAC"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile conf(folder + "/online_conf.ini");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("PORT=127.0.0.1:" + QByteArray::number(ClosedPort()) + "\r\nMYCALL=N0CALL\r\n");
    conf.close();
    FixedClock clock(Reading(2024, 3, 5, 14, 7));
    RecordingPresenter presenter;
    AppEnvironment env;
    env.programFolder = folder;
    env.clock = &clock;
    env.messages = &presenter;
    Form1 f(env);
    EXPECT_TRUE(presenter.messages.empty());
    EXPECT_TRUE(f.Kiss().IsOpen());
    EXPECT_TRUE(QFileInfo::exists(folder + "/N0CALL_05032024_1407.kss"));
}
