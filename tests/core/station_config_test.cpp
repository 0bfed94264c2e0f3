#include <gtest/gtest.h>

#include <string>

#include "core_test_support.h"
#include "files/StationConfig.h"

using namespace tavrik;
using tavrik::test::TempDir;

namespace {

const std::string kPort = "PORT=127.0.0.1:8000\r\n";

StationConfig Parsed(const std::string& content, StationConfig defaults = {}) {
    const ConfigReadResult r = ParseStationConfig(content, std::move(defaults));
    EXPECT_FALSE(r.error) << (r.error ? r.error->description : "") << "\n" << content;
    return r.config;
}

void ExpectError(const std::string& content) {
    const ConfigReadResult r = ParseStationConfig(content);
    ASSERT_TRUE(r.error) << content;
    EXPECT_NE(r.error->number, 0);
    EXPECT_FALSE(r.error->description.empty());
}

} // namespace

TEST(StationConfig, CommentsAndSettingsGiveExactlyTheSettingsGiven) {
    StationConfig defaults;
    defaults.imagePath = "/opt/tavrik/";
    const StationConfig c = Parsed("# station\r\n"
                                   "SERVER=http://example.invalid/telemetry\r\n"
                                   "\r\n"
                                   "#MYCALL=NOPE\r\n"
                                   "MYCALL=N0CALL\r\n" +
                                       kPort,
                                   defaults);
    EXPECT_EQ(c.server, "http://example.invalid/telemetry");
    EXPECT_EQ(c.mycall, "N0CALL");
    EXPECT_EQ(c.port, "127.0.0.1:8000");
    EXPECT_EQ(c.serverBackup, "");
    EXPECT_EQ(c.qthLat, "");
    EXPECT_EQ(c.qthLong, "");
    EXPECT_EQ(c.imagePath, "/opt/tavrik/");
    EXPECT_FALSE(c.screenshot);
}

TEST(StationConfig, ValueRules) {
    struct Case {
        std::string line;
        std::string StationConfig::*member;
        std::string expected;
    } cases[] = {
        {"  SERVER  =  http://a/b  ", &StationConfig::server, "http://a/b"},
        {"SERVER=http://a/b?x=1&y=2", &StationConfig::server, "http://a/b?x=1&y=2"},
        {"SERVER=\thttp://a\t", &StationConfig::server, "\thttp://a\t"}, // tabs stay
        {"SERVER_BACKUP=http://c", &StationConfig::serverBackup, "http://c"},
        {"QTH_LAT=48,1234", &StationConfig::qthLat, "48.1234"},
        {"QTH_LAT=1,2,3", &StationConfig::qthLat, "1.2.3"},
        {"QTH_LONG= 11,5 ", &StationConfig::qthLong, "11.5"},
        {"MYCALL=A,B", &StationConfig::mycall, "A,B"}, // only the position keys change commas
        {"IMAGE_PATH=C:\\shots", &StationConfig::imagePath, "C:\\shots"},
        {"MYCALL=", &StationConfig::mycall, ""},
        {"MYCALL = =x= ", &StationConfig::mycall, "=x="},
    };
    for (const Case& c : cases) {
        const StationConfig cfg = Parsed(c.line + "\r\n" + kPort);
        EXPECT_EQ(cfg.*c.member, c.expected) << c.line;
    }
}

TEST(StationConfig, KeysAreExactAndTheLastOneWins) {
    const StationConfig c = Parsed("server=lower\r\nSERVER =upper\r\nServer=mixed\r\nFOO=bar\r\n"
                                   "MYCALL=FIRST\r\nMYCALL=SECOND\r\n" +
                                   kPort);
    EXPECT_EQ(c.server, "upper");
    EXPECT_EQ(c.mycall, "SECOND");
}

TEST(StationConfig, Screenshot) {
    EXPECT_EQ(Parsed("SCREENSHOT=YES\r\n" + kPort).screenshot, true);
    EXPECT_EQ(Parsed("SCREENSHOT= YES \r\n" + kPort).screenshot, true);
    EXPECT_EQ(Parsed("SCREENSHOT=yes\r\n" + kPort).screenshot, false);
    EXPECT_EQ(Parsed("SCREENSHOT=NO\r\n" + kPort).screenshot, false);
    EXPECT_EQ(Parsed("SCREENSHOT=\r\n" + kPort).screenshot, false);
    EXPECT_EQ(Parsed(kPort).screenshot, std::nullopt);
}

