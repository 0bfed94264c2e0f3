#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "http_test_server.h"
#include "upload/qt/InfluxUploader.h"
#include "upload/qt/UploadRoute.h"

using namespace std::chrono_literals;
using namespace tavrik;
using tavrik::test::HttpTestServer;
using tavrik::test::ScriptedReply;

TEST(InfluxUploader, MovedServerIsNamedTokenSentNeverShownPointsKeptUntilTaken) {
    QTemporaryDir dir;
    HttpTestServer server;
    ASSERT_TRUE(server.Listen());
    server.Script(
        {ScriptedReply::Status(301, "Moved", {{"Location", "/api/v2/write?org=o&bucket=b"}}),
         ScriptedReply::Status(404, "Not Found", {}, "{\"error\":\"database not found\"}")});
    server.SetDefault(ScriptedReply::Status(204, "No Content"));
    FixedClock clock;
    InfluxUploader up(clock);
    up.SetBackoff(RetryBackoff(20ms, 40ms));
    QStringList log;
    QObject::connect(&up, &InfluxUploader::logLine, [&](const QString& t) { log << t; });
    const std::string url = "http://me:pw@127.0.0.1:" + std::to_string(server.Port()) + "/write";
    ASSERT_TRUE(up.Start(url + "?db=tavrik", "s3cret", dir.path().toStdString()));
    std::array<double, kFieldCount> values{};
    for (int i = 0; i < 3; ++i) {
        values[5] = i;
        up.Add("OK0TVK", "2024-03-05 14:07:0" + std::to_string(i) + ".000", values);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return up.Idle(); }, 20000));

    const std::string shown = "http://127.0.0.1:" + std::to_string(server.Port());
    EXPECT_TRUE(log.contains(QString::fromStdString("HTTP 301 from " + shown +
                                                    "/write: the server moved it to " + shown +
                                                    "/api/v2/write; set INFLUX to that")))
        << log.join('\n').toStdString();
    EXPECT_FALSE(log.join('\n').contains("s3cret") || log.join('\n').contains("pw"));
    ASSERT_EQ(server.Requests().size(), 3); // the three points went together, three times
    const auto& last = server.Requests().back();
    EXPECT_EQ(last.HeaderValues("Authorization"), QList<QByteArray>{"Token s3cret"});
    EXPECT_EQ(last.body.count('\n'), 3);
    EXPECT_TRUE(last.body.contains(",Uptime=2,")) << last.body.toStdString();
    const InfluxStatus s = up.Status();
    EXPECT_EQ(s.counts.accepted, 3u);
    EXPECT_EQ(s.counts.failed, 2u);
    EXPECT_EQ(s.lastError, "HTTP 404 from " + shown + "/write: {\"error\":\"database not found\"}");
}

TEST(UploadRoute, AMovedServerIsNamedWithItsKeyAndNotFollowed) {
    HttpTestServer a, b;
    ASSERT_TRUE(a.Listen() && b.Listen());
    a.SetDefault(ScriptedReply::Status(301, "Moved", {{"Location", "https://new.example/up?k=1"}}));
    b.SetDefault(ScriptedReply::Status(307, "Temporary", {{"Location", "/b2"}}));
    StationConfig config;
    config.server = a.Url("/up?key=secret").toStdString();
    config.serverBackup = b.Url("/b").toStdString();
    UploadRoute route(config);
    QStringList log;
    QObject::connect(&route, &UploadRoute::logLine, [&](const QString& t) { log << t; });
    route.Post("frame=1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.size() == 2; }, 20000));
    EXPECT_EQ(log, (QStringList{"HTTP 301 from " + a.Url("/up") +
                                    ": the server moved it to https://new.example/up; set SERVER "
                                    "to that",
                                "HTTP 307 from " + b.Url("/b") + ": the server moved it to " +
                                    b.Url("/b2") + "; set SERVER_BACKUP to that"}));
    EXPECT_EQ(a.Requests().size() + b.Requests().size(), 2); // neither redirect was followed
    EXPECT_EQ(route.PostOkCount(), 0);
}

TEST(InfluxUploader, AServerThatNeverAnswersIsATimeout) {
    QTemporaryDir dir;
    HttpTestServer server;
    ASSERT_TRUE(server.Listen());
    server.SetDefault(ScriptedReply::Hang());
    FixedClock clock;
    InfluxUploader up(clock);
    up.SetTimeout(300ms);
    QStringList log;
    QObject::connect(&up, &InfluxUploader::logLine, [&](const QString& t) { log << t; });
    ASSERT_TRUE(up.Start("http://127.0.0.1:" + std::to_string(server.Port()) + "/write?db=t", "",
                         dir.path().toStdString()));
    up.Add("OK0TVK", "2024-03-05 14:07:00.000", {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !up.Status().lastError.empty(); }, 20000));
    EXPECT_EQ(up.Status().lastError, "no answer within 300 ms") << log.join('\n').toStdString();
}
