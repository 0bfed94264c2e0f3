#include "limits/qt/LimitsFileWatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrik {

namespace {

// SIGHUP reaches the event loop through this pair; the handler writes one byte.
int hangupPair[2] = {-1, -1};
// What SIGHUP did before (ignored, in a station), given back at the end.
struct sigaction hangupBefore = {};

void OnHangup(int) {
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(hangupPair[1], &b, 1);
}

// An editor writes a file in several steps: one reading once it has settled.
constexpr int kSettleMs = 300;

} // namespace

LimitsFileWatcher::LimitsFileWatcher(const QString& path, Apply apply, Log log, QObject* parent)
    : QObject(parent), path_(path), apply_(std::move(apply)), log_(std::move(log)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &LimitsFileWatcher::Changed);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_,
            qOverload<>(&QTimer::start));
    if (hangupPair[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, hangupPair) == 0) {
        hangup_ = new QSocketNotifier(hangupPair[0], QSocketNotifier::Read, this);
        connect(hangup_, &QSocketNotifier::activated, this, [this] {
            char b = 0;
            [[maybe_unused]] const auto n = ::read(hangupPair[0], &b, 1);
            Reload();
        });
        struct sigaction sa = {};
        sa.sa_handler = OnHangup;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGHUP, &sa, &hangupBefore);
    }
    Reload();
}

LimitsFileWatcher::~LimitsFileWatcher() {
    if (!hangup_) return;
    sigaction(SIGHUP, &hangupBefore, nullptr);
    ::close(hangupPair[0]);
    ::close(hangupPair[1]);
    hangupPair[0] = hangupPair[1] = -1;
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
    signature_ = Signature();
    Watch();
    ++readings_;
    const std::string name = QFile::encodeName(path_).toStdString();
    LimitsFileRead r = ReadLimitsFile(name);
    if (!r.unreadable.empty()) {
        // Said once, not at every change in the folder, until the file is back.
        if (!missingSaid_)
            log_("limits: " + name + " cannot be read (" + r.unreadable +
                 "); running without limits until it can");
        missingSaid_ = true;
        apply_({});
        return;
    }
    missingSaid_ = false;
    for (const LimitsLineError& e : r.parse.errors)
        log_("limits: " + name + " " + ErrorText(e));
    const int n = r.parse.table.InForce();
    log_("limits: " + std::to_string(n) + (n == 1 ? " field" : " fields") +
         " with limits in force from " + name);
    apply_(std::move(r.parse.table));
}

} // namespace tavrik
