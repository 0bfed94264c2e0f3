#include <gtest/gtest.h>

#include "upload/UploadStatus.h"

using namespace tavrik;

TEST(UploadStatus, StateNamesCoverTheTwelveStates) {
    const struct {
        int state;
        const char* name;
    } cases[] = {
        {1, "icHostResolvingHost"}, {2, "icHostResolved"},     {3, "icConnecting"},
        {4, "icConnected"},         {5, "icRequesting"},       {6, "icRequestSent"},
        {7, "icReceivingResponse"}, {8, "icResponseReceived"}, {9, "icDisconnecting"},
        {10, "icDisconnected"},     {11, "icError"},           {12, "icResponseCompleted"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TransferStateName(c.state), c.name) << c.state;
    EXPECT_EQ(TransferStateName(kStateError), "icError");
    EXPECT_EQ(TransferStateName(kStateResponseCompleted), "icResponseCompleted");
}

TEST(UploadStatus, OtherStateNumbersHaveNoName) {
    for (int state : {0, -1, 13, 255, -32768, 32767})
        EXPECT_EQ(TransferStateName(state), "") << state;
}

TEST(UploadStatus, ErrorLogText) {
    const struct {
        int code;
        std::string_view text;
        const char* expected;
    } cases[] = {
        {12, "x", " 12: x"},
        {-3, "x", "-3: x"},
        {0, "ok?", " 0: ok?"},
        {1, "Connection refused", " 1: Connection refused"},
        {7, "", " 7: "}, // an empty text still leaves the ": "
        {-1, "", "-1: "},
        {2147483647, "max", " 2147483647: max"},
        {-2147483647 - 1, "min", "-2147483648: min"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorLogText(c.code, c.text), c.expected) << c.code;
}

TEST(UploadStatus, HeaderLogTextJoinsLines) {
    const struct {
        std::string_view header;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK "},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "HTTP/1.1 200 OK Content-Length: 2  "},
        {"a\r\n\r\nb", "a  b"},
        // Only the pair counts: lone CR or LF are left as they are.
        {"a\rb\nc", "a\rb\nc"},
        {"a\n\r\nb", "a\n b"},
        {"a\r\r\nb", "a\r b"},
        {"\r\n", " "},
        {"\r", "\r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HeaderLogText(c.header), c.expected) << testing::PrintToString(c.header);
}

TEST(UploadStatus, VerdictFollowsTheStatusNotDigitsInTheHeader) {
    const struct {
        int status;
        bool ok;
        bool denied;
    } cases[] = {
        {200, true, false},   {201, true, false},   {204, true, false},   {299, true, false},
        {199, false, false},  {300, false, false},  {302, false, false},  {400, false, false},
        {401, false, true},   {403, false, false},  {404, false, false},  {407, false, true},
        {500, false, false},  {502, false, false},  {0, false, false},    {-1, false, false},
        {2000, false, false}, {1200, false, false}, {4010, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSuccessStatus(c.status), c.ok) << c.status;
        EXPECT_EQ(IsAccessDenied(c.status), c.denied) << c.status;
        const ResponseVerdict v = JudgeResponse(c.status);
        EXPECT_EQ(v.countAsOk, c.ok) << c.status;
        EXPECT_EQ(v.addAccessDeniedLine, c.denied) << c.status;
    }
}

TEST(UploadStatus, AccessDeniedLine) {
    EXPECT_EQ(kAccessDeniedLine, "Access is denied. Try adding a Username and Password");
}

TEST(UploadStatus, ComposeResponseHeader) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    const struct {
        int status;
        std::string_view reason;
        Fields fields;
        const char* expected;
    } cases[] = {
        {200, "OK", {}, "HTTP/1.1 200 OK\r\n"},
        {201,
         "Created",
         {{"Content-Length", "200"}, {"Server", "t"}},
         "HTTP/1.1 201 Created\r\nContent-Length: 200\r\nServer: t\r\n"},
        {500,
         "Internal Server Error",
         {{"Content-Length", "1200"}},
         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 1200\r\n"},
        {204, "", {{"X", ""}}, "HTTP/1.1 204\r\nX: \r\n"},
        // Joined repeated fields and odd reasons stay on their own line.
        {200,
         "O\r\nK",
         {{"Set-Cookie", "a=1\nb=2"}},
         "HTTP/1.1 200 O  K\r\nSet-Cookie: a=1 b=2\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposeResponseHeader(c.status, c.reason, c.fields), c.expected) << c.status;
}

TEST(UploadStatus, ComposedHeaderBecomesOneLogLine) {
    const std::string header =
        ComposeResponseHeader(500, "Internal Server Error", {{"Content-Length", "1200"}});
    EXPECT_EQ(HeaderLogText(header), "HTTP/1.1 500 Internal Server Error Content-Length: 1200 ");
    // The old substring test would have counted this; the status does not.
    EXPECT_NE(HeaderLogText(header).find("200"), std::string::npos);
    EXPECT_FALSE(JudgeResponse(500).countAsOk);
}
