#include "upload/UploadBody.h"

#include "telemetry/FrameText.h"

namespace tavrik {

std::string FormValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        const auto u = static_cast<unsigned char>(ch);
        if (u == '&' || u == '=' || u == '+' || u == '%' || u < 0x20 || u >= 0x7F) {
            out += '%';
            out += kHexDigits[u >> 4];
            out += kHexDigits[u & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string IsoTimestamp(std::string_view ts) {
    return std::string(ts.substr(0, 10)) + "T" + std::string(ts.substr(11, 12)) + "Z";
}

std::string ComposeUploadBody(std::string_view frameText, const StationConfig& config,
                              std::string_view noradId, std::string_view timestamp) {
    std::string_view frame = frameText.size() > 3 ? frameText.substr(3) : std::string_view{};
    while (!frame.empty() && frame.back() == ' ')
        frame.remove_suffix(1);
    std::string body;
    body.reserve(frame.size() + 160);
    body += "noradID=";
    body += noradId;
    body += "&source=";
    body += FormValue(config.mycall);
    body += "&timestamp=";
    body += IsoTimestamp(timestamp);
    body += "&frame=";
    body += frame;
    body += "&locator=longLat&longitude=";
    body += FormValue(config.qthLong);
    body += "&latitude=";
    body += FormValue(config.qthLat);
    body += "&tncPort=0";
    return body;
}

} // namespace tavrik
