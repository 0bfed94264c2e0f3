#pragma once
// File, "import KISS file": an open dialog that does not block, then the
// chosen files imported in order, in slices. While it runs the menu entry is
// off and the cursor waits; its notes go to the event log and the status label.
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <string>

#include "station/qt/KissImport.h"

class QAction;
class QLabel;
class QWidget;

namespace tavrik {

class ImportMenu : public QObject {
    Q_OBJECT
  public:
    // The import is the station's (its notes go to the station's log); the
    // menu opens the dialog and shows the progress.
    ImportMenu(QAction* entry, QWidget* window, QLabel* status, KissImport& import,
               QString programFolder);

    // Shows the open dialog (not while an import runs); a cancelled one imports nothing.
    void Open();
    // Imports the files in order; ignored while an import runs.
    void Start(const QStringList& paths);
    void Stop() { import_->Stop(); }
    bool Running() const { return import_->Running(); }
    const std::string& Listing() const { return import_->Listing(); }
    const QStringList& Files() const { return files_; }

  signals:
    void fileFinished();

  private:
    QAction* entry_;
    QWidget* window_;
    QString programFolder_;
    KissImport* import_;
    QStringList files_;
    QPointer<QFileDialog> dialog_;
};

} // namespace tavrik
