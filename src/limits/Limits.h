#pragma once
// The operator's limits file: one field a line, the field's caption as the
// window shows it, then its limits in the window's units.
//
//   # caption        red-low  yellow-low  yellow-high  red-high  [persistence]
//   Batt volts       6800     7000        8300         8450      3
//   PA temp          -        -10         60           70
//   EPS track        yellow=HW default    red=SW fixed point
//
// "-" is no limit on that side. Persistence (default 1) is how many frames in
// a row must be in a new state before the state changes. The three fields
// shown as state names take yellow=NAME[,NAME...] and red=NAME[,NAME...]
// (names as the window shows them, case and blanks aside). A line that cannot
// be read is reported with its number and reason; the others are used.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "limits/LimitState.h"
#include "telemetry/FrameLayout.h"

namespace tavrik {

struct FieldLimits {
    std::optional<double> redLow, yellowLow, yellowHigh, redHigh;
    std::vector<int> yellowStates, redStates; // state values, for the state fields
    int persistence = 1;

    bool Any() const {
        return redLow || yellowLow || yellowHigh || redHigh || !yellowStates.empty() ||
               !redStates.empty();
    }
};

inline constexpr int kMaxPersistence = 1000;

// Limits by field index; a field without any is unchecked.
struct LimitsTable {
    std::array<FieldLimits, kFieldCount> fields{};

    int InForce() const; // how many fields have at least one limit
};

struct LimitsLineError {
    int line = 0;
    std::string reason;
};

// The bad lines told one by one; past these they are only counted, so a
// wrong file (a log, a data file) cannot flood the event log.
inline constexpr std::size_t kMaxLimitsErrors = 20;
// A limits file is a page of lines; anything larger is refused unread.
inline constexpr std::size_t kMaxLimitsBytes = 1u << 20;

struct LimitsParse {
    LimitsTable table;
    std::vector<LimitsLineError> errors; // the first kMaxLimitsErrors
    std::size_t moreErrors = 0;          // bad lines after those
};

LimitsParse ParseLimits(std::string_view text);

// The file read and parsed; `unreadable` says why when it could not be read
// (the table is then empty).
struct LimitsFileRead {
    LimitsParse parse;
    std::string unreadable;
};
LimitsFileRead ReadLimitsFile(const std::string& path);

// "line 7: unknown caption "Bat volts""
std::string ErrorText(const LimitsLineError& e);
// "and 49 980 more bad lines"; empty when there are none.
std::string MoreErrorsText(const LimitsParse& p);

// Where one value stands, this frame alone. A value on a limit is inside it:
// only a value below a low limit or above a high one is out.
FieldLimitState Classify(const FieldLimits& limits, double value);
FrameLimitStates ClassifyAll(const LimitsTable& table, const std::array<double, kFieldCount>& v);

// The limit a value in that state is beyond (nothing for a state field).
std::optional<double> CrossedLimit(const FieldLimits& limits, FieldLimitState state);

// A number as the file would give it: "6800", "-10", "0.5".
std::string LimitNumber(double v);

} // namespace tavrik
