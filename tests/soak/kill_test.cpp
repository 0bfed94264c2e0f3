// The unattended station, with AGW_RECONNECT=YES and UPLOAD_RETRY=YES: the real
// program, its modem program restarted twice while it runs, one server down
// for a while, and the program killed (SIGKILL) in the middle of a burst and
// started again. Every telemetry frame that reached a KISS log reaches both
// servers, in order, with at most one duplicate per server (the request in
// flight at the kill). Prints a "SOAK ..." line.
//
// SOAK_KILL_FRAMES    frames of each of the four feeds (default 60)
// SOAK_SERVER_DOWN_S  how long the backup server is down from the start (default 8)
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "killed_program.h"
#include "soak_support.h"

using namespace tavrik;
using namespace tavrik::soak;

namespace {

// The frame= fields of the telemetry frames the program logged.
std::vector<std::string> LoggedFields(const KilledProgram& program) {
    std::vector<std::string> out;
    for (const Bytes& frame : program.Logged())
        out.push_back(FrameField(frame));
    return out;
}

// What a server took: how many more than once, and whether in the feed's order.
struct Delivery {
    long duplicates = 0;
    bool inOrder = true;
};
Delivery Deliveries(const HttpTestServer& server, const std::vector<std::string>& feedOrder) {
    Delivery d;
    std::set<std::string> seen;
    auto next = feedOrder.begin();
    for (const std::string& field : FrameFields(server)) {
        if (!seen.insert(field).second) {
            ++d.duplicates;
            continue;
        }
        next = std::find(next, feedOrder.end(), field);
        d.inOrder = d.inOrder && next != feedOrder.end();
    }
    return d;
}

} // namespace

TEST(Faults, UnattendedStationLosesNoLoggedFrameToModemRestartsAServerDownOrAKill) {
    const long part = EnvLong("SOAK_KILL_FRAMES", 60);
    const int downMs = static_cast<int>(EnvLong("SOAK_SERVER_DOWN_S", 8) * 1000);
    const Feed feed(4 * part);
    const Bytes header = TelemetryHeader();
    QTemporaryDir work;
    QStringList kiss;
    std::vector<std::size_t> upTo; // telemetry frames in the feeds up to and with each one
    for (long p = 0; p < 4; ++p) {
        kiss << work.filePath(QStringLiteral("part%1.kss").arg(p));
        const auto end = static_cast<std::size_t>((p + 1) * part);
        ASSERT_TRUE(feed.WriteKiss(kiss.back(), static_cast<std::size_t>(p * part), end));
        upTo.push_back(static_cast<std::size_t>(
            std::count_if(feed.frames.begin(), feed.frames.begin() + end, [&](const Bytes& f) {
                return std::equal(header.begin(), header.end(), f.begin());
            })));
    }

    HttpTestServer a, b;
    ASSERT_TRUE(a.Listen());
    const quint16 backupPort = tavrik::test::ClosedPort(); // refuses until it comes back
    const QString backupUrl = QStringLiteral("http://127.0.0.1:%1/b").arg(backupPort);
    QTimer::singleShot(downMs, &b, [&] { b.Listen(backupPort); });
    const int modemPort = tavrik::test::ClosedPort();
    QTemporaryDir folder;
    KilledProgram program(folder.path());
    ASSERT_TRUE(program.Install());
    program.Configure({QStringLiteral("PORT=127.0.0.1:%1").arg(modemPort),
                       QStringLiteral("MYCALL=N0CALL"), "SERVER=" + a.Url("/a"),
                       "SERVER_BACKUP=" + backupUrl, QStringLiteral("UPLOAD_RETRY=YES"),
                       QStringLiteral("AGW_RECONNECT=YES")});
    std::unique_ptr<Replay> modem;
    const auto restartModem = [&](int p) {
        modem = std::make_unique<Replay>(); // the one before ends first
        return modem->Start(kiss[p], 10, modemPort);
    };
    const auto heard = [&] { return program.Logged().size(); };
    const auto heardAtLeast = [&](std::size_t n) {
        return WaitUntil([&] { return heard() >= n; }, 60000);
    };

    ASSERT_TRUE(restartModem(0));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(heardAtLeast(upTo[0]));
    ASSERT_TRUE(restartModem(1)); // while the program runs: it connects again
    ASSERT_TRUE(heardAtLeast(upTo[0] + (upTo[1] - upTo[0]) / 2));
    program.Kill();
    const std::size_t heardBeforeKill = heard();
    ASSERT_TRUE(restartModem(2));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(heardAtLeast(heardBeforeKill + upTo[2] - upTo[1]));
    ASSERT_TRUE(restartModem(3)); // and once more
    const auto allDelivered = [&] {
        const std::vector<std::string> atA = FrameFields(a), atB = FrameFields(b);
        const std::set<std::string> inA(atA.begin(), atA.end()), inB(atB.begin(), atB.end());
        return std::ranges::all_of(LoggedFields(program), [&](const std::string& f) {
            return inA.count(f) && inB.count(f);
        });
    };
    const bool delivered =
        WaitUntil([&] { return heard() >= heardBeforeKill + upTo[3] - upTo[1] && allDelivered(); },
                  120000 + downMs);
    program.Kill();

    const Delivery da = Deliveries(a, feed.telemetryFields);
    const Delivery db = Deliveries(b, feed.telemetryFields);
    std::ostringstream line;
    line << "SOAK run=unattended frames=" << heard() << " uploads_a=" << a.Requests().size()
         << " uploads_b=" << b.Requests().size() << " duplicates_a=" << da.duplicates
         << " duplicates_b=" << db.duplicates << " heard_before_kill=" << heardBeforeKill
         << " modem_restarts=2 server_down_s=" << downMs / 1000 << " kills=1";
    std::printf("%s\n", line.str().c_str());
    if (const QByteArray file = qgetenv("SOAK_REPORT"); !file.isEmpty())
        std::ofstream(file.toStdString(), std::ios::app) << line.str() << "\n";

    EXPECT_TRUE(delivered) << line.str();
    EXPECT_LT(heardBeforeKill, upTo[1]) << "killed after the burst";
    EXPECT_LE(da.duplicates, 1);
    EXPECT_LE(db.duplicates, 1);
    EXPECT_TRUE(da.inOrder);
    EXPECT_TRUE(db.inOrder);
}
