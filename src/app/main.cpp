#include <QApplication>
#include <QStyleFactory>

#include "app/Form1.h"

int main(int argc, char** argv) {
    // Qt's own options (-platform offscreen, ...) are taken by QApplication;
    // the program has none of its own.
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QStringLiteral("tavrik-decoder"));
    tavrik::Form1 window;
    window.show();
    return QApplication::exec();
}
