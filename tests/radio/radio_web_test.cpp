// The rig and the rotator on /api/sky and in /metrics, checked by a JSON
// parser and by Prometheus's own promtool.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include "web/WebApi.h"

namespace tavrik {
namespace {

TEST(RadioWeb, SkyAnswerAndMetricsCarryTheRigAndTheRotator) {
    WebState state;
    WebApi api(state, [] { return std::int64_t{1'800'000'000'000}; });
    RadioStatus radio;
    api.SetRadio([&] { return radio; });
    auto sky = [&] {
        const std::optional<WebAnswer> a = api.Answer("/api/sky", {});
        EXPECT_TRUE(a && a->status == 200);
        QJsonParseError error;
        const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(a->body), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << a->body;
        return d.object();
    };
    QJsonObject none = sky();
    EXPECT_TRUE(none.contains("rig") && none["rig"].isNull());
    EXPECT_TRUE(none.contains("rotator") && none["rotator"].isNull());
    EXPECT_TRUE(none.contains("next_passes")); // the sky's own members stay
    EXPECT_EQ(api.Metrics().find("tavrik_rig"), std::string::npos);

    radio.rig = RigStatus{true, true, 434'998'210, 434'998'200, ""};
    radio.rotator = RotatorStatus{false, true, Pointing{140.004, 23.2}, std::nullopt,
                                  "connection lost: \"the remote host closed\""};
    const QJsonObject both = sky();
    const QJsonObject rig = both["rig"].toObject();
    EXPECT_TRUE(rig["connected"].toBool());
    EXPECT_EQ(rig["frequency_set_hz"].toInteger(), 434'998'210);
    EXPECT_EQ(rig["frequency_read_hz"].toInteger(), 434'998'200);
    EXPECT_TRUE(rig["last_error"].isNull());
    const QJsonObject rot = both["rotator"].toObject();
    EXPECT_FALSE(rot["connected"].toBool());
    EXPECT_EQ(rot["commanded"].toObject()["azimuth"].toDouble(), 140.0);
    EXPECT_EQ(rot["commanded"].toObject()["elevation"].toDouble(), 23.2);
    EXPECT_TRUE(rot["reported"].isNull());
    EXPECT_EQ(rot["last_error"].toString(), "connection lost: \"the remote host closed\"");

    const std::string metrics = api.Metrics();
    for (const char* line :
         {"tavrik_rig_frequency_hz 434998210\n", "tavrik_rotator_azimuth_degrees 140.004\n",
          "tavrik_rotator_elevation_degrees 23.2\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    ASSERT_TRUE(promtool.waitForStarted(10000)) << "promtool (Debian's prometheus) is needed";
    promtool.write(QByteArray::fromStdString(metrics));
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
}

} // namespace
} // namespace tavrik
