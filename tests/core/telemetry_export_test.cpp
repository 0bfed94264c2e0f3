#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "files/Kiss.h"
#include "files/KissExport.h"
#include "files/SafeText.h"
#include "telemetry_frames.h"

using namespace tavrik;
using tavrik::testing::Bytes;
namespace frames = tavrik::testing;

namespace {

using Row = std::map<std::string, std::string>;

// RFC 4180 lines (CR LF, quoted fields with doubled quotes) keyed by the header.
std::vector<Row> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            lines.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            lines.back().emplace_back();
        else if (!quoted && c == '\r' && text[i + 1] == '\n' && ++i)
            lines.emplace_back(1);
        else
            lines.back().back() += c;
    }
    lines.pop_back(); // after the last CR LF
    std::vector<Row> rows;
    for (std::size_t r = 1; r < lines.size(); ++r) {
        EXPECT_EQ(lines[r].size(), lines[0].size()) << "row " << r;
        Row row;
        for (std::size_t k = 0; k < lines[0].size() && k < lines[r].size(); ++k)
            row[lines[0][k]] = lines[r][k];
        rows.push_back(row);
    }
    return rows;
}

Bytes Stamp(const std::string& t) {
    return KissTimestampRecord(t);
}
Bytes Record(const Bytes& frame) {
    return KissFrameRecord(frame);
}

std::string Decode(const std::vector<Bytes>& records, bool all = false,
                   DecodeOutput output = DecodeOutput::Csv) {
    KissExport exporter(output, all);
    std::string out;
    exporter.Begin(out);
    exporter.StartFile("pass,1.kss");
    KissReader reader;
    for (const Bytes& r : records)
        for (const KissRecord& rec : reader.Feed(r))
            exporter.Add(rec, out);
    return out;
}

Bytes WithCallSign(Bytes frame, const std::string& source) {
    for (std::size_t i = 0; i < 6; ++i)
        frame[8 + i] = static_cast<std::uint8_t>(source[i] << 1);
    return frame;
}

} // namespace

TEST(TelemetryExport, EdgeValuesAsNumbersAndStateNames) {
    std::vector<long> raw(kFieldCount, 0);
    raw[0] = 130;    // OPS mode "norm safe"
    raw[5] = 65535;  // uptime, unsigned
    raw[8] = 100;    // refl pow 2.39
    raw[12] = 0;     // PA temp 190
    raw[13] = 500;   // bus voltage 8.0645
    raw[15] = 600;   // temp side A 15.33
    raw[33] = -2;    // signed
    raw[39] = 4;     // EPS mode "full"
    raw[40] = 2;     // EPS track "SW fixed point"
    raw[41] = -128;  // -2 degrees in 1/64 steps
    raw[17] = 65535; // temp side B far below zero
    const std::vector<Row> rows =
        ParseCsv(Decode({Stamp("2024-03-05 14:07:09.250"), Record(frames::TelemetryFrame(raw))}));
    ASSERT_EQ(rows.size(), 1u);
    const std::map<std::string, std::string> expected = {
        {"Reception time [UTC]", "2024-03-05 14:07:09.250"},
        {"File", "pass,1.kss"},
        {"Source", "TAVRIK"},
        {"OPS mode", "130"},
        {"OPS mode name", "norm safe"},
        {"Uptime [s]", "65535"},
        {"refl pow [mW]", "2.39"},
        {"PA temp [C]", "190"},
        {"Bus voltage [V]", "8.0645"},
        {"Temp side A [C]", "15.33"},
        {"Temp side B [C]", "-18958.677"}, // -0.2922 * 65535 + 190.65
        {"temp BC #1 [C]", "-2"},
        {"EPS mode name", "full"},
        {"EPS track", "2"},
        {"EPS track name", "SW fixed point"},
        {"Temp SP0 [C]", "-2"},
        {"Temp SP1 [C]", "0"},
    };
    for (const auto& [column, text] : expected)
        EXPECT_EQ(rows[0].at(column), text) << column;
}

