#pragma once
#include <string>
#include <string_view>

#include "time/Clock.h"

namespace tavrik {

inline constexpr std::string_view kVersionText = "0.3";
inline constexpr std::string_view kReleaseDateText = "24 January 2016";

// <folder>/<MYCALL made file-name safe>_<ddmmyyyy_hhmm UTC>.txt
std::string DebugFileName(const std::string& folder, std::string_view mycall, const DateTime& utc);

// The debug file's bytes: version, event log, imported frames and the
// configuration file copied unchanged, between separators, lines ending CR LF.
std::string DebugFileText(std::string_view eventLog, std::string_view importedFrames,
                          std::string_view configBytes);

} // namespace tavrik