TEST(StationConfig, UnattendedKeysAreOptIn) {
    const StationConfig none = Parsed(kPort);
    EXPECT_FALSE(none.agwReconnect);
    EXPECT_FALSE(none.uploadRetry);
    EXPECT_FALSE(none.archive);
    EXPECT_EQ(ExtensionsLine(none), "");
    const StationConfig both = Parsed("AGW_RECONNECT=YES\r\nUPLOAD_RETRY= YES\r\n" + kPort);
    EXPECT_EQ(ExtensionsLine(both),
              "unattended station settings: AGW_RECONNECT=YES, UPLOAD_RETRY=YES");
    const StationConfig archive = Parsed("ARCHIVE=YES\r\nUPLOAD_RETRY=no\r\n" + kPort);
    EXPECT_EQ(ExtensionsLine(archive), "unattended station settings: ARCHIVE=YES");
    const StationConfig one = Parsed("AGW_RECONNECT=yes\r\nUPLOAD_RETRY=YES\r\n" + kPort);
    EXPECT_FALSE(one.agwReconnect);
    EXPECT_EQ(ExtensionsLine(one), "unattended station settings: UPLOAD_RETRY=YES");
    EXPECT_EQ(Parsed("EVENT_LOG_LINES=20000\r\n" + kPort).eventLogLines, 20000u);
}

TEST(StationConfig, ByteOrderMarkIPv6AndSize) {
    const StationConfig bom = Parsed("\xEF\xBB\xBFPORT=[::1]:8000\r\n");
    EXPECT_EQ(ParseModemPort(bom.port)->address.host, "::1");
    EXPECT_EQ(ParseModemPort("kiss://[::1]:8001")->address.port, 8001);
    TempDir dir;
    tavrik::test::WriteAll(dir.File("big.ini"), kPort + std::string(kMaxConfigBytes, '#'));
    const ConfigReadResult big = ReadStationConfigFile(dir.File("big.ini"));
    ASSERT_TRUE(big.error);
    EXPECT_EQ(big.error->number, kOpenErrorTooLarge);
    tavrik::test::WriteAll(dir.File("fits.ini"), kPort + std::string(kMaxConfigBytes - 30, '#'));
    EXPECT_FALSE(ReadStationConfigFile(dir.File("fits.ini")).error);
}

TEST(StationConfig, LineEndsAreReadAlike) {
    const std::string lf = "SERVER=http://a\nMYCALL=N0CALL\nPORT=localhost:8000\n";
    const std::string crlf = "SERVER=http://a\r\nMYCALL=N0CALL\r\nPORT=localhost:8000\r\n";
    const std::string noFinal = "SERVER=http://a\r\nMYCALL=N0CALL\r\nPORT=localhost:8000";
    const std::string crAtEnd = "SERVER=http://a\r\nMYCALL=N0CALL\r\nPORT=localhost:8000\r";
    const std::string doubled =
        "SERVER=http://a\r\r\nMYCALL=N0CALL \r\r\nPORT=localhost:8000\r\r\n";
    const std::string mixed = "SERVER=http://a\r \r\nMYCALL=N0CALL\n\r\nPORT=localhost:8000 \r\r";
    for (const std::string& content : {lf, crlf, noFinal, crAtEnd, doubled, mixed}) {
        const StationConfig c = Parsed(content);
        EXPECT_EQ(c.server, "http://a");
        EXPECT_EQ(c.mycall, "N0CALL");
        EXPECT_EQ(c.port, "localhost:8000");
    }
}

TEST(StationConfig, FailuresCarryANumberAndDescription) {
    for (const std::string& content : {
             std::string(),                         // empty file
             std::string("MYCALL=N0CALL\r\n"),      // PORT missing
             std::string("# only a comment\r\n"),   // PORT missing
             std::string("PORT=localhost\r\n"),     // no ":"
             std::string("PORT=localhost:\r\n"),    // no number
             std::string("PORT=localhost:80x\r\n"), // not a whole number
             std::string("PORT=localhost:abc\r\n"),
             std::string("PORT=localhost:8.5\r\n"),
             std::string("PORT=localhost:99999\r\n"),
             std::string("PORT=localhost:-1\r\n"),
             std::string("PORT=kiss://localhost\r\n"),
             std::string("PORT=kiss://:8001\r\n"),
             std::string(" #comment\r\n") + kPort, // not a comment, and no "="
             std::string("   \r\n") + kPort,       // blanks only
             std::string("SERVER http://a\r\n") + kPort,
             std::string("PORT=127.0.0.1:0\r\n"),
             std::string("EVENT_LOG_LINES=0\r\n") + kPort,
             std::string("EVENT_LOG_LINES=many\r\n") + kPort,
         })
        ExpectError(content);
}

TEST(StationConfig, LinesBeforeAFailingLineStayStored) {
    const ConfigReadResult r =
        ParseStationConfig("MYCALL=N0CALL\r\nbroken line\r\nSERVER=http://late\r\n" + kPort);
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->description.find("broken line"), std::string::npos) << r.error->description;
    EXPECT_EQ(r.config.mycall, "N0CALL");
    EXPECT_EQ(r.config.server, ""); // reading stopped at the failing line
}

