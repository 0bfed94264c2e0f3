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
#include "run/Station.h"
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

tavrik::StationFolder ChosenStationFolder(const tavrik::CommandLine& cmd) {
    return cmd.station.isEmpty()
               ? tavrik::ChooseStationFolder(
                     QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
                     tavrik::PerUserStationFolder(Env("XDG_DATA_HOME"), Env("HOME")))
               : tavrik::NamedStationFolder(QFile::encodeName(cmd.station).toStdString());
}

// --headless: the station alone on a QCoreApplication. No platform plugin is
// loaded and no widget made, so there is no screenshot (nothing to picture)
// and no debug file (a menu entry of the window); the event log goes to
// standard error as always, where the journal keeps it.
int RunHeadless(int argc, char** argv, const tavrik::CommandLine& cmd) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrik-decoder"));
    tavrik::StopSignals stopSignals;
    const tavrik::StationFolder folder = ChosenStationFolder(cmd);
    if (!folder.error.empty()) {
        std::fprintf(stderr, "tavrik-decoder: %s\n", folder.error.c_str());
        return 1;
    }
    tavrik::StationEnvironment env;
    env.programFolder = QFile::decodeName(QByteArray::fromStdString(folder.path));
    env.startupNotes = folder.notes;
    tavrik::StationFolderLock folderLock;
    if (std::string warning = folderLock.Take(folder.path); !warning.empty())
        env.startupNotes.push_back(std::move(warning));
    tavrik::Station station(env);
    if (const std::optional<tavrik::ConfigError> failure = station.Start()) {
        // As the window's "Open Error" box would say it; a service manager sees the failure.
        tavrik::HeadlessPresenter().Show(tavrik::MessagePresenter::Icon::Critical,
                                         QStringLiteral("Open Error"),
                                         QString::fromUtf8(tavrik::OpenErrorText(*failure)));
        station.Stop();
        return 1;
    }
    QObject::connect(&stopSignals, &tavrik::StopSignals::stopRequested, &station, [&station](int) {
        station.Stop();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
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
    if (cmd.headless) return RunHeadless(argc, argv, cmd);
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

    const tavrik::StationFolder folder = ChosenStationFolder(cmd);
    if (!folder.error.empty()) return StationFolderUnusable(folder.error, stopSignals);
    tavrik::StationEnvironment stationEnv;
    stationEnv.programFolder = QFile::decodeName(QByteArray::fromStdString(folder.path));
    stationEnv.startupNotes = folder.notes;
    tavrik::StationFolderLock folderLock;
    if (std::string warning = folderLock.Take(folder.path); !warning.empty())
        stationEnv.startupNotes.push_back(std::move(warning));
    tavrik::Station station(stationEnv);
    tavrik::AppEnvironment env;
    tavrik::HeadlessPresenter headless;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) env.messages = &headless;
    tavrik::Form1 window(station, env);

    // A stop signal ends the run the way File, Exit does; quit() as well, in
    // case a message box still stands when the main window has closed.
    QObject::connect(&stopSignals, &tavrik::StopSignals::stopRequested, &window, [&window](int) {
        window.MnuExit_Click();
        QCoreApplication::quit();
    });
    window.show();
    return QApplication::exec();
}
