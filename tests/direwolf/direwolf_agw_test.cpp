// Frame intake against a real Direwolf: generated AFSK audio goes in at its
// stdin, the AGW raw frames come out of its TCP interface.
#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "afsk.h"
#include "direwolf_harness.h"
#include "files/Kiss.h"
#include "intake/Agw.h"
#include "telemetry/FrameText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using tavrik::test::AfskModulator;
using tavrik::test::DirewolfHarness;

// Generous: Direwolf demodulates faster than real time, but the machine is shared.
constexpr int kWaitMs = 120000;

// The satellite's own header: both call signs TAVRIK with SSID bytes of 0x00,
// so the source lacks the end-of-address bit.
const Bytes kTelemetryHeader = {0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0xA8,
                                0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03, 0xF0};

// A telemetry frame with `infoLength` bytes of information field. Its second
// and third bytes are 1, as in every real frame; the rest is a deterministic
// mix that holds the KISS specials, the flag pattern and long runs of 1s.
Bytes TelemetryFrame(int serial, std::size_t infoLength) {
    Bytes f = kTelemetryHeader;
    Bytes info(infoLength);
    std::uint32_t x = 0x12345u + static_cast<std::uint32_t>(serial) * 7919u;
    for (auto& b : info) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    info[0] = static_cast<std::uint8_t>(serial);
    info[1] = 1;
    info[2] = 1;
    const Bytes specials = {tavrik::kFend, tavrik::kFesc, tavrik::kTfend, tavrik::kTfesc,
                            0x7E,          0xFF,          0xFF,           0x00,
                            tavrik::kFesc, tavrik::kFend, 0xFE,           0x7F};
    std::copy(specials.begin(), specials.end(), info.begin() + 10 + serial % 7);
    info[infoLength - 1] = tavrik::kFend; // a special as the last byte before the FCS
    f.insert(f.end(), info.begin(), info.end());
    return f;
}

// One AX.25 address field: call sign shifted left, SSID byte with its
// reserved bits set and the end-of-address bit on the last address.
void AppendAddress(Bytes& f, const std::string& call, int ssid, bool last, bool command = false) {
    std::string padded = call;
    padded.resize(6, ' ');
    for (char c : padded)
        f.push_back(static_cast<std::uint8_t>(c << 1));
    f.push_back(
        static_cast<std::uint8_t>((command ? 0x80 : 0x00) | 0x60 | (ssid << 1) | (last ? 1 : 0)));
}

// A UI frame of another station, through any digipeaters given.
Bytes StationFrame(const std::string& dest, const std::string& source, int sourceSsid,
                   const std::vector<std::pair<std::string, int>>& via, const Bytes& info) {
    Bytes f;
    AppendAddress(f, dest, 0, false, true);
    AppendAddress(f, source, sourceSsid, via.empty());
    for (std::size_t i = 0; i < via.size(); ++i)
        AppendAddress(f, via[i].first, via[i].second, i + 1 == via.size());
    f.push_back(0x03);
    f.push_back(0xF0);
    f.insert(f.end(), info.begin(), info.end());
    return f;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string Hex(const Bytes& b) {
    return tavrik::TelemetryFrameText(b);
}

// An AGW client on a real socket that collects what Direwolf sends.
struct AgwClient {
    QTcpSocket socket;
    tavrik::AgwStreamSplitter splitter;
    std::vector<tavrik::AgwFrame> frames;

    AgwClient() {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray bytes = socket.readAll();
            const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
            for (auto& f : splitter.Feed({p, static_cast<std::size_t>(bytes.size())}))
                frames.push_back(std::move(f));
        });
    }
    void Send(char kind) {
        const tavrik::AgwHeader h = tavrik::MakeAgwHeader(kind);
        socket.write(reinterpret_cast<const char*>(h.data()), static_cast<qint64>(h.size()));
    }
    std::vector<const tavrik::AgwFrame*> OfKind(char kind) const {
        std::vector<const tavrik::AgwFrame*> out;
        for (const auto& f : frames)
            if (f.Kind() == kind) out.push_back(&f);
        return out;
    }
};

class DirewolfAgw : public ::testing::Test {
  protected:
    void TearDown() override {
        direwolf.Stop();
        if (HasFailure())
            std::cout << "---- Direwolf's output ----\n" << direwolf.Log().toStdString();
    }
    DirewolfHarness direwolf;
};

