#pragma once
// The satellite's telemetry frame: one table describes every field once, for
// the decoder, the panel captions and the value texts alike.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

inline constexpr int kFieldCount = 46;

enum class FieldType { U8, U16, S16 };
enum class Calibration { Raw, Scale, Square, NegLinear };
enum class Display { Whole, Hex, Fixed2, OpsState, EpsModeState, EpsTrackState };

struct FieldSpec {
    int index;
    std::string_view caption;
    int position; // frame position of the (low) byte, counted from 1
    FieldType type;
    Calibration calibration;
    double factor; // Scale: factor * raw; Square: factor * raw^2; NegLinear: -factor * raw + offset
    double offset;
    std::string_view unit;
    Display display;
};

const std::array<FieldSpec, kFieldCount>& FieldTable();
const FieldSpec& Field(int index);

// Positions 19 and 20 must both hold 1; the layout reads up to position 111.
inline constexpr int kCheckPositionA = 19;
inline constexpr int kCheckPositionB = 20;
inline constexpr int kLastFieldPosition = 111;

// The satellite's catalogue number as sent in uploads.
inline constexpr std::string_view kNoradId = "99999";

// The value box text for a field, or nothing when a state value is not one of
// the field's named states (the box then keeps what it showed).
std::optional<std::string> ValueText(int index, double value);

} // namespace tavrik
