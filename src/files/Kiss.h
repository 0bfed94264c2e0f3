#pragma once
// KISS framing of the log: FEND-delimited records, timestamp records (0x09 and
// text) and escaped frame records.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

inline constexpr std::uint8_t kFend = 0xC0;
inline constexpr std::uint8_t kFesc = 0xDB;
inline constexpr std::uint8_t kTfend = 0xDC;
inline constexpr std::uint8_t kTfesc = 0xDD;
inline constexpr std::uint8_t kTimestampKind = 0x09;
// The import's frame buffer holds 511 bytes and the closing FEND.
inline constexpr std::size_t kMaxImportFrame = 511;

// C0, the frame with DB -> DB DD and C0 -> DB DC, C0.
std::vector<std::uint8_t> KissFrameRecord(std::span<const std::uint8_t> frame);
// C0 09 "<timestamp> UTC" C0: 30 bytes for a 23-character timestamp.
std::vector<std::uint8_t> KissTimestampRecord(std::string_view timestamp);

struct KissRecord {
    enum class Kind { Frame, Timestamp, TooLong };
    Kind kind = Kind::Frame;
    std::vector<std::uint8_t> bytes; // unescaped body (a TooLong record keeps none)
    std::size_t length = 0;          // unescaped length of the body
    std::uint64_t offset = 0;        // stream offset of the opening FEND
};

// Turns a byte stream into records, fed in pieces of any size. Every FEND
// delimits; empty records are skipped; bytes before the first FEND and a
// record cut off by the end of the stream are dropped. An FESC followed by
// anything but TFEND or TFESC keeps that byte.
class KissReader {
public:
    explicit KissReader(std::size_t maxFrame = kMaxImportFrame) : maxFrame_(maxFrame) {}

    // Appends the records completed by these bytes to out.
    void Feed(std::span<const std::uint8_t> bytes, std::vector<KissRecord>& out);
    std::vector<KissRecord> Feed(std::span<const std::uint8_t> bytes) {
        std::vector<KissRecord> out;
        Feed(bytes, out);
        return out;
    }
    // True when the stream so far ends inside a record (which the end would drop).
    bool InsideRecord() const { return open_ && (length_ > 0 || escape_); }
    // The unescaped bytes of the record still open (what the end would drop).
    std::size_t OpenLength() const { return open_ ? length_ : 0; }
    std::uint64_t Offset() const { return offset_; }
    // Stream offset of the opening FEND of the record read last or now.
    std::uint64_t RecordOffset() const { return recordOffset_; }

private:
    void Close(std::vector<KissRecord>& out);

    std::size_t maxFrame_;
    bool open_ = false;
    bool escape_ = false;
    std::vector<std::uint8_t> body_;
    std::size_t length_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t recordOffset_ = 0;
};

// Reads a whole buffer (a file's bytes).
std::vector<KissRecord> ReadKiss(std::span<const std::uint8_t> bytes,
                                 std::size_t maxFrame = kMaxImportFrame);

} // namespace tavrik
