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
    // Slicing by four: a damaged segment is checked record by record at start-up.
    static const std::array<std::array<std::uint32_t, 256>, 4> table = [] {
        std::array<std::array<std::uint32_t, 256>, 4> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 4; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        return t;
    }();
    crc = ~crc;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    for (; n >= 4; n -= 4, p += 4) {
        crc ^= static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        crc = table[3][crc & 0xFF] ^ table[2][(crc >> 8) & 0xFF] ^ table[1][(crc >> 16) & 0xFF] ^
              table[0][crc >> 24];
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

bool ReadFully(int fd, std::uint64_t offset, char* out, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = 0; // shorter than its size said: not a read error
            return false;
        }
        out += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
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

RecordRead ReadSpoolRecord(int fd, std::uint64_t offset, std::uint64_t size, std::uint64_t& id,
                           std::string& payload) {
    if (offset >= size) return RecordRead::End;
    if (offset + kSpoolHeader > size) return RecordRead::Bad;
    char header[kSpoolHeader];
    if (!ReadFully(fd, offset, header, kSpoolHeader))
        return errno ? RecordRead::IoError : RecordRead::Bad;
    const std::uint64_t length = GetLe(header + 4, 4);
    if (std::memcmp(header, kMagic, 4) != 0 || length > size - offset - kSpoolHeader)
        return RecordRead::Bad;
    payload.resize(length);
    if (length > 0 && !ReadFully(fd, offset + kSpoolHeader, payload.data(), length))
        return errno ? RecordRead::IoError : RecordRead::Bad;
    if (GetLe(header + 16, 4) != RecordCrc(header + 8, payload)) return RecordRead::Bad;
    id = GetLe(header + 8, 8);
    return RecordRead::Ok;
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