TEST_F(DirewolfAgw, ForwardsEveryHeardFrameByteForByteInOrder) {
    // A missing Direwolf fails here: this test is part of the required set.
    ASSERT_TRUE(direwolf.Start()) << direwolf.ErrorText().toStdString();

    AgwClient client;
    client.socket.connectToHost(QHostAddress::LocalHost, direwolf.AgwPort());
    ASSERT_TRUE(client.socket.waitForConnected(10000)) << client.socket.errorString().toStdString();
    EXPECT_TRUE(direwolf.WaitForAgwClients(1, kWaitMs)) << "Direwolf did not report the client";
    client.Send('G');
    client.Send('k');
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client.OfKind('G').empty(); }, kWaitMs))
        << "no port information reply";
    const std::string portLine = tavrik::PortInfoLine(*client.OfKind('G').front());
    // Direwolf answers "1;Port1 ..." for its one radio channel.
    EXPECT_EQ(portLine.rfind("total number of ports: 1;Port1", 0), 0u) << portLine;

    // Direwolf takes up the raw-monitoring request of a new client a little
    // late; audio heard before that would not be forwarded.
    QTest::qWait(1500);

    const std::vector<Bytes> sent = {
        TelemetryFrame(1, 94),
        StationFrame("APRS", "N0CALL", 7, {}, Text("!4237.14N/07120.83W-heard nearby")),
        TelemetryFrame(2, 94),
        TelemetryFrame(3, 120),
        StationFrame("CQ", "DL1ABC", 1, {{"WIDE1", 1}, {"WIDE2", 2}},
                     {0xC0, 0xDB, 0x7E, 0xFF, 0xFF, 0x00, 0xDC, 0xDD, 0xC0, 0xC0}),
        TelemetryFrame(4, 95),
        StationFrame("BEACON", "G4XYZ", 15, {}, Text(std::string(200, 'x') + " end")),
        TelemetryFrame(5, 200),
        TelemetryFrame(6, 94),
    };
    AfskModulator modem;
    modem.AddSilence(0.5);
    for (const auto& f : sent)
        modem.AddFrame(f);
    modem.AddSilence(1.0);
    direwolf.FeedAudio(modem.Samples());

    // Each frame as the program will see it: the KISS port byte 0x00, then the
    // frame without FCS.
    std::vector<std::string> expected;
    for (const auto& f : sent) {
        Bytes withPort = {0x00};
        withPort.insert(withPort.end(), f.begin(), f.end());
        expected.push_back(Hex(withPort));
    }
    // The program must take the six satellite frames for telemetry, the others not.
    EXPECT_EQ(std::count_if(expected.begin(), expected.end(),
                            [](const std::string& t) { return tavrik::MatchesTelemetryHeader(t); }),
              6);

    EXPECT_TRUE(QTest::qWaitFor([&] { return client.OfKind('K').size() >= sent.size(); }, kWaitMs))
        << "only " << client.OfKind('K').size() << " of " << sent.size() << " frames arrived";
    // Let Direwolf run out of input and end: whatever else it had to send has
    // then been sent, so extra frames would show.
    EXPECT_TRUE(direwolf.WaitAudioWritten(kWaitMs));
    direwolf.Stop();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs));

    EXPECT_FALSE(client.splitter.Error().has_value()) << client.splitter.Error().value_or("");
    EXPECT_EQ(client.splitter.Pending(), 0u);
    std::vector<std::string> received;
    for (const auto* f : client.OfKind('K')) {
        EXPECT_EQ(f->header[0], 0) << "radio port";
        received.push_back(Hex(f->data));
    }
    EXPECT_EQ(received, expected);
}

TEST(DirewolfHarnessStart, ReportsAMissingProgram) {
    DirewolfHarness::Options options;
    options.program = QStringLiteral("/nonexistent/direwolf");
    DirewolfHarness direwolf(options);
    EXPECT_FALSE(direwolf.Start());
    EXPECT_TRUE(direwolf.ErrorText().contains(QStringLiteral("not found")))
        << direwolf.ErrorText().toStdString();
    EXPECT_FALSE(direwolf.IsRunning());
}

} // namespace
