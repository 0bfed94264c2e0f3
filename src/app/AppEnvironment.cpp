#include "app/AppEnvironment.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "files/SafeText.h"

namespace tavrik {

namespace {

// The message as one line on standard error: without a screen the journal is where it is read.
QString WriteLine(const QString& title, const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString line = title + QStringLiteral(": ") + QString(shown).replace(u'\n', u' ');
    std::fprintf(stderr, "%s\n", EscapeControls(line.toLocal8Bit().toStdString()).c_str());
    std::fflush(stderr);
    return shown;
}

} // namespace

void HeadlessPresenter::Show(Icon icon, const QString& title, const QString& text) {
    WriteLine(title, text);
    // Queued: the start-up that failed returns first, then the loop ends with status 1.
    if (icon == Icon::Critical && title == QLatin1String("Open Error"))
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
}

void BoxPresenter::Show(Icon icon, const QString& title, const QString& text) {
    const QString shown = WriteLine(title, text);
    auto* box =
        new QMessageBox(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Information,
                        title, shown, QMessageBox::Ok, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The window may not be on screen yet during start-up: show the box
    // once the event loop runs, above the window.
    QTimer::singleShot(0, box, [box] { box->open(); });
}

} // namespace tavrik
