#include "files/KissLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/Kiss.h"
#include "files/StationConfig.h"

namespace tavrik {

std::string KissLogName(const std::string& folder, std::string_view mycall, const DateTime& utc) {
    return StationFileName(folder, mycall, utc, ".kss");
}

KissLog::~KissLog() {
    Close();
}

std::string KissLog::Open(const std::string& path) {
    Close();
    path_ = path;
    written_ = 0;
    opened_ = false;
    struct stat st {};
    existedBefore_ = ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) return path + ": " + std::strerror(errno);
    // Two runs started in the same minute share the name; the shared lock tells
    // the other one's RemoveIfEmpty that this log is still in use.
    ::flock(fd_, LOCK_SH);
    opened_ = true;
    return {};
}

std::string KissLog::AppendBytes(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return "the KISS log is not open";
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string why = std::strerror(errno);
            // A partial record would put the rest of the log out of step; cut it back.
            if (done > 0) {
                const off_t end = ::lseek(fd_, 0, SEEK_END);
                if (end >= static_cast<off_t>(done) &&
                    ::ftruncate(fd_, end - static_cast<off_t>(done)) == 0)
                    done = 0;
            }
            written_ += done;
            return path_ + ": " + why;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += done;
    return {};
}

std::string KissLog::AppendFrame(std::string_view timestamp, std::span<const std::uint8_t> frame) {
    std::int64_t offset = -1;
    return AppendFrame(timestamp, frame, offset);
}

std::string KissLog::AppendFrame(std::string_view timestamp, std::span<const std::uint8_t> frame,
                                 std::int64_t& offset) {
    std::vector<std::uint8_t> out = KissTimestampRecord(timestamp);
    const std::vector<std::uint8_t> rec = KissFrameRecord(frame);
    out.insert(out.end(), rec.begin(), rec.end());
    std::string failure = AppendBytes(out);
    // Appended at the end, wherever another run sharing the file left it.
    const off_t end = failure.empty() ? ::lseek(fd_, 0, SEEK_CUR) : -1;
    offset = end >= static_cast<off_t>(out.size()) ? end - static_cast<off_t>(out.size()) : -1;
    return failure;
}

void KissLog::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool KissLog::RemoveIfEmpty() {
    if (!opened_ || existedBefore_ || written_ > 0) return false;
    Close();
    // Not while another run still has the same log open: it may yet write to it.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool removed = false;
    struct stat st {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0)
        removed = ::unlink(path_.c_str()) == 0;
    ::close(fd);
    opened_ = false;
    return removed;
}

} // namespace tavrik
