#pragma once
// The program's command line, read before any window system is touched, so
// --help and --version answer on a machine without a display. Qt's own
// options (-platform, -display, -style...) are let through for QApplication.
#include <QString>

namespace tavrik {

struct CommandLine {
    enum class Action { Run, Help, Version, DefaultConfig, Usage };
    Action action = Action::Run;
    QString text;                // what Help, Version and Usage print
    QString station;             // --station DIR, empty when not given
    bool platformChosen = false; // -platform or QT_QPA_PLATFORM
    bool displayNamed = false;   // -display, DISPLAY or WAYLAND_DISPLAY
    bool headless = false;       // --headless: the station without a window
};

// argv as main() got it; exeFolder is the program's own folder (for the
// station folder that --help names).
CommandLine ReadCommandLine(int argc, char** argv, const QString& exeFolder);

// The folder of the running executable, found without a QCoreApplication.
QString ExecutableFolder(const char* argv0);

// The one line written when the program would need a display and has none.
inline constexpr const char* kNoDisplayLine =
    "no display found: to run this station without a screen, start it with --headless "
    "(or with -platform offscreen for the window drawn off screen; see man tavrik-decoder, "
    "A station without a screen)";

// While it lives, a platform plugin that cannot start ends the program with
// kNoDisplayLine and exit status 1 instead of an abort; Qt's own platform
// warnings are held back until the platform has started, then passed on.
class PlatformStartGuard {
  public:
    PlatformStartGuard();
    ~PlatformStartGuard();
    PlatformStartGuard(const PlatformStartGuard&) = delete;
    PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;
};

} // namespace tavrik
