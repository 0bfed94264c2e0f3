#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "files/StationFolder.h"
#include "files/Version.h"

namespace tavrik {

namespace {

// Qt's own command-line options (QGuiApplication, QApplication, xcb): accepted
// here and left for QApplication to take. Hidden from --help, except as a hint.
constexpr const char* kQtOptionsWithValue =
    "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle "
    "geometry icon title session style stylesheet display name visual qmljsdebugger";
constexpr const char* kQtFlags = "reverse widgetcount nograb dograb testability";

std::string Env(const char* name) {
    const QByteArray v = qgetenv(name);
    return v.toStdString();
}

QString Local(const std::string& s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}

QString StationLines(const QString& named, const QString& exeFolder) {
    QString folder;
    QString why;
    if (!named.isEmpty()) {
        folder = Local(NamedStationFolderPath(QFile::encodeName(named).toStdString()));
        why = QStringLiteral("named with --station");
    } else {
        const std::string exe = QFile::encodeName(exeFolder).toStdString();
        const std::string perUser = PerUserStationFolder(Env("XDG_DATA_HOME"), Env("HOME"));
        folder = Local(StationFolderPath(exe, perUser));
        why = folder == exeFolder ? QStringLiteral("the program's own folder")
                                  : QStringLiteral("one per user: the program is installed or "
                                                   "its folder is not writable");
    }
    return QStringLiteral("Station folder in use: %1\n  (%2)\n"
                          "Settings are read from: %1/online_conf.ini\n")
        .arg(folder, why);
}

} // namespace

QString ExecutableFolder(const char* argv0) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) return Local(exe.parent_path().string());
    const auto fromArgv = std::filesystem::absolute(argv0 ? argv0 : "", ec);
    return ec ? QStringLiteral(".") : Local(fromArgv.parent_path().string());
}

CommandLine ReadCommandLine(int argc, char** argv, const QString& exeFolder) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Qt's options are written with one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Tavrik Online Telemetry Decoder: logs, decodes, shows and uploads the telemetry\n"
        "frames a modem program (Direwolf, a soundmodem) hears from the Tavrik satellite."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption station(
        QStringLiteral("station"),
        QStringLiteral("Keep settings, KISS logs, upload queue, debug files and screenshots in "
                       "DIR (created when missing). One folder per station: two stations run "
                       "side by side from two folders."),
        QStringLiteral("DIR"));
    const QCommandLineOption defaultConfig(
        QStringLiteral("default-config"),
        QStringLiteral("Print the working default online_conf.ini and exit."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run the station without a window and without a display: it logs, "
                       "decodes, uploads, archives and serves its page as with one (the "
                       "service units use it)."));
    parser.addOption(station);
    parser.addOption(defaultConfig);
    parser.addOption(headless);
    const auto addHidden = [&parser](const char* names, const QString& valueName) {
        for (const QString& name : QString::fromUtf8(names).split(u' ')) {
            QCommandLineOption o(name, QString(), valueName);
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(o);
        }
    };
    addHidden(kQtOptionsWithValue, QStringLiteral("value"));
    addHidden(kQtFlags, QString());

    CommandLine c;
    const bool parsed = parser.parse(args);
    c.station = parser.value(station);
    c.headless = parser.isSet(headless);
    c.platformChosen =
        parser.isSet(QStringLiteral("platform")) || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    c.displayNamed = parser.isSet(QStringLiteral("display")) ||
                     !qEnvironmentVariableIsEmpty("DISPLAY") ||
                     !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");

    QString help = parser.helpText();
    // Without a QCoreApplication the parser cannot know the program's name.
    help.replace(QStringLiteral("<executable_name>"), QStringLiteral("tavrik-decoder"));
    help += QStringLiteral(
        "\nQt's own options work too, for example -display HOST:N or -platform offscreen\n"
        "(the window drawn off screen; --headless runs without one).\n\n");
    help += StationLines(c.station, exeFolder);
    help += QStringLiteral("\nMore in man tavrik-decoder.\n");

    QString error;
    if (!parsed)
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]);
    else if (parser.isSet(station) && c.station.isEmpty())
        error = QStringLiteral("--station needs a folder");

    if (!error.isEmpty()) {
        c.action = CommandLine::Action::Usage;
        c.text = QStringLiteral("tavrik-decoder: %1\n").arg(error) + help;
    } else if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        c.action = CommandLine::Action::Help;
        c.text = help;
    } else if (parser.isSet(QStringLiteral("version"))) {
        c.action = CommandLine::Action::Version;
        c.text = QStringLiteral("tavrik-decoder ") +
                 QString::fromUtf8(kVersionText.data(), kVersionText.size()) + u'\n';
    } else if (parser.isSet(defaultConfig)) {
        c.action = CommandLine::Action::DefaultConfig;
    }
    return c;
}

// ------------------------------------------------------------------ platform start

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
std::vector<HeldMessage> heldMessages; // only while a PlatformStartGuard lives

void Pass(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (previousHandler)
        previousHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n",
                     qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

void WhilePlatformStarts(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // Qt's own advice here (reinstall) is wrong, and its abort leaves a core dump.
    if (type == QtFatalMsg && text.contains(QLatin1String("platform plugin"))) {
        std::fprintf(stderr, "%s\n", kNoDisplayLine);
        std::fflush(stderr);
        ::_exit(1);
    }
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
        heldMessages.push_back({type, context.category, text});
        return;
    }
    Pass(type, context, text);
}

} // namespace

PlatformStartGuard::PlatformStartGuard() {
    previousHandler = qInstallMessageHandler(WhilePlatformStarts);
}

PlatformStartGuard::~PlatformStartGuard() {
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& m : std::exchange(heldMessages, {})) {
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
        Pass(m.type, context, m.text);
    }
}

} // namespace tavrik
