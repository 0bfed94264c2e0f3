#pragma once
// The limits file, read at start, again when it changes or appears on disk,
// and on SIGHUP. Each reading writes its bad lines (the first twenty, then a
// count) and one line saying how many fields have limits in force; a missing
// file is said once, and the program runs without limits until it appears.
// Readings after the first are made on a worker thread, so the event loop
// never waits for one; changes meanwhile make one more reading after it.
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <thread>

#include "limits/Limits.h"

namespace tavrik {

class SignalPipe;

class LimitsFileWatcher : public QObject {
    Q_OBJECT
  public:
    using Apply = std::function<void(LimitsTable)>;
    using Log = std::function<void(const std::string&)>;

    // Reads the file at once.
    LimitsFileWatcher(const QString& path, Apply apply, Log log, QObject* parent = nullptr);
    ~LimitsFileWatcher() override;

    // Reads the file again soon, whatever changed.
    void Reload();
    // Readings started so far.
    int Readings() const { return readings_; }

  private:
    void Changed();
    void Watch();
    QString Signature() const;
    void Finished(LimitsFileRead r);

    QString path_;
    Apply apply_;
    Log log_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QString signature_;
    std::string unreadableSaid_; // why the file could not be read, as last said
    int readings_ = 0;
    std::thread reader_;
    bool reading_ = false;
    bool again_ = false; // asked for while reading
    SignalPipe* hangup_ = nullptr;
};

} // namespace tavrik
