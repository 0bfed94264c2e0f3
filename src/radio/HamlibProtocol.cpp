#include "radio/HamlibProtocol.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "radio/RotatorTracker.h"

namespace tavrik {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<int> ReportStatus(std::string_view line) {
    line = Trim(line);
    if (!line.starts_with("RPRT ")) return std::nullopt;
    line.remove_prefix(5);
    int v = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), v);
    if (ec != std::errc{} || ptr != line.data() + line.size()) return std::nullopt;
    return v;
}

} // namespace

HamlibCommand SetFrequencyCommand(std::int64_t hz) {
    return {"F " + std::to_string(hz) + "\n", 0};
}
HamlibCommand GetFrequencyCommand() {
    return {"f\n", 1};
}
HamlibCommand SetPositionCommand(double azimuthDeg, double elevationDeg) {
    char text[64];
    std::snprintf(text, sizeof text, "P %.2f %.2f\n", azimuthDeg, elevationDeg);
    return {text, 0};
}
HamlibCommand GetPositionCommand() {
    return {"p\n", 2};
}
HamlibCommand StopCommand() {
    return {"S\n", 0};
}
HamlibCommand DumpCapsCommand() {
    return {"\\dump_caps\n", -1};
}

bool HamlibReply::Feed(std::string_view line) {
    if (complete_) return true;
    if (const std::optional<int> status = ReportStatus(line)) {
        // A report ends every answer: the values of a "get" that failed never come.
        status_ = *status;
        complete_ = true;
        return true;
    }
    values_.emplace_back(Trim(line));
    if (valueLines_ >= 0 && static_cast<int>(values_.size()) >= valueLines_) complete_ = true;
    return complete_;
}

std::string HamlibErrorText(int status) {
    static constexpr const char* kNames[] = {
        "done",
        "invalid parameter",
        "invalid configuration",
        "out of memory",
        "not implemented",
        "the radio did not answer in time",
        "input/output error",
        "internal Hamlib error",
        "protocol error",
        "command rejected by the radio",
        "argument truncated",
        "feature not available",
        "VFO not targetable",
        "communication bus error",
        "communication bus collision",
        "invalid pointer",
        "invalid VFO",
        "argument out of range",
    };
    const int n = status < 0 ? -status : status;
    std::string text = "RPRT " + std::to_string(status);
    if (n < static_cast<int>(std::size(kNames))) text += std::string(" (") + kNames[n] + ")";
    return text;
}

std::optional<double> HamlibNumber(std::string_view text) {
    text = Trim(text);
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool ReadRotatorLimits(const std::vector<std::string>& capsLines, RotatorLimits& limits) {
    RotatorLimits read = limits;
    int found = 0;
    for (const std::string& line : capsLines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string_view key = Trim(std::string_view(line).substr(0, colon));
        const std::optional<double> v = HamlibNumber(std::string_view(line).substr(colon + 1));
        if (!v) continue;
        if (key == "Min Azimuth")
            read.minAzimuthDeg = *v, ++found;
        else if (key == "Max Azimuth")
            read.maxAzimuthDeg = *v, ++found;
        else if (key == "Min Elevation")
            read.minElevationDeg = *v, ++found;
        else if (key == "Max Elevation")
            read.maxElevationDeg = *v, ++found;
    }
    // A range that holds nothing is no range to plan with.
    if (found == 0 || read.maxAzimuthDeg <= read.minAzimuthDeg ||
        read.maxElevationDeg < read.minElevationDeg)
        return false;
    limits = read;
    return true;
}

} // namespace tavrik
