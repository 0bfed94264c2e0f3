#include "upload/qt/InfluxUploader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "files/InfluxLine.h"
#include "upload/ServerAddress.h"

namespace tavrik {

namespace {

constexpr int kSyncIntervalMs = 1000;   // as for the upload queues: one flush serves a burst
constexpr qsizetype kAnswerBytes = 300; // of an error answer's body, for the log

MonotonicNow SteadyNow() {
    return [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    };
}

// An answer's body as one short line: InfluxDB says there what was wrong.
std::string AnswerWords(QByteArray body) {
    body = body.left(kAnswerBytes);
    for (char& c : body)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return body.trimmed().toStdString();
}

bool HasControl(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

} // namespace

InfluxUploader::InfluxUploader(const Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), network_(new QNetworkAccessManager(this)) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &InfluxUploader::Pump);
    sync_.setSingleShot(true);
    sync_.setInterval(kSyncIntervalMs);
    connect(&sync_, &QTimer::timeout, this, [this] {
        UploadLane* lane = feed_ ? feed_->Lane() : nullptr;
        if (lane && lane->Spool().NeedsSync() && !lane->Spool().Sync())
            Log(lane->Spool().LastError());
    });
}

InfluxUploader::~InfluxUploader() {
    Stop();
}

bool InfluxUploader::Start(const std::string& url, const std::string& token,
                           const std::filesystem::path& queueFolder) {
    shownUrl_ = ShownUrl(url);
    url_ = QUrl(QString::fromStdString(url), QUrl::StrictMode);
    const QString scheme = url_.scheme().toLower();
    if (!url_.isValid() || url_.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        Log("INFLUX " + shownUrl_ + " is not an http or https URL: no points are sent");
        return false;
    }
    // The token itself is never written anywhere.
    if (HasControl(token)) {
        Log("INFLUX_TOKEN holds a control character: no points are sent");
        return false;
    }
    if (!token.empty()) authorization_ = QByteArray("Token ") + QByteArray::fromStdString(token);

    const MonotonicNow now = SteadyNow();
    const LaneLog log = [this](const std::string& text) { Log(text); };
    if (!queueFolder.empty()) {
        std::string why;
        if (auto spool = UploadSpool::Open(queueFolder, SpoolLimits{}, why)) {
            auto lane = std::make_unique<UploadLane>(shownUrl_, std::move(spool), now, log);
            lane->SetBackoff(backoff_);
            lane->AnnounceLeftovers();
            feed_ = std::make_unique<InfluxFeed>(std::move(lane), limits_, now, log);
        } else {
            Log("InfluxDB queue " + queueFolder.string() +
                " not usable, points are sent once, without retry: " + why);
        }
    }
    if (!feed_) feed_ = std::make_unique<InfluxFeed>(limits_, now, log);
    Log("InfluxDB: every telemetry frame goes to " + shownUrl_ +
        (feed_->Lane() ? ", kept on disk until taken" : ""));
    SchedulePump();
    return true;
}

void InfluxUploader::Add(const std::string& source, const std::string& receptionTime,
                         const std::array<double, kFieldCount>& values,
                         const InfluxFields& extra) {
    if (!feed_ || stopped_) return;
    std::string line;
    if (!AppendInfluxLine(line, source, receptionTime, values, extra)) {
        if (!std::exchange(unstamped_, true))
            Log("InfluxDB: a frame without a reception time is not sent (and no other like it "
                "is said)");
        return;
    }
    feed_->Add(line);
    if (feed_->Lane()) sync_.start();
    SchedulePump();
}

void InfluxUploader::SchedulePump() {
    if (pumpScheduled_) return;
    pumpScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pumpScheduled_ = false;
            Pump();
        },
        Qt::QueuedConnection);
}

