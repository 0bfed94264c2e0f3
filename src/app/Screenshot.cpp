#include "app/Screenshot.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

#include "app/Look.h"
#include "support/qt/QtText.h"

namespace tavrik::screenshot {

QString FindConverter() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/nconvert");
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStandardPaths::findExecutable(QStringLiteral("nconvert"));
}

Outcome Take(QWidget* area, QImage& picture, const QString& imagePath, const ClockReading& now,
             const QString& converter) {
    Outcome outcome;
    picture = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
    outcome.name = imagePath + QStringLiteral("tavrik_") + Utf8Text(FormatDateStamp(now.local)) +
                   QStringLiteral(".bmp");
    outcome.saved = picture.save(outcome.name, "BMP");
    if (!outcome.saved) return outcome;
    // The window's background becomes the transparent colour.
    const QColor clear = look::kBackground;
    const QStringList args = {QStringLiteral("-out"),         QStringLiteral("png"),
                              QStringLiteral("-transpcolor"), QString::number(clear.red()),
                              QString::number(clear.green()), QString::number(clear.blue()),
                              QStringLiteral("-colors"),      QStringLiteral("256"),
                              QStringLiteral("-crop"),        QStringLiteral("1"),
                              QStringLiteral("37"),           QStringLiteral("707"),
                              QStringLiteral("640"),          QStringLiteral("-quiet"),
                              QStringLiteral("-D"),           outcome.name};
    outcome.converterStarted = !converter.isEmpty() && QProcess::startDetached(converter, args);
    return outcome;
}

QString ConvertedLine(const QString& bmpName) {
    QString logged = bmpName;
    logged.replace(QStringLiteral("bmp"), QStringLiteral("png"));
    return logged + QStringLiteral(" converted and saved");
}

} // namespace tavrik::screenshot
