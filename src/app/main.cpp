#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/Form1.h"
#include "app/StopSignals.h"
#include "files/StationFolder.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace

int main(int argc, char** argv) {
    // The one source of the default configuration: scripts/start.sh takes it
    // from here. Answered before any window system is touched.
    if (argc == 2 && std::string_view(argv[1]) == "--default-config") {
        std::fputs(tavrik::DefaultStationConfigText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // Qt's own options (-platform offscreen, ...) are taken by QApplication.
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QStringLiteral("tavrik-decoder"));
    QApplication::setDesktopFileName(QStringLiteral("tavrik-decoder"));
    tavrik::StopSignals stopSignals;

    const tavrik::StationFolder station = tavrik::ChooseStationFolder(
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
        tavrik::PerUserStationFolder(Env("XDG_DATA_HOME"), Env("HOME")));
    tavrik::AppEnvironment env;
    env.programFolder = QFile::decodeName(QByteArray::fromStdString(station.path));
    env.startupNotes = station.notes;
    tavrik::HeadlessPresenter headless;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) env.messages = &headless;
    tavrik::Form1 window(env);

    // A stop signal ends the run the way File, Exit does; quit() as well, in
    // case a message box still stands when the main window has closed.
    QObject::connect(&stopSignals, &tavrik::StopSignals::stopRequested, &window, [&window](int) {
        window.MnuExit_Click();
        QCoreApplication::quit();
    });
    window.show();
    return QApplication::exec();
}
