#pragma once
// Runs a real Direwolf as the modem program of a test: it reads its receive
// audio from stdin and offers the AGW Packet Engine interface on a free TCP
// port, so a client under test meets the real server.
//
//   tavrik::test::DirewolfHarness direwolf;
//   ASSERT_TRUE(direwolf.Start()) << direwolf.ErrorText();
//   // connect a client (a socket, or the program with PORT=127.0.0.1:<AgwPort()>)
//   direwolf.FeedAudio(modulator.Samples()); // see afsk.h
//   // wait for the frames, then
//   direwolf.Stop();
//
// Direwolf listens on every interface; run tests that use this in a private
// network namespace (unshare --net). Its output is kept in Log() for failure
// messages. Stdin stays open until Stop(): Direwolf ends at its end of input.
// Everything runs on the caller's thread; its event loop (QSignalSpy::wait,
// QTest::qWaitFor, or the Wait* calls here) moves the audio into the pipe, so
// a client in the same process keeps working while the test waits. Only
// Start() blocks, briefly, while probing the port.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <span>

namespace tavrik::test {

class DirewolfHarness {
  public:
    struct Options {
        QString program = QStringLiteral("direwolf"); // a name on PATH or a path
        int sampleRate = 44100;                       // must match the audio fed
        int startTimeoutMs = 30000;                   // until the AGW port answers
        bool kiss = false;                            // also offer a KISS TCP port
    };

    DirewolfHarness();
    explicit DirewolfHarness(Options options);
    ~DirewolfHarness();
    DirewolfHarness(const DirewolfHarness&) = delete;
    DirewolfHarness& operator=(const DirewolfHarness&) = delete;

    // Writes the configuration, starts Direwolf and waits until its AGW port
    // (and KISS port) accepts a connection. False (with ErrorText()) if
    // Direwolf is missing, refuses its configuration, ends or never opens the
    // port. Started again after Stop(), it listens on the same ports.
    bool Start();
    // Stops feeding: closes stdin, so Direwolf finishes what it has and ends;
    // kills it if it does not. Safe to call more than once.
    void Stop();

    bool IsRunning() const;
    quint16 AgwPort() const { return agwPort_; }
    quint16 KissPort() const { return kissPort_; }
    QString ConfigPath() const;
    QString WorkDir() const;

    // Queues 16-bit mono samples for Direwolf's stdin, little-endian.
    void FeedAudio(std::span<const std::int16_t> samples);
    // Waits, running the event loop, until everything fed has gone into the pipe.
    bool WaitAudioWritten(int timeoutMs);
    qint64 AudioBytesPending() const;

    // Direwolf's output so far (stdout and stderr together); it comes line by line.
    QString Log();
    // Waits, running the event loop, until `text` has appeared `count` times
    // in the output (or Direwolf has ended).
    bool WaitForLog(const QString& text, int count, int timeoutMs);
    // Waits until `clients` AGW clients have attached, not counting the
    // harness's own probe: how a test learns that the program under test has
    // connected. Direwolf may act on a new client's requests up to a second
    // later still; give it that before feeding audio.
    bool WaitForAgwClients(int clients, int timeoutMs);
    // The same for KISS TCP clients (Options::kiss).
    bool WaitForKissClients(int clients, int timeoutMs);
    QString ErrorText() const { return error_; }

    // The configuration text for a given AGW port: stdin audio, one 1200-baud
    // channel, a KISS server only on a kissPort other than 0, no transmit, no
    // beacons, no digipeating.
    static QByteArray ConfigText(quint16 agwPort, int sampleRate, quint16 kissPort = 0);
    // Absolute path of the program, or empty when it cannot be found.
    static QString FindProgram(const QString& program);

  private:
    static quint16 FreeTcpPort();
    bool WaitForPort(quint16 port);
    void CollectOutput();

    Options options_;
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess process_;
    QByteArray log_;
    QString error_;
    quint16 agwPort_ = 0;
    quint16 kissPort_ = 0;
};

} // namespace tavrik::test