TEST(SplitHostPort, HostBeforeTheFirstColonAndAWholePort) {
    struct Case {
        std::string port;
        std::optional<std::pair<std::string, int>> expected;
    } cases[] = {
        {"127.0.0.1:8000", std::pair<std::string, int>{"127.0.0.1", 8000}},
        {"localhost:0", std::nullopt},
        {"[::1]:8000", std::pair<std::string, int>{"::1", 8000}},
        {"[fe80::1%eth0]:1", std::pair<std::string, int>{"fe80::1%eth0", 1}},
        {"[::1]8000", std::nullopt},
        {"[]:8000", std::nullopt},
        {"localhost:65535", std::pair<std::string, int>{"localhost", 65535}},
        {"localhost:65536", std::nullopt},
        {"localhost", std::nullopt},
        {"localhost:", std::nullopt},
        {"a:1:2", std::nullopt},
        {"host:12ab", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<HostPort> hp = SplitHostPort(c.port);
        ASSERT_EQ(hp.has_value(), c.expected.has_value()) << c.port;
        if (hp) {
            EXPECT_EQ(hp->host, c.expected->first);
            EXPECT_EQ(hp->port, c.expected->second);
        }
    }
}

TEST(ParseModemPort, KissUrlSelectsKissOverTcp) {
    const auto agw = ParseModemPort("127.0.0.1:8000"), kiss = ParseModemPort("kiss://dw.lan:8001");
    ASSERT_TRUE(agw && kiss);
    EXPECT_EQ(agw->protocol, ModemEndpoint::Protocol::Agw);
    EXPECT_EQ(kiss->protocol, ModemEndpoint::Protocol::Kiss);
    EXPECT_EQ(kiss->address.host + ":" + std::to_string(kiss->address.port), "dw.lan:8001");
    EXPECT_EQ(ParseStationConfig("PORT=kiss://h:x\r\n").error->description,
              "PORT \"kiss://h:x\" is not kiss://host:port with a port number from 1 to 65535");
}

TEST(StationConfig, SettingsLine) {
    StationConfig c;
    c.port = "127.0.0.1:8000";
    EXPECT_EQ(SettingsLine(c), "127.0.0.1:8000 |  |  |  | ");
    c.server = "S";
    c.serverBackup = "B";
    c.mycall = "M";
    c.qthLat = "1.5";
    c.qthLong = "2.5";
    c.imagePath = "I";
    EXPECT_EQ(SettingsLine(c), "127.0.0.1:8000 | S | M | 1.5 | 2.5");
}

TEST(StationConfig, ReadsTheFile) {
    TempDir dir;
    const std::string path = dir.File("online_conf.ini");
    tavrik::test::WriteAll(path, "MYCALL=N0CALL\r\nQTH_LAT=48,5\r\n" + kPort);
    const ConfigReadResult r = ReadStationConfigFile(path);
    ASSERT_FALSE(r.error);
    EXPECT_EQ(r.config.mycall, "N0CALL");
    EXPECT_EQ(r.config.qthLat, "48.5");

    const ConfigReadResult missing = ReadStationConfigFile(dir.File("nothere.ini"));
    ASSERT_TRUE(missing.error);
    EXPECT_NE(missing.error->number, 0);
    EXPECT_NE(missing.error->description.find("nothere.ini"), std::string::npos);

    tavrik::test::WriteAll(path, "");
    const ConfigReadResult empty = ReadStationConfigFile(path);
    ASSERT_TRUE(empty.error);
    EXPECT_NE(empty.error->number, 0);
}

TEST(FileNameSafe, OnlyLettersDigitsDashAndUnderscoreSurvive) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"N0CALL", "N0CALL"}, {"DL1ABC/P", "DL1ABC-P"}, {"a b.c", "a-b-c"}, {"", ""},
        {"../x", "---x"},     {"\xC3\xA4", "--"},       {"A_b-9", "A_b-9"}, {"C:\\x", "C--x"}};
    for (const Case& c : cases)
        EXPECT_EQ(FileNameSafe(c.in), c.out) << c.in;
}

TEST(StationConfig, SecretsAreNotCopied) {
    EXPECT_EQ(HideSecretSettings("A=1\r\n INFLUX_TOKEN = t=x\r\r\n#WEB_TOKEN=c\nWEB_TOKEN=w"),
              "A=1\r\n INFLUX_TOKEN =(not copied)\r\r\n#WEB_TOKEN=c\nWEB_TOKEN=(not copied)");
    const StationConfig c =
        Parsed(kPort + "INFLUX=http://h:8086/write?db=t\r\nINFLUX_TOKEN= t \r\n");
    EXPECT_EQ(c.influx, "http://h:8086/write?db=t");
    EXPECT_EQ(c.influxToken, "t");
}
