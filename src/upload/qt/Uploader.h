#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "upload/UploadStatus.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrik {

// Posts upload bodies to the configured servers, one request at a time.
//
// Each EnqueueRun() is one upload run with its own copy of the body; runs are
// served in arrival order, and each run posts to SERVER, then SERVER_BACKUP.
// Progress is reported as transfer states, by value (TransferReport), always
// increasing within a request; every request ends with exactly one of 11 (no
// HTTP response) or 12 (a response with any status); see TransferState. What Qt lets us observe
// maps to:
//   request issued              -> 1  icHostResolvingHost (Qt resolves inside)
//   socket starts connecting    -> 3  icConnecting (absent on a reused connection)
//   request written             -> 6  icRequestSent (also implied by an answer)
//   response header arrived     -> 7  icReceivingResponse
//   response complete           -> 8  icResponseReceived, then 12
//   refused, reset, TLS, timeout-> 11 icError
class Uploader : public QObject {
    Q_OBJECT
  public:
    explicit Uploader(QObject* parent = nullptr);
    ~Uploader() override;

    void SetServers(const QString& server, const QString& backup); // empty = not used
    void SetTimeout(std::chrono::milliseconds timeout);            // default 60 s
    void SetQueueLimit(std::size_t runs);                          // default 100000
    void SetExtraCaCertificates(const QList<QSslCertificate>& cas);
    void EnqueueRun(const QByteArray& body);
    // Aborts the request in flight and drops waiting runs; nothing more is
    // emitted for them.
    void CancelAll();
    bool Busy() const;
    std::size_t WaitingRuns() const;

  signals:
    void runStarted();
    void stateChanged(const tavrik::TransferReport& report);
    void runFinished();
    void logLine(const QString& text);

  private:
    struct Run {
        QByteArray body;
        QStringList targets; // the servers as set when the run was enqueued
    };

    void SchedulePump();
    void Pump();
    bool StartRequest(const QString& target);
    void OnFinished();
    void OnTimeout();
    // Ends the request in flight: drops the reply and reports 11 or 12.
    void EndWithError(int code, const QString& text);
    void EndWithResponse(int status, std::string header);
    void DropReply();
    // Emits a progress state unless it would go backwards; false when a slot
    // cancelled the work while it ran.
    bool EmitProgress(TransferState state);
    // Emits the request's final state; schedules the next request unless a slot cancelled.
    void EmitEnd(TransferReport report);

    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    QTimer timeoutTimer_;
    QString server_;
    std::string target_; // the server of the request in flight
    QString backup_;
    std::chrono::milliseconds timeout_{std::chrono::seconds(60)};
    // A burst of a whole recorded pass at full speed must wait, not be dropped:
    // 100000 bodies of about 400 bytes are some 40 MB at the very worst.
    std::size_t queueLimit_ = 100000;
    QList<QSslCertificate> extraCas_;

    std::deque<Run> waiting_;
    std::optional<Run> current_;
    qsizetype nextTarget_ = 0;
    int lastState_ = 0;
    qint64 bodyBytes_ = 0; // response body bytes of the request in flight
    bool pumpScheduled_ = false;
    // Bumped by CancelAll and at the end of every request, so that code
    // resumed after an emit can tell that its request is gone.
    quint64 epoch_ = 0;
};

} // namespace tavrik

Q_DECLARE_METATYPE(tavrik::TransferReport)
