// The KISS import, the debug file and the screenshot, with real files.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTcpServer>

#include "app/EventLogView.h"
#include "files/DebugFile.h"
#include "files/Kiss.h"
#include "files/KissLog.h"
#include "form_fixture.h"
#include "telemetry/FrameText.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

class FilesTest : public FormFixture {
  protected:
    Form1& StartQuiet(const std::string& extra = "") {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) + "\r\nMYCALL=N0CALL\r\n" +
                    extra);
        s.close();
        Form1& f = Start();
        f.Check1->setChecked(false);
        return f;
    }
    QString WriteFile(const QString& name, const Bytes& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }
    void Import(const QStringList& files) {
        form->ImportFiles(files);
        ASSERT_TRUE(WaitFor([&] { return !form->ImportRunning(); }, 60000));
    }
    static std::string TextOf(const Bytes& b) { return TelemetryFrameText(b) + "\r\n"; }
    bool LogHas(const std::string& start) {
        for (std::size_t i = 0; i < form->Events().Size(); ++i)
            if (EntryText(i).rfind(start, 0) == 0) return true;
        return false;
    }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST_F(FilesTest, ImportReadsBackALogTheProgramWrote) {
    // A log written the way the program writes it, with escapes in its frames.
    std::vector<long> raw(46, 0);
    raw[5] = 0xC0DB; // uptime bytes DB C0 need escaping
    const std::vector<Bytes> frames = {TelemetryFrame(raw), ForeignFrame("x\xDB\xC0\xDC\xDD"),
                                       TelemetryFrame(raw)};
    const QString path = dir.filePath("recorded.kss");
    {
        KissLog log;
        ASSERT_EQ(log.Open(path.toStdString()), "");
        for (const Bytes& b : frames)
            ASSERT_EQ(log.AppendFrame("2024-03-05 14:07:09.250", b), "");
    }
    Form1& f = StartQuiet();
    f.Label4->setText("untouched");
    const auto logSize = QFileInfo(QString::fromStdString(f.Kiss().Path())).size();
    Import({path});

    EXPECT_EQ(f.Text2(), TextOf(frames[0]) + TextOf(frames[1]) + TextOf(frames[2]));
    EXPECT_EQ(f.History().RxPacketCount(), 2);
    EXPECT_EQ(f.History().Record(2).values[5], 0xC0DB);
    EXPECT_EQ(f.Label7->text(), "KISS packets: 2 ");
    EXPECT_EQ(f.ChartField(), 5);
    EXPECT_EQ(f.ChartValues().size(), 2u);
    EXPECT_EQ(f.Label5->text(), "last packet: 2024-03-05 14:07:09.250");
    EXPECT_EQ(f.Label4->text(), "untouched");
    EXPECT_TRUE(f.Pipeline().UploadBody().empty()); // nothing composed, nothing sent
    EXPECT_EQ(QFileInfo(QString::fromStdString(f.Kiss().Path())).size(), logSize);
    EXPECT_TRUE(LogHas("processing " + path.toStdString()));
    EXPECT_TRUE(f.MnuImport->isEnabled());
}

TEST_F(FilesTest, ImportReadsEveryFrameOfAStandardStream) {
    const Bytes a = ForeignFrame("a"), b = ForeignFrame("b"), c = ForeignFrame("c");
    const Bytes fend = {0xC0};
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Bytes> frames;
    };
    const std::vector<Case> cases = {
        {"shared FENDs", Cat({fend, a, fend, b, fend, c, fend}), {a, b, c}},
        {"doubled FEND", Cat({fend, fend, a, fend, fend, b, fend}), {a, b}},
        {"bytes before the first FEND", Cat({Bytes{1, 2, 3}, fend, a, fend}), {a}},
        {"cut off at the end", Cat({fend, a, fend, fend, b}), {a}},
        {"escapes",
         Cat({fend, Bytes{0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD}, fend}),
         {Bytes{0x00, 0xC0, 0xDB, 0xDC, 0xDD}}},
    };
    Form1& f = StartQuiet();
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Import({WriteFile(QString::fromLatin1(c.name) + ".kss", c.file)});
        for (const Bytes& fr : c.frames)
            expected += TextOf(fr);
        EXPECT_EQ(f.Text2(), expected);
    }
    EXPECT_TRUE(LogHas("import of " + dir.filePath("cut off at the end.kss").toStdString() +
                       ": the file ends inside a frame"));
}

