#include "upload/UploadSpool.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrik {

namespace {

constexpr std::uint32_t kMagic = 0x31515554; // "TUQ1" as read from the file
constexpr std::size_t kHeader = 20;          // magic, length, id, checksum
constexpr std::size_t kAckRecord = 12;       // id, checksum
constexpr const char* kAckName = "ack.log";
constexpr const char* kSegmentSuffix = ".seg";

void PutLe(char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLe(const char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

std::uint32_t RecordCrc(const char* idBytes, std::string_view payload) {
    return Crc32(payload, Crc32(std::string_view(idBytes, 8)));
}

std::string SegmentName(std::uint64_t firstId) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(firstId),
                  kSegmentSuffix);
    return name;
}

bool ReadAll(int fd, std::uint64_t offset, char* out, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// One record at offset of a segment of the given size: its id and payload, or
// false when it is torn, foreign or damaged.
bool ReadRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& id,
                std::string& payload) {
    if (offset + kHeader > size) return false;
    char header[kHeader];
    if (!ReadAll(fd, offset, header, kHeader)) return false;
    const std::uint64_t length = GetLe(header + 4, 4);
    if (GetLe(header, 4) != kMagic || length > size - offset - kHeader) return false;
    payload.resize(length);
    if (length > 0 && !ReadAll(fd, offset + kHeader, payload.data(), length)) return false;
    if (GetLe(header + 16, 4) != RecordCrc(header + 8, payload)) return false;
    id = GetLe(header + 8, 8);
    return true;
}

} // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (char ch : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

UploadSpool::UploadSpool(std::filesystem::path folder, SpoolLimits limits)
    : folder_(std::move(folder)), limits_(limits) {}

UploadSpool::~UploadSpool() {
    Sync();
    CloseFd(readFd_);
    CloseFd(activeFd_);
    CloseFd(ackFd_);
    CloseFd(dirFd_);
    CloseFd(lockFd_);
}

std::unique_ptr<UploadSpool> UploadSpool::Open(const std::filesystem::path& folder,
                                               SpoolLimits limits, std::string& why) {
    std::unique_ptr<UploadSpool> spool(new UploadSpool(folder, limits));
    if (!spool->Load(why)) return nullptr;
    return spool;
}

