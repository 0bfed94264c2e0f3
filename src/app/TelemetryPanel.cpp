#include "app/TelemetryPanel.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <utility>
#include <vector>

#include "app/Look.h"
#include "app/ValueBox.h"
#include "support/qt/QtText.h"

namespace tavrik {

namespace {
const QColor kChosenBox(255, 255, 192);
}

void TelemetryPanel::Build(QWidget* client) {
    Frame2 = look::Group(client, QStringLiteral("Status"), look::Tw(120, 600, 3375, 1935));
    Label2Label2 = look::Group(client, QStringLiteral("TRXUV"), look::Tw(3600, 600, 3375, 2655));
    Frame4 = look::Group(client, QStringLiteral("Antennas / Solar Panels"),
                         look::Tw(7080, 600, 3375, 2655));
    Frame3 = look::Group(client, QStringLiteral("Electrical Power Subsystem (EPS)"),
                         look::Tw(120, 3360, 10335, 2535));

    // One exclusive group across the four frames: exactly one choice, and each
    // button is a radio button to assistive tools.
    choices_ = new QButtonGroup(client);
    choices_->setExclusive(true);

    // Rows inside a group: top 360, every 240; button at 120, box at 2040, unit at 2880.
    struct Column {
        QGroupBox* group;
        int left; // twips, relative to the group
        std::vector<int> fields;
    };
    const std::vector<Column> columns = {
        {Frame2, 0, {0, 1, 2, 3, 4, 5}},
        {Label2Label2, 0, {6, 7, 8, 9, 10, 11, 12, 13}},
        {Frame4, 0, {14, 15, 16, 17, 41, 42, 43, 44, 45}},
        {Frame3, 0, {18, 19, 20, 21, 22, 23, 24, 25}},
        {Frame3, 3480, {26, 27, 28, 29, 30, 31, 32}},
        {Frame3, 6960, {33, 34, 35, 36, 37, 38, 39, 40}},
    };
    for (const Column& col : columns) {
        int top = 360;
        for (int i : col.fields) {
            auto* option = new QRadioButton(QStringLiteral("Option1"), col.group);
            option->setGeometry(look::Tw(col.left + 120, top, 1815, 255));
            option->setPalette(look::TextPalette());
            option->setFont(look::BaseFont());
            choices_->addButton(option, i);

            // The state names need more room than a number: their boxes take the
            // unit caption's place, as the mode box of field 0 always did.
            const bool wide = i == 0 || i == 39 || i == 40;
            const int boxWidth = i == 0 ? 975 : wide ? 1215 : 735;
            auto* box = new ValueBox(col.group);
            box->setReadOnly(true);
            box->setGeometry(look::Tw(col.left + 2040, top, boxWidth, 255));
            box->setTextMargins(0, 0, 0, 0);
            box->setFont(look::BaseFont());
            box->setPalette(look::BoxPalette(Qt::white));
            box->setFocusPolicy(Qt::NoFocus);
            // Assistive tools name the box by its field, not by its group's title.
            box->setAccessibleName(Utf8Text(Field(i).caption));
            box->setAccessibleDescription(Utf8Text(Field(i).unit));

            auto* unit = new QLabel(col.group);
            if (i == 0)
                unit->setGeometry(look::Tw(col.left + 3120, top, 135, 255));
            else
                unit->setGeometry(look::Tw(col.left + 2880, top, 375, 255));
            unit->setFont(look::BaseFont());
            unit->setPalette(look::TextPalette());
            // A label is named by its text; without one, assistive tools fall back
            // to a label whose buddy it is, else to the group's title. Being its
            // own buddy keeps an empty unit unnamed instead of reading "Status".
            unit->setBuddy(unit);
            if (wide) unit->hide();

            Option1[static_cast<std::size_t>(i)] = option;
            Text1[static_cast<std::size_t>(i)] = box;
            Label2[static_cast<std::size_t>(i)] = unit;
            top += 240;
        }
    }
    Option1[kDefaultChartField]->setChecked(true);
}

void TelemetryPanel::LabelFields() {
    for (const FieldSpec& f : FieldTable()) {
        const auto i = static_cast<std::size_t>(f.index);
        Option1[i]->setText(Utf8Text(f.caption));
        Label2[i]->setText(Utf8Text(f.unit));
    }
}

void TelemetryPanel::Select(int field) {
    Option1[static_cast<std::size_t>(field)]->setChecked(true); // the group clears the others
    // Only the boxes whose background changes get a new palette: each one set
    // is a style change and a repaint.
    const int before = std::exchange(chosen_, field);
    if (before >= 0 && before != field) Paint(before);
    Paint(field);
}

void TelemetryPanel::Paint(int field) {
    const auto f = static_cast<std::size_t>(field);
    const QColor background = limitColour_[f].isValid() ? limitColour_[f]
                              : field == chosen_        ? kChosenBox
                                                        : QColor(Qt::white);
    Text1[f]->setPalette(look::BoxPalette(background));
}

void TelemetryPanel::ShowLimitState(int field, const QColor& background, const QString& words) {
    const auto f = static_cast<std::size_t>(field);
    limitColour_[f] = background;
    Text1[f]->setToolTip(words);
    Text1[f]->setAccessibleDescription(words.isEmpty() ? Utf8Text(Field(field).unit) : words);
    Paint(field);
}

void TelemetryPanel::ShowRecord(const TelemetryRecord& record) {
    // A box whose value did not change keeps its text: setting a line edit's
    // text lays it out, tells assistive tools and repaints it even when equal,
    // and most fields of consecutive frames hold the same value.
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        const double v = record.values[i];
        if (shown_[i] && *shown_[i] == v) continue;
        shown_[i] = v;
        if (auto text = ValueText(static_cast<int>(i), v)) Text1[i]->setText(Utf8Text(*text));
    }
}

QString TelemetryPanel::ChartCaption(int field) const {
    const auto f = static_cast<std::size_t>(field);
    const QString unit = Label2[f]->text();
    return unit.isEmpty() ? Option1[f]->text()
                          : Option1[f]->text() + QStringLiteral(" [") + unit + QStringLiteral("]");
}

} // namespace tavrik
