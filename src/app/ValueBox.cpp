#include "app/ValueBox.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace tavrik {

namespace {
// What QLineEdit keeps clear on each side of a text before it scrolls it.
constexpr int kHorizontalMargin = 2;
} // namespace

ValueBox::ValueBox(QWidget* parent) : QLineEdit(parent) {
    // The box paints what is behind it too (its picture holds it), so the
    // group is not drawn again under every box that changed.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const QPixmap& ValueBox::Panel() {
    // Drawn anew when the box moves or the screen changes; a change of its
    // colours, font or style lets the picture go (changeEvent).
    const qreal ratio = devicePixelRatioF();
    if (panel_.isNull() || panelAt_ != geometry() || panel_.devicePixelRatio() != ratio) {
        panel_ = QPixmap((QSizeF(size()) * ratio).toSize());
        panel_.setDevicePixelRatio(ratio);
        // The rounded corners show the group behind, drawn here once.
        panel_.fill(palette().color(QPalette::Window));
        if (QWidget* group = parentWidget())
            group->render(&panel_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
        behind_ = panel_.copy();
        QPainter p(&panel_);
        QStyleOptionFrame option;
        initStyleOption(&option);
        option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &p, this);
        panelAt_ = geometry();
    }
    return panel_;
}

void ValueBox::changeEvent(QEvent* event) {
    // A new style, font or state draws the frame anew.
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
        panel_ = QPixmap();
        break;
    default:
        break;
    }
    QLineEdit::changeEvent(event);
}

void ValueBox::paintEvent(QPaintEvent* event) {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect r = style()
                        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
                        .marginsRemoved(textMargins());
    const QFontMetrics fm = fontMetrics();
    const QString text = displayText();
    const int bearing = qMax(0, -fm.minLeftBearing());
    const bool fits = bearing + fm.horizontalAdvance(text) + 1 + qMax(0, -fm.minRightBearing()) <
                      r.width() - 2 * kHorizontalMargin;
    // A text that does not fit scrolls, and anything but a number shown at
    // rest is drawn by the line edit itself.
    if (!fits || hasFocus() || hasSelectedText() || underMouse() || !isEnabled() || !isReadOnly() ||
        alignment() != (Qt::AlignLeft | Qt::AlignVCenter) || layoutDirection() != Qt::LeftToRight) {
        Panel();
        QPainter behind(this);
        behind.drawPixmap(0, 0, behind_); // the group around the box's corners
        behind.end();
        return QLineEdit::paintEvent(event);
    }
    QPainter p(this);
    p.drawPixmap(0, 0, Panel());
    // The text where the line edit puts a text that fits (compared pixel by
    // pixel): at the contents' left edge with the left bearing kept clear,
    // centred on the font's height.
    p.setClipRect(r);
    const int height = qMax(fm.boundingRect(text).height(), fm.height());
    const int top = r.y() + (r.height() - height + 1) / 2;
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QPoint(r.x() + bearing, top + fm.ascent()), text);
}

} // namespace tavrik
