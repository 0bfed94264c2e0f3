#include "files/StationFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/file.h>
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
        "# Every key: man tavrik-decoder, or docs/station-guide.md in the source.",
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
        "EVENT_LOG_LINES=20000",
        "WEB=127.0.0.1:8080",
        "# WEB on another address needs WEB_TOKEN=<long random text> (or WEB_OPEN=YES);",
        "# more names the page may be asked for by: WEB_HOSTS=station.example.org",
        "# InfluxDB 1.x: INFLUX=http://127.0.0.1:8086/write?db=tavrik",
        "INFLUX=",
        "# The sky (see docs/sky-station.md): a TLE file in this folder or an http(s) URL",
        "# TLE=https://celestrak.org/NORAD/elements/gp.php?CATNR=NNNNN&FORMAT=tle",
        "# TLE_REFRESH=24",
        "# SATELLITE=NNNNN",
        "# QTH_ALT=0",
        "# HORIZON=0",
        "# MISSED_PASS_EL=20",
        "# PASS_COMMAND=/usr/local/bin/rotator-start",
        "# The radio and antenna following the satellite (needs a TLE; see docs/radio.md):",
        "# RIG=127.0.0.1:4532",
        "# DOWNLINK_HZ=435000000",
        "# RIG_OFFSET_HZ=0",
        "# ROTATOR=127.0.0.1:4533",
        "# ROTATOR_STEP=2",
        "# ROTATOR_PARK=0 0",
        "# ROTATOR_MAX_EL=90",
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

namespace {

// Writes the default online_conf.ini into a folder that has none, and says so.
void WriteDefaultConfigWhenMissing(StationFolder& s) {
    const std::string conf = s.path + "/online_conf.ini";
    struct stat st {};
    if (::stat(conf.c_str(), &st) == 0 || errno != ENOENT) return;
    if (const std::string why = CreateFileWith(conf, DefaultStationConfigText()); why.empty())
        s.notes.push_back("no online_conf.ini in the station folder: wrote a working default "
                          "(PORT=127.0.0.1:8000, no upload servers); edit it for your station");
    else
        s.notes.push_back("the default online_conf.ini cannot be written to " + conf + ": " + why);
}

} // namespace

StationFolder ChooseStationFolder(const std::string& exeFolder, const std::string& perUserFolder) {
    const bool writable = ::access(exeFolder.c_str(), W_OK) == 0;
    if (writable && !IsInstalledProgramFolder(exeFolder)) return {exeFolder, false, {}, {}};

    StationFolder s{perUserFolder, true, {}, {}};
    s.notes.push_back("station folder " + perUserFolder + " (the program folder " + exeFolder +
                      (writable ? " belongs to an installed program)" : " is not writable)"));
    std::error_code ec;
    std::filesystem::create_directories(perUserFolder, ec);
    if (ec) {
        s.notes.push_back("station folder " + perUserFolder +
                          " cannot be created: " + ec.message());
        return s;
    }
    WriteDefaultConfigWhenMissing(s);
    return s;
}

std::string StationFolderPath(const std::string& exeFolder, const std::string& perUserFolder) {
    const bool writable = ::access(exeFolder.c_str(), W_OK) == 0;
    return writable && !IsInstalledProgramFolder(exeFolder) ? exeFolder : perUserFolder;
}

std::string NamedStationFolderPath(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(folder, ec);
    if (ec) path = folder;
    path = path.lexically_normal();
    if (path.has_relative_path() && !path.has_filename()) path = path.parent_path(); // "dir/"
    return path.string();
}

StationFolder NamedStationFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    StationFolder s{NamedStationFolderPath(folder), false, {}, {}};
    const fs::path path = s.path;
    std::error_code ec;

    const bool existed = fs::exists(path, ec);
    if (!existed && fs::is_symlink(fs::symlink_status(path, ec))) {
        s.error = "station folder " + s.path + " is a symbolic link to " +
                  fs::read_symlink(path, ec).string() + ", which does not exist";
        return s;
    }
    if (existed && !fs::is_directory(path, ec)) {
        s.error = "station folder " + s.path + " is a file, not a folder";
        return s;
    }
    if (!existed && !fs::create_directories(path, ec) && ec) {
        s.error = "station folder " + s.path + " cannot be created: " + ec.message();
        return s;
    }
    // Checked here, so the reason comes first and not as a failed KISS log later.
    if (::access(s.path.c_str(), W_OK | X_OK) != 0) {
        s.error = "station folder " + s.path + " is not writable: " + std::strerror(errno);
        return s;
    }
    // Under its one real name: every file in it (the KISS logs the archive
    // lists) is then named the same way whichever link it was reached by.
    const std::string named = s.path;
    if (fs::path real = fs::canonical(path, ec); !ec) s.path = real.string();
    s.notes.push_back("station folder " + s.path +
                      (named == s.path ? " (--station" : " (--station " + named) +
                      (existed ? ")" : "): created"));
    WriteDefaultConfigWhenMissing(s);
    return s;
}

StationFolderLock::~StationFolderLock() {
    if (fd_ >= 0) ::close(fd_); // the lock goes with it
}

std::string StationFolderLock::Take(const std::string& folder) {
    const std::string path = folder + "/.tavrik-decoder.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return "station folder lock " + path + " cannot be made: " + std::strerror(errno);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char pid[24] = {};
        const ssize_t n = ::pread(fd_, pid, sizeof pid - 1, 0);
        std::string who = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : "";
        while (!who.empty() && (who.back() == '\n' || who.back() == ' '))
            who.pop_back();
        ::close(fd_);
        fd_ = -1;
        if (err != EWOULDBLOCK)
            return "station folder lock " + path + " cannot be taken: " + std::strerror(err);
        return "warning: another tavrik-decoder" + (who.empty() ? "" : " (process " + who + ")") +
               " runs on this station folder: both write KISS logs and upload the same frames; "
               "stop one of them";
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const auto n = ::pwrite(fd_, pid.data(), pid.size(), 0);
    }
    return {};
}

} // namespace tavrik
