#include "upload/UploadStatus.h"

#include <array>

namespace tavrik {

namespace {

constexpr std::array<std::string_view, 12> kStateNames = {
    "icHostResolvingHost",
    "icHostResolved",
    "icConnecting",
    "icConnected",
    "icRequesting",
    "icRequestSent",
    "icReceivingResponse",
    "icResponseReceived",
    "icDisconnecting",
    "icDisconnected",
    "icError",
    "icResponseCompleted",
};

void AppendOneLine(std::string& out, std::string_view text) {
    for (char ch : text)
        out += (ch == '\r' || ch == '\n') ? ' ' : ch;
}

} // namespace

std::optional<TransferState> TransferStateFromNumber(int state) {
    if (state < 1 || state > static_cast<int>(kStateNames.size())) return std::nullopt;
    return static_cast<TransferState>(state);
}

std::string_view TransferStateName(TransferState state) {
    return kStateNames[static_cast<std::size_t>(state) - 1];
}

std::string TransferStateName(int state) {
    const std::optional<TransferState> known = TransferStateFromNumber(state);
    return known ? std::string(TransferStateName(*known)) : std::string();
}

std::string ErrorLogText(int code, std::string_view text) {
    std::string out;
    if (code >= 0) out += ' ';
    out += std::to_string(code);
    out += ": ";
    out += text;
    return out;
}

std::string HeaderLogText(std::string_view header) {
    std::string out;
    out.reserve(header.size());
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == '\r' && i + 1 < header.size() && header[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else {
            out += header[i];
        }
    }
    return out;
}

bool IsSuccessStatus(int httpStatus) {
    return httpStatus >= 200 && httpStatus <= 299;
}

bool IsAccessDenied(int httpStatus) {
    return httpStatus == 401 || httpStatus == 407;
}

ResponseVerdict JudgeResponse(int httpStatus) {
    return {IsSuccessStatus(httpStatus), IsAccessDenied(httpStatus)};
}

std::string ComposeResponseHeader(int httpStatus, std::string_view reason,
                                  const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out = "HTTP/1.1 " + std::to_string(httpStatus);
    if (!reason.empty()) {
        out += ' ';
        AppendOneLine(out, reason);
    }
    out += "\r\n";
    for (const auto& [name, value] : fields) {
        AppendOneLine(out, name);
        out += ": ";
        AppendOneLine(out, value);
        out += "\r\n";
    }
    return out;
}

} // namespace tavrik
