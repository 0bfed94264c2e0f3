#include "upload/UploadSpool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "upload/SpoolFiles.h"

namespace tavrik {

namespace {

constexpr const char* kSegmentSuffix = ".seg";

std::string SegmentName(std::uint64_t firstId) {
    return SpoolSegmentName(firstId);
}

} // namespace

UploadSpool::UploadSpool(std::filesystem::path folder, SpoolLimits limits,
                         std::filesystem::path damaged)
    : folder_(std::move(folder)), limits_(limits),
      damaged_(damaged.empty() ? folder_ / "damaged" : std::move(damaged)) {}

UploadSpool::~UploadSpool() {
    Sync();
    CloseFd(readFd_);
    CloseFd(activeFd_);
    CloseFd(ackFd_);
    CloseFd(dirFd_);
    CloseFd(lockFd_);
}

std::unique_ptr<UploadSpool> UploadSpool::Open(const std::filesystem::path& folder,
                                               SpoolLimits limits, std::string& why,
                                               std::filesystem::path damagedFolder) {
    std::unique_ptr<UploadSpool> spool(new UploadSpool(folder, limits, std::move(damagedFolder)));
    if (!spool->Load(why)) return nullptr;
    return spool;
}

bool UploadSpool::OpenFolder(std::string& why) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        why = "cannot create the folder " + folder_.string() + ": " + ec.message();
        return false;
    }
    CloseFd(dirFd_);
    dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        why = "cannot open the folder " + folder_.string() + ": " + ErrnoText(errno);
        return false;
    }
    // Two copies of the program in one folder would hand out the same ids.
    const std::filesystem::path lock = folder_ / "lock";
    CloseFd(lockFd_);
    lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? "in use by another running copy of the program"
                                   : "cannot lock " + lock.string() + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

bool UploadSpool::Load(std::string& why) {
    if (!OpenFolder(why) || !LoadAcks(why)) return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 16 + std::strlen(kSegmentSuffix) || !name.ends_with(kSegmentSuffix))
            continue;
        Segment s;
        s.firstId = std::strtoull(name.substr(0, 16).c_str(), nullptr, 16);
        s.size = entry.file_size(ec);
        if (ec) s.size = 0;
        s.path = entry.path();
        segments_.push_back(std::move(s));
    }
    std::sort(segments_.begin(), segments_.end(),
              [](const Segment& a, const Segment& b) { return a.firstId < b.firstId; });
    // Whole segments behind the acknowledged id were left by a kill between
    // the acknowledgement and the removal.
    while (segments_.size() >= 2 && segments_[1].firstId <= head_ + 1) {
        std::filesystem::remove(segments_.front().path, ec);
        segments_.pop_front();
    }
    if (!ScanLastSegment(why)) return false;
    // Ids below the oldest segment are gone from disk, whatever the journal says.
    if (!segments_.empty()) head_ = std::max(head_, segments_.front().firstId - 1);
    nextId_ = std::max(nextId_, head_ + 1);
    for (const Segment& s : segments_)
        diskBytes_ += s.size;
    count_ = nextId_ - 1 - head_;
    if (count_ == 0) {
        // Nothing left to send: start from a clean folder.
        for (const Segment& s : segments_)
            std::filesystem::remove(s.path, ec);
        segments_.clear();
        diskBytes_ = 0;
        return true;
    }
    if (!OpenActive()) {
        why = lastError_;
        return false;
    }
    return true;
}

