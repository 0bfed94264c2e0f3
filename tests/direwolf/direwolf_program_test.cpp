// The whole program against a real Direwolf: the main window connects to
// Direwolf's AGW port, generated AFSK audio of telemetry and foreign frames
// goes in at Direwolf's stdin, and what the window makes of it (KISS log,
// decoded records, panel, labels, uploads to a local server) is checked.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "afsk.h"
#include "direwolf_harness.h"
#include "files/Kiss.h"
#include "form_fixture.h"
#include "http_test_server.h"
#include "telemetry_frames.h"

namespace {

using tavrik::KissRecord;
using tavrik::test::AfskModulator;
using tavrik::test::DirewolfHarness;
using tavrik::test::HttpTestServer;
using tavrik::testing::Bytes;

// Generous: Direwolf demodulates faster than real time, but the machine is shared.
constexpr int kWaitMs = 120000;
constexpr int kFields = 46;
constexpr int kTelemetryFrames = 5;
const std::string kTimestamp = "2024-03-05 14:07:09.250"; // the fixture's clock, in UTC

// The frame layout and calibrations written out here once more, on purpose
// apart from the program's own table: a fault there must not hide in both.
enum class Kind { U8, U16, S16 };
enum class Cal { Raw, Scale, Square, NegLinear };
enum class Show { Whole, Hex, Fixed2, State };
struct Layout {
    int position; // of the low byte, counted from 1 at the KISS port byte
    Kind kind;
    Cal cal;
    double factor;
    double offset;
    Show show;
};
// clang-format off
const Layout kLayout[kFields] = {
    { 22, Kind::U8,  Cal::Raw, 0, 0, Show::State},     // OPS mode
    { 23, Kind::U16, Cal::Raw, 0, 0, Show::Whole},     // Boot cnt
    { 25, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 27, Kind::U8,  Cal::Raw, 0, 0, Show::Whole},
    { 28, Kind::U8,  Cal::Raw, 0, 0, Show::Whole},
    { 29, Kind::U16, Cal::Raw, 0, 0, Show::Whole},     // Uptime
    { 36, Kind::U16, Cal::Raw, 0, 0, Show::Whole},     // Doppler
    { 38, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 40, Kind::U16, Cal::Square, 0.000239, 0, Show::Fixed2},  // refl pow
    { 42, Kind::U16, Cal::Square, 0.000239, 0, Show::Fixed2},  // forw pow
    { 44, Kind::U16, Cal::Scale, 0.395, 0, Show::Fixed2},      // TX curr
    { 46, Kind::U16, Cal::Scale, 0.395, 0, Show::Fixed2},
    { 48, Kind::U16, Cal::NegLinear, 0.2959, 190.0, Show::Fixed2},  // PA temp
    { 50, Kind::U16, Cal::Scale, 0.016129, 0, Show::Fixed2},        // Bus voltage
    { 52, Kind::U16, Cal::Raw, 0, 0, Show::Hex},       // Depl side A
    { 54, Kind::U16, Cal::NegLinear, 0.2922, 190.65, Show::Fixed2}, // Temp side A
    { 56, Kind::U16, Cal::Raw, 0, 0, Show::Hex},
    { 58, Kind::U16, Cal::NegLinear, 0.2922, 190.65, Show::Fixed2},
    { 60, Kind::U16, Cal::Raw, 0, 0, Show::Whole},     // SP1 volts
    { 62, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 64, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 66, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 68, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 70, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 72, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 74, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 76, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 78, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 80, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 82, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 84, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 86, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 88, Kind::U16, Cal::Raw, 0, 0, Show::Whole},
    { 90, Kind::S16, Cal::Raw, 0, 0, Show::Whole},     // temp BC #1
    { 92, Kind::S16, Cal::Raw, 0, 0, Show::Whole},
    { 94, Kind::S16, Cal::Raw, 0, 0, Show::Whole},
    { 96, Kind::S16, Cal::Raw, 0, 0, Show::Whole},
    { 98, Kind::U8,  Cal::Raw, 0, 0, Show::Hex},       // Ch status
    { 99, Kind::U8,  Cal::Raw, 0, 0, Show::Hex},
    {100, Kind::U8,  Cal::Raw, 0, 0, Show::State},     // EPS mode
    {101, Kind::U8,  Cal::Raw, 0, 0, Show::State},     // EPS track
    {102, Kind::S16, Cal::Scale, 0.015625, 0, Show::Fixed2},  // Temp SP0
    {104, Kind::S16, Cal::Scale, 0.015625, 0, Show::Fixed2},
    {106, Kind::S16, Cal::Scale, 0.015625, 0, Show::Fixed2},
    {108, Kind::S16, Cal::Scale, 0.015625, 0, Show::Fixed2},
    {110, Kind::S16, Cal::Scale, 0.015625, 0, Show::Fixed2},
};
// clang-format on

// Raw values of telemetry frame k. Several fields put 0xC0 and 0xDB (and the
// plain 0xDC, 0xDD) into the frame, so the KISS log has to escape on the way in;
// 16-bit fields reach past 32767, signed ones go negative and to both ends.
std::vector<long> RawValues(int k) {
    std::vector<long> r(kFields);
    const long opsStates[] = {2, 130, 0, 1, 2};
    r[0] = opsStates[k % 5];
    r[1] = 0xDBC0 + k;
    r[2] = 1000 + k;
    r[3] = 0xC0;
    r[4] = 0xDB;
    r[5] = 30000 + 5000 * k;
    r[6] = 0xDDDC;
    r[7] = 0x00C0 + k;
    r[8] = 100 + 7 * k;
    r[9] = 1000 + 10 * k;
    r[10] = 250 + k;
    r[11] = 60 + k;
    r[12] = 600 + 3 * k;
    r[13] = 500 + k;
    r[14] = 0xC0DB;
    r[15] = 600 - k;
    r[16] = 0x0DB0 + k;
    r[17] = 580 + 2 * k;
    r[18] = 4100 + k;
    r[19] = 4200 + k;
    r[20] = 0;
    r[21] = 8200 - k;
    for (int i = 22; i <= 32; ++i)
        r[static_cast<std::size_t>(i)] = 10 * i + k;
    r[33] = -2 - k;
    r[34] = 25 + k;
    r[35] = -40 + k;
    r[36] = -32768 + k;
    r[37] = 0xC0 | k;
    r[38] = 0xDB - k;
    r[39] = k % 5;
    r[40] = k % 3;
    r[41] = -128 - 64 * k;
    r[42] = 1600 + k;
    r[43] = -1;
    r[44] = 32767;
    r[45] = -32768;
    return r;
}

// The stored value of one field, as the calibrations give it.
double Calibrated(int i, long raw) {
    const Layout& l = kLayout[i];
    const double x = static_cast<double>(raw);
    switch (l.cal) {
    case Cal::Raw:
        return x;
    case Cal::Scale:
        return l.factor * x;
    case Cal::Square:
        return l.factor * (x * x);
    case Cal::NegLinear:
        return -l.factor * x + l.offset;
    }
    return 0;
}

// What the field's box shows for a value; empty for a state (checked apart).
std::string BoxText(int i, long raw) {
    char buf[64];
    switch (kLayout[i].show) {
    case Show::Whole:
        return std::to_string(raw);
    case Show::Hex:
        std::snprintf(buf, sizeof buf, "&H%lX", static_cast<unsigned long>(raw));
        break;
    case Show::Fixed2:
        std::snprintf(buf, sizeof buf, "%.2f", Calibrated(i, raw));
        break;
    case Show::State:
        return {};
    }
    return buf;
}

// Reads field i back out of a frame (index 0 = position 1).
long ReadRaw(const Bytes& f, int i) {
    const Layout& l = kLayout[i];
    const auto p = static_cast<std::size_t>(l.position - 1);
    if (l.kind == Kind::U8) return f.at(p);
    const auto u = static_cast<std::uint16_t>(f.at(p) | (f.at(p + 1) << 8));
    return l.kind == Kind::S16 ? static_cast<std::int16_t>(u) : u;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (std::uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

std::string FormField(const QByteArray& body, const QByteArray& name) {
    for (const QByteArray& part : body.split('&'))
        if (part.startsWith(name + "=")) return part.mid(name.size() + 1).toStdString();
    return "<" + name.toStdString() + " missing>";
}

struct Sent {
    Bytes withPort; // as the program receives it: KISS port byte 0x00, then the AX.25 frame
    bool telemetry;
    std::vector<long> raw;
};

class DirewolfProgram : public tavrik::testing::FormFixture {
  protected:
    void TearDown() override {
        form.reset(); // the window lets go of the connection before Direwolf ends
        direwolf.Stop();
        if (HasFailure())
            std::cout << "---- Direwolf's output ----\n" << direwolf.Log().toStdString();
    }

    std::size_t FrameRecords() const {
        std::size_t n = 0;
        for (const KissRecord& r : KissRecords())
            if (r.kind != KissRecord::Kind::Timestamp) ++n;
        return n;
    }

    DirewolfHarness direwolf{DirewolfHarness::Options{.kiss = true}};
    HttpTestServer server;
};

// The same over the AGW interface and over Direwolf's KISS TCP port.
class DirewolfProgramBoth : public DirewolfProgram, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Link, DirewolfProgramBoth, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Kiss" : "Agw"; });

TEST_P(DirewolfProgramBoth, DecodesLogsShowsAndUploadsEveryHeardFrame) {
    const bool kiss = GetParam();
    // A missing Direwolf fails here: this test is part of the required set.
    ASSERT_TRUE(direwolf.Start()) << direwolf.ErrorText().toStdString();
    ASSERT_TRUE(server.Listen());
    WriteConfig("PORT=" +
                (kiss ? "kiss://127.0.0.1:" + std::to_string(direwolf.KissPort())
                      : "127.0.0.1:" + std::to_string(direwolf.AgwPort())) +
                "\r\nMYCALL=DL0TST\r\nSERVER=" + server.Url("/upload").toStdString() +
                "\r\nQTH_LAT=48.1234\r\nQTH_LONG=11.5678\r\n");
    tavrik::Form1& window = Start();
    ASSERT_TRUE(presenter.messages.empty()) << presenter.messages.front().text.toStdString();
    ASSERT_TRUE(window.Check1->isChecked()) << "uploads are allowed from start-up";
    EXPECT_EQ(QFileInfo(QString::fromStdString(window.Kiss().Path())).fileName(),
              "DL0TST_05032024_1407.kss");

    ASSERT_TRUE(kiss || // a KISS link has no handshake
                QTest::qWaitFor([&] { return EventLogged("total number of ports: "); }, kWaitMs))
        << "the program logged no port information from Direwolf";
    EXPECT_TRUE(kiss ? direwolf.WaitForKissClients(1, kWaitMs)
                     : direwolf.WaitForAgwClients(1, kWaitMs))
        << "Direwolf did not report the program";
    // Direwolf takes up the raw-monitoring request of a new client a little
    // late; audio heard before that would not be forwarded.
    QTest::qWait(1500);

    std::vector<Sent> sent;
    int t = 0;
    auto telemetry = [&] {
        const std::vector<long> raw = RawValues(t++);
        sent.push_back({tavrik::testing::TelemetryFrame(raw), true, raw});
    };
    auto foreign = [&](const std::string& text) {
        sent.push_back({tavrik::testing::ForeignFrame(text), false, {}});
    };
    telemetry();
    foreign("!4237.14N/07120.83W-heard nearby");
    telemetry();
    telemetry();
    foreign(std::string("escapes \xC0\xDB\xDC\xDD\xC0 end"));
    telemetry();
    foreign(std::string(150, 'x'));
    telemetry(); // the last: its call signs stay in the window
    ASSERT_EQ(t, kTelemetryFrames);

    // The frames carry what the test means them to: the layout read back
    // independently, and FEND and FESC really among the bytes.
    bool hasFend = false, hasFesc = false;
    for (const Sent& s : sent) {
        for (std::uint8_t b : s.withPort) {
            hasFend |= b == tavrik::kFend;
            hasFesc |= b == tavrik::kFesc;
        }
        if (!s.telemetry) continue;
        ASSERT_EQ(s.withPort.size(), 120u);
        EXPECT_EQ(s.withPort[18], 1);
        EXPECT_EQ(s.withPort[19], 1);
        for (int i = 0; i < kFields; ++i)
            ASSERT_EQ(ReadRaw(s.withPort, i), s.raw[static_cast<std::size_t>(i)]) << "field " << i;
    }
    ASSERT_TRUE(hasFend && hasFesc);

    AfskModulator modem;
    modem.AddSilence(0.5);
    for (const Sent& s : sent)
        modem.AddFrame({s.withPort.begin() + 1, s.withPort.end()}); // the air has no port byte
    modem.AddSilence(1.0);
    direwolf.FeedAudio(modem.Samples());

    EXPECT_TRUE(QTest::qWaitFor([&] { return FrameRecords() >= sent.size(); }, kWaitMs))
        << "only " << FrameRecords() << " of " << sent.size() << " frames reached the KISS log";
    // Let Direwolf run out of input and end: once the program has seen the
    // connection close, no further frame can come, so extra frames would show.
    EXPECT_TRUE(direwolf.WaitAudioWritten(kWaitMs));
    direwolf.Stop();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return EventLogged("AGW winsock connection closed"); }, kWaitMs))
        << "the program did not see Direwolf end";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return server.Requests().size() >= kTelemetryFrames && !window.Inet1().Busy(); },
        kWaitMs))
        << server.Requests().size() << " uploads arrived";

    // The KISS log: for every frame in order, a timestamp record and then the
    // frame, unescaped to the bytes received.
    const std::vector<KissRecord> records = KissRecords();
    ASSERT_EQ(records.size(), 2 * sent.size());
    std::string stamp(1, static_cast<char>(tavrik::kTimestampKind));
    stamp += kTimestamp + " UTC";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const KissRecord& ts = records[2 * i];
        const KissRecord& fr = records[2 * i + 1];
        EXPECT_EQ(ts.kind, KissRecord::Kind::Timestamp) << "record " << 2 * i;
        EXPECT_EQ(std::string(ts.bytes.begin(), ts.bytes.end()), stamp) << "record " << 2 * i;
        EXPECT_EQ(fr.kind, KissRecord::Kind::Frame) << "record " << 2 * i + 1;
        EXPECT_EQ(Hex(fr.bytes), Hex(sent[i].withPort)) << "frame " << i;
    }
    // Raw in the file, FEND and FESC appear only escaped.
    {
        QFile log(QString::fromStdString(window.Kiss().Path()));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (const Sent& s : sent) {
            const auto ts = tavrik::KissTimestampRecord(kTimestamp);
            const auto fr = tavrik::KissFrameRecord(s.withPort);
            expected.append(reinterpret_cast<const char*>(ts.data()),
                            static_cast<qsizetype>(ts.size()));
            expected.append(reinterpret_cast<const char*>(fr.data()),
                            static_cast<qsizetype>(fr.size()));
        }
        EXPECT_EQ(log.readAll(), expected);
    }

    // The decoded records: one per telemetry frame, every value as calibrated.
    const auto& history = window.History();
    ASSERT_EQ(history.RxPacketCount(), kTelemetryFrames);
    ASSERT_EQ(history.StoredCount(), kTelemetryFrames);
    int n = 0;
    for (const Sent& s : sent) {
        if (!s.telemetry) continue;
        const tavrik::TelemetryRecord& rec = history.Record(++n);
        EXPECT_EQ(rec.timestamp, kTimestamp);
        for (int i = 0; i < kFields; ++i)
            EXPECT_EQ(rec.values[static_cast<std::size_t>(i)],
                      Calibrated(i, s.raw[static_cast<std::size_t>(i)]))
                << "record " << n << ", field " << i;
    }

    // The window.
    EXPECT_EQ(window.Label4->text().toStdString(), "TAVRIK -> TAVRIK");
    EXPECT_EQ(window.PostOkCount(), kTelemetryFrames);
    EXPECT_EQ(window.Label7->text().toStdString(),
              "RX packets: " + std::to_string(kTelemetryFrames) +
                  " | HTTP POST OK: " + std::to_string(kTelemetryFrames));
    EXPECT_EQ(window.Label5->text().toStdString(), "last packet: " + kTimestamp);
    const std::vector<long>& last = sent.back().raw;
    for (int i = 0; i < kFields; ++i) {
        const std::string want = BoxText(i, last[static_cast<std::size_t>(i)]);
        if (want.empty()) continue;
        EXPECT_EQ(window.Text1[static_cast<std::size_t>(i)]->text().toStdString(), want)
            << "field " << i;
    }
    // Raw 2 of the OPS mode, 4 of the EPS mode and 1 of the tracking mode.
    EXPECT_EQ(window.Text1[0]->text().toStdString(), "norm");
    EXPECT_EQ(window.Text1[39]->text().toStdString(), "full");
    EXPECT_EQ(window.Text1[40]->text().toStdString(), "max power");
    // A few boxes spelled out, so the expectations above cannot drift together.
    EXPECT_EQ(window.Text1[5]->text().toStdString(), "50000");
    EXPECT_EQ(window.Text1[33]->text().toStdString(), "-6");
    EXPECT_EQ(window.Text1[14]->text().toStdString(), "&HC0DB");
    EXPECT_EQ(window.Text1[41]->text().toStdString(), "-6.00");
    // The chart shows field 5 over all records.
    ASSERT_EQ(window.ChartValues().size(), static_cast<std::size_t>(kTelemetryFrames));
    for (int k = 0; k < kTelemetryFrames; ++k)
        EXPECT_EQ(window.ChartValues()[static_cast<std::size_t>(k)], 30000.0 + 5000.0 * k);

    // The uploads: one POST per telemetry frame, in order, carrying the AX.25 frame.
    ASSERT_EQ(server.Requests().size(), kTelemetryFrames);
    n = 0;
    for (const Sent& s : sent) {
        if (!s.telemetry) continue;
        const auto& req = server.Requests()[n++];
        EXPECT_EQ(req.requestLine, "POST /upload HTTP/1.1");
        EXPECT_EQ(FormField(req.body, "frame"),
                  Hex(Bytes(s.withPort.begin() + 1, s.withPort.end())))
            << "upload " << n;
        EXPECT_EQ(FormField(req.body, "source"), "DL0TST");
        EXPECT_EQ(FormField(req.body, "timestamp"), "2024-03-05T14:07:09.250Z");
        EXPECT_EQ(FormField(req.body, "noradID"), std::string(tavrik::kNoradId));
    }
}

