#include "files/StationFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrik {

namespace {

constexpr const char* kFolderName = "tavrik-decoder";

// Writes text to a new file; an existing file is never touched, so two starts
// at once cannot overwrite a configuration the user has already edited.
std::string CreateFileWith(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            ::unlink(path.c_str()); // a cut-off configuration would only mislead
            return why;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return std::strerror(errno);
    return {};
}

} // namespace

std::string DefaultStationConfigText() {
    static constexpr const char* kLines[] = {
        "# Station settings, written as a working default: edit them for your station.",
        "# See man tavrik-decoder or README.md.",
        "PORT=127.0.0.1:8000",
        "MYCALL=N0CALL",
        "QTH_LAT=",
        "QTH_LONG=",
        "SERVER=",
        "SERVER_BACKUP=",
        "SCREENSHOT=YES",
        "AGW_RECONNECT=YES",
        "UPLOAD_RETRY=YES",
        "ARCHIVE=YES",
    };
    std::string text;
    for (const char* line : kLines)
        text += std::string(line) + "\r\n";
    return text;
}

std::string PerUserStationFolder(const std::string& xdgDataHome, const std::string& home) {
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') return xdgDataHome + "/" + kFolderName;
    std::string base = home;
    if (base.empty())
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
    return base + "/.local/share/" + kFolderName;
}

bool IsInstalledProgramFolder(const std::string& exeFolder) {
    std::error_code ec;
    return std::filesystem::is_directory(
        std::filesystem::path(exeFolder) / ".." / "share" / kFolderName, ec);
}

StationFolder ChooseStationFolder(const std::string& exeFolder, const std::string& perUserFolder) {
    const bool writable = ::access(exeFolder.c_str(), W_OK) == 0;
    if (writable && !IsInstalledProgramFolder(exeFolder)) return {exeFolder, false, {}};

    StationFolder s{perUserFolder, true, {}};
    s.notes.push_back("station folder " + perUserFolder + " (the program folder " + exeFolder +
                      (writable ? " belongs to an installed program)" : " is not writable)"));
    std::error_code ec;
    std::filesystem::create_directories(perUserFolder, ec);
    if (ec) {
        s.notes.push_back("station folder " + perUserFolder +
                          " cannot be created: " + ec.message());
        return s;
    }
    const std::string conf = perUserFolder + "/online_conf.ini";
    struct stat st {};
    if (::stat(conf.c_str(), &st) == 0 || errno != ENOENT) return s;
    if (const std::string why = CreateFileWith(conf, DefaultStationConfigText()); why.empty())
        s.notes.push_back("no online_conf.ini in the station folder: wrote a working default "
                          "(PORT=127.0.0.1:8000, no upload servers); edit it for your station");
    else
        s.notes.push_back("the default online_conf.ini cannot be written to " + conf + ": " + why);
    return s;
}

} // namespace tavrik