bool UploadSpool::ScanLastSegment(std::string& why) {
    while (!segments_.empty()) {
        Segment& last = segments_.back();
        const int fd = ::open(last.path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            MoveAside(segments_.size() - 1, ErrnoText(errno));
            continue;
        }
        std::uint64_t offset = 0;
        std::uint64_t end = 0; // of the last whole record
        std::uint64_t lastId = last.firstId - 1;
        std::uint64_t id = 0;
        std::string payload;
        bool any = false;
        bool torn = false; // the bytes after the last record begin like one
        int readError = 0;
        for (;;) {
            const RecordRead r = ReadSpoolRecord(fd, offset, last.size, id, payload);
            if (r == RecordRead::Ok) {
                lastId = std::max(lastId, id);
                offset += kSpoolHeader + payload.size();
                end = offset;
                any = true;
                continue;
            }
            if (r == RecordRead::IoError) readError = errno;
            if (r != RecordRead::Bad) break;
            std::uint64_t found = 0;
            if (!FindNextSpoolRecord(fd, offset, last.size, found, id, payload)) {
                readError = errno;
                break;
            }
            if (found == last.size) {
                char magic[4] = {};
                torn = ReadFully(fd, end, magic, 4) && std::memcmp(magic, "TUQ1", 4) == 0;
                break;
            }
            offset = found;
        }
        if (readError != 0 || (!any && !torn && last.size > 0)) {
            ::close(fd);
            MoveAside(segments_.size() - 1,
                      readError ? ErrnoText(readError) : "no whole record in it");
            continue;
        }
        // What follows the last whole record was torn by a kill: cut it off so
        // that the next append starts on a record boundary.
        if (end != last.size) {
            if (::ftruncate(fd, static_cast<off_t>(end)) != 0) {
                why = "cannot repair " + last.path.string() + ": " + ErrnoText(errno);
                ::close(fd);
                return false;
            }
            Note(std::to_string(last.size - end) + " bytes after the last whole record of " +
                 last.path.string() + " cut off (a record torn by a kill, or damaged)");
            last.size = end;
        }
        ::close(fd);
        nextId_ = std::max(nextId_, lastId + 1);
        return true;
    }
    return true;
}

bool UploadSpool::OpenActive() {
    CloseFd(activeFd_);
    if (segments_.empty()) return true;
    const Segment& seg = segments_.back();
    activeFd_ = ::open(seg.path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (activeFd_ < 0) return Fail("cannot open " + seg.path.string() + ": " + ErrnoText(errno));
    return true;
}

bool UploadSpool::KeepFile(const std::string& name, const std::string& content, std::string& why) {
    if (std::find(keptFiles_.begin(), keptFiles_.end(), std::pair{name, content}) ==
        keptFiles_.end())
        keptFiles_.emplace_back(name, content);
    const std::filesystem::path path = folder_ / name;
    if (::access(path.c_str(), F_OK) == 0) return true;
    // Written beside and renamed, so a kill never leaves it half written.
    const std::filesystem::path temp = folder_ / (name + ".tmp");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && WriteFully(fd, content.data(), content.size()) &&
                    ::fdatasync(fd) == 0 && ::close(std::exchange(fd, -1)) == 0 &&
                    ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        why = "cannot write " + path.string() + ": " + ErrnoText(errno);
        CloseFd(fd);
        ::unlink(temp.c_str());
        return false;
    }
    dirDirty_ = true;
    return true;
}

UploadSpool::AddResult UploadSpool::Append(std::string_view body) {
    if (!CheckFiles()) return AddResult::Failed;
    const std::uint64_t recordBytes = kSpoolHeader + body.size();
    if (diskBytes_ + recordBytes > limits_.maxBytes) return AddResult::Full;
    if (segments_.empty() || activeFd_ < 0 ||
        (segments_.back().size > 0 && segments_.back().size + recordBytes > limits_.segmentBytes)) {
        if (!StartSegment()) return AddResult::Failed;
    }
    const std::string record = EncodeSpoolRecord(nextId_, body);
    Segment& seg = segments_.back();
    if (!WriteFully(activeFd_, record.data(), record.size())) {
        Fail("cannot write to " + seg.path.string() + ": " + ErrnoText(errno));
        // Leave no partial record behind for the next append to follow.
        if (::ftruncate(activeFd_, static_cast<off_t>(seg.size)) != 0) CloseFd(activeFd_);
        return AddResult::Failed;
    }
    seg.size += recordBytes;
    diskBytes_ += recordBytes;
    ++nextId_;
    ++count_;
    dirty_ = true;
    return AddResult::Added;
}

