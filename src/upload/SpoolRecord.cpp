#include "upload/SpoolRecord.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace tavrik {

namespace {

constexpr char kMagic[4] = {'T', 'U', 'Q', '1'};
constexpr std::size_t kScanPiece = 256 * 1024;

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

} // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    // Slicing by eight: a damaged segment is checked record by record at
    // start-up, and a queue made again while running copies megabytes.
    static const std::array<std::array<std::uint32_t, 256>, 8> table = [] {
        std::array<std::array<std::uint32_t, 256>, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        return t;
    }();
    crc = ~crc;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    const auto word = [](const unsigned char* q) {
        return static_cast<std::uint32_t>(q[0]) | static_cast<std::uint32_t>(q[1]) << 8 |
               static_cast<std::uint32_t>(q[2]) << 16 | static_cast<std::uint32_t>(q[3]) << 24;
    };
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t lo = crc ^ word(p), hi = word(p + 4);
        crc = table[7][lo & 0xFF] ^ table[6][(lo >> 8) & 0xFF] ^ table[5][(lo >> 16) & 0xFF] ^
              table[4][lo >> 24] ^ table[3][hi & 0xFF] ^ table[2][(hi >> 8) & 0xFF] ^
              table[1][(hi >> 16) & 0xFF] ^ table[0][hi >> 24];
    }
    for (; n > 0; --n, ++p)
        crc = table[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string EncodeSpoolRecord(std::uint64_t id, std::string_view payload) {
    std::string record(kSpoolHeader, '\0');
    std::memcpy(record.data(), kMagic, 4);
    PutLe(record.data() + 4, payload.size(), 4);
    PutLe(record.data() + 8, id, 8);
    PutLe(record.data() + 16, RecordCrc(record.data() + 8, payload), 4);
    record.append(payload);
    return record;
}

void EncodeAckRecord(std::uint64_t id, char (&out)[kAckRecord]) {
    PutLe(out, id, 8);
    PutLe(out + 8, Crc32(std::string_view(out, 8)), 4);
}

bool DecodeAckRecord(const char* record, std::uint64_t& id) {
    if (GetLe(record + 8, 4) != Crc32(std::string_view(record, 8))) return false;
    id = GetLe(record, 8);
    return true;
}

bool ReadFully(int fd, std::uint64_t offset, char* out, std::size_t length, std::size_t* read) {
    std::size_t got = 0;
    if (read) *read = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, out + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = 0; // shorter than its size said: not a read error
            return false;
        }
        got += static_cast<std::size_t>(n);
        if (read) *read = got;
    }
    return true;
}

bool WriteFully(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// A record's header at offset of a segment of the given size: whether it can
// start one, and its payload's length.
bool HeaderFits(const char* header, std::uint64_t offset, std::uint64_t size,
                std::uint64_t& length) {
    length = GetLe(header + 4, 4);
    return std::memcmp(header, kMagic, 4) == 0 && length <= size - offset - kSpoolHeader;
}

bool ChecksumHolds(const char* header, std::string_view payload, std::uint64_t& id) {
    if (GetLe(header + 16, 4) != RecordCrc(header + 8, payload)) return false;
    id = GetLe(header + 8, 8);
    return true;
}

} // namespace

RecordRead ReadSpoolRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& id,
                           std::string& payload) {
    if (offset >= size) return RecordRead::End;
    if (offset + kSpoolHeader > size) return RecordRead::Bad;
    char header[kSpoolHeader];
    if (!ReadFully(fd, offset, header, kSpoolHeader))
        return errno ? RecordRead::IoError : RecordRead::Bad;
    std::uint64_t length = 0;
    if (!HeaderFits(header, offset, size, length)) return RecordRead::Bad;
    payload.resize(length);
    if (length > 0 && !ReadFully(fd, offset + kSpoolHeader, payload.data(), length))
        return errno ? RecordRead::IoError : RecordRead::Bad;
    return ChecksumHolds(header, payload, id) ? RecordRead::Ok : RecordRead::Bad;
}

RecordRead SpoolRecordIn(std::string_view image, std::uint64_t offset, std::uint64_t& id,
                         std::uint64_t& length) {
    const std::uint64_t size = image.size();
    if (offset >= size) return RecordRead::End;
    if (offset + kSpoolHeader > size) return RecordRead::Bad;
    const char* header = image.data() + offset;
    if (!HeaderFits(header, offset, size, length)) return RecordRead::Bad;
    return ChecksumHolds(header, image.substr(offset + kSpoolHeader, length), id) ? RecordRead::Ok
                                                                                  : RecordRead::Bad;
}

std::uint64_t NextSpoolRecordIn(std::string_view image, std::uint64_t offset) {
    std::uint64_t id = 0, length = 0;
    for (std::uint64_t at = offset + 1; at + kSpoolHeader <= image.size(); ++at) {
        const void* p = ::memmem(image.data() + at, image.size() - at, kMagic, 4);
        if (!p) break;
        at = static_cast<std::uint64_t>(static_cast<const char*>(p) - image.data());
        if (SpoolRecordIn(image, at, id, length) == RecordRead::Ok) return at;
    }
    return image.size();
}

bool FindNextSpoolRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& found,
                         std::uint64_t& id, std::string& payload) {
    std::vector<char> piece(kScanPiece);
    std::uint64_t at = offset + 1;
    while (at + kSpoolHeader <= size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kScanPiece, size - at));
        if (!ReadFully(fd, at, piece.data(), want)) {
            if (errno) return false;
            break; // the file shrank under us: nothing more to find
        }
        const char* begin = piece.data();
        const char* end = begin + want;
        for (const char* p = begin; p + 4 <= end; ++p) {
            p = static_cast<const char*>(::memmem(p, static_cast<std::size_t>(end - p), kMagic, 4));
            if (!p) break;
            const std::uint64_t candidate = at + static_cast<std::uint64_t>(p - begin);
            const RecordRead r = ReadSpoolRecord(fd, candidate, size, id, payload);
            if (r == RecordRead::IoError) return false;
            if (r == RecordRead::Ok) {
                found = candidate;
                return true;
            }
        }
        if (want < kScanPiece) break;
        at += want - 3; // a magic cut by the piece's end is found in the next piece
    }
    found = size;
    return true;
}

} // namespace tavrik