TEST_F(DirewolfProgram, ReconnectsWhenDirewolfIsRestartedAndTakesTheFramesAfterIt) {
    ASSERT_TRUE(direwolf.Start()) << direwolf.ErrorText().toStdString();
    ASSERT_TRUE(server.Listen());
    WriteConfig("PORT=127.0.0.1:" + std::to_string(direwolf.AgwPort()) +
                "\r\nAGW_RECONNECT=YES\r\nMYCALL=DL0TST\r\nSERVER=" +
                server.Url("/upload").toStdString() + "\r\n");
    tavrik::Form1& window = Start();
    auto portLines = [&] {
        int n = 0;
        for (std::size_t i = 0; i < window.Events().Size(); ++i)
            n += EntryText(i).rfind("total number of ports: ", 0) == 0;
        return n;
    };
    std::vector<Sent> sent;
    // One run of Direwolf: the handshake answered, then frames heard and taken.
    auto heard = [&](int run) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return portLines() == run; }, kWaitMs)) << run;
        ASSERT_TRUE(direwolf.WaitForAgwClients(1, kWaitMs)) << run;
        QTest::qWait(1500); // Direwolf takes up raw monitoring a little late
        AfskModulator modem;
        modem.AddSilence(0.5);
        for (int k = 0; k < 2; ++k) {
            const std::vector<long> raw = RawValues(static_cast<int>(sent.size()));
            sent.push_back({tavrik::testing::TelemetryFrame(raw), true, raw});
            modem.AddFrame({sent.back().withPort.begin() + 1, sent.back().withPort.end()});
        }
        modem.AddSilence(1.0);
        direwolf.FeedAudio(modem.Samples());
        ASSERT_TRUE(QTest::qWaitFor([&] { return FrameRecords() == sent.size(); }, kWaitMs));
        ASSERT_TRUE(direwolf.WaitAudioWritten(kWaitMs));
        direwolf.Stop();
        ASSERT_TRUE(QTest::qWaitFor([&] { return EventLogged("AGW reconnect: "); }, kWaitMs));
    };
    ASSERT_NO_FATAL_FAILURE(heard(1));
    window.Timer1_Timer();
    EXPECT_FALSE(window.LampGreen()) << "red while waiting for Direwolf";
    ASSERT_TRUE(direwolf.Start()) << direwolf.ErrorText().toStdString(); // the same port
    heard(2); // the handshake again, on the new connection
    EXPECT_TRUE(EventLogged("AGW connection made again after "));

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return server.Requests().size() == 4 && !window.Inet1().Busy(); }, kWaitMs));
    const std::vector<KissRecord> records = KissRecords();
    ASSERT_EQ(records.size(), 2 * sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(Hex(records[2 * i + 1].bytes), Hex(sent[i].withPort)) << "frame " << i;
        EXPECT_EQ(FormField(server.Requests()[i].body, "frame"),
                  Hex(Bytes(sent[i].withPort.begin() + 1, sent[i].withPort.end())));
    }
    EXPECT_EQ(window.History().RxPacketCount(), 4);
}

} // namespace
