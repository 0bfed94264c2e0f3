// The window on a KISS TCP link to a stand-in modem program on 127.0.0.1.
#include <QTcpServer>
#include <QTcpSocket>

#include "form_fixture.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {
class KissLinkTest : public FormFixture {};
} // namespace

TEST_F(KissLinkTest, FramesArriveWholeHoweverTheStreamIsCutOrGlued) {
    QTcpServer modem;
    ASSERT_TRUE(modem.listen(QHostAddress::LocalHost));
    const std::string port = "kiss://127.0.0.1:" + std::to_string(modem.serverPort());
    WriteConfig("PORT=" + port + "\r\nMYCALL=N0CALL\r\n");
    Start().Check1->setChecked(false);
    ASSERT_TRUE(WaitFor([&] { return modem.hasPendingConnections(); }));
    QTcpSocket* peer = modem.nextPendingConnection();
    ASSERT_TRUE(WaitFor([&] { return EventLogged("AGW winsock connection made"); }));
    EXPECT_TRUE(EventLogged(port + " | ")); // the settings line shows PORT as written

    Bytes onPort1 = ForeignFrame("second port");
    onPort1[0] = 0x10;
    const std::vector<Bytes> data = {TelemetryFrame(std::vector<long>(46, 0xC0)),
                                     ForeignFrame("a\xC0 b\xDB c\xDC\xDD"), onPort1,
                                     TelemetryFrame(std::vector<long>(46, 0xDB))};
    Bytes stream = {0x55, 0xC0}; // noise before the first FEND
    for (const Bytes& frame : {data[0], Bytes{0x01, 0x32}, Bytes(600, 0), data[1], Bytes{}, data[2],
                               data[3]}) { // TXDELAY, too long, empty
        const Bytes r = KissFrameRecord(frame);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    // Pieces of every size from 1 to 97 bytes, each read apart, so frames are
    // cut and glued everywhere.
    for (std::size_t at = 0, n = 1; at < stream.size(); at += n, n = n % 97 + 1) {
        peer->write(reinterpret_cast<const char*>(stream.data() + at),
                    static_cast<qint64>(std::min(n, stream.size() - at)));
        peer->flush();
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitFor([&] { return form->History().RxPacketCount() == 2; }));
    EXPECT_TRUE(EventLogged("KISS frame of 600 bytes skipped: longer than 511 bytes"));
    EXPECT_EQ(peer->bytesAvailable(), 0); // no handshake on a KISS link

    std::vector<Bytes> logged;
    for (const KissRecord& r : KissRecords())
        if (r.kind == KissRecord::Kind::Frame) logged.push_back(r.bytes);
    EXPECT_EQ(logged, data);
}
