#pragma once
// What the rig and the rotator share: a Hamlib link, a tick that asks the
// tracker what to send, and the sky track they follow. Without a track (no
// TLE) the device stays idle and says so once. The clock is injectable, so a
// pass can be run in accelerated time.
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "radio/SkyTrack.h"
#include "radio/qt/HamlibLink.h"

namespace tavrik {

class HamlibControl : public QObject {
    Q_OBJECT
  public:
    using LogLine = HamlibLink::LogLine;
    using NowMs = std::function<std::int64_t()>; // UTC milliseconds since 1970
    static constexpr int kTickMs = 250;

    // The sky to follow; none: the device is left alone.
    void SetTrack(std::shared_ptr<SkyTrack> track);
    // RIG= / ROTATOR=: the daemon to use, connected once there is a track.
    void Start(const std::string& host, int port);
    void Stop();
    // Tests run passes in accelerated time with a faster tick.
    void SetTickMs(int ms) { tick_.setInterval(ms); }
    bool Connected() const { return link_.Connected(); }
    bool Tracking() const;
    const std::string& LastError() const { return link_.LastError(); }
    HamlibLink& Link() { return link_; }

  protected:
    HamlibControl(std::string who, std::string daemon, std::string key, LogLine log, NowMs now,
                  std::int64_t pollMs, QObject* parent);
    // The tracker's step at nowMs: keeps what is to be sent.
    virtual void Step(std::int64_t nowMs, SkyTrack& track, std::vector<std::string>& log) = 0;
    // Sends what is kept, if anything; true when it sent.
    virtual bool SendPending() = 0;
    // Reads the device's state (a liveness check as well).
    virtual void SendPoll() = 0;
    // A new connection: what the device was set to is unknown.
    virtual void Reconnected() = 0;
    virtual bool TrackerTracking() const = 0;

    HamlibLink link_;
    LogLine log_;
    NowMs now_;

  private:
    void Tick();
    void Pump();

    std::string who_, key_;
    std::shared_ptr<SkyTrack> track_;
    QTimer tick_;
    std::string host_;
    int port_ = 0;
    bool started_ = false, linked_ = false, saidIdle_ = false;
    std::int64_t pollMs_;
    std::int64_t lastPollMs_ = 0;
};

} // namespace tavrik
