#include "limits/qt/LimitsFileWatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <csignal>

#include "support/qt/SignalPipe.h"

namespace tavrik {

namespace {

// An editor writes a file in several steps: one reading once it has settled.
constexpr int kSettleMs = 300;
// SIGHUP goes to the first watcher only.
bool hangupTaken = false;

} // namespace

LimitsFileWatcher::LimitsFileWatcher(const QString& path, Apply apply, Log log, QObject* parent)
    : QObject(parent), path_(path), apply_(std::move(apply)), log_(std::move(log)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &LimitsFileWatcher::Changed);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_,
            qOverload<>(&QTimer::start));
    if (!hangupTaken) {
        hangupTaken = true;
        hangup_ = new SignalPipe({SIGHUP}, nullptr, this);
        connect(hangup_, &SignalPipe::raised, this, &LimitsFileWatcher::Reload);
    }
    // The first reading before anything else, so the limits are in force
    // from the first frame; the file is at most kMaxLimitsBytes.
    signature_ = Signature();
    Watch();
    ++readings_;
    Finished(ReadLimitsFile(QFile::encodeName(path_).toStdString()));
}

LimitsFileWatcher::~LimitsFileWatcher() {
    if (reader_.joinable()) reader_.join();
    if (hangup_) {
        delete hangup_;
        hangupTaken = false;
    }
}

QString LimitsFileWatcher::Signature() const {
    const QFileInfo info(path_);
    if (!info.exists()) return {};
    return QString::number(info.size()) + QLatin1Char(' ') +
           QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char(' ') +
           QString::number(info.metadataChangeTime().toMSecsSinceEpoch());
}

void LimitsFileWatcher::Watch() {
    // The folder tells of the file appearing or being replaced (as editors
    // save); the file itself of writes in place.
    const QString folder = QFileInfo(path_).absolutePath();
    if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
    if (QFileInfo::exists(path_) && !watcher_.files().contains(path_)) watcher_.addPath(path_);
}

void LimitsFileWatcher::Changed() {
    // Other files come and go in the same folder: only a change of this one counts.
    if (Signature() == signature_) return Watch();
    Reload();
}

void LimitsFileWatcher::Reload() {
    if (reading_) {
        again_ = true;
        return;
    }
    signature_ = Signature();
    Watch();
    ++readings_;
    reading_ = true;
    if (reader_.joinable()) reader_.join();
    reader_ = std::thread([this, name = QFile::encodeName(path_).toStdString()] {
        LimitsFileRead r = ReadLimitsFile(name);
        // Queued: run on this object's thread; dropped if it is gone by then
        // (it joins this thread first).
        QMetaObject::invokeMethod(
            this, [this, r = std::move(r)]() mutable { Finished(std::move(r)); },
            Qt::QueuedConnection);
    });
}

void LimitsFileWatcher::Finished(LimitsFileRead r) {
    reading_ = false;
    const std::string name = QFile::encodeName(path_).toStdString();
    if (!r.unreadable.empty()) {
        // Said once, not at every change in the folder, until the file is
        // back or the reason changes (missing, then too large).
        if (unreadableSaid_ != r.unreadable)
            log_("limits: " + name + " cannot be read (" + r.unreadable +
                 "); running without limits until it can");
        unreadableSaid_ = r.unreadable;
        apply_({});
    } else {
        unreadableSaid_.clear();
        for (const LimitsLineError& e : r.parse.errors)
            log_("limits: " + name + " " + ErrorText(e));
        if (const std::string more = MoreErrorsText(r.parse); !more.empty())
            log_("limits: " + name + " " + more);
        const int n = r.parse.table.InForce();
        log_("limits: " + std::to_string(n) + (n == 1 ? " field" : " fields") +
             " with limits in force from " + name);
        apply_(std::move(r.parse.table));
    }
    if (again_) {
        again_ = false;
        Reload();
    }
}

} // namespace tavrik
