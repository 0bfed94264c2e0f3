#pragma once
// The station folder: where online_conf.ini, the KISS logs, the debug files
// and the screenshots live. It is the program's own folder, unless the program
// is installed or its folder is not writable: then each user gets one of their own.
// A folder named on the command line overrides both.
#include <string>
#include <vector>

namespace tavrik {

// The working default online_conf.ini (CR LF line ends): the modem program on
// 127.0.0.1:8000, no upload servers, the unattended-station keys on.
std::string DefaultStationConfigText();

struct StationFolder {
    std::string path;
    bool perUser = false;
    // Event-log lines saying which folder was taken and what was done in it.
    std::vector<std::string> notes;
    // Why a folder named on the command line cannot be used; empty when it can.
    std::string error;
};

// $XDG_DATA_HOME/tavrik-decoder; ~/.local/share/tavrik-decoder when XDG_DATA_HOME
// is unset, empty or relative. Empty home: the account's home directory.
std::string PerUserStationFolder(const std::string& xdgDataHome, const std::string& home);

// True when the program in exeFolder has been installed: its shared data
// folder sits beside its bin folder.
bool IsInstalledProgramFolder(const std::string& exeFolder);

// exeFolder itself when it is writable and not an installed program's folder
// (nothing is created or written then). Otherwise perUserFolder: created when
// missing, with the default online_conf.ini written when it has none.
StationFolder ChooseStationFolder(const std::string& exeFolder, const std::string& perUserFolder);

// The folder ChooseStationFolder would take, without creating or writing anything.
std::string StationFolderPath(const std::string& exeFolder, const std::string& perUserFolder);

// The folder the user named (made absolute): created when missing, the default
// online_conf.ini written when it has none. error says why when it is a file,
// cannot be created or is not writable; nothing is written then.
StationFolder NamedStationFolder(const std::string& folder);
// The folder NamedStationFolder takes, without creating anything.
std::string NamedStationFolderPath(const std::string& folder);

// Held for the whole run: a second program started on the same folder is
// told of the first (with the upload queue it would be refused later; without
// it both would write KISS logs and upload the same frames unseen).
class StationFolderLock {
  public:
    StationFolderLock() = default;
    StationFolderLock(const StationFolderLock&) = delete;
    StationFolderLock& operator=(const StationFolderLock&) = delete;
    ~StationFolderLock();
    // Takes the lock in folder; a warning line when another program holds
    // it, or when it cannot be taken; empty when all is well.
    std::string Take(const std::string& folder);

  private:
    int fd_ = -1;
};

} // namespace tavrik
