#pragma once
// A main window under the offscreen platform, in a program folder of its own,
// with a fixed clock and message boxes that are recorded instead of shown.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "files/Kiss.h"
#include "intake/qt/AgwClient.h"

namespace tavrik::testing {

struct RecordedMessage {
    MessagePresenter::Icon icon;
    QString title;
    QString text;
};

class RecordingPresenter final : public MessagePresenter {
  public:
    void Show(Icon icon, const QString& title, const QString& text) override {
        messages.push_back({icon, title, text});
    }
    std::vector<RecordedMessage> messages;
};

inline ClockReading Reading(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    ClockReading r;
    r.local = {y, mo, d, h, mi, s, ms};
    r.zone = {};
    return r;
}

// Spins the event loop until the condition holds or the limit passes.
inline bool WaitFor(const std::function<bool()>& cond, int limitMs = 10000) {
    for (int waited = 0; waited < limitMs; waited += 10) {
        if (cond()) return true;
        QTest::qWait(10);
    }
    return cond();
}

class FormFixture : public ::testing::Test {
  protected:
    void WriteConfig(const std::string& content) {
        QFile f(dir.filePath(QStringLiteral("online_conf.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content.data(), static_cast<qint64>(content.size()));
    }
    Form1& Start(std::vector<std::string> startupNotes = {}) {
        AppEnvironment env;
        env.startupNotes = std::move(startupNotes);
        env.programFolder = dir.path();
        env.clock = &clock;
        env.messages = &presenter;
        form = std::make_unique<Form1>(env);
        return *form;
    }
    std::string Entry(std::size_t i) const { return form->Events().Entry(i); }
    // The entry's text after "timestamp: ".
    std::string EntryText(std::size_t i) const {
        const std::string e = Entry(i);
        return e.size() >= 25 && e[23] == ':' ? e.substr(25) : e;
    }
    bool EventLogged(const std::string& prefix) const {
        for (std::size_t i = 0; i < form->Events().Size(); ++i)
            if (EntryText(i).rfind(prefix, 0) == 0) return true;
        return false;
    }
    // The records of the run's KISS log as they stand in the file.
    std::vector<KissRecord> KissRecords() const {
        QFile log(QString::fromStdString(form->Kiss().Path()));
        if (!log.open(QIODevice::ReadOnly)) return {};
        const QByteArray b = log.readAll();
        return ReadKiss({reinterpret_cast<const std::uint8_t*>(b.constData()),
                         static_cast<std::size_t>(b.size())});
    }

    QTemporaryDir dir;
    FixedClock clock{Reading(2024, 3, 5, 14, 7, 9, 250)};
    RecordingPresenter presenter;
    std::unique_ptr<Form1> form;
};

// A window fed by agw-replay: the sample pass sent once, as fast as it is read,
// from a free port; the replay ends with the test.
class ReplayFormFixture : public FormFixture {
  protected:
    void TearDown() override {
        replay.kill();
        replay.waitForFinished(10000);
        FormFixture::TearDown();
    }
    quint16 StartReplay() {
        replay.start(qEnvironmentVariable("TAVRIK_BIN_DIR") + QStringLiteral("/agw-replay"),
                     {"--port", "0", "--interval-ms", "0",
                      qEnvironmentVariable("TAVRIK_SOURCE_DIR") + "/data/sample_pass.kss"});
        static const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:(\\d+)"));
        QString out;
        WaitFor([&] {
            out += QString::fromLocal8Bit(replay.readAllStandardOutput());
            return listening.match(out).hasMatch();
        });
        return static_cast<quint16>(listening.match(out).captured(1).toUInt());
    }
    QProcess replay;
};

} // namespace tavrik::testing
