#include "radio/qt/Radio.h"

#include <cmath>

#include "radio/RadioSetup.h"

namespace tavrik {

namespace {

std::string Degrees(double v) {
    const long d = std::lround(v);
    return std::to_string(((d % 360) + 360) % 360) + "°";
}

} // namespace

Radio::Radio(HamlibControl::LogLine log, HamlibControl::NowMs now, QObject* parent)
    : QObject(parent), log_(std::move(log)), now_(std::move(now)) {}

void Radio::Start(const StationConfig& config, std::shared_ptr<SkyTrack> track) {
    const RadioSetup setup = ReadRadioSetup(config);
    for (const std::string& problem : setup.problems)
        log_(problem);
    if (setup.rig) {
        rig_ = std::make_unique<RigControl>(setup.rig->doppler, log_, now_);
        rig_->SetTrack(track);
        rig_->Start(setup.rig->address.host, setup.rig->address.port);
    }
    if (setup.rotator) {
        rotator_ = std::make_unique<RotatorControl>(setup.rotator->tracking, setup.rotator->limits,
                                                    log_, now_);
        rotator_->SetTrack(track);
        rotator_->Start(setup.rotator->address.host, setup.rotator->address.port);
    }
}

void Radio::Stop() {
    if (rig_) rig_->Stop();
    if (rotator_) rotator_->Stop();
}

std::string Radio::PassLine() const {
    std::string line;
    if (rig_ && rig_->Tracking() && rig_->FrequencySet())
        line = "rig " + FrequencyText(*rig_->FrequencySet());
    if (rotator_ && rotator_->Tracking() && rotator_->Commanded()) {
        const Pointing p = *rotator_->Commanded();
        line += (line.empty() ? "" : ", ") + std::string("antenna ") + Degrees(p.azimuthDeg) +
                " / " + Degrees(p.elevationDeg);
    }
    return line;
}

RadioStatus Radio::Status() const {
    RadioStatus s;
    if (rig_)
        s.rig = RigStatus{rig_->Connected(), rig_->Tracking(), rig_->FrequencySet(),
                          rig_->FrequencyRead(), rig_->LastError()};
    if (rotator_)
        s.rotator =
            RotatorStatus{rotator_->Connected(), rotator_->Tracking(), rotator_->Commanded(),
                          rotator_->Reported(), rotator_->LastError()};
    return s;
}

} // namespace tavrik
