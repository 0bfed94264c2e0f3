// The window on a KISS TCP link to a stand-in modem program on 127.0.0.1.
#include <QTcpServer>
#include <QTcpSocket>

#include "files/Kiss.h"
#include "form_fixture.h"
#include "telemetry_frames.h"

using namespace tavrik;
using namespace tavrik::testing;

namespace {
class KissLinkTest : public FormFixture {
  protected:
    bool Logged(const std::string& prefix) const {
        for (std::size_t i = 0; i < form->Events().Size(); ++i)
            if (EntryText(i).rfind(prefix, 0) == 0) return true;
        return false;
    }
};
} // namespace

TEST_F(KissLinkTest, FramesArriveWholeHoweverTheStreamIsCutOrGlued) {
    QTcpServer modem;
    ASSERT_TRUE(modem.listen(QHostAddress::LocalHost));
    const std::string port = "kiss://127.0.0.1:" + std::to_string(modem.serverPort());
    WriteConfig("PORT=" + port + "\r\nMYCALL=N0CALL\r\n");
    Start().Check1->setChecked(false);
    ASSERT_TRUE(WaitFor([&] { return modem.hasPendingConnections(); }));
    QTcpSocket* peer = modem.nextPendingConnection();
    ASSERT_TRUE(WaitFor([&] { return Logged("AGW winsock connection made"); }));
    EXPECT_TRUE(Logged(port + " | ")); // the settings line shows PORT as written
    EXPECT_TRUE(Logged("Winsock RemoteHost: 127.0.0.1"));

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
    EXPECT_TRUE(Logged("KISS frame of 600 bytes skipped: longer than 511 bytes"));
    EXPECT_EQ(peer->bytesAvailable(), 0); // no handshake on a KISS link

    QFile log(QString::fromStdString(form->Kiss().Path()));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray b = log.readAll();
    std::vector<Bytes> logged;
    for (const KissRecord& r : ReadKiss({reinterpret_cast<const std::uint8_t*>(b.constData()),
                                         static_cast<std::size_t>(b.size())}))
        if (r.kind == KissRecord::Kind::Frame) logged.push_back(r.bytes);
    EXPECT_EQ(logged, data);
}
