#pragma once
// The main window's visible widgets, by the names the design gives them, laid
// out in twips on a client area of fixed size.
#include <array>

#include "app/TelemetryPanel.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QRadioButton;
class QString;
class QWidget;

namespace tavrik {

class EventLogView;
class TelemetryChart;

class WindowWidgets {
  protected:
    // Declared first: the row arrays below refer to its widgets.
    TelemetryPanel panel_;

  public:
    static constexpr int kClientWidth = 703;
    static constexpr int kClientHeight = 828;

    // Builds the window: caption, client area with everything on it, menus;
    // the chart draws from the history.
    void BuildWidgets(QMainWindow* window, const TelemetryHistory& history);

    std::array<QRadioButton*, kFieldCount>& Option1 = panel_.Option1;
    std::array<QLineEdit*, kFieldCount>& Text1 = panel_.Text1;
    std::array<QLabel*, kFieldCount>& Label2 = panel_.Label2;
    QGroupBox* Frame5 = nullptr;
    TelemetryChart* MSChart1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Command2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    EventLogView* Text3 = nullptr;
    QAction* MnuImport = nullptr;
    QAction* MnuExit = nullptr;
    QAction* MnuDebug = nullptr;
    QAction* MnuExport = nullptr;
    QAction* MnuAbout = nullptr;

    // The file dialog of File, Import KISS file, in the folder given; deleted when closed.
    static QFileDialog* ImportDialog(QWidget* parent, const QString& folder);

  private:
    void BuildMenus(QMainWindow* window);
};

} // namespace tavrik
