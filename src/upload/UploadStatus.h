#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrik {

// The transfer states of one request, reported by number (1..12); the state
// list shows their names. Every request ends in Error or ResponseCompleted.
enum class TransferState : int {
    HostResolvingHost = 1,
    HostResolved,
    Connecting,
    Connected,
    Requesting,
    RequestSent,
    ReceivingResponse,
    ResponseReceived,
    Disconnecting,
    Disconnected,
    Error,
    ResponseCompleted,
};
inline constexpr int kStateError = static_cast<int>(TransferState::Error);
inline constexpr int kStateResponseCompleted = static_cast<int>(TransferState::ResponseCompleted);

// One state of one request, as every uploader reports it: a value the
// receiver keeps, complete in itself.
struct TransferReport {
    std::string server{}; // the URL the request went to
    TransferState state = TransferState::HostResolvingHost;
    int errorCode = 0;       // Error: the network error number
    std::string errorText{}; // Error: what went wrong
    int httpStatus = 0;      // ResponseCompleted: the answer's status
    std::string header{};    // ResponseCompleted: the response header, lines ending CR LF
    std::string logLine{};   // Error, ResponseCompleted: the event-log text; empty before
};

// The state a number stands for; none for 0 and any other unknown number.
std::optional<TransferState> TransferStateFromNumber(int state);
// "icHostResolvingHost".."icResponseCompleted"
std::string_view TransferStateName(TransferState state);
// The same by number; "" for any other number.
std::string TransferStateName(int state);

// The event-log text of a failed transfer: the code in decimal, one blank in
// front when it is not negative, then ": " and the text.
// (12, "x") -> " 12: x"; (-3, "x") -> "-3: x"
std::string ErrorLogText(int code, std::string_view text);

// The response header as one event-log line: every CR LF becomes one blank.
std::string HeaderLogText(std::string_view header);

// A delivered upload is one the server accepted with a 2xx status.
bool IsSuccessStatus(int httpStatus);

// The server (401) or a proxy (407) wants credentials.
bool IsAccessDenied(int httpStatus);

inline constexpr std::string_view kAccessDeniedLine =
    "Access is denied. Try adding a Username and Password";

// What the window does with a completed response.
struct ResponseVerdict {
    bool countAsOk = false;           // add one to the "HTTP POST OK" counter
    bool addAccessDeniedLine = false; // put kAccessDeniedLine above the header line
};
ResponseVerdict JudgeResponse(int httpStatus);

// The response header text as a raw HTTP/1.1 header would read: the status
// line, then one "Name: value" line per field, each ending CR LF. CR and LF
// inside a reason or value are turned into blanks so that one field never
// spills over several lines. An empty reason leaves just "HTTP/1.1 <code>".
std::string ComposeResponseHeader(int httpStatus, std::string_view reason,
                                  const std::vector<std::pair<std::string, std::string>>& fields);

} // namespace tavrik
