#pragma once
// Reads a KISS file a piece at a time, so that a long import can hand control
// back to the event loop between pieces. The one reading loop of the import,
// tavrik-decode and agw-replay: each tells what was left out in its own words.
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "files/Kiss.h"

namespace tavrik {

// What had to be left out of a KISS file.
struct KissSkip {
    enum class Kind { TooLong, ReadError, EndsInsideRecord };
    Kind kind = Kind::TooLong;
    std::uint64_t offset = 0; // the record's opening FEND; a read error: the bytes read
    std::size_t length = 0;   // TooLong: the record's unescaped length
    std::string error{};      // ReadError: what failed
};

class KissFileReader {
  public:
    using SkipReport = std::function<void(const KissSkip&)>;

    explicit KissFileReader(std::size_t maxFrame = kMaxImportFrame, std::size_t piece = 64 * 1024)
        : reader_(maxFrame), piece_(piece) {}

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

    // The next frame or timestamp record, valid until the next call; none at
    // the end. What had to be left out on the way, up to and including the
    // end of the file, is handed to skipped first, in file order.
    const KissRecord* Next(const SkipReport& skipped);

  private:
    std::ifstream in_;
    KissReader reader_;
    std::vector<std::uint8_t> buffer_;
    std::string error_;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::size_t piece_;
    std::vector<KissRecord> records_;
    std::size_t index_ = 0;
    bool atEnd_ = false;
    bool ended_ = false;
};

} // namespace tavrik