TEST(TelemetryExport, EachFrameTakesOnlyTheTimestampJustBeforeIt) {
    const Bytes tm = frames::TelemetryFrame({});
    Bytes refused = tm;
    refused[19] = 2; // position 20
    const std::vector<Row> rows = ParseCsv(
        Decode({Stamp("2024-03-05 14:00:00.001"), Record(tm), Stamp("2024-03-05 14:00:00.002"),
                Record(refused), Stamp("2024-03-05 14:00:00.003"), Stamp("2024-03-05 14:00:00.004"),
                Record(tm), Record(tm), Stamp("2024-03-05 14:00:00.005"),
                Record(frames::ForeignFrame()), Record(tm)}));
    std::vector<std::string> times;
    for (const Row& r : rows)
        times.push_back(r.at("Reception time [UTC]"));
    EXPECT_EQ(times, (std::vector<std::string>{"2024-03-05 14:00:00.001", "2024-03-05 14:00:00.004",
                                               "", ""}));
}

TEST(TelemetryExport, AllListsEveryFrameWithItsTextAndQuotesCallSigns) {
    const Bytes foreign = WithCallSign(frames::ForeignFrame(), "N0,\"A\"");
    Bytes refused = frames::TelemetryFrame({});
    refused[18] = 0; // position 19
    const std::string csv = Decode(
        {Record(foreign), Record(refused), Record(WithCallSign(frames::ForeignFrame(), "=1+2  "))},
        true);
    EXPECT_NE(csv.find(",\"pass,1.kss\",\"N0,\"\"A\"\"\","), std::string::npos) << csv;
    const std::vector<Row> rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].at("Source"), "'=1+2"); // kept text, not a formula
    EXPECT_EQ(rows[0].at("Source"), "N0,\"A\"");
    EXPECT_EQ(rows[0].at("Frame").substr(0, 8), "00 86 A2");
    EXPECT_EQ(rows[1].at("Source"), "TAVRIK");
    EXPECT_EQ(rows[1].at("Uptime [s]"), "");
    EXPECT_EQ(rows[1].at("OPS mode name"), "");
}

TEST(TelemetryExport, JsonEscapesTextsAndLeavesMissingValuesNull) {
    const std::string json =
        Decode({Record(WithCallSign(frames::ForeignFrame(), "A\\\"\x01\x7f\x7f"))}, true,
               DecodeOutput::Json);
    const std::string start = "{\"Reception time [UTC]\":null,\"File\":\"pass,1.kss\","
                              "\"Source\":\"A\\\\\\\"\\u0001\\u007f\\u007f\",";
    EXPECT_EQ(json.substr(0, start.size()), start);
    EXPECT_NE(json.find(",\"OPS mode\":null,\"OPS mode name\":null,"), std::string::npos);
    std::string latin1;
    AppendJsonString(latin1, "\xc3\xa9\x80"); // UTF-8 kept, a stray byte as Latin-1
    EXPECT_EQ(latin1, "\"\xc3\xa9\\u0080\"");
}

TEST(TelemetryExport, NumbersArePlainDecimals) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "0"},
        {-0.0, "0"},
        {7, "7"},
        {-32768, "-32768"},
        {99999999, "99999999"},
        {100000000, "100000000"},
        {0.000239, "0.000239"},
        {-0.5, "-0.5"},
        {0.0000004, "0"},
        {0.000239 * 65535.0 * 65535.0, "1026465.857775"},
        {1e13 + 0.5, "10000000000000.5"},
        {std::nan(""), ""}};
    for (const auto& [value, text] : cases) {
        std::string out;
        AppendNumber(out, value);
        EXPECT_EQ(out, text) << value;
    }
}

TEST(TelemetryExport, CsvTextColumnsAreGuardedAndCarryNoControlCharacters) {
    using namespace std::string_view_literals;
    const TelemetryRowWriter writer(ExportFormat::Csv, {});
    std::string out;
    writer.AppendRow(
        {.receptionTime = "2024\x1b[2J\0x"sv, .file = "=1+1.kss", .source = "N0\nC", .frame = {}},
        out);
    EXPECT_EQ(out.substr(0, out.find(",,")), "2024\\x1b[2J\\x00x,'=1+1.kss,N0\\nC");
    EXPECT_EQ(tavrik::EscapeControls("a\r\n\t\x7f"), "a\\r\\n\\t\\x7f");
}
