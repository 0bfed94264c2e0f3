// Element-set files of any content: every refusal names its line, and what is
// read is propagated and searched for passes without a crash, a hang or a
// pass out of order.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "sky/SkyPredictor.h"

using namespace tavrik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TleFile file = ParseTles(text);
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    int last = 0;
    for (const std::string& e : file.errors) {
        FUZZ_CHECK(e.starts_with("line "));
        const int line = std::stoi(e.substr(5));
        FUZZ_CHECK(line > last && line <= lines);
        last = line;
    }
    for (const Tle& t : file.sets) {
        FUZZ_CHECK(t.lineNumber >= 1 && t.lineNumber < lines);
        FUZZ_CHECK(t.ecco >= 0 && t.ecco < 0.999 && t.noKozai > 0);
        std::string why;
        const auto sky = SkyPredictor::Create(SetsFor(file.sets, std::to_string(t.catalogue)),
                                              {51.5, -0.1, 35}, 5, why);
        if (!sky) {
            FUZZ_CHECK(!why.empty());
            continue;
        }
        const std::int64_t from = t.epochMs, until = from + 86400000;
        std::int64_t previousLos = from - 86400000;
        for (const Pass& p : sky->Passes(from, until, &why)) {
            FUZZ_CHECK(p.aosMs <= p.tcaMs && p.tcaMs <= p.losMs);
            FUZZ_CHECK(p.losMs > from && p.aosMs < until && p.aosMs > previousLos);
            FUZZ_CHECK(p.maxElevationDeg > 4.99 && p.maxElevationDeg <= 90);
            previousLos = p.losMs;
        }
        if (const auto at = sky->At(from + 1234567))
            FUZZ_CHECK(std::fabs(at->elevationDeg) <= 90 && at->azimuthDeg >= 0 &&
                       at->azimuthDeg < 360);
    }
    return 0;
}
