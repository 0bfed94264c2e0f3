#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/CommandLine.h"
#include "app/Form1.h"
#include "files/StationConfig.h"
#include "files/StationFolder.h"
#include "support/qt/StopSignals.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A --station folder that cannot be used: the reason on stderr; with a window,
// the "Open Error" box as well, and the program ends when it is closed.
int StationFolderUnusable(const std::string& why, tavrik::StopSignals& stopSignals) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        std::fprintf(stderr, "tavrik-decoder: %s\n", why.c_str());
        return 1;
    }
    tavrik::BoxPresenter boxes(nullptr);
    boxes.Show(tavrik::MessagePresenter::Icon::Critical, QStringLiteral("Open Error"),
               QString::fromStdString(
                   tavrik::OpenErrorText({tavrik::kOpenErrorOther, "cannot be used: " + why})));
    QObject::connect(&stopSignals, &tavrik::StopSignals::stopRequested, qApp,
                     &QCoreApplication::quit);
    QApplication::exec();
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is touched. --default-config is the
    // one source of the default configuration: scripts/start.sh takes it from here.
    const QString exeFolder = tavrik::ExecutableFolder(argv[0]);
    const tavrik::CommandLine cmd = tavrik::ReadCommandLine(argc, argv, exeFolder);
    using Action = tavrik::CommandLine::Action;
    if (cmd.action != Action::Run) {
        const std::string text = cmd.action == Action::DefaultConfig
                                     ? tavrik::DefaultStationConfigText()
                                     : cmd.text.toLocal8Bit().toStdString();
        if (cmd.action == Action::Usage) {
            std::fputs(text.c_str(), stderr);
            return 2;
        }
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!cmd.platformChosen && !cmd.displayNamed) {
        std::fprintf(stderr, "%s\n", tavrik::kNoDisplayLine);
        return 1;
    }
    // Qt's own options (-platform offscreen, ...) are taken by QApplication.
    std::optional<tavrik::PlatformStartGuard> platformStart(std::in_place);
    QApplication app(argc, argv);
    platformStart.reset();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QStringLiteral("tavrik-decoder"));
    QApplication::setDesktopFileName(QStringLiteral("tavrik-decoder"));
    tavrik::StopSignals stopSignals;

    const tavrik::StationFolder station =
        cmd.station.isEmpty()
            ? tavrik::ChooseStationFolder(
                  QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
                  tavrik::PerUserStationFolder(Env("XDG_DATA_HOME"), Env("HOME")))
            : tavrik::NamedStationFolder(QFile::encodeName(cmd.station).toStdString());
    if (!station.error.empty()) return StationFolderUnusable(station.error, stopSignals);
    tavrik::AppEnvironment env;
    env.programFolder = QFile::decodeName(QByteArray::fromStdString(station.path));
    env.startupNotes = station.notes;
    tavrik::StationFolderLock folderLock;
    if (std::string warning = folderLock.Take(station.path); !warning.empty())
        env.startupNotes.push_back(std::move(warning));
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
