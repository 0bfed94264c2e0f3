// The upload queue's files removed under a running program: noticed at the
// next append or read, made again from what the open files still hold.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "upload/SpoolFiles.h"
#include "upload/UploadSpool.h"

namespace tavrik {

namespace {

// Copies the records with ids in [from, end) of the file open as fd into a new
// segment in folder; how many, and the new segment's first id and size.
struct Copied {
    std::uint64_t records = 0;
    std::uint64_t firstId = 0;
    std::uint64_t bytes = 0;
    int error = 0;
};

Copied CopyRecords(int fd, const std::filesystem::path& folder, std::uint64_t from,
                   std::uint64_t end) {
    Copied c;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return c;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // The segment read at once (a few MB) and its whole records copied as they
    // lie: two reads a record would hold up the program for tens of ms. A
    // read that fails part way keeps the records before the failure.
    std::string image(size, '\0');
    std::size_t got = 0;
    ReadFully(fd, 0, image.data(), image.size(), &got);
    image.resize(got);
    std::string out;
    out.reserve(image.size());
    std::uint64_t id = 0, length = 0;
    for (std::uint64_t offset = 0; offset < image.size();) {
        if (SpoolRecordIn(image, offset, id, length) != RecordRead::Ok) {
            offset = NextSpoolRecordIn(image, offset);
            continue;
        }
        const std::uint64_t whole = kSpoolHeader + length;
        if (id >= from && id < end) {
            if (c.records++ == 0) c.firstId = id;
            out.append(image, offset, whole);
        }
        offset += whole;
    }
    if (c.records == 0) return c;
    const std::filesystem::path path = folder / SpoolSegmentName(c.firstId);
    int out_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0 || !WriteFully(out_fd, out.data(), out.size())) {
        c.error = errno;
        c.records = 0;
        if (out_fd >= 0) ::unlink(path.c_str());
    }
    CloseFd(out_fd);
    c.bytes = out.size();
    return c;
}

std::string Uploads(std::uint64_t n) {
    return std::to_string(n) + " waiting upload" + (n == 1 ? "" : "s");
}

} // namespace

bool UploadSpool::CheckFiles() {
    const bool folderGone = folderLost_ || Unlinked(dirFd_);
    if (!folderGone && !Unlinked(activeFd_) && !Unlinked(readFd_) && !Unlinked(ackFd_)) return true;
    return Rebuild(folderGone);
}

bool UploadSpool::WriteKeptFiles() {
    bool ok = true;
    const auto files = keptFiles_;
    for (const auto& [name, content] : files) {
        std::string why;
        if (!KeepFile(name, content, why)) {
            Note(why);
            ok = false;
        }
    }
    return ok;
}

bool UploadSpool::Rebuild(bool folderGone) {
    if (folderGone) {
        std::string why;
        if (!OpenFolder(why)) {
            if (!folderLost_)
                Note("the folder " + folder_.string() +
                     " was removed while running and cannot be made again: " + why);
            folderLost_ = true;
            return Fail(why);
        }
        folderLost_ = false;
        WriteKeptFiles();
    }
    if (folderGone || Unlinked(ackFd_)) {
        CloseFd(ackFd_);
        const std::filesystem::path path = folder_ / kAckName;
        ackFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        ackSize_ = 0;
        ackRecords_ = 0;
        WriteAck();
    }
    std::uint64_t written = 0;
    std::uint64_t lost = 0;
    int error = 0;
    std::deque<Segment> kept;
    std::string names;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const Segment& s = segments_[i];
        if (!folderGone && ::access(s.path.c_str(), F_OK) == 0) {
            kept.push_back(s);
            continue;
        }
        if (!folderGone) names += (names.empty() ? "" : ", ") + s.path.string();
        const std::uint64_t end = i + 1 < segments_.size() ? segments_[i + 1].firstId : nextId_;
        const std::uint64_t from = std::max(s.firstId, head_ + 1);
        const std::uint64_t expected = end > from ? end - from : 0;
        const int fd = i == 0 && readFd_ >= 0                        ? readFd_
                       : i + 1 == segments_.size() && activeFd_ >= 0 ? activeFd_
                                                                     : -1;
        Copied c;
        if (fd >= 0) c = CopyRecords(fd, folder_, from, end);
        if (c.error) error = c.error;
        written += c.records;
        lost += expected - std::min(expected, c.records);
        if (c.records > 0)
            kept.push_back({c.firstId, c.bytes, folder_ / SpoolSegmentName(c.firstId)});
    }
    segments_ = std::move(kept);
    CloseFd(readFd_);
    readOffset_ = 0;
    frontEnd_ = 0; // a front in flight is acknowledged by id; reading starts over
    OpenActive();
    diskBytes_ = 0;
    for (const Segment& s : segments_)
        diskBytes_ += s.size;
    lost = std::min(lost, count_);
    count_ -= lost;
    dirDirty_ = true;
    std::string line = (folderGone ? "the folder " + folder_.string() : names) +
                       " removed while running: " + (folderGone ? "made again, " : "") +
                       Uploads(written) + " written again";
    if (lost > 0) line += ", " + std::to_string(lost) + " lost";
    if (error) line += " (" + ErrnoText(error) + ")";
    Note(line);
    return true;
}

} // namespace tavrik
