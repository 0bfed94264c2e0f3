#pragma once
// The limits file, read at start, again when it changes or appears on disk,
// and on SIGHUP. Each reading writes its bad lines and one line saying how
// many fields have limits in force; a missing file is said once, and the
// program runs without limits until it appears.
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "limits/Limits.h"

class QSocketNotifier;

namespace tavrik {

class LimitsFileWatcher : public QObject {
    Q_OBJECT
  public:
    using Apply = std::function<void(LimitsTable)>;
    using Log = std::function<void(const std::string&)>;

    // Reads the file at once.
    LimitsFileWatcher(const QString& path, Apply apply, Log log, QObject* parent = nullptr);
    ~LimitsFileWatcher() override;

    // Reads the file again now, whatever changed.
    void Reload();
    int Readings() const { return readings_; }

  private:
    void Changed();
    void Watch();
    QString Signature() const;

    QString path_;
    Apply apply_;
    Log log_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QString signature_;
    bool missingSaid_ = false;
    int readings_ = 0;
    QSocketNotifier* hangup_ = nullptr;
};

} // namespace tavrik
