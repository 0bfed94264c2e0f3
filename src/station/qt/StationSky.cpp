#include "station/qt/StationSky.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>

#include "limits/qt/AlarmRunner.h"
#include "support/qt/QtText.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

// A TLE file is a few lines a satellite; anything larger is not one.
constexpr qint64 kMaxTleBytes = 4 << 20;
constexpr int kFetchTimeoutMs = 60000;

std::string Number(double v, int decimals) {
    return QString::number(v, 'f', decimals).toStdString();
}

} // namespace

StationSky::StationSky(const Clock& clock, LogLine log, QObject* parent)
    : QObject(parent), clock_(clock), log_(std::move(log)) {
    settle_.setSingleShot(true);
    settle_.setInterval(500); // an editor writes a file in several steps
    connect(&settle_, &QTimer::timeout, this, [this] {
        if (state_ && !state_->Settings().tleIsUrl) ReadFile(tlePath_, Latin1Bytes(tlePath_));
        Watch();
    });
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { settle_.start(); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
    connect(&tick_, &QTimer::timeout, this, &StationSky::Tick);
    connect(&refresh_, &QTimer::timeout, this, &StationSky::Fetch);
}

StationSky::~StationSky() {
    if (pending_) pending_->abort();
}

std::int64_t StationSky::NowMs() const {
    return UnixMillisecondsNow(clock_);
}

void StationSky::Start(const StationConfig& config, const QString& folder, FramePipeline& pipeline,
                       std::function<bool()> modemConnected) {
    if (state_) return;
    std::vector<std::string> errors;
    std::optional<SkySettings> settings = ReadSkySettings(config, errors);
    for (const std::string& e : errors)
        Log(e);
    if (!settings) return;
    folder_ = folder;
    alarmCommand_ = config.alarmCommand;
    modemConnected_ = std::move(modemConnected);
    state_ = std::make_unique<SkyState>(*settings, NowMs());
    if (!settings->passCommand.empty())
        passCommand_ = std::make_unique<AlarmRunner>(Latin1Text(settings->passCommand), log_, this);
    if (!alarmCommand_.empty())
        alarm_ = std::make_unique<AlarmRunner>(Latin1Text(alarmCommand_), log_, this);
    pipeline.SetSky(state_.get());
    pipeline.AddConsumer(*this);
    if (settings->tleIsUrl) {
        tlePath_ = QDir(folder).filePath(QString::fromLatin1(kTleCopy));
        net_ = new QNetworkAccessManager(this);
        // The kept copy first, so a station without the network still knows the sky.
        if (QFileInfo::exists(tlePath_)) ReadFile(tlePath_, Latin1Bytes(tlePath_));
        Fetch();
        refresh_.start(static_cast<int>(std::min(settings->refreshHours * 3600e3, 2e9)));
    } else {
        const QString given = Latin1Text(settings->tle);
        tlePath_ = QDir::isAbsolutePath(given) ? given : QDir(folder).filePath(given);
        ReadFile(tlePath_, Latin1Bytes(tlePath_));
        Watch();
    }
    tick_.start(1000);
    Tick();
}

void StationSky::Reload() {
    if (!state_) return;
    if (state_->Settings().tleIsUrl)
        Fetch();
    else
        ReadFile(tlePath_, Latin1Bytes(tlePath_));
}

void StationSky::Watch() {
    // The file, and its folder for a file that is replaced or appears later.
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    if (QFileInfo::exists(tlePath_)) watcher_.addPath(tlePath_);
    watcher_.addPath(QFileInfo(tlePath_).absolutePath());
}

void StationSky::ReadFile(const QString& path, const std::string& shown) {
    QFile f(path);
    const QFileInfo info(path);
    const QString signature =
        QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    if (!f.open(QIODevice::ReadOnly)) {
        if (signature_ != QStringLiteral("missing"))
            Log("TLE " + shown + " cannot be read (" + Latin1Bytes(f.errorString()) +
                "): the station goes on without the sky until it can");
        signature_ = QStringLiteral("missing");
        return;
    }
    if (signature == signature_) return; // the folder changed, not the file
    signature_ = signature;
    if (f.size() > kMaxTleBytes) {
        Log("TLE " + shown + " is larger than 4 MiB, not a TLE file: not read");
        return;
    }
    for (const std::string& line : state_->Load(f.readAll().toStdString(), shown))
        Log(line);
    emit ticked();
}

void StationSky::Fetch() {
    if (!state_ || !net_ || pending_) return;
    QNetworkRequest request(QUrl(Latin1Text(state_->Settings().tle)));
    request.setTransferTimeout(kFetchTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    pending_ = net_->get(request);
    connect(pending_, &QNetworkReply::finished, this, [this, reply = pending_] { Fetched(reply); });
}

void StationSky::Fetched(QNetworkReply* reply) {
    pending_ = nullptr;
    reply->deleteLater();
    const std::string url = state_->Settings().tle;
    const QByteArray body =
        reply->error() == QNetworkReply::NoError && reply->bytesAvailable() <= kMaxTleBytes
            ? reply->readAll()
            : QByteArray();
    std::string why;
    if (reply->error() != QNetworkReply::NoError)
        why = Latin1Bytes(reply->errorString());
    else if (body.isEmpty())
        why = "the answer is empty or larger than 4 MiB";
    else if (ParseTles(body.toStdString()).sets.empty())
        why = "the answer holds no element set (not a TLE file)";
    if (!why.empty()) {
        Log("TLE " + url + " not fetched: " + why +
            (state_->Ready() ? "; going on with the copy kept" : "; no sky until a fetch works"));
        return;
    }
    QSaveFile copy(tlePath_);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(body) != body.size() || !copy.commit())
        Log("TLE copy " + Latin1Bytes(tlePath_) +
            " cannot be written: " + Latin1Bytes(copy.errorString()));
    for (const std::string& line : state_->Load(body.toStdString(), url))
        Log(line);
    emit ticked();
}

void StationSky::TelemetryDecoded(const DecodedFrame& frame) {
    if (!state_ || frame.heard.imported) return;
    std::string_view at = frame.heard.received;
    if (at.ends_with(" UTC")) at.remove_suffix(4);
    if (const std::optional<std::int64_t> ms = ParseTimestamp(at)) state_->LiveFrame(*ms);
}

void StationSky::Tick() {
    if (!state_) return;
    std::vector<std::string> lines;
    const bool connected = modemConnected_ && modemConnected_();
    for (const SkyState::Event& e : state_->Tick(NowMs(), connected, lines))
        Handle(e);
    for (const std::string& line : lines)
        Log(line);
    emit ticked();
}

void StationSky::Handle(const SkyState::Event& e) {
    const Pass& p = e.pass;
    const bool aos = e.kind == SkyState::Event::Kind::Aos;
    if (passCommand_) {
        if (passCommand_->Running() > 0) {
            Log(std::string("PASS_COMMAND still running: not started for ") +
                (aos ? "AOS" : "LOS") + " of the pass at " + PassTimeText(p.aosMs));
        } else {
            AlarmCall call;
            call.environment = {{"TAVRIK_EVENT", aos ? "aos" : "los"},
                                {"TAVRIK_PASS_AOS", FormatIsoUtc(p.aosMs)},
                                {"TAVRIK_PASS_LOS", FormatIsoUtc(p.losMs)},
                                {"TAVRIK_MAX_ELEVATION", Number(p.maxElevationDeg, 1)},
                                {"TAVRIK_AOS_AZIMUTH", Number(p.aosAzimuthDeg, 1)},
                                {"TAVRIK_LOS_AZIMUTH", Number(p.losAzimuthDeg, 1)}};
            call.line = std::string(aos ? "AOS " : "LOS ") + FormatIsoUtc(aos ? p.aosMs : p.losMs);
            passCommand_->Run(call);
        }
    }
    if (aos) return;
    const PassWatch::Judgement& j = e.judgement;
    if (!j.line.empty()) Log(j.line);
    if (j.verdict == PassWatch::Verdict::Missed && alarm_) {
        AlarmCall call;
        call.environment = {{"TAVRIK_FIELD", "pass"},
                            {"TAVRIK_STATE", "missed-pass"},
                            {"TAVRIK_VALUE", Number(p.maxElevationDeg, 1)},
                            {"TAVRIK_TIME", FormatIsoUtc(p.losMs)},
                            {"TAVRIK_PASS_AOS", FormatIsoUtc(p.aosMs)},
                            {"TAVRIK_PASS_LOS", FormatIsoUtc(p.losMs)},
                            {"TAVRIK_MAX_ELEVATION", Number(p.maxElevationDeg, 1)}};
        call.line = Latin1Text(j.line).toUtf8().toStdString(); // a program reads UTF-8
        alarm_->Run(call);
    }
}

} // namespace tavrik
