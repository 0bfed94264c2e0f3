#pragma once
// Reads a KISS file a piece at a time, so that a long import can hand control
// back to the event loop between pieces.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "files/Kiss.h"

namespace tavrik {

class KissFileReader {
  public:
    // Returns an empty text on success, else why the file cannot be read.
    std::string Open(const std::string& path);
    // Reads up to maxBytes more and appends the records they complete. Returns
    // false once the end of the file (or a read error) has been reached.
    bool ReadSome(std::vector<KissRecord>& out, std::size_t maxBytes = 64 * 1024);
    const std::string& Error() const { return error_; }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Position() const { return position_; }
    // True when the file ended inside a record, which is then dropped.
    bool EndedInsideRecord() const { return reader_.InsideRecord(); }
    // File offset of the opening FEND of the record read last (or cut off).
    std::uint64_t RecordOffset() const { return reader_.RecordOffset(); }

  private:
    std::ifstream in_;
    KissReader reader_;
    std::vector<std::uint8_t> buffer_;
    std::string error_;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

} // namespace tavrik
