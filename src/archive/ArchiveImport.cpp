#include "archive/ArchiveImport.h"

#include <cerrno>
#include <cstring>

#include "files/TelemetryExport.h"
#include "telemetry/FrameText.h"
#include "telemetry/TelemetryHistory.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {
constexpr std::size_t kReadPiece = 256 * 1024;
}

std::string ArchiveImport::Open(const std::string& path, std::uint64_t from, std::string name) {
    *this = ArchiveImport();
    name_ = name.empty() ? path : std::move(name);
    in_.open(path, std::ios::binary);
    if (!in_) return std::strerror(errno);
    in_.seekg(0, std::ios::end);
    size_ = static_cast<std::uint64_t>(in_.tellg());
    // A mark past the end: the file was replaced or cut; it is read again whole.
    if (from > size_) from = 0;
    in_.seekg(static_cast<std::streamoff>(from));
    if (!in_) return "cannot seek to byte " + std::to_string(from);
    base_ = mark_ = from;
    buffer_.resize(kReadPiece);
    return {};
}

bool ArchiveImport::ReadMore() {
    if (atEnd_) return false;
    in_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
    const auto n = static_cast<std::size_t>(in_.gcount());
    if (n < buffer_.size()) {
        atEnd_ = true;
        if (in_.bad()) counts_.readError = std::strerror(errno);
    }
    records_.clear();
    next_ = 0;
    if (n > 0) reader_.Feed({buffer_.data(), n}, records_);
    return n > 0 || !records_.empty();
}

void ArchiveImport::Take(const KissRecord& record) {
    const std::uint64_t offset = base_ + record.offset;
    if (record.kind == KissRecord::Kind::Timestamp) {
        time_.assign(ReceptionTime(record.bytes));
        timeOffset_ = offset;
        hasTime_ = true;
        return; // settled with the frame it stamps
    }
    // A timestamp stamps the record right after it, and that one only.
    const bool stamped = hasTime_;
    hasTime_ = false;
    // Resuming one byte into a record skips it whole: the reader drops
    // everything before the next FEND.
    mark_ = offset + 1;
    if (record.kind == KissRecord::Kind::TooLong) {
        ++counts_.tooLong;
        return;
    }
    if (!HasTelemetryHeader(record.bytes)) return;
    FrameBuffer frame;
    frame.Load(record.bytes);
    if (!IsDecodable(frame)) return;
    ++counts_.frames;
    const auto timeMs = stamped ? ParseTimestamp(time_) : std::nullopt;
    if (!timeMs) {
        ++counts_.withoutTime;
        return;
    }
    ArchiveFrame& a = batch_.emplace_back();
    a.timeMs = *timeMs;
    a.source = SourceCallSign(record.bytes);
    while (!a.source.empty() && a.source.back() == ' ')
        a.source.pop_back();
    a.data = record.bytes;
    a.kissFile = name_;
    a.kissOffset = static_cast<std::int64_t>(offset);
}

bool ArchiveImport::Slice(Archive& archive, std::size_t maxFrames, WriteResult& result) {
    batch_.clear();
    bool done = false;
    while (batch_.size() < maxFrames) {
        if (next_ < records_.size()) {
            Take(records_[next_++]);
        } else if (!ReadMore()) {
            done = true;
            break;
        }
    }
    if (!done && atEnd_ && next_ >= records_.size()) done = true;
    if (done) {
        counts_.endedInsideRecord = reader_.InsideRecord();
        // The whole file is settled unless it ends in a record or a timestamp
        // waiting for its frame (both may still be being written).
        if (!counts_.endedInsideRecord && !hasTime_ && counts_.readError.empty())
            mark_ = base_ + reader_.Offset();
    }
    const KissMark mark{name_, mark_};
    result = archive.Insert(batch_, &mark);
    counts_.added += result.added;
    counts_.duplicates += result.duplicates;
    return result.Ok() && !done;
}

} // namespace tavrik
