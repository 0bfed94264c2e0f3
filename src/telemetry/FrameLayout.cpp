#include "telemetry/FrameLayout.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tavrik {

namespace {

using FT = FieldType;
using C = Calibration;
using D = Display;

constexpr double kPow = 0.000239;

// clang-format off
constexpr std::array<FieldSpec, kFieldCount> kTable{{
    { 0, "OPS mode",    22, FT::U8,  C::Raw,       0, 0,      "",   D::OpsState},
    { 1, "Boot cnt",    23, FT::U16, C::Raw,       0, 0,      "",   D::Whole},
    { 2, "Packet cnt",  25, FT::U16, C::Raw,       0, 0,      "",   D::Whole},
    { 3, "Cmd rx",      27, FT::U8,  C::Raw,       0, 0,      "",   D::Whole},
    { 4, "Cmd valid",   28, FT::U8,  C::Raw,       0, 0,      "",   D::Whole},
    { 5, "Uptime",      29, FT::U16, C::Raw,       0, 0,      "s",  D::Whole},
    { 6, "Doppler",     36, FT::U16, C::Raw,       0, 0,      "",   D::Whole},
    { 7, "RSSI",        38, FT::U16, C::Raw,       0, 0,      "",   D::Whole},
    { 8, "refl pow",    40, FT::U16, C::Square,    kPow, 0,   "mW", D::Fixed2},
    { 9, "forw pow",    42, FT::U16, C::Square,    kPow, 0,   "mW", D::Fixed2},
    {10, "TX curr",     44, FT::U16, C::Scale,     0.395, 0,  "mA", D::Fixed2},
    {11, "RX curr",     46, FT::U16, C::Scale,     0.395, 0,  "mA", D::Fixed2},
    {12, "PA temp",     48, FT::U16, C::NegLinear, 0.2959, 190.0, "C", D::Fixed2},
    {13, "Bus voltage", 50, FT::U16, C::Scale,     0.016129, 0, "V", D::Fixed2},
    {14, "Depl side A", 52, FT::U16, C::Raw,       0, 0,      "",   D::Hex},
    {15, "Temp side A", 54, FT::U16, C::NegLinear, 0.2922, 190.65, "C", D::Fixed2},
    {16, "Depl side B", 56, FT::U16, C::Raw,       0, 0,      "",   D::Hex},
    {17, "Temp side B", 58, FT::U16, C::NegLinear, 0.2922, 190.65, "C", D::Fixed2},
    {18, "SP1 volts",   60, FT::U16, C::Raw,       0, 0,      "mV", D::Whole},
    {19, "SP2 volts",   62, FT::U16, C::Raw,       0, 0,      "mV", D::Whole},
    {20, "SP3 volts",   64, FT::U16, C::Raw,       0, 0,      "mV", D::Whole},
    {21, "Batt volts",  66, FT::U16, C::Raw,       0, 0,      "mV", D::Whole},
    {22, "SP1 curr",    68, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {23, "SP2 curr",    70, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {24, "SP3 curr",    72, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {25, "Solar curr",  74, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {26, "Total curr",  76, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {27, "3v3 #1 curr", 78, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {28, "3v3 #2 curr", 80, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {29, "3v3 #3 curr", 82, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {30, "5v #1 curr",  84, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {31, "5v #2 curr",  86, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {32, "5v #3 curr",  88, FT::U16, C::Raw,       0, 0,      "mA", D::Whole},
    {33, "temp BC #1",  90, FT::S16, C::Raw,       0, 0,      "C",  D::Whole},
    {34, "temp BC #2",  92, FT::S16, C::Raw,       0, 0,      "C",  D::Whole},
    {35, "temp BC #3",  94, FT::S16, C::Raw,       0, 0,      "C",  D::Whole},
    {36, "batt temp",   96, FT::S16, C::Raw,       0, 0,      "C",  D::Whole},
    {37, "Ch status",   98, FT::U8,  C::Raw,       0, 0,      "",   D::Hex},
    {38, "EPS boot",    99, FT::U8,  C::Raw,       0, 0,      "",   D::Hex},
    {39, "EPS mode",   100, FT::U8,  C::Raw,       0, 0,      "",   D::EpsModeState},
    {40, "EPS track",  101, FT::U8,  C::Raw,       0, 0,      "",   D::EpsTrackState},
    {41, "Temp SP0",   102, FT::S16, C::Scale,     0.015625, 0, "C", D::Fixed2},
    {42, "Temp SP1",   104, FT::S16, C::Scale,     0.015625, 0, "C", D::Fixed2},
    {43, "Temp SP2",   106, FT::S16, C::Scale,     0.015625, 0, "C", D::Fixed2},
    {44, "Temp SP3",   108, FT::S16, C::Scale,     0.015625, 0, "C", D::Fixed2},
    {45, "Temp SP4",   110, FT::S16, C::Scale,     0.015625, 0, "C", D::Fixed2},
}};
// clang-format on

constexpr bool TableIsIndexed() {
    for (int i = 0; i < kFieldCount; ++i)
        if (kTable[static_cast<std::size_t>(i)].index != i) return false;
    return true;
}
static_assert(TableIsIndexed(), "field table rows must be in index order");

std::optional<std::string> StateName(Display d, double v) {
    const long long n = std::llround(v);
    if (static_cast<double>(n) != v) return std::nullopt;
    switch (d) {
    case D::OpsState:
        switch (n) {
        case 0: return "idle";
        case 1: return "deploy";
        case 2: return "norm";
        case 130: return "norm safe";
        }
        break;
    case D::EpsModeState:
        switch (n) {
        case 0: return "begin";
        case 1: return "crit";
        case 2: return "safe";
        case 3: return "norm";
        case 4: return "full";
        }
        break;
    case D::EpsTrackState:
        switch (n) {
        case 0: return "HW default";
        case 1: return "max power";
        case 2: return "SW fixed point";
        }
        break;
    default: break;
    }
    return std::nullopt;
}

} // namespace

const std::array<FieldSpec, kFieldCount>& FieldTable() { return kTable; }

const FieldSpec& Field(int index) {
    if (index < 0 || index >= kFieldCount) throw std::out_of_range("field index outside 0 to 45");
    return kTable[static_cast<std::size_t>(index)];
}

std::optional<std::string> ValueText(int index, double v) {
    const FieldSpec& f = Field(index);
    char buf[64];
    switch (f.display) {
    case D::Whole:
        std::snprintf(buf, sizeof buf, "%lld", std::llround(v));
        return std::string(buf);
    case D::Hex:
        std::snprintf(buf, sizeof buf, "&H%llX", static_cast<unsigned long long>(std::llround(v)));
        return std::string(buf);
    case D::Fixed2: {
        std::snprintf(buf, sizeof buf, "%.2f", v);
        std::string s(buf);
        if (s == "-0.00") s = "0.00"; // a tiny negative rounds to zero, not to "minus zero"
        return s;
    }
    default: return StateName(f.display, v);
    }
}

} // namespace tavrik
