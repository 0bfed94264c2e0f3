#pragma once
#include <string>
#include <string_view>

#include "files/StationConfig.h"

namespace tavrik {

// The form-encoded upload body of a telemetry frame. frameText is the frame's
// hex text (port byte first), timestamp a 23-character UtcTimestamp.
std::string ComposeUploadBody(std::string_view frameText, const StationConfig& config,
                              std::string_view noradId, std::string_view timestamp);

// "2024-03-05 14:07:09.250" -> "2024-03-05T14:07:09.250Z"
std::string IsoTimestamp(std::string_view timestamp);

// Percent-encodes the characters that would break a form field apart or that
// are not plain ASCII: & = + % , control characters and bytes above 126.
std::string FormValue(std::string_view value);

} // namespace tavrik
