#include "files/KissFileReader.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tavrik {

std::string KissFileReader::Open(const std::string& path) {
    path_ = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
    in_.open(path, std::ios::binary);
    if (!in_) return std::strerror(errno != 0 ? errno : EACCES);
    size_ = static_cast<std::uint64_t>(st.st_size);
    return {};
}

bool KissFileReader::ReadSome(std::vector<KissRecord>& out, std::size_t maxBytes) {
    if (!in_.is_open() || !error_.empty()) return false;
    buffer_.resize(maxBytes);
    in_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(maxBytes));
    const auto got = static_cast<std::size_t>(in_.gcount());
    position_ += got;
    reader_.Feed({buffer_.data(), got}, out);
    if (in_.bad()) {
        error_ = "read error after " + std::to_string(position_) + " bytes";
        return false;
    }
    return !in_.eof() && got > 0;
}

const KissRecord* KissFileReader::Next(const SkipReport& skipped) {
    for (;;) {
        while (index_ < records_.size()) {
            const KissRecord& r = records_[index_++];
            if (r.kind != KissRecord::Kind::TooLong) return &r;
            skipped({.kind = KissSkip::Kind::TooLong, .offset = r.offset, .length = r.length});
        }
        if (ended_) return nullptr;
        if (atEnd_) {
            ended_ = true;
            if (!error_.empty())
                skipped({.kind = KissSkip::Kind::ReadError, .offset = position_, .error = error_});
            else if (EndedInsideRecord())
                skipped({.kind = KissSkip::Kind::EndsInsideRecord, .offset = RecordOffset()});
            return nullptr;
        }
        records_.clear();
        index_ = 0;
        atEnd_ = !ReadSome(records_, piece_);
    }
}

} // namespace tavrik
