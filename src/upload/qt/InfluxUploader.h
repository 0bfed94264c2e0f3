#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "telemetry/FrameLayout.h"
#include "time/Clock.h"
#include "files/InfluxLine.h"
#include "upload/InfluxFeed.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrik {

// What the InfluxDB lane has done, for the page and the metrics. Nothing in it
// is secret: the address is shown without user, query or token.
struct InfluxStatus {
    bool running = false; // INFLUX set and usable
    bool keepsOnDisk = false;
    std::string url;
    InfluxCounts counts;
    std::string lastSuccess;   // UtcTimestamp of the last accepted request; empty when none
    std::string lastError;     // in plain words; empty when none since start-up
    std::string lastErrorTime; // UtcTimestamp
};

// Sends each decoded telemetry frame as one InfluxDB point to INFLUX, on a
// connection of its own: a slow or missing InfluxDB never holds up the
// telemetry servers, and its answers never count as theirs.
class InfluxUploader : public QObject {
    Q_OBJECT
  public:
    explicit InfluxUploader(const Clock& clock, QObject* parent = nullptr);
    ~InfluxUploader() override;

    // Before Start.
    void SetBackoff(RetryBackoff backoff) { backoff_ = backoff; }
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    void SetBatchLimits(InfluxBatchLimits limits) { limits_ = limits; }

    // Sends to url ("http://host:8086/write?db=DB" or ".../api/v2/write?org=O&bucket=B"),
    // with "Authorization: Token ..." when token is not empty. A non-empty
    // queueFolder keeps the points on disk until InfluxDB took them; what an
    // earlier run left there goes first. An unusable setting gets one log line
    // and false.
    bool Start(const std::string& url, const std::string& token,
               const std::filesystem::path& queueFolder = {});
    void Add(const std::string& source, const std::string& receptionTime,
             const std::array<double, kFieldCount>& values, const InfluxFields& extra = {});
    // Stops the request in flight; points on disk stay there.
    void Stop();
    bool Idle() const;
    InfluxStatus Status() const;

  signals:
    void logLine(const QString& text);

  private:
    void SchedulePump();
    void Pump();
    void OnFinished();
    void Failed(UploadOutcome outcome, const std::string& words);
    void Log(const std::string& text);

    const Clock& clock_;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    QByteArray answer_; // the start of the reply's body
    RetryBackoff backoff_;
    std::chrono::milliseconds timeout_{std::chrono::seconds(60)};
    InfluxBatchLimits limits_;
    std::unique_ptr<InfluxFeed> feed_;
    QUrl url_;
    std::string shownUrl_;
    QByteArray authorization_;
    QTimer retry_;
    QTimer sync_;
    bool pumpScheduled_ = false;
    bool stopped_ = false;
    std::string lastSuccess_;
    std::string lastError_;
    std::string lastErrorTime_;
    std::string loggedError_; // the failure the log last told of; empty once accepted again
    std::chrono::steady_clock::time_point loggedAt_{};
    bool unstamped_ = false; // a frame without reception time was said once
};

} // namespace tavrik
