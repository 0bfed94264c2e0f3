// The upload queue's acknowledgement journal: fixed-size records of the id
// acknowledged so far, read at open, appended per upload and now and then
// replaced by its last id.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "upload/SpoolFiles.h"
#include "upload/UploadSpool.h"

namespace tavrik {

bool UploadSpool::LoadAcks(std::string& why) {
    const std::filesystem::path path = folder_ / kAckName;
    ackFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (ackFd_ < 0) {
        why = "cannot open " + path.string() + ": " + ErrnoText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(ackFd_, &st) != 0) st.st_size = 0;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t bad = 0;
    std::uint64_t firstBad = 0;
    char piece[kAckRecord * 1024];
    for (std::uint64_t at = 0; at + kAckRecord <= size;) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(sizeof piece, (size - at) / kAckRecord * kAckRecord));
        if (!ReadFully(ackFd_, at, piece, want)) break;
        for (std::size_t i = 0; i < want; i += kAckRecord, ++ackRecords_) {
            std::uint64_t id = 0;
            if (DecodeAckRecord(piece + i, id)) {
                head_ = std::max(head_, id);
            } else if (bad++ == 0) {
                firstBad = at + i;
            }
        }
        at += want;
    }
    // Records have a fixed size: a damaged one is skipped without losing step.
    if (bad > 0)
        Note(std::to_string(bad) + " damaged acknowledgement" + (bad == 1 ? "" : "s") + " in " +
             path.string() + " skipped (the first at byte " + std::to_string(firstBad) + ")");
    ackSize_ = size / kAckRecord * kAckRecord;
    // A torn last acknowledgement is dropped so the next one starts on a boundary.
    if (ackSize_ != size && ::ftruncate(ackFd_, static_cast<off_t>(ackSize_)) != 0) {
        why = "cannot repair " + path.string() + ": " + ErrnoText(errno);
        return false;
    }
    nextId_ = head_ + 1;
    return true;
}

bool UploadSpool::WriteAck() {
    char rec[kAckRecord];
    EncodeAckRecord(head_, rec);
    if (ackFd_ < 0 || !WriteFully(ackFd_, rec, sizeof rec)) {
        const int error = ackFd_ < 0 ? EBADF : errno;
        // No torn record may be left for the next one to follow.
        if (ackFd_ >= 0) (void)::ftruncate(ackFd_, static_cast<off_t>(ackSize_));
        ackBehind_ = true;
        return Fail("cannot write to " + (folder_ / kAckName).string() + ": " + ErrnoText(error));
    }
    ackSize_ += kAckRecord;
    ackBehind_ = false;
    dirty_ = true;
    if (++ackRecords_ >= limits_.ackRecordsPerJournal) CompactAcks();
    return true;
}

// The journal only ever needs its last id: replace it by that id, written
// twice (one damaged copy still leaves the other) beside it and renamed over
// it, so a kill leaves one journal or the other.
bool UploadSpool::CompactAcks() {
    const std::filesystem::path path = folder_ / kAckName;
    const std::filesystem::path temp = folder_ / "ack.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail("cannot create " + temp.string() + ": " + ErrnoText(errno));
    char rec[kAckRecord];
    EncodeAckRecord(head_, rec);
    const bool written =
        WriteFully(fd, rec, sizeof rec) && WriteFully(fd, rec, sizeof rec) && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return Fail("cannot replace " + path.string() + ": " + ErrnoText(written ? errno : error));
    }
    ::fsync(dirFd_);
    CloseFd(ackFd_);
    ackFd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (ackFd_ < 0) return Fail("cannot open " + path.string() + ": " + ErrnoText(errno));
    ackRecords_ = 2;
    ackSize_ = 2 * kAckRecord;
    return true;
}

} // namespace tavrik