bool UploadSpool::Load(std::string& why) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        why = "cannot open the folder " + folder_.string() + ": " + std::strerror(errno);
        return false;
    }
    // Two copies of the program in one folder would hand out the same ids.
    const std::filesystem::path lock = folder_ / "lock";
    lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? "in use by another running copy of the program"
                                   : "cannot lock " + lock.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!LoadAcks(why)) return false;

    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 16 + std::strlen(kSegmentSuffix) || !name.ends_with(kSegmentSuffix))
            continue;
        Segment s;
        s.firstId = std::strtoull(name.substr(0, 16).c_str(), nullptr, 16);
        s.size = entry.file_size(ec);
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
    activeFd_ = ::open(segments_.back().path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (activeFd_ < 0) {
        why = "cannot open " + segments_.back().path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool UploadSpool::LoadAcks(std::string& why) {
    const std::filesystem::path path = folder_ / kAckName;
    ackFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (ackFd_ < 0) {
        why = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    ::fstat(ackFd_, &st);
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!bytes.empty() && !ReadAll(ackFd_, 0, bytes.data(), bytes.size())) bytes.clear();
    std::size_t valid = 0;
    for (; valid + kAckRecord <= bytes.size(); valid += kAckRecord) {
        const char* rec = bytes.data() + valid;
        if (GetLe(rec + 8, 4) != Crc32(std::string_view(rec, 8))) break;
        head_ = std::max(head_, GetLe(rec, 8));
        ++ackRecords_;
    }
    // A torn last acknowledgement is dropped so the next one starts on a boundary.
    if (valid != bytes.size() && ::ftruncate(ackFd_, static_cast<off_t>(valid)) != 0) {
        why = "cannot repair " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    nextId_ = head_ + 1;
    return true;
}

bool UploadSpool::ScanLastSegment(std::string& why) {
    if (segments_.empty()) return true;
    Segment& last = segments_.back();
    const int fd = ::open(last.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + last.path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::uint64_t offset = 0;
    std::uint64_t lastId = last.firstId - 1;
    std::uint64_t id = 0;
    std::string payload;
    while (ReadRecord(fd, offset, last.size, id, payload)) {
        lastId = id;
        offset += kHeader + payload.size();
    }
    // What follows the last whole record was torn by a kill: cut it off so
    // that the next append starts on a record boundary.
    if (offset != last.size) {
        if (::ftruncate(fd, static_cast<off_t>(offset)) != 0) {
            why = "cannot repair " + last.path.string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        last.size = offset;
    }
    ::close(fd);
    nextId_ = std::max(nextId_, lastId + 1);
    return true;
}

UploadSpool::AddResult UploadSpool::Append(std::string_view body) {
    const std::uint64_t recordBytes = kHeader + body.size();
    if (diskBytes_ + recordBytes > limits_.maxBytes) return AddResult::Full;
    if (segments_.empty() || activeFd_ < 0 ||
        (segments_.back().size > 0 && segments_.back().size + recordBytes > limits_.segmentBytes)) {
        if (!StartSegment()) return AddResult::Failed;
    }
    std::string record(kHeader, '\0');
    PutLe(record.data(), kMagic, 4);
    PutLe(record.data() + 4, body.size(), 4);
    PutLe(record.data() + 8, nextId_, 8);
    PutLe(record.data() + 16, RecordCrc(record.data() + 8, body), 4);
    record.append(body);
    Segment& seg = segments_.back();
    if (!WriteAll(activeFd_, record.data(), record.size())) {
        Fail("cannot write to " + seg.path.string() + ": " + std::strerror(errno));
        // Leave no partial record behind for the next append to follow.
        if (::ftruncate(activeFd_, static_cast<off_t>(seg.size)) != 0) CloseActive();
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
    CloseActive();
    Segment seg;
    seg.firstId = nextId_;
    seg.path = folder_ / SegmentName(nextId_);
    activeFd_ = ::open(seg.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (activeFd_ < 0)
        return Fail("cannot create " + seg.path.string() + ": " + std::strerror(errno));
    segments_.push_back(std::move(seg));
    dirDirty_ = true;
    return true;
}

const std::string* UploadSpool::Front() {
    if (frontLoaded_) return &front_;
    while (count_ > 0 && !segments_.empty()) {
        const Segment& seg = segments_.front();
        if (readFd_ < 0) {
            readFd_ = ::open(seg.path.c_str(), O_RDONLY | O_CLOEXEC);
            readOffset_ = 0;
            if (readFd_ < 0) {
                Fail("cannot read " + seg.path.string() + ": " + std::strerror(errno));
                return nullptr;
            }
        }
        std::uint64_t id = 0;
        if (!ReadRecord(readFd_, readOffset_, seg.size, id, front_)) {
            if (segments_.size() == 1) break;
            // The end of an older segment, or damage that no checksum can
            // see past: go on with the next segment.
            if (readOffset_ < seg.size) Fail("unreadable record in " + seg.path.string());
            DropFrontSegment();
            continue;
        }
        if (id <= head_) {
            readOffset_ += kHeader + front_.size();
            continue;
        }
        frontId_ = id;
        frontEnd_ = readOffset_ + kHeader + front_.size();
        frontLoaded_ = true;
        return &front_;
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
        if (!ReadRecord(fd, offset, segments_[seg].size, id, payload)) {
            // Damage is left for Front() to meet; the end of a segment leads to the next.
            if (offset < segments_[seg].size || ++seg >= segments_.size()) break;
            CloseFd(opened);
            fd = opened = ::open(segments_[seg].path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            offset = 0;
            continue;
        }
        offset += kHeader + payload.size();
        if (id <= head_) continue;
        if (out.size() + payload.size() > maxBytes) break;
        out += payload;
        ++taken;
    }
    CloseFd(opened);
    return taken;
}

bool UploadSpool::PopFront() {
    if (!Front()) return false;
    if (!WriteAck(frontId_)) return false;
    head_ = frontId_;
    readOffset_ = frontEnd_;
    frontLoaded_ = false;
    front_.clear();
    count_ = nextId_ - 1 - head_;
    // The segment taking appends stays even when drained: a queue that empties
    // after every upload must not create and remove a file each time.
    if (segments_.size() > 1 && readOffset_ >= segments_.front().size) DropFrontSegment();
    if (++ackRecords_ >= limits_.ackRecordsPerJournal) CompactAcks();
    return true;
}

bool UploadSpool::WriteAck(std::uint64_t id) {
    char rec[kAckRecord];
    PutLe(rec, id, 8);
    PutLe(rec + 8, Crc32(std::string_view(rec, 8)), 4);
    if (!WriteAll(ackFd_, rec, sizeof rec))
        return Fail("cannot write to " + (folder_ / kAckName).string() + ": " +
                    std::strerror(errno));
    dirty_ = true;
    return true;
}

// The journal only ever needs its last record: replace it by that one record,
// written beside it and renamed over it, so a kill leaves one or the other.
bool UploadSpool::CompactAcks() {
    const std::filesystem::path path = folder_ / kAckName;
    const std::filesystem::path temp = folder_ / "ack.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail("cannot create " + temp.string() + ": " + std::strerror(errno));
    char rec[kAckRecord];
    PutLe(rec, head_, 8);
    PutLe(rec + 8, Crc32(std::string_view(rec, 8)), 4);
    const bool written = WriteAll(fd, rec, sizeof rec) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0)
        return Fail("cannot replace " + path.string() + ": " + std::strerror(errno));
    ::fsync(dirFd_);
    CloseFd(ackFd_);
    ackFd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (ackFd_ < 0) return Fail("cannot open " + path.string() + ": " + std::strerror(errno));
    ackRecords_ = 1;
    return true;
}

void UploadSpool::DropFrontSegment() {
    CloseFd(readFd_);
    readOffset_ = 0;
    if (segments_.size() == 1) CloseActive();
    std::error_code ec;
    std::filesystem::remove(segments_.front().path, ec);
    diskBytes_ -= segments_.front().size;
    segments_.pop_front();
    dirDirty_ = true;
}

void UploadSpool::CloseActive() {
    CloseFd(activeFd_);
}

bool UploadSpool::Sync() {
    bool ok = true;
    if (dirty_) {
        if (activeFd_ >= 0 && ::fdatasync(activeFd_) != 0) ok = false;
        if (ackFd_ >= 0 && ::fdatasync(ackFd_) != 0) ok = false;
        dirty_ = false;
    }
    if (dirDirty_ && dirFd_ >= 0) {
        if (::fsync(dirFd_) != 0) ok = false;
        dirDirty_ = false;
    }
    if (!ok)
        Fail("cannot flush the upload queue in " + folder_.string() + ": " + std::strerror(errno));
    return ok;
}

bool UploadSpool::Fail(std::string text) {
    lastError_ = std::move(text);
    return false;
}

} // namespace tavrik
