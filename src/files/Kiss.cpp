#include "files/Kiss.h"

#include <algorithm>

namespace tavrik {

std::vector<std::uint8_t> KissFrameRecord(std::span<const std::uint8_t> frame) {
    std::vector<std::uint8_t> out;
    out.reserve(frame.size() + frame.size() / 16 + 4);
    out.push_back(kFend);
    for (std::uint8_t b : frame) {
        if (b == kFesc) {
            out.push_back(kFesc);
            out.push_back(kTfesc);
        } else if (b == kFend) {
            out.push_back(kFesc);
            out.push_back(kTfend);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kFend);
    return out;
}

std::vector<std::uint8_t> KissTimestampRecord(std::string_view timestamp) {
    std::vector<std::uint8_t> out;
    out.reserve(timestamp.size() + 7);
    out.push_back(kFend);
    out.push_back(kTimestampKind);
    out.insert(out.end(), timestamp.begin(), timestamp.end());
    for (char c : std::string_view(" UTC")) out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(kFend);
    return out;
}

void KissReader::Close(std::vector<KissRecord>& out) {
    if (length_ > 0) {
        KissRecord r;
        r.offset = recordOffset_;
        r.length = length_;
        if (length_ > maxFrame_) {
            r.kind = KissRecord::Kind::TooLong;
        } else {
            r.kind = body_[0] == kTimestampKind ? KissRecord::Kind::Timestamp
                                                : KissRecord::Kind::Frame;
            r.bytes = body_;
        }
        out.push_back(std::move(r));
    }
    body_.clear();
    length_ = 0;
    escape_ = false;
}

void KissReader::Feed(std::span<const std::uint8_t> bytes, std::vector<KissRecord>& out) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        if (open_ && !escape_) {
            // A run of plain bytes is taken whole: most of a record is one.
            const std::uint8_t* q = p;
            while (q < end && *q != kFend && *q != kFesc) ++q;
            const auto n = static_cast<std::size_t>(q - p);
            // Past the limit only the length is kept, so a runaway record costs no memory.
            const std::size_t room = length_ < maxFrame_ + 1 ? maxFrame_ + 1 - length_ : 0;
            body_.insert(body_.end(), p, p + std::min(n, room));
            length_ += n;
            offset_ += n;
            p = q;
            if (p == end) break;
        }
        std::uint8_t b = *p++;
        if (b == kFend) {
            if (open_) Close(out);
            open_ = true;
            recordOffset_ = offset_;
        } else if (open_) {
            if (escape_) {
                escape_ = false;
                b = b == kTfend ? kFend : b == kTfesc ? kFesc : b;
            } else if (b == kFesc) {
                escape_ = true;
                ++offset_;
                continue;
            }
            if (length_ < maxFrame_ + 1) body_.push_back(b);
            ++length_;
        }
        ++offset_;
    }
}

std::vector<KissRecord> ReadKiss(std::span<const std::uint8_t> bytes, std::size_t maxFrame) {
    KissReader reader(maxFrame);
    return reader.Feed(bytes);
}

} // namespace tavrik
