#include "app/ImportMenu.h"

#include <QAction>
#include <QLabel>

#include "app/WindowWidgets.h"

namespace tavrik {

ImportMenu::ImportMenu(QAction* entry, QWidget* window, QLabel* status, KissImport& import,
                       QString programFolder)
    : QObject(window), entry_(entry), window_(window), programFolder_(std::move(programFolder)),
      import_(&import) {
    connect(import_, &KissImport::status, status, &QLabel::setText);
    connect(import_, &KissImport::fileFinished, this, &ImportMenu::fileFinished);
    connect(import_, &KissImport::finished, this, [this] {
        entry_->setEnabled(true);
        window_->unsetCursor();
    });
}

void ImportMenu::Open() {
    if (import_->Running() || dialog_) return;
    dialog_ = WindowWidgets::ImportDialog(window_, programFolder_);
    connect(dialog_, &QFileDialog::filesSelected, this, &ImportMenu::Start);
    dialog_->open();
}

void ImportMenu::Start(const QStringList& paths) {
    if (import_->Running() || paths.isEmpty()) return;
    files_ = paths;
    entry_->setEnabled(false);
    window_->setCursor(Qt::WaitCursor);
    import_->Start(files_);
}

} // namespace tavrik
