#pragma once
// One server's upload queue on disk: bodies appended to segment files, the
// front acknowledged by appending to an ack journal. Nothing is ever rewritten
// per upload, so adding and removing cost the same at any queue length.
//
// Folder layout:
//   <16 hex digits>.seg  records with ids from the one in the name upwards
//   ack.log              fixed-size records: the id acknowledged so far
//   damaged folder       segments that could not be read at all, moved aside
// Record formats: upload/SpoolRecord.h. Records stand alone: damage costs the
// damaged record only, the reader goes on with the next whole one. A record
// torn by a kill ends its segment and is cut off when the spool is opened again.
//
// Lost files are noticed at the next append or read: a folder or segment that
// was removed is made again from what the open files still hold.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "upload/SpoolRecord.h"

namespace tavrik {

struct SpoolLimits {
    std::uint64_t segmentBytes = 4u << 20;     // a new segment once one holds this much
    std::uint64_t maxBytes = 1u << 30;         // segment files on disk, acknowledged parts included
    std::uint64_t ackRecordsPerJournal = 4096; // then ack.log is replaced by its last id
};

class UploadSpool {
  public:
    enum class AddResult { Added, Full, Failed };

    // Opens the spool in folder, creating it when needed; nullptr and a reason
    // when the folder or a file in it cannot be used. Unreadable segments go to
    // damagedFolder (folder/damaged when empty).
    static std::unique_ptr<UploadSpool> Open(const std::filesystem::path& folder,
                                             SpoolLimits limits, std::string& why,
                                             std::filesystem::path damagedFolder = {});
    ~UploadSpool();
    UploadSpool(const UploadSpool&) = delete;
    UploadSpool& operator=(const UploadSpool&) = delete;

    // A small file kept in the folder (written when missing, written again
    // when the folder had to be made again); false and why when it cannot be.
    bool KeepFile(const std::string& name, const std::string& content, std::string& why);

    // Written to the file at once (a killed process loses nothing); on the
    // disk itself after the next Sync().
    AddResult Append(std::string_view body);
    // The oldest unacknowledged body, or nullptr when none is left.
    const std::string* Front();
    // Appends the bodies of up to count entries from the front on, none of them
    // acknowledged, to send several in one request: the front one always, the
    // others while out stays within maxBytes. Returns how many.
    std::size_t PeekFront(std::size_t count, std::size_t maxBytes, std::string& out);
    // Acknowledges the front entry; false only when there is none. An
    // acknowledgement the journal cannot take is kept in memory (AckBehind)
    // and written with the next one that can be.
    bool PopFront();
    // fdatasync of what was appended and acknowledged since the last call;
    // also the journal's catching up.
    bool Sync();
    bool NeedsSync() const { return dirty_ || dirDirty_ || ackBehind_; }
    bool AckBehind() const { return ackBehind_; }

    std::uint64_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }
    std::uint64_t DiskBytes() const { return diskBytes_; }
    std::size_t Segments() const { return segments_.size(); }
    const std::string& LastError() const { return lastError_; }
    // What was found and mended since the last call (damage skipped, files
    // moved aside, the folder made again), one line each.
    std::vector<std::string> TakeNotes() { return std::exchange(notes_, {}); }

  private:
    struct Segment {
        std::uint64_t firstId = 0;
        std::uint64_t size = 0;
        std::filesystem::path path;
    };

    UploadSpool(std::filesystem::path folder, SpoolLimits limits, std::filesystem::path damaged);
    bool Load(std::string& why);
    bool OpenFolder(std::string& why);
    bool LoadAcks(std::string& why);
    bool ScanLastSegment(std::string& why);
    bool StartSegment();
    bool OpenActive();
    bool WriteAck();
    bool CompactAcks();
    void SkipDamage(const Segment& seg, bool last);
    std::uint64_t IdsLeftInFront() const;
    void LoseFront(const std::string& why);
    void MoveAside(std::size_t index, const std::string& why);
    void DropFrontSegment();
    bool CheckFiles();
    bool Rebuild(bool folderGone);
    bool WriteKeptFiles();
    void Note(std::string text) { notes_.push_back(std::move(text)); }
    bool Fail(std::string text);

    std::filesystem::path folder_;
    SpoolLimits limits_;
    std::filesystem::path damaged_;
    std::deque<Segment> segments_; // oldest first; the last one takes appends
    int activeFd_ = -1;            // read and append: what a removed file still holds
    int ackFd_ = -1;
    int dirFd_ = -1;
    int lockFd_ = -1;              // held while open
    int readFd_ = -1;              // segments_.front(), for reading
    std::uint64_t readOffset_ = 0; // next record to look at in it
    std::uint64_t expectedId_ = 0; // the id the next record there should carry
    std::uint64_t head_ = 0;       // highest id acknowledged (in memory)
    std::uint64_t nextId_ = 1;     // id of the next append
    std::uint64_t count_ = 0;      // unacknowledged entries believed whole
    std::uint64_t diskBytes_ = 0;
    std::uint64_t ackRecords_ = 0;
    std::uint64_t ackSize_ = 0; // bytes of whole records in ack.log
    bool ackBehind_ = false;    // head_ is not in the journal yet
    bool folderLost_ = false;   // removed and not made again
    bool dirty_ = false;
    bool dirDirty_ = false;
    bool frontLoaded_ = false;
    std::uint64_t frontId_ = 0;
    std::uint64_t frontEnd_ = 0;
    std::string front_;
    std::string lastError_;
    std::vector<std::string> notes_;
    std::vector<std::pair<std::string, std::string>> keptFiles_;
};

} // namespace tavrik
