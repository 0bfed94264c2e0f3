// The window against a modem program stand-in on 127.0.0.1: handshake,
// stream framing, port information, closes and protocol errors.
#include <QTcpServer>
#include <QTcpSocket>

#include "files/Kiss.h"
#include "form_fixture.h"
#include "intake/Agw.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {

QByteArray Q(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

class IntakeTest : public FormFixture {
  protected:
    void SetUp() override {
        ASSERT_TRUE(modem.listen(QHostAddress::LocalHost));
        WriteConfig("PORT=127.0.0.1:" + std::to_string(modem.serverPort()) +
                    "\r\nMYCALL=N0CALL\r\n");
        Form1& f = Start();
        f.Check1->setChecked(false);
        ASSERT_TRUE(WaitFor([&] { return modem.hasPendingConnections() || peer; }));
        peer = modem.nextPendingConnection();
        ASSERT_NE(peer, nullptr);
        ASSERT_TRUE(WaitFor([&] { return peer->bytesAvailable() >= 72; }));
        handshake = peer->readAll();
    }
    void Send(const QByteArray& bytes) {
        peer->write(bytes);
        peer->flush();
    }
    std::string LastEntryText() { return EntryText(0); }
    std::vector<KissRecord> LogRecords() {
        QFile log(QString::fromStdString(form->Kiss().Path()));
        EXPECT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray b = log.readAll();
        return ReadKiss({reinterpret_cast<const std::uint8_t*>(b.constData()),
                         static_cast<std::size_t>(b.size())});
    }

    QTcpServer modem;
    QTcpSocket* peer = nullptr;
    QByteArray handshake;
};

} // namespace

TEST_F(IntakeTest, FirstConnectionSendsPortQueryThenRawMonitoringOnce) {
    const AgwHeader g = MakeAgwHeader('G'), k = MakeAgwHeader('k');
    EXPECT_EQ(handshake, Q({g.begin(), g.end()}) + Q({k.begin(), k.end()}));
    EXPECT_EQ(handshake.size(), 72);
    EXPECT_FALSE(form->HandshakePending());
    EXPECT_EQ(EntryText(0), "AGW winsock connection made");
    // Nothing more arrives by itself; a click sends both again.
    QTest::qWait(50);
    EXPECT_EQ(peer->bytesAvailable(), 0);
    form->Command1_Click();
    ASSERT_TRUE(WaitFor([&] { return peer->bytesAvailable() >= 72; }));
    EXPECT_EQ(peer->readAll(), handshake);
}

TEST_F(IntakeTest, FramesArriveWholeHoweverTheStreamIsCut) {
    const std::vector<Bytes> frames = {TelemetryFrame(std::vector<long>(46, 7)),
                                       ForeignFrame("a\xC0"
                                                    "b\xDB"
                                                    "c"),
                                       Bytes{}};
    QByteArray stream;
    for (const Bytes& fr : frames)
        stream += Q(EncodeAgwFrame('K', fr));
    // Every cut position of the first two frames, sent in two pieces each time.
    int sent = 0;
    for (int cut = 1; cut < stream.size(); cut += 7) {
        Send(stream.left(cut));
        QTest::qWait(1);
        Send(stream.mid(cut));
        sent += 3;
        ASSERT_TRUE(WaitFor([&] { return form->History().RxPacketCount() == sent / 3; })) << cut;
    }
    // The empty frame comes last; once it is shown, every frame has been handled.
    ASSERT_TRUE(WaitFor([&] { return form->Label4->text() == " -> "; }));
    const auto records = LogRecords();
    std::size_t frameRecords = 0;
    for (const KissRecord& r : records) {
        if (r.kind != KissRecord::Kind::Frame) continue;
        EXPECT_EQ(r.bytes, frames[frameRecords % 2]);
        ++frameRecords;
    }
    EXPECT_EQ(frameRecords,
              static_cast<std::size_t>(sent / 3 * 2)); // the empty frames hold no bytes
    EXPECT_EQ(form->Label4->text(), " -> ");           // the empty frame came last: no call signs
}

