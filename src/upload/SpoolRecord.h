#pragma once
// The upload queue's records as they lie in its files, and how a reader finds
// the next whole record behind a damaged one.
//
// Segment record: magic "TUQ1", payload length (32 bits), id (64 bits),
// CRC-32 of id and payload, payload; little-endian. The magic lets a reader
// look for the next record start; the checksum tells a record from bytes that
// only look like one. Every record stands on its own.
// Journal record: the id acknowledged so far (64 bits) and its CRC-32; fixed
// size, so a bad one is skipped without losing step.
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrik {

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

inline constexpr std::size_t kSpoolHeader = 20;
inline constexpr std::size_t kAckRecord = 12;

std::string EncodeSpoolRecord(std::uint64_t id, std::string_view payload);
void EncodeAckRecord(std::uint64_t id, char (&out)[kAckRecord]);
// False when the checksum does not match.
bool DecodeAckRecord(const char* record, std::uint64_t& id);

enum class RecordRead {
    Ok,
    End,    // offset is the end of the segment
    Bad,    // torn, damaged or not a record
    IoError // the file could not be read (errno tells why)
};

// The record at offset of a segment file of the given size.
RecordRead ReadSpoolRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& id,
                           std::string& payload);

// Where the next whole record starts after offset: the offset of the first
// magic behind it whose record reads Ok (id and payload filled), or size when
// no whole record follows. False when the file could not be read.
bool FindNextSpoolRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& found,
                         std::uint64_t& id, std::string& payload);

// The same over a whole segment read into memory: the record at offset (its
// payload's length in length), and the next whole record behind offset
// (image.size() when none follows).
RecordRead SpoolRecordIn(std::string_view image, std::uint64_t offset, std::uint64_t& id,
                         std::uint64_t& length);
std::uint64_t NextSpoolRecordIn(std::string_view image, std::uint64_t offset);

// All length bytes from offset, or false (errno 0: the file ended first);
// read, when given, tells how many came before that.
bool ReadFully(int fd, std::uint64_t offset, char* out, std::size_t length,
               std::size_t* read = nullptr);
bool WriteFully(int fd, const char* data, std::size_t length);

} // namespace tavrik
