#pragma once
#include <string>
#include <string_view>

#include "time/Clock.h"

namespace tavrik {

// <folder>/<MYCALL made file-name safe>_<ddmmyyyy_hhmm UTC>.txt
std::string DebugFileName(const std::string& folder, std::string_view mycall, const DateTime& utc);

// The debug file's bytes: version, event log, imported frames and the
// configuration file copied unchanged, between separators, lines ending CR LF.
std::string DebugFileText(std::string_view eventLog, std::string_view importedFrames,
                          std::string_view configBytes);

struct DebugFileOutcome {
    bool configRead = true; // false: the file was written without the configuration
    bool written = true;
};

// Writes the debug file `name`, the configuration file at configPath copied in.
DebugFileOutcome WriteDebugFile(const std::string& name, std::string_view eventLog,
                                std::string_view importedFrames, const std::string& configPath);

} // namespace tavrik
