// Options, "export telemetry (CSV)" in the real window: the sample pass
// imported, exported through the save dialog and read back next to what
// tavrik-decode prints for the same file; a file that cannot be written.
#include <QProcess>

#include "app/TelemetryExportAction.h"
#include "form_fixture.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

class ExportTest : public FormFixture {
  protected:
    Form1& StartWithSample() {
        WriteConfig("PORT=127.0.0.1:1\r\nMYCALL=N0CALL/P\r\n");
        Form1& f = Start();
        f.ImportFiles({Sample()});
        EXPECT_TRUE(WaitFor([&] { return !f.ImportRunning(); }, 60000));
        return f;
    }
    static QString Sample() {
        return qEnvironmentVariable("TAVRIK_SOURCE_DIR") + QStringLiteral("/data/sample_pass.kss");
    }
    TelemetryExportAction& Exporter() { return *form->findChild<TelemetryExportAction*>(); }
};

} // namespace

TEST_F(ExportTest, DialogProposesTheNameAndTheFileHasTheDecodersColumnsAndValues) {
    Form1& f = StartWithSample();
    ASSERT_EQ(f.History().StoredCount(), 100);
    f.MnuExport->trigger();
    QFileDialog* dialog = Exporter().Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->selectedFiles().value(0), dir.filePath("N0CALL-P_05032024_1407.csv"));
    QMetaObject::invokeMethod(dialog, "accept"); // the user confirms the proposed name
    EXPECT_TRUE(Exporter().Running());           // written from the event loop, in slices
    ASSERT_TRUE(WaitFor([&] { return !Exporter().Running(); }));
    EXPECT_EQ(
        EntryText(0),
        "telemetry export " +
            QDir::toNativeSeparators(dir.filePath("N0CALL-P_05032024_1407.csv")).toStdString() +
            ": 100 records written");

    QFile file(dir.filePath("N0CALL-P_05032024_1407.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromLatin1(file.readAll()).split("\r\n");
    QProcess decode;
    decode.start(qEnvironmentVariable("TAVRIK_BIN_DIR") + QStringLiteral("/tavrik-decode"),
                 {Sample()});
    ASSERT_TRUE(decode.waitForFinished(30000));
    const QStringList cli = QString::fromLatin1(decode.readAllStandardOutput()).split("\r\n");
    ASSERT_EQ(rows.size(), cli.size());
    EXPECT_EQ(rows[0], "Record," + cli[0]);
    for (int i = 1; i + 1 < rows.size(); ++i) // record, timestamp of decoding, no file name
        EXPECT_EQ(rows[i], QStringLiteral("%1,2024-03-05 14:07:09.250,,").arg(i) +
                               cli[i].mid(cli[i].indexOf(",TAVRIK,") + 1));
}

TEST_F(ExportTest, AFileThatCannotBeWrittenGivesOneLogLine) {
    StartWithSample();
    const std::size_t entries = form->Events().Size();
    Exporter().ExportTo(dir.filePath("no-such-folder/pass.csv"));
    ASSERT_TRUE(WaitFor([&] { return form->Events().Size() > entries; }));
    QTest::qWait(50);
    EXPECT_EQ(form->Events().Size(), entries + 1);
    EXPECT_EQ(EntryText(0).rfind("telemetry export ", 0), 0u);
    EXPECT_NE(EntryText(0).find("pass.csv could not be written: "), std::string::npos);
    EXPECT_FALSE(QFile::exists(dir.filePath("no-such-folder")));
}
