// Telemetry frames from the window to telemetry servers on 127.0.0.1.
#include <QElapsedTimer>
#include <QTcpServer>

#include "form_fixture.h"
#include "http_test_server.h"
#include "telemetry/FrameText.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;
using tavrik::test::HttpTestServer;
using tavrik::test::ScriptedReply;

namespace {

class UploadTest : public FormFixture {
  protected:
    void SetUp() override {
        ASSERT_TRUE(primary.Listen());
        ASSERT_TRUE(backup.Listen());
    }
    Form1& StartWith(const QString& server, const QString& serverBackup) {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        WriteConfig("PORT=127.0.0.1:" + std::to_string(s.serverPort()) +
                    "\r\nMYCALL=N0CALL\r\nSERVER=" + server.toStdString() + "\r\nSERVER_BACKUP=" +
                    serverBackup.toStdString() + "\r\nQTH_LAT=48.1\r\nQTH_LONG=11.5\r\n");
        s.close();
        return Start();
    }
    static std::string FrameField(const Bytes& frame) {
        std::string t = TelemetryFrameText(frame).substr(3);
        while (!t.empty() && t.back() == ' ')
            t.pop_back();
        return t;
    }
    bool LogHas(const std::string& text) {
        for (std::size_t i = 0; i < form->Events().Size(); ++i)
            if (EntryText(i) == text) return true;
        return false;
    }

    HttpTestServer primary;
    HttpTestServer backup;
};

} // namespace

TEST_F(UploadTest, EveryTelemetryFrameReachesBothServersInOrderAndIsCounted) {
    Form1& f = StartWith(primary.Url("/a?x=1"), backup.Url("/b"));
    std::vector<Bytes> frames;
    for (long uptime : {1, 2, 3}) {
        std::vector<long> raw(46, 0);
        raw[5] = uptime;
        frames.push_back(TelemetryFrame(raw));
        f.Pipeline().ProcessRawFrame(frames.back()); // three frames arrive at once
    }
    f.Pipeline().ProcessRawFrame(ForeignFrame()); // never uploaded
    ASSERT_TRUE(WaitFor([&] { return f.PostOkCount() == 6; }, 20000)) << f.PostOkCount();
    ASSERT_EQ(primary.Requests().size(), 3);
    ASSERT_EQ(backup.Requests().size(), 3);
    for (int i = 0; i < 3; ++i) {
        for (const HttpTestServer* server : {&primary, &backup}) {
            const auto& req = server->Requests()[i];
            EXPECT_EQ(req.requestLine,
                      server == &primary ? "POST /a?x=1 HTTP/1.1" : "POST /b HTTP/1.1");
            EXPECT_EQ(req.HeaderValues("Content-Type"),
                      QList<QByteArray>{"application/x-www-form-urlencoded"});
            const std::string body = req.body.toStdString();
            EXPECT_EQ(
                body.rfind("noradID=99999&source=N0CALL&timestamp=2024-03-05T14:07:09.250Z&frame=" +
                               FrameField(frames[static_cast<std::size_t>(i)]) +
                               "&locator=longLat&longitude=11.5&latitude=48.1&tncPort=0",
                           0),
                0u)
                << body;
            EXPECT_EQ(body.size(), static_cast<std::size_t>(req.body.size()));
        }
    }
    EXPECT_EQ(f.Label7->text(), "RX packets: 3 | HTTP POST OK: 6");
    // List3 holds the states of the last run's two requests, from its start.
    EXPECT_EQ(f.List3().first(), "icHostResolvingHost");
    EXPECT_EQ(f.List3().count("icResponseCompleted"), 2);
    EXPECT_TRUE(LogHas("HTTP/1.1 200 OK Content-Length: 0 ")) << EntryText(0);
}

TEST_F(UploadTest, StatusesAreCountedHonestly) {
    Form1& f = StartWith(primary.Url("/"), QString());
    primary.Script({ScriptedReply::Status(500, "Internal Server Error",
                                          {{"Content-Length", "1200"}}, QByteArray(1200, 'e')),
                    ScriptedReply::Status(201, "Created"),
                    ScriptedReply::Status(401, "Unauthorized")});
    for (int i = 0; i < 3; ++i)
        f.Post_Packet_Click(); // the button, before any frame: an empty body
    ASSERT_TRUE(WaitFor(
        [&] { return f.List3().count("icResponseCompleted") == 1 && !f.Inet1().Busy(); }, 20000));
    ASSERT_EQ(primary.Requests().size(), 3);
    for (const auto& r : primary.Requests())
        EXPECT_TRUE(r.body.isEmpty());
    EXPECT_EQ(f.PostOkCount(), 1); // the 201 only
    EXPECT_EQ(EntryText(0), "Access is denied. Try adding a Username and Password");
    EXPECT_EQ(Entry(0), "Access is denied. Try adding a Username and Password"); // no timestamp
    EXPECT_EQ(EntryText(1).rfind("HTTP/1.1 401 Unauthorized ", 0), 0u) << EntryText(1);
    EXPECT_EQ(f.Label7->text(), "RX packets: 0 | HTTP POST OK: 1");
}

TEST_F(UploadTest, UncheckedBoxComposesButSendsNothing) {
    Form1& f = StartWith(primary.Url("/"), backup.Url("/"));
    f.Check1->setChecked(false);
    f.Pipeline().ProcessRawFrame(TelemetryFrame(std::vector<long>(46, 0)));
    QTest::qWait(200);
    EXPECT_FALSE(f.Pipeline().UploadBody().empty());
    EXPECT_TRUE(primary.Requests().isEmpty());
    EXPECT_EQ(primary.Connections(), 0);
}

TEST_F(UploadTest, RefusedServerIsLoggedAndTheBackupStillReceives) {
    Form1& f = StartWith(QStringLiteral("http://127.0.0.1:%1/").arg(tavrik::test::ClosedPort()),
                         backup.Url("/"));
    f.Pipeline().ProcessRawFrame(TelemetryFrame(std::vector<long>(46, 0)));
    ASSERT_TRUE(
        WaitFor([&] { return backup.Requests().size() == 1 && f.PostOkCount() == 1; }, 20000));
    bool errorLine = false;
    for (std::size_t i = 0; i < f.Events().Size(); ++i) {
        const std::string t = EntryText(i);
        // A non-negative code has a blank in front of it.
        if (t.size() > 2 && t[0] == ' ' && std::isdigit(static_cast<unsigned char>(t[1])) &&
            t.find(": ") != std::string::npos && t.find("refused") != std::string::npos)
            errorLine = true;
    }
    EXPECT_TRUE(errorLine);
    EXPECT_TRUE(f.List3().contains("icError"));
}

TEST_F(UploadTest, ClosingDuringAHungTransferEndsAtOnce) {
    primary.SetDefault(ScriptedReply::Hang());
    Form1& f = StartWith(primary.Url("/"), backup.Url("/"));
    f.show();
    f.Pipeline().ProcessRawFrame(TelemetryFrame(std::vector<long>(46, 0)));
    f.Pipeline().ProcessRawFrame(TelemetryFrame(std::vector<long>(46, 1)));
    ASSERT_TRUE(WaitFor([&] { return primary.Requests().size() == 1; }));
    EXPECT_TRUE(f.Inet1().Busy());
    f.close();
    EXPECT_FALSE(f.Inet1().Busy());
    QTest::qWait(100);
    EXPECT_TRUE(backup.Requests().isEmpty()); // what waited was dropped, not sent
}