TEST_F(IntakeTest, PortInformationUsesTheLowLengthByteAndDropsPadding) {
    struct Case {
        std::string data;
        std::uint32_t length;
        std::string line;
    };
    std::string padded = "2;Port1 first;Port2 second;";
    padded.resize(300, '\0');
    const std::vector<Case> cases = {
        {"", 0, "to"},
        {"1;Port1 Replay;", 15,
         std::string("total number of ports: 1;Port1 Replay;").substr(0, 38 - 21)},
        // 300 announced: only its low byte, 44, counts; the NULs are left out of the line.
        {padded, 300, std::string("total number of ports: ") + padded.substr(0, 44 - 21).c_str()},
    };
    for (const Case& c : cases) {
        Bytes data(c.data.begin(), c.data.end());
        Bytes frame = EncodeAgwFrame('G', data);
        for (int i = 0; i < 4; ++i)
            frame[28 + i] = static_cast<std::uint8_t>(c.length >> (8 * i));
        if (c.length != data.size()) { // the splitter follows the length: send what it announces
            frame.resize(36 + c.length, 0);
        }
        const std::size_t before = form->Events().Size();
        Send(Q(frame));
        ASSERT_TRUE(WaitFor([&] { return form->Events().Size() == before + 1; }));
        std::string expect = c.line;
        expect.erase(std::remove(expect.begin(), expect.end(), '\0'), expect.end());
        EXPECT_EQ(EntryText(0), expect);
    }
}

TEST_F(IntakeTest, OtherKindsChangeNothing) {
    const std::size_t before = form->Events().Size();
    Send(Q(EncodeAgwFrame('X', TelemetryFrame(std::vector<long>(46, 1)))));
    Send(Q(EncodeAgwFrame('K', ForeignFrame())));
    ASSERT_TRUE(WaitFor([&] { return form->Label4->text() == "CQ     -> N0CALL"; }));
    EXPECT_EQ(form->Events().Size(), before);
    EXPECT_EQ(form->History().RxPacketCount(), 0);
}

TEST_F(IntakeTest, RemoteCloseIsLoggedAndTheLampTurnsRed) {
    Bytes partial = EncodeAgwFrame('K', ForeignFrame());
    partial.resize(40); // cut inside the frame
    Send(Q(partial));
    QTest::qWait(20);
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return LastEntryText() == "AGW winsock connection closed"; }));
    EXPECT_EQ(EntryText(1), "AGW connection ended inside a frame: 40 bytes of it dropped");
    EXPECT_EQ(form->Winsock1().State(), AgwClient::Closed);
    form->Timer1_Timer();
    EXPECT_FALSE(form->LampGreen());
}

TEST_F(IntakeTest, AbsurdLengthIsAProtocolErrorThatClosesTheConnection) {
    Bytes bad = EncodeAgwFrame('K', ForeignFrame());
    bad[31] = 0x7F; // about two gigabytes announced
    Send(Q(bad));
    Send(Q(EncodeAgwFrame('K', ForeignFrame("after"))));
    ASSERT_TRUE(WaitFor([&] {
        return LastEntryText().rfind("AGW protocol error, connection closed: ", 0) == 0;
    })) << LastEntryText();
    EXPECT_EQ(form->Winsock1().State(), AgwClient::Closed);
    EXPECT_EQ(form->Label4->text(), ""); // nothing was taken from the broken stream
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(IntakeTest, ABurstIsWorkedOffWithoutFreezingTheWindow) {
    // Thousands of frames in one piece, as a replay at full speed sends them.
    constexpr int kFrames = 3000;
    QByteArray burst;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<long> raw(46, 0);
        raw[2] = i;
        burst += Q(EncodeAgwFrame('K', i % 10 == 9 ? ForeignFrame() : TelemetryFrame(raw)));
    }
    int ticks = 0, ticksBeforeDone = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        ++ticks;
        if (form->History().RxPacketCount() < kFrames - kFrames / 10) ticksBeforeDone = ticks;
    });
    heartbeat.start(0);
    Send(burst);
    ASSERT_TRUE(WaitFor(
        [&] {
            return form->History().RxPacketCount() == kFrames - kFrames / 10 &&
                   form->Label4->text() == "CQ     -> N0CALL";
        },
        120000));
    heartbeat.stop();
    EXPECT_EQ(LogRecords().size(), 2u * kFrames);
    EXPECT_GT(ticksBeforeDone, 1); // the loop ran between slices of the burst
    EXPECT_EQ(form->History().RxPacketCount(), kFrames - kFrames / 10);
    EXPECT_EQ(form->History().Record(form->History().StoredCount()).values[2], kFrames - 2);
    EXPECT_FALSE(form->Winsock1().Paused());
}
