// The KISS reader: any chunking reads like the whole buffer, and every frame
// record survives escaping and reading back.
#include <algorithm>
#include <span>
#include <vector>

#include "files/Kiss.h"
#include "fuzz_check.h"

using namespace tavrik;

namespace {

bool Same(const KissRecord& a, const KissRecord& b) {
    return a.kind == b.kind && a.bytes == b.bytes && a.length == b.length && a.offset == b.offset;
}

bool Same(const std::vector<KissRecord>& a, const std::vector<KissRecord>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const KissRecord& x, const KissRecord& y) { return Same(x, y); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> stream(data, size);
    // A small limit now and then, so that the too-long path is reached too.
    const std::size_t maxFrame = size > 0 && data[0] == 0x01 ? 16 : kMaxImportFrame;
    const std::vector<KissRecord> whole = ReadKiss(stream, maxFrame);

    for (std::size_t round = 0; round < 3; ++round) {
        KissReader reader(maxFrame);
        fuzz::PieceSizes sizes(data + std::min(round, size), size - std::min(round, size),
                               round == 0   ? 3
                               : round == 1 ? 40
                                            : 700);
        std::vector<KissRecord> got;
        std::size_t at = 0;
        while (at < size) {
            const std::size_t n = std::min(size - at, sizes.Next());
            reader.Feed(stream.subspan(at, n), got);
            at += n;
            FUZZ_CHECK(reader.Offset() == at);
        }
        FUZZ_CHECK(Same(got, whole));
    }

    std::uint64_t lastOffset = 0;
    bool first = true;
    for (const KissRecord& r : whole) {
        FUZZ_CHECK(r.length > 0);
        FUZZ_CHECK(r.offset < size && data[r.offset] == kFend);
        FUZZ_CHECK(first || r.offset > lastOffset);
        first = false;
        lastOffset = r.offset;
        if (r.kind == KissRecord::Kind::TooLong) {
            FUZZ_CHECK(r.length > maxFrame && r.bytes.empty());
            continue;
        }
        FUZZ_CHECK(r.bytes.size() == r.length && r.length <= maxFrame);
        FUZZ_CHECK((r.bytes[0] == kTimestampKind) == (r.kind == KissRecord::Kind::Timestamp));
        if (r.kind != KissRecord::Kind::Frame) continue;

        // Escaped again and read back, the record is the same.
        const std::vector<std::uint8_t> escaped = KissFrameRecord(r.bytes);
        FUZZ_CHECK(std::count(escaped.begin(), escaped.end(), kFend) == 2);
        const std::vector<KissRecord> back = ReadKiss(escaped, maxFrame);
        FUZZ_CHECK(back.size() == 1);
        FUZZ_CHECK(back[0].kind == KissRecord::Kind::Frame);
        FUZZ_CHECK(back[0].bytes == r.bytes && back[0].length == r.length);
        FUZZ_CHECK(back[0].offset == 0);
    }
    return 0;
}
