#pragma once
// RIG and ROTATOR among the station's parts: the settings checked (each
// problem one line, that device idle), the controls made for what is set,
// and what the window and the page show of them.
#include <QObject>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "radio/RadioStatus.h"
#include "radio/qt/RigControl.h"
#include "radio/qt/RotatorControl.h"

namespace tavrik {

class Radio : public QObject {
    Q_OBJECT
  public:
    Radio(HamlibControl::LogLine log, HamlibControl::NowMs now, QObject* parent = nullptr);

    // Starts what the settings name, following `track`; without one (no TLE)
    // each device set says so once and stays idle.
    void Start(const StationConfig& config, std::shared_ptr<SkyTrack> track);
    void Stop();

    // Null when not set (or set wrongly).
    RigControl* Rig() const { return rig_.get(); }
    RotatorControl* Rotator() const { return rotator_.get(); }

    // During a pass, what the radio and the antenna were last set to: "rig 434
    // 998 210 Hz, antenna 140° / 23°"; empty outside passes.
    std::string PassLine() const;
    // For the page and the metrics.
    RadioStatus Status() const;

  private:
    HamlibControl::LogLine log_;
    HamlibControl::NowMs now_;
    std::unique_ptr<RigControl> rig_;
    std::unique_ptr<RotatorControl> rotator_;
};

} // namespace tavrik
