#include "intake/KissStream.h"

namespace tavrik {

void KissStream::Feed(std::span<const std::uint8_t> bytes,
                      std::vector<std::vector<std::uint8_t>>& frames,
                      std::vector<std::string>& notes) {
    records_.clear();
    reader_.Feed(bytes, records_);
    for (KissRecord& r : records_) {
        if (r.kind == KissRecord::Kind::TooLong)
            notes.push_back("KISS frame of " + std::to_string(r.length) +
                            " bytes skipped: longer than " + std::to_string(kMaxImportFrame) +
                            " bytes");
        else if (!r.bytes.empty() && IsKissDataFrame(r.bytes.front()))
            frames.push_back(std::move(r.bytes));
    }
}

} // namespace tavrik
