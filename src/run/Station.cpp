#include "run/Station.h"

#include <QCoreApplication>
#include <cstdio>

#include "files/SafeText.h"
#include "intake/qt/ArrivedFrames.h"
#include "station/SkyStateTrack.h"
#include "station/qt/KissImport.h"
#include "support/qt/QtText.h"
#include "time/TimeArgument.h"
#include "upload/UploadStatus.h"

namespace tavrik {

namespace {

// Every entry on standard error as well, so an unattended station's log
// survives in its journal.
class Journal final : public EventLogListener {
  public:
    void EntryAdded(const std::string& entry, bool) override {
        std::fprintf(stderr, "%s\n", EscapeControls(entry).c_str());
    }
};

} // namespace

Station::Station(StationEnvironment env, QObject* parent)
    : QObject(parent),
      programFolder_(env.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                 : env.programFolder),
      ownClock_(env.clock ? nullptr : std::make_unique<SystemClock>()),
      clock_(env.clock ? env.clock : ownClock_.get()), startupNotes_(std::move(env.startupNotes)),
      journal_(std::make_unique<Journal>()),
      pipeline_(*clock_, config_, history_, [this](const std::string& t) { Log(t); }) {
    eventLog_.AddListener(*journal_);
    connect(&inet1_, &UploadRoute::runStarted, this, &Station::uploadRunStarted);
    connect(&inet1_, &UploadRoute::stateChanged, this, &Station::UploadReported);
    connect(&inet1_, &UploadRoute::logLine, this,
            [this](const QString& t) { Log(t.toUtf8().toStdString()); });

    // Frames are taken from the link as they come and handled a slice at a time.
    arrived_ = new ArrivedFrames([this](const AgwFrame& frame) { HandleArrivedFrame(frame); },
                                 [this](bool paused) { modem_.Link().SetPaused(paused); }, this);
    connect(&modem_, &ModemConnection::dataArrived, this,
            [this] { arrived_->Add(modem_.Link().TakeFrames()); });

    import_ = new KissImport(pipeline_, this);
    connect(import_, &KissImport::logLine, this,
            [this](const QString& t) { Log(t.toUtf8().toStdString()); });

    // Paths are fixed before anything is read.
    configPath_ = programFolder_ + QStringLiteral("/online_conf.ini");
    imagePath_ = programFolder_ + QStringLiteral("/");
}

Station::~Station() {
    Stop();
    // Before the members they use go; the journal stays to the last line.
    delete import_;
    delete arrived_;
    eventLog_.RemoveListener(web_);
}

std::optional<ConfigError> Station::Start() {
    if (started_) return std::nullopt;
    started_ = true;
    for (const std::string& note : startupNotes_)
        Log(note);
    std::optional<ConfigError> failure;
    try {
        ReadStationConfig();
        modem_.SetReconnect(config_.agwReconnect);
        modem_.Open(config_.modem.value()); // "Winsock Remote..." lines, then the connection

        if (std::string why = OpenKissLog(); !why.empty())
            throw ConfigError{kOpenErrorKissLog, "KISS log cannot be created: " + why};
        // After the modem and the log: a queue that fails never keeps frames from being heard.
        inet1_.OpenQueues(PathBytes(programFolder_));
        limits_.Start(config_, programFolder_);
        // Imported and caught-up frames are judged by the limits in force.
        if (limits_.Started()) {
            archive_.SetLimits(limits_.Limits().Limits());
            QObject::connect(&limits_, &StationLimits::tableRead, &archive_,
                             [this](const LimitsTable& table) { archive_.SetLimits(table); });
        }
        archive_.Start(config_, programFolder_); // and catches up with the KISS logs
        // With the archive keeping everything, the run's history rolls on past its room.
        if (archive_.Running()) history_.SetRolling(true);
    } catch (const ConfigError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = ConfigError{kOpenErrorOther, e.what()};
    }
    // These never keep the station from hearing frames, so they run after a failure too.
    influx_.Open(PathBytes(programFolder_));
    if (!failure) sky_.Start(config_, programFolder_, [this] { return modem_.Connected(); });
    web_.Api().SetSky(sky_.State());
    // RIG / ROTATOR follow the sky; without it they say so and stay idle.
    if (!failure)
        radio_.Start(config_,
                     sky_.State() ? std::make_shared<SkyStateTrack>(*sky_.State()) : nullptr);
    web_.Api().SetRadio([this] { return radio_.Status(); });
    eventLog_.AddListener(web_, true);
    web_.WatchInflux([this] { return influx_.Status(); });
    web_.Start(config_, StationWeb::Station{pipeline_, modem_, inet1_, archive_});
    RegisterConsumers();
    return failure;
}

// Every judgement and every consumer of a decoded frame, in one list. The
// KISS log is written by the pipeline itself before any of them. Then:
//  0. the sky: the pipeline places each frame on it (TLE= set) first of all;
//  1. annotators: the limits' check, so every consumer sees the same states;
//  2. uploads: the body posted (or queued) first, before anything slow;
//  3. the archive, with the frame's limit states;
//  4. the limits' news: log lines, the alarm program, the window's colours;
//  5. the sky's pass watch: a frame heard in a pass (never a missed pass then);
//  6. the web page's model;
//  7. the InfluxDB lane;
//  8. the window last, when there is one, so it shows what all the others did.
// A later part of the station (a sky tracker, rig control) is owned here and
// takes its place in this list: an annotator above, or a consumer before the window.
void Station::RegisterConsumers() {
    LimitsConsumer* limits = limits_.Checker();
    if (sky_.State()) pipeline_.SetSky(sky_.State());
    if (limits) pipeline_.AddAnnotator(*limits);

    pipeline_.AddConsumer(uploads_);
    pipeline_.AddConsumer(archive_);
    if (limits) pipeline_.AddConsumer(*limits);
    if (sky_.State()) pipeline_.AddConsumer(sky_);
    pipeline_.AddConsumer(web_.Consumer());
    pipeline_.AddConsumer(influx_);
    if (view_) pipeline_.AddConsumer(*view_);
}

void Station::SetView(StationConsumer* view) {
    if (view_) pipeline_.RemoveConsumer(*view_);
    view_ = view;
    if (view_ && started_) pipeline_.AddConsumer(*view_);
}

void Station::ReadStationConfig() {
    StationConfig defaults;
    defaults.imagePath = PathBytes(imagePath_);
    ConfigReadResult r = ReadStationConfigFile(PathBytes(configPath_), defaults);
    eventLog_.SetLimit((config_ = r.config).eventLogLines);
    imagePath_ = PathFromBytes(config_.imagePath);
    // A bad PORT still means the file was read: its settings line is written first.
    if (!r.error || r.error->number == kOpenErrorBadPort) {
        Log(SettingsLine(config_));
        if (const std::string extensions = ExtensionsLine(config_); !extensions.empty())
            Log(extensions);
    }
    if (r.error) throw *r.error;
}

std::string Station::OpenKissLog() {
    const std::string name =
        KissLogName(PathBytes(programFolder_), config_.mycall, UtcNow(*clock_));
    std::string why = kissLog_.Open(name);
    if (why.empty()) pipeline_.SetKissLog(&kissLog_);
    return why;
}

void Station::Stop() {
    if (stopped_) return;
    stopped_ = true;
    radio_.Stop();
    modem_.Close();
    CloseKissLog();
}

void Station::CloseKissLog() {
    LogArrivedFrames();
    kissLog_.Close();
    kissLog_.RemoveIfEmpty();
}

void Station::LogArrivedFrames() {
    // Frames received but not yet handled still go to the log: none is lost.
    for (const AgwFrame& frame : arrived_->TakeRest())
        if (frame.Kind() == 'K' && kissLog_.IsOpen())
            kissLog_.AppendFrame(UtcTimestamp(*clock_), frame.data);
}

void Station::HandleArrivedFrame(const AgwFrame& frame) {
    if (frame.Kind() == 'K') pipeline_.ProcessRawFrame(frame.data);
    if (frame.Kind() == 'G') Log(PortInfoLine(frame));
}

void Station::Log(const std::string& text) {
    eventLog_.Prepend(UtcTimestamp(*clock_), text);
}

void Station::Handshake() {
    modem_.Handshake();
}

void Station::PostLatest() {
    inet1_.Post(pipeline_.UploadBody());
}

void Station::SetUploadsAllowed(bool on) {
    uploads_.SetAllowed(on);
}

void Station::CancelTransfers() {
    inet1_.CancelAll();
    import_->Stop();
}

void Station::ImportFiles(const QStringList& paths) {
    import_->Start(paths);
}

void Station::UploadReported(const TransferReport& report) {
    if (report.state == TransferState::Error) {
        Log(report.logLine);
    } else if (report.state == TransferState::ResponseCompleted) {
        Log(report.logLine);
        if (JudgeResponse(report.httpStatus).addAccessDeniedLine)
            eventLog_.PrependRaw(std::string(kAccessDeniedLine));
    }
    emit uploadReported(report);
}

} // namespace tavrik