TEST_F(FilesTest, LongFramesAndUnreadableFilesAreSkippedWithALine) {
    Form1& f = StartQuiet();
    Bytes longFrame = ForeignFrame(std::string(600, 'x'));
    const Bytes good = TelemetryFrame(std::vector<long>(46, 3));
    const QString withLong =
        WriteFile("long.kss",
                  Cat({KissFrameRecord(good), KissFrameRecord(longFrame), KissFrameRecord(good)}));
    const QString missing = dir.filePath("does-not-exist.kss");
    Import({missing, withLong});
    EXPECT_TRUE(LogHas("import of " + missing.toStdString() + " skipped: "));
    EXPECT_TRUE(LogHas("import of " + withLong.toStdString() + ": frame of " +
                       std::to_string(longFrame.size()) + " bytes at byte "));
    EXPECT_EQ(f.Text2(), TextOf(good) + TextOf(good));
    EXPECT_EQ(f.History().RxPacketCount(), 2);
    EXPECT_EQ(f.List2(), (QStringList{missing, withLong}));
}

TEST_F(FilesTest, LiveFramesArePprocessedWholeBetweenImportedFrames) {
    Form1& f = StartQuiet();
    Bytes file;
    const Bytes imported = TelemetryFrame(std::vector<long>(46, 1));
    for (int i = 0; i < 3000; ++i) {
        const Bytes r = KissFrameRecord(imported);
        file.insert(file.end(), r.begin(), r.end());
    }
    const QString path = WriteFile("big.kss", file);
    std::vector<long> liveRaw(46, 2);
    const Bytes live = TelemetryFrame(liveRaw);
    int liveSeen = 0;
    f.ImportFiles({path});
    ASSERT_TRUE(f.ImportRunning());
    EXPECT_FALSE(f.MnuImport->isEnabled());
    // Live frames arrive while the import runs.
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (f.ImportRunning() && liveSeen < 5) {
            f.Pipeline().ProcessRawFrame(live);
            ++liveSeen;
        }
    });
    feeder.start(1);
    ASSERT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 60000));
    ASSERT_GT(liveSeen, 0);
    EXPECT_EQ(f.History().RxPacketCount(), 3000 + liveSeen);
    int liveRecords = 0;
    for (const TelemetryRecord& r : f.History().Records())
        liveRecords += r.values[1] == 2 ? 1 : 0;
    EXPECT_EQ(liveRecords, liveSeen);
    // Live frames went to the KISS log and were composed for upload; imported ones were not.
    const auto logRecords = ReadKiss([&] {
        QFile l(QString::fromStdString(f.Kiss().Path()));
        l.open(QIODevice::ReadOnly);
        const QByteArray b = l.readAll();
        return Bytes(b.begin(), b.end());
    }());
    EXPECT_EQ(logRecords.size(), static_cast<std::size_t>(2 * liveSeen));
    EXPECT_EQ(f.Text2().find(TelemetryFrameText(live)), std::string::npos);
}

TEST_F(FilesTest, ClosingTheWindowStopsAnImport) {
    Form1& f = StartQuiet();
    Bytes file;
    for (int i = 0; i < 20000; ++i) {
        const Bytes r = KissFrameRecord(ForeignFrame("n"));
        file.insert(file.end(), r.begin(), r.end());
    }
    f.ImportFiles({WriteFile("big.kss", file)});
    QTest::qWait(5);
    f.close();
    EXPECT_FALSE(f.ImportRunning());
    const std::size_t lines = f.Text2().size();
    QTest::qWait(50);
    EXPECT_EQ(f.Text2().size(), lines);
}

