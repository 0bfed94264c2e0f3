#pragma once
// A KISS file's telemetry frames into the archive, a slice at a time, so the
// tool can show progress and the program's catch-up can share its writer with
// live frames. Each slice is one transaction that also moves the file's mark.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "files/Kiss.h"

namespace tavrik {

struct ImportCounts {
    std::int64_t frames = 0;        // telemetry frames read
    std::int64_t added = 0;         // of them new in the archive
    std::int64_t duplicates = 0;    // of them already there
    std::int64_t withoutTime = 0;   // telemetry frames without a reception-time record (skipped)
    std::int64_t tooLong = 0;       // records longer than a frame can be (skipped)
    bool endedInsideRecord = false; // the file ends in a record still being written, or cut off
    std::string readError;          // the file could not be read on
};

class ArchiveImport {
  public:
    // Opens the file and places the reader at byte `from` (a mark). `name` is
    // what the archive records as the frames' file (the tool: the name given;
    // the program: the log's path); by default the path. Returns an empty text
    // or why the file cannot be read.
    std::string Open(const std::string& path, std::uint64_t from = 0, std::string name = {});
    // Reads up to maxFrames telemetry frames (or to the end) and inserts them
    // with the mark. Returns false once the file is done or a write failed
    // (see the result); nothing is lost then, the mark stays behind.
    bool Slice(Archive& archive, std::size_t maxFrames, WriteResult& result);

    const std::string& Name() const { return name_; }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Position() const { return mark_; } // where the file is archived to
    const ImportCounts& Counts() const { return counts_; }

  private:
    bool ReadMore();
    void Take(const KissRecord& record);

    std::ifstream in_;
    std::string name_;
    KissReader reader_;
    std::vector<KissRecord> records_; // read, not yet taken
    std::size_t next_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t base_ = 0; // file offset of the reader's stream offset 0
    std::uint64_t size_ = 0;
    std::uint64_t mark_ = 0; // every record before it settled
    bool atEnd_ = false;
    std::string time_; // the pending timestamp record's text
    std::uint64_t timeOffset_ = 0;
    bool hasTime_ = false;
    std::vector<ArchiveFrame> batch_;
    ImportCounts counts_;
};

} // namespace tavrik