void InfluxUploader::Pump() {
    if (!feed_ || stopped_ || reply_ || retry_.isActive()) return;
    const std::string* body = feed_->StartNext();
    if (!body) {
        const auto pause = feed_->RetryIn();
        if (pause.count() > 0 && !feed_->InFlight()) retry_.start(pause);
        return;
    }
    QNetworkRequest request(url_);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!authorization_.isEmpty()) request.setRawHeader("Authorization", authorization_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(static_cast<int>(timeout_.count()));
    reply_ =
        network_->post(request, QByteArray(body->data(), static_cast<qsizetype>(body->size())));
    answer_.clear();
    // Only the start of an answer is of use (InfluxDB says there what was wrong).
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        if (!reply_) return;
        const QByteArray part = reply_->readAll();
        answer_ += part.left(kAnswerBytes - answer_.size());
    });
    connect(reply_, &QNetworkReply::finished, this, &InfluxUploader::OnFinished);
}

void InfluxUploader::OnFinished() {
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    if (!reply) return;
    reply->deleteLater();
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.isValid() ? statusAttr.toInt() : 0;
    if (status <= 0) {
        Failed(UploadOutcome::Transient, reply->errorString().toStdString());
    } else if (const UploadOutcome outcome = JudgeInfluxAnswer(status);
               outcome == UploadOutcome::Delivered) {
        feed_->Finish(outcome);
        lastSuccess_ = UtcTimestamp(clock_);
        if (!loggedError_.empty()) {
            loggedError_.clear();
            Log("InfluxDB " + shownUrl_ + " takes the points again");
        }
    } else {
        std::string header;
        for (const auto& [name, value] : reply->rawHeaderPairs())
            header += name.toStdString() + ": " + value.toStdString() + "\r\n";
        const auto moved = MovedLine(status, header, shownUrl_, "INFLUX");
        Failed(outcome, moved ? *moved
                              : "HTTP " + std::to_string(status) + " from " + shownUrl_ + ": " +
                                    AnswerWords(answer_ + reply->readAll()));
    }
    if (feed_->Lane()) sync_.start();
    SchedulePump();
}

void InfluxUploader::Failed(UploadOutcome outcome, const std::string& words) {
    const std::size_t points = feed_->InFlightPoints();
    feed_->Finish(outcome);
    lastError_ = words;
    lastErrorTime_ = UtcTimestamp(clock_);
    // A server that stays down is told of once a minute, not once a try.
    const auto now = std::chrono::steady_clock::now();
    if (words == loggedError_ && now - loggedAt_ < std::chrono::minutes(1)) return;
    loggedError_ = words;
    loggedAt_ = now;
    std::string line = words.starts_with("HTTP ") ? words : "InfluxDB " + shownUrl_ + ": " + words;
    if (!feed_->Lane())
        line += " (without UPLOAD_RETRY=YES points are not sent again)";
    else if (outcome == UploadOutcome::Permanent && points == 1)
        line += " (the point was dropped)";
    Log(line);
}

void InfluxUploader::Stop() {
    if (stopped_) return;
    stopped_ = true;
    retry_.stop();
    if (QNetworkReply* reply = std::exchange(reply_, nullptr)) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    sync_.stop();
    if (UploadLane* lane = feed_ ? feed_->Lane() : nullptr; lane && !lane->Spool().Sync())
        Log(lane->Spool().LastError());
}

bool InfluxUploader::Idle() const {
    return !feed_ || (!reply_ && feed_->Counts().queued == 0);
}

InfluxStatus InfluxUploader::Status() const {
    InfluxStatus s;
    s.running = feed_ && !stopped_;
    s.keepsOnDisk = feed_ && feed_->Lane();
    s.url = shownUrl_;
    if (feed_) s.counts = feed_->Counts();
    s.lastSuccess = lastSuccess_;
    s.lastError = lastError_;
    s.lastErrorTime = lastErrorTime_;
    return s;
}

void InfluxUploader::Log(const std::string& text) {
    emit logLine(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace tavrik
