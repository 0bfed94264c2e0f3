#pragma once
// One server's upload queue on disk: bodies appended to segment files, the
// front acknowledged by appending to an ack journal. Nothing is ever rewritten
// per upload, so adding and removing cost the same at any queue length.
//
// Folder layout:
//   <16 hex digits>.seg  records with ids from the one in the name upwards
//   ack.log              12-byte records: the id acknowledged so far, checksum
// A record is: magic, payload length, id, CRC-32 of id and payload, payload.
// A record torn by a kill (short or with a bad checksum) ends its segment and
// is cut off when the spool is opened again.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tavrik {

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

struct SpoolLimits {
    std::uint64_t segmentBytes = 4u << 20;     // a new segment once one holds this much
    std::uint64_t maxBytes = 1u << 30;         // segment files on disk, acknowledged parts included
    std::uint64_t ackRecordsPerJournal = 4096; // then ack.log is replaced by one record
};

class UploadSpool {
  public:
    enum class AddResult { Added, Full, Failed };

    // Opens the spool in folder, creating it when needed; nullptr and a reason
    // when the folder or a file in it cannot be used.
    static std::unique_ptr<UploadSpool> Open(const std::filesystem::path& folder,
                                             SpoolLimits limits, std::string& why);
    ~UploadSpool();
    UploadSpool(const UploadSpool&) = delete;
    UploadSpool& operator=(const UploadSpool&) = delete;

    // Written to the file at once (a killed process loses nothing); on the
    // disk itself after the next Sync().
    AddResult Append(std::string_view body);
    // The oldest unacknowledged body, or nullptr when none is left.
    const std::string* Front();
    // Appends the bodies of up to count entries from the front on, none of them
    // acknowledged, to send several in one request: the front one always, the
    // others while out stays within maxBytes. Returns how many.
    std::size_t PeekFront(std::size_t count, std::size_t maxBytes, std::string& out);
    // Acknowledges the front entry; its segment goes once nothing in it is left.
    bool PopFront();
    // fdatasync of what was appended and acknowledged since the last call.
    bool Sync();
    bool NeedsSync() const { return dirty_; }

    std::uint64_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }
    std::uint64_t DiskBytes() const { return diskBytes_; }
    std::size_t Segments() const { return segments_.size(); }
    const std::string& LastError() const { return lastError_; }

  private:
    struct Segment {
        std::uint64_t firstId = 0;
        std::uint64_t size = 0;
        std::filesystem::path path;
    };

    explicit UploadSpool(std::filesystem::path folder, SpoolLimits limits);
    bool Load(std::string& why);
    bool LoadAcks(std::string& why);
    bool ScanLastSegment(std::string& why);
    bool StartSegment();
    bool WriteAck(std::uint64_t id);
    bool CompactAcks();
    void DropFrontSegment();
    void CloseActive();
    bool Fail(std::string text);

    std::filesystem::path folder_;
    SpoolLimits limits_;
    std::deque<Segment> segments_; // oldest first; the last one takes appends
    int activeFd_ = -1;
    int ackFd_ = -1;
    int dirFd_ = -1;
    int lockFd_ = -1;              // held while open
    int readFd_ = -1;              // segments_.front(), for reading
    std::uint64_t readOffset_ = 0; // next record to look at in it
    std::uint64_t head_ = 0;       // highest id acknowledged
    std::uint64_t nextId_ = 1;     // id of the next append
    std::uint64_t count_ = 0;      // ids after head_ up to nextId_ - 1
    std::uint64_t diskBytes_ = 0;
    std::uint64_t ackRecords_ = 0;
    bool dirty_ = false;
    bool dirDirty_ = false;
    bool frontLoaded_ = false;
    std::uint64_t frontId_ = 0;
    std::uint64_t frontEnd_ = 0;
    std::string front_;
    std::string lastError_;
};

} // namespace tavrik
