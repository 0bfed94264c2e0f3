#pragma once
// The real main window, kept quiet for measuring: its own program folder, a
// PORT that refuses the connection, and uploads switched off.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "bench_data.h"

namespace tavrik::bench {

// No box is shown; a start-up failure is counted, so a run can say it went wrong.
class CountingPresenter final : public MessagePresenter {
  public:
    void Show(Icon, const QString&, const QString&) override { ++shown; }
    int shown = 0;
};

// A local port nobody listens on.
inline int ClosedPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

// Lets queued work (paints, socket events) run; benchmarks may, handlers may not.
inline void Drain(int rounds = 3) {
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents();
}

class QuietForm {
  public:
    // extra: more settings lines ("KEY=value\r\n"); prepare: called with the
    // program folder before the window starts in it.
    explicit QuietForm(const std::string& extra = {},
                       const std::function<void(const QString&)>& prepare = {}) {
        const int port = ClosedPort();
        const std::string conf = "PORT=127.0.0.1:" + std::to_string(port) +
                                 "\r\nSERVER=http://127.0.0.1:" + std::to_string(port) +
                                 "/x\r\nMYCALL=BENCH\r\nQTH_LAT=48,1\r\nQTH_LONG=11,5\r\n" + extra;
        QFile f(dir.filePath(QStringLiteral("online_conf.ini")));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(conf.data(), static_cast<qint64>(conf.size()));
        f.close();
        if (prepare) prepare(dir.path());
        AppEnvironment env;
        env.programFolder = dir.path();
        env.messages = &presenter;
        form = std::make_unique<Form1>(env);
        form->Check1->setChecked(false);
        form->show();
        // The refused connection and the first paint happen before measuring.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 200)
            QCoreApplication::processEvents();
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Stores `records` telemetry records the way a user would: an import.
    void FillRecords(std::size_t records) {
        if (records == 0) return;
        const QString path = Path("fill.kss");
        WriteBytes(QFile::encodeName(path).toStdString(), KissLogBytes(records, 0));
        form->ImportFiles({path});
        while (form->ImportRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        Drain();
    }
    // Lines in the event log, as a long unattended run leaves them.
    void FillLog(std::size_t entries) {
        const std::string text =
            "Winsock Error \"10061\" occured: Connection refused (bench filler)";
        for (std::size_t i = 0; i < entries; ++i)
            form->Log(text);
        Drain();
    }

    QTemporaryDir dir;
    CountingPresenter presenter;
    std::unique_ptr<Form1> form;
};

} // namespace tavrik::bench
