#include "app/AppEnvironment.h"

#include <QMessageBox>
#include <QTimer>
#include <cstdio>

namespace tavrik {

void BoxPresenter::Show(Icon icon, const QString& title, const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // Also on standard error, one line: without a screen the journal is where it is read.
    const QString line = title + QStringLiteral(": ") + QString(shown).replace(u'\n', u' ');
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    auto* box =
        new QMessageBox(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Information,
                        title, shown, QMessageBox::Ok, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The window may not be on screen yet during start-up: show the box
    // once the event loop runs, above the window.
    QTimer::singleShot(0, box, [box] { box->open(); });
}

} // namespace tavrik
