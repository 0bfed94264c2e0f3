// Inputs that the fuzz targets (fuzz/) found to break an invariant, each kept
// as a unit test beside the fix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test_support.h"
#include "intake/Agw.h"

using namespace tavrik;
using tavrik::test::Bytes;
using tavrik::test::Concat;

namespace {

// A whole frame followed by part of the next: what waits is the part only,
// whichever way the stream was cut up (found by fuzz_agw_splitter: Pending()
// counted the frames already handed out while they were still in the buffer).
TEST(FuzzRegressions, AgwPendingCountsOnlyTheUnfinishedFrame) {
    const Bytes first = EncodeAgwFrame('K', Bytes(120, 0x55));
    const Bytes second = EncodeAgwFrame('K', Bytes(40, 0xAA));
    const Bytes stream = Concat({first, second});
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces; // sizes; the rest of the stream comes last
    };
    const std::vector<Case> cases = {
        {"frame and a few bytes", {first.size() + 5}},
        {"frame and a whole header", {first.size() + kAgwHeaderSize}},
        {"frame and all but one byte", {stream.size() - 1}},
        {"partial header, then frame and part", {10, first.size()}},
        {"byte by byte", std::vector<std::size_t>(stream.size() - 1, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgwStreamSplitter s;
        std::size_t fed = 0;
        std::size_t handedOut = 0;
        for (std::size_t n : c.pieces) {
            for (const AgwFrame& f : s.Feed(std::span(stream).subspan(fed, n)))
                handedOut += kAgwHeaderSize + f.data.size();
            fed += n;
            ASSERT_EQ(s.Pending(), fed - handedOut) << "after " << fed << " bytes";
        }
        EXPECT_GT(s.Pending(), 0u);
        for (const AgwFrame& f : s.Feed(std::span(stream).subspan(fed)))
            handedOut += kAgwHeaderSize + f.data.size();
        EXPECT_EQ(s.Pending(), 0u);
        EXPECT_FALSE(s.Error());
        EXPECT_EQ(handedOut, stream.size());
    }
}

} // namespace