bool UploadSpool::StartSegment() {
    // Sync() only reaches the segment taking appends.
    if (activeFd_ >= 0 && dirty_) ::fdatasync(activeFd_);
    CloseFd(activeFd_);
    Segment seg;
    seg.firstId = nextId_;
    seg.path = folder_ / SegmentName(nextId_);
    activeFd_ = ::open(seg.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (activeFd_ < 0) return Fail("cannot create " + seg.path.string() + ": " + ErrnoText(errno));
    // A drained segment of the same name is replaced, not kept beside it.
    if (!segments_.empty() && segments_.back().path == seg.path) {
        diskBytes_ -= segments_.back().size;
        segments_.pop_back();
        CloseFd(readFd_);
    }
    segments_.push_back(std::move(seg));
    dirDirty_ = true;
    return true;
}

const std::string* UploadSpool::Front() {
    CheckFiles(); // when the folder cannot be made again, the open files still read
    if (frontLoaded_) return &front_;
    while (!segments_.empty()) {
        const Segment& seg = segments_.front();
        const bool last = segments_.size() == 1;
        if (readFd_ < 0) {
            readFd_ = ::open(seg.path.c_str(), O_RDONLY | O_CLOEXEC);
            readOffset_ = 0;
            expectedId_ = seg.firstId;
            if (readFd_ < 0) {
                const int error = errno;
                if (error == ENOENT)
                    LoseFront("was removed while running");
                else
                    MoveAside(0, ErrnoText(error));
                continue;
            }
        }
        std::uint64_t id = 0;
        const RecordRead r = ReadSpoolRecord(readFd_, readOffset_, seg.size, id, front_);
        if (r == RecordRead::Ok && id >= expectedId_) {
            expectedId_ = id + 1;
            if (id <= head_) {
                readOffset_ += kSpoolHeader + front_.size();
                continue;
            }
            frontId_ = id;
            frontEnd_ = readOffset_ + kSpoolHeader + front_.size();
            frontLoaded_ = true;
            return &front_;
        }
        if (r == RecordRead::End) {
            // Ids that should have been here and were not: count them out.
            if (const std::uint64_t missing = IdsLeftInFront(); missing > 0)
                LoseFront("ends before " + std::to_string(missing) + " of its uploads");
            else if (!last)
                DropFrontSegment();
            if (last) break;
            continue;
        }
        if (r == RecordRead::IoError) {
            MoveAside(0, ErrnoText(errno));
            continue;
        }
        SkipDamage(seg, last);
    }
    return nullptr;
}

std::size_t UploadSpool::PeekFront(std::size_t count, std::size_t maxBytes, std::string& out) {
    const std::string* front = Front();
    if (!front || count == 0) return 0;
    out += *front;
    std::size_t taken = 1;
    std::size_t seg = 0;
    std::uint64_t offset = frontEnd_;
    int fd = readFd_; // Front() left the front segment open there
    int opened = -1;
    std::string payload;
    while (taken < count && taken < count_) {
        std::uint64_t id = 0;
        const RecordRead r = ReadSpoolRecord(fd, offset, segments_[seg].size, id, payload);
        if (r != RecordRead::Ok) {
            // Damage is left for Front() to meet; the end of a segment leads to the next.
            if (r != RecordRead::End || ++seg >= segments_.size()) break;
            CloseFd(opened);
            fd = opened = ::open(segments_[seg].path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            offset = 0;
            continue;
        }
        offset += kSpoolHeader + payload.size();
        if (id <= head_) continue;
        if (out.size() + payload.size() > maxBytes) break;
        out += payload;
        ++taken;
    }
    CloseFd(opened);
    return taken;
}

// Damage at the read position: the next whole record is looked for and the
// ids between are counted as lost, with one line saying where.
void UploadSpool::SkipDamage(const Segment& seg, bool last) {
    std::uint64_t found = 0;
    std::uint64_t id = 0;
    std::string payload;
    if (!FindNextSpoolRecord(readFd_, readOffset_, seg.size, found, id, payload)) {
        MoveAside(0, ErrnoText(errno));
        return;
    }
    // Ids only grow: a record that claims an older one is damage as well.
    while (found < seg.size && id < expectedId_) {
        if (!FindNextSpoolRecord(readFd_, found, seg.size, found, id, payload)) {
            MoveAside(0, ErrnoText(errno));
            return;
        }
    }
    if (readOffset_ == 0 && found == seg.size) {
        MoveAside(0, "no whole record in it");
        return;
    }
    const std::uint64_t end = found < seg.size ? id : (last ? nextId_ : segments_[1].firstId);
    const std::uint64_t from = std::max(expectedId_, head_ + 1);
    const std::uint64_t lost = std::min(count_, end > from ? end - from : 0);
    count_ -= lost;
    Note(std::to_string(lost) + " waiting upload" + (lost == 1 ? "" : "s") +
         " unreadable, skipped: bytes " + std::to_string(readOffset_) + " to " +
         std::to_string(found) + " of " + seg.path.string() + " are damaged");
    readOffset_ = found;
    if (found < seg.size)
        expectedId_ = id;
    else if (!last)
        DropFrontSegment();
    else
        expectedId_ = nextId_;
}

std::uint64_t UploadSpool::IdsLeftInFront() const {
    const Segment& seg = segments_.front();
    const std::uint64_t end = segments_.size() > 1 ? segments_[1].firstId : nextId_;
    const std::uint64_t from = std::max(readFd_ >= 0 ? expectedId_ : seg.firstId, head_ + 1);
    return std::min(count_, end > from ? end - from : 0);
}

// The front segment cannot give its remaining uploads: they are counted out
// with one line, and the segment goes when it is not the one taking appends.
void UploadSpool::LoseFront(const std::string& why) {
    const std::uint64_t lost = IdsLeftInFront();
    count_ -= lost;
    Note(segments_.front().path.string() + " " + why + ": " + std::to_string(lost) +
         " waiting upload" + (lost == 1 ? "" : "s") + " lost");
    if (segments_.size() > 1) {
        DropFrontSegment();
    } else {
        expectedId_ = nextId_;
        if (readFd_ < 0) { // the file itself is gone: appends start a new one
            segments_.clear();
            CloseFd(activeFd_);
        }
    }
}

// A segment that cannot be read at all is kept for a look by hand, never deleted.
void UploadSpool::MoveAside(std::size_t index, const std::string& why) {
    const Segment seg = segments_[index];
    std::uint64_t lost = 0;
    if (index == 0 && !segments_.empty()) lost = IdsLeftInFront();
    count_ -= std::min(count_, lost);
    if (index == 0) CloseFd(readFd_);
    if (index + 1 == segments_.size()) CloseFd(activeFd_);
    std::error_code ec;
    std::filesystem::create_directories(damaged_, ec);
    const std::filesystem::path target =
        damaged_ / (folder_.filename().string() + "-" + seg.path.filename().string());
    std::string where = "moved to " + target.string();
    if (::rename(seg.path.c_str(), target.c_str()) != 0)
        where = "cannot be moved to " + target.string() + " (" + ErrnoText(errno) + "), left";
    Note(seg.path.string() + " cannot be read (" + why + "): " + where +
         (lost ? ", " + std::to_string(lost) + " waiting uploads in it" : std::string()));
    diskBytes_ -= std::min(diskBytes_, seg.size);
    segments_.erase(segments_.begin() + static_cast<std::ptrdiff_t>(index));
    dirDirty_ = true;
}

bool UploadSpool::PopFront() {
    if (!Front()) return false;
    head_ = frontId_;
    if (count_ > 0) --count_;
    readOffset_ = frontEnd_;
    frontLoaded_ = false;
    front_.clear();
    WriteAck(); // or kept in memory: the entry is not sent again in this run
    // The segment taking appends stays even when drained: a queue that empties
    // after every upload must not create and remove a file each time.
    if (segments_.size() > 1 && readOffset_ >= segments_.front().size) {
        DropFrontSegment();
    } else if (ackBehind_ && count_ == 0 && activeFd_ >= 0 && segments_.size() == 1) {
        // Everything in it was taken but the journal cannot say so: emptied,
        // which frees the space and keeps a restart from sending it again.
        if (::ftruncate(activeFd_, 0) == 0) {
            diskBytes_ -= std::min(diskBytes_, segments_.back().size);
            segments_.back().size = 0;
            readOffset_ = 0;
        }
    }
    return true;
}

void UploadSpool::DropFrontSegment() {
    CloseFd(readFd_);
    readOffset_ = 0;
    if (segments_.size() == 1) CloseFd(activeFd_);
    std::error_code ec;
    std::filesystem::remove(segments_.front().path, ec);
    diskBytes_ -= std::min(diskBytes_, segments_.front().size);
    segments_.pop_front();
    dirDirty_ = true;
}

bool UploadSpool::Sync() {
    if (ackBehind_) WriteAck(); // catching up once the disk takes it again
    bool ok = true;
    int error = 0;
    if (dirty_) {
        if (activeFd_ >= 0 && ::fdatasync(activeFd_) != 0) ok = false, error = errno;
        if (ackFd_ >= 0 && ::fdatasync(ackFd_) != 0) ok = false, error = errno;
        dirty_ = false;
    }
    if (dirDirty_ && dirFd_ >= 0) {
        if (::fsync(dirFd_) != 0) ok = false, error = errno;
        dirDirty_ = false;
    }
    if (!ok) Fail("cannot flush the upload queue in " + folder_.string() + ": " + ErrnoText(error));
    return ok && !ackBehind_;
}

bool UploadSpool::Fail(std::string text) {
    lastError_ = std::move(text);
    return false;
}

} // namespace tavrik
