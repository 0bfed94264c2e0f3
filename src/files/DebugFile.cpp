#include "files/DebugFile.h"

#include <fstream>
#include <iterator>

#include "files/StationConfig.h"
#include "files/Version.h"

namespace tavrik {

std::string DebugFileName(const std::string& folder, std::string_view mycall, const DateTime& utc) {
    return StationFileName(folder, mycall, utc, ".txt");
}

std::string DebugFileText(std::string_view eventLog, std::string_view importedFrames,
                          std::string_view configBytes) {
    static constexpr std::string_view kSep = "----------------------------------------------------";
    static constexpr std::string_view kEol = "\r\n";
    std::string s;
    s.reserve(eventLog.size() + importedFrames.size() + configBytes.size() + 512);
    auto line = [&](std::string_view t) {
        s += t;
        s += kEol;
    };
    line("Debugfile Tavrik Online Telemetry Decoder (Veskar)");
    line(std::string("Version: ") + std::string(kVersionText));
    line(kSep);
    line(eventLog);
    line(kSep);
    line(importedFrames);
    line(kSep);
    line(configBytes);
    line(kSep);
    line("thanks 73, Brell ");
    line("Veskar");
    return s;
}

DebugFileOutcome WriteDebugFile(const std::string& name, std::string_view eventLog,
                                std::string_view importedFrames, const std::string& configPath) {
    DebugFileOutcome outcome;
    std::string configBytes;
    if (std::ifstream in(configPath, std::ios::binary); in)
        configBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    else
        outcome.configRead = false;
    // A debug file is made to be sent to others: the tokens stay at home.
    const std::string text =
        DebugFileText(eventLog, importedFrames, HideSecretSettings(configBytes));
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    outcome.written = static_cast<bool>(out);
    return outcome;
}

} // namespace tavrik
