// The AGW splitter over arbitrary streams cut into pieces the input chooses.
#include <algorithm>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "intake/Agw.h"

using namespace tavrik;

namespace {

std::vector<std::uint8_t> Encoded(const std::vector<AgwFrame>& frames) {
    std::vector<std::uint8_t> out;
    for (const AgwFrame& f : frames) {
        out.insert(out.end(), f.header.begin(), f.header.end());
        out.insert(out.end(), f.data.begin(), f.data.end());
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> stream(data, size);

    AgwStreamSplitter pieces;
    fuzz::PieceSizes sizes(data, size, 80);
    std::vector<AgwFrame> frames;
    std::size_t fed = 0;
    std::size_t handedOut = 0;
    while (fed < size) {
        const std::size_t n = std::min(size - fed, sizes.Next());
        const bool hadError = pieces.Error().has_value();
        const std::vector<AgwFrame> got = pieces.Feed(stream.subspan(fed, n));
        fed += n;
        if (hadError) FUZZ_CHECK(got.empty());
        for (const AgwFrame& f : got) {
            FUZZ_CHECK(f.data.size() == f.DataLength());
            FUZZ_CHECK(f.DataLength() <= kAgwMaxDataLength);
            handedOut += kAgwHeaderSize + f.data.size();
            if (f.Kind() == 'G') {
                const std::string line = PortInfoLine(f);
                FUZZ_CHECK(line.find('\0') == std::string::npos);
            }
        }
        frames.insert(frames.end(), got.begin(), got.end());
        if (!pieces.Error()) {
            // What is waiting is exactly the unfinished frame.
            FUZZ_CHECK(pieces.Pending() == fed - handedOut);
        } else {
            FUZZ_CHECK(pieces.Pending() == 0);
        }
    }

    // The frames, encoded again, are the stream's consumed prefix.
    const std::vector<std::uint8_t> again = Encoded(frames);
    FUZZ_CHECK(again.size() == handedOut);
    FUZZ_CHECK(again.size() <= size);
    FUZZ_CHECK(std::equal(again.begin(), again.end(), data));

    // The chunking makes no difference: all at once gives the same frames and outcome.
    AgwStreamSplitter whole;
    const std::vector<AgwFrame> all = whole.Feed(stream);
    FUZZ_CHECK(all.size() == frames.size());
    FUZZ_CHECK(Encoded(all) == again);
    FUZZ_CHECK(whole.Error().has_value() == pieces.Error().has_value());
    if (!whole.Error()) {
        // What is left is less than a whole frame.
        const std::size_t rest = size - again.size();
        if (rest >= kAgwHeaderSize) {
            const std::uint8_t* h = data + again.size() + kAgwLengthOffset;
            const std::uint64_t length = h[0] | h[1] << 8 | h[2] << 16 | std::uint64_t{h[3]} << 24;
            FUZZ_CHECK(rest < kAgwHeaderSize + length);
        }
    }
    // After an error nothing more comes out.
    if (whole.Error()) FUZZ_CHECK(whole.Feed(EncodeAgwFrame('G', {})).empty());
    return 0;
}
