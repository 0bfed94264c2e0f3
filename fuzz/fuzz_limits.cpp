// The limits file parser and the checking over arbitrary file contents.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "limits/LimitsChecker.h"

using namespace tavrik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const LimitsParse p = ParseLimits(text);
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    int last = 0;
    for (const LimitsLineError& e : p.errors) {
        // In file order, one per line at most, each with a reason of a log line's length.
        FUZZ_CHECK(e.line > last && e.line <= lines);
        FUZZ_CHECK(!e.reason.empty() && e.reason.size() < 400);
        for (const char c : e.reason)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        last = e.line;
    }
    std::array<double, kFieldCount> values{};
    int persistence = 1;
    for (std::size_t f = 0; f < p.table.fields.size(); ++f) {
        const FieldLimits& l = p.table.fields[f];
        FUZZ_CHECK(l.persistence >= 1 && l.persistence <= kMaxPersistence);
        persistence = std::max(persistence, l.persistence);
        FUZZ_CHECK(l.yellowStates.size() <= 256 && l.redStates.size() <= 256);
        const std::optional<double> order[4] = {l.redLow, l.yellowLow, l.yellowHigh, l.redHigh};
        std::optional<double> before;
        for (const auto& v : order) {
            if (!v) continue;
            FUZZ_CHECK(!before || *before <= *v);
            before = v;
        }
        values[f] = l.redLow              ? std::nextafter(*l.redLow, -HUGE_VAL)
                    : l.redStates.empty() ? 0
                                          : l.redStates.front();
    }
    // A value below its red-low limit (or in a red state) is red, whatever else the line says.
    LimitsChecker checker;
    checker.SetTable(p.table);
    for (int i = 0; i < persistence; ++i) {
        const LimitsChecker::Result r = checker.Check(values);
        for (const LimitChange& c : r.changes)
            FUZZ_CHECK(!c.LogLine().empty());
    }
    for (std::size_t f = 0; f < values.size(); ++f) {
        const FieldLimits& l = p.table.fields[f];
        if (l.redLow || !l.redStates.empty())
            FUZZ_CHECK(checker.Current().fields[f].level == LimitLevel::Red);
    }
    return 0;
}