TEST_F(FilesTest, DebugFileHoldsVersionLogImportsAndConfigurationByteForByte) {
    Form1& f = StartQuiet("QTH_LAT=1,5\r\n# comment kept\r\n");
    Import({WriteFile("one.kss", KissFrameRecord(ForeignFrame("z")))});
    clock.Set(Reading(2024, 3, 5, 23, 59, 1));
    f.MnuDebug_Click();
    QFile out(dir.filePath("N0CALL_05032024_2359.txt"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    QFile conf(f.ConfigPath());
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    const std::string config = conf.readAll().toStdString();
    const std::string sep = std::string(52, '-') + "\r\n";
    const std::string expected =
        "Debugfile Tavrik Online Telemetry Decoder (Veskar)\r\nVersion: 0.3\r\n" + sep +
        f.Events().Text() + "\r\n" + sep + f.Text2() + "\r\n" + sep + config + "\r\n" + sep +
        "thanks 73, Brell \r\nVeskar\r\n";
    EXPECT_EQ(out.readAll().toStdString(), expected);
}

TEST_F(FilesTest, DebugFileFailuresAreLoggedAndTheProgramGoesOn) {
    Form1& f = StartQuiet();
    QFile::remove(f.ConfigPath());
    ASSERT_TRUE(
        QDir(dir.path()).mkdir("N0CALL_05032024_1407.txt")); // the name is taken by a folder
    f.MnuDebug_Click();
    EXPECT_TRUE(LogHas("debug file " + dir.filePath("N0CALL_05032024_1407.txt").toStdString() +
                       " could not be written"));
    EXPECT_TRUE(LogHas("debug file: the configuration "));
}

TEST_F(FilesTest, ScreenshotSavesTheClientAreaAndStartsTheConverter) {
    const QString shots = dir.filePath("bmpshots");
    QDir().mkpath(shots);
    Form1& f = StartQuiet("IMAGE_PATH=" + shots.toStdString() + "/\r\n");
    const QString bin = qEnvironmentVariable("TAVRIK_BIN_DIR");
    ASSERT_FALSE(bin.isEmpty());
    // The converter that ships with the program does the conversion.
    Form1* fp = &f;
    (void)fp;
    f.show();
    f.Command2_Click();
    const QString bmp = shots + "/tavrik_05032024.bmp";
    EXPECT_EQ(f.Label1->text(), bmp + " saved");
    ASSERT_TRUE(presenter.messages.empty()) << presenter.messages[0].text.toStdString();
    // One line at the very end of the log, "bmp" replaced everywhere in the name.
    QString logged = bmp;
    logged.replace("bmp", "png");
    EXPECT_EQ(f.Events().Entry(f.Events().Size() - 1),
              (logged + " converted and saved").toStdString());
    EXPECT_TRUE(f.Text3->toPlainText().endsWith(logged + " converted and saved\n")); // as shown
    EXPECT_TRUE(logged.contains("pngshots"));
    ASSERT_TRUE(WaitFor(
        [&] {
            return QFileInfo::exists(shots + "/tavrik_05032024.png") && !QFileInfo::exists(bmp);
        },
        20000));
    const QImage png(shots + "/tavrik_05032024.png");
    EXPECT_EQ(png.size(), QSize(703 - 1, 640)); // the crop, clamped to the 703-pixel-wide picture
    EXPECT_EQ(f.Picture2().size(), QSize(703, 828));
}

TEST_F(FilesTest, MissingConverterShowsOneMessage) {
    AppEnvironment env;
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) + "\r\n");
    env.programFolder = dir.path();
    env.clock = &clock;
    env.messages = &presenter;
    env.findConverter = [] { return QString(); };
    form = std::make_unique<Form1>(env);
    const std::size_t before = form->Events().Size();
    form->Command2_Click();
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_EQ(presenter.messages[0].title, "Error");
    EXPECT_EQ(presenter.messages[0].text, "nconvert.exe not found");
    EXPECT_EQ(presenter.messages[0].icon, MessagePresenter::Icon::Information);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("tavrik_05032024.bmp"))); // the bitmap stays
    EXPECT_EQ(form->Events().Size(), before);
}

TEST_F(FilesTest, ScreenshotThatCannotBeSavedIsLogged) {
    Form1& f = StartQuiet("IMAGE_PATH=/nonexistent-folder/\r\n");
    f.Command2_Click();
    EXPECT_TRUE(LogHas("screenshot /nonexistent-folder/tavrik_05032024.bmp could not be saved"));
    EXPECT_TRUE(presenter.messages.empty());
}
