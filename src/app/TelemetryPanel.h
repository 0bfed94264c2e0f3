#pragma once
// The telemetry panel: four captioned groups with one row per field (choice
// button, value box, unit caption), built from the field table.
#include <QColor>
#include <QString>
#include <array>
#include <optional>

#include "telemetry/FrameLayout.h"
#include "telemetry/TelemetryHistory.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace tavrik {

// Uptime: the field charted after start-up and after every import.
inline constexpr int kDefaultChartField = 5;

class TelemetryPanel {
  public:
    // Builds the groups and rows inside the window's client area.
    void Build(QWidget* client);
    // The start-up labelling: button captions and units from the field table.
    void LabelFields();
    // Exactly one button chosen across the groups, its value box highlighted.
    void Select(int field);
    // A field's limit state: its box takes the background given (an invalid
    // colour: none) over the chosen field's, and the words go into its
    // tooltip and accessible description, so the state is not told by colour alone.
    void ShowLimitState(int field, const QColor& background, const QString& words);
    // Writes a record's values into the value boxes.
    void ShowRecord(const TelemetryRecord& record);
    // "Uptime [s]", or the caption alone for a field without unit.
    QString ChartCaption(int field) const;
    // The choice buttons of all four groups, one exclusive group; ids are field indexes.
    QButtonGroup* Choices() const { return choices_; }

    std::array<QRadioButton*, kFieldCount> Option1{};
    std::array<QLineEdit*, kFieldCount> Text1{};
    std::array<QLabel*, kFieldCount> Label2{};
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Label2Label2 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QGroupBox* Frame3 = nullptr;

  private:
    void Paint(int field);

    QButtonGroup* choices_ = nullptr;
    int chosen_ = -1;
    std::array<QColor, kFieldCount> limitColour_{};
    std::array<std::optional<double>, kFieldCount> shown_{}; // the value each box shows
};

} // namespace tavrik
