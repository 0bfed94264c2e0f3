#include "app/EventLogView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

namespace tavrik {

namespace {
QString DisplayLine(const std::string& entry) {
    QString s = QString::fromLatin1(entry.data(), static_cast<qsizetype>(entry.size()));
    for (QChar& c : s)
        if (c.unicode() < 0x20) c = QLatin1Char(' ');
    return s;
}
} // namespace

EventLogView::EventLogView(const EventLog& log, QWidget* parent)
    : QAbstractScrollArea(parent), log_(log) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::StyledPanel);
    verticalScrollBar()->setSingleStep(1);
}

int EventLogView::LineHeight() const {
    return fontMetrics().height();
}

void EventLogView::EntryAdded(const std::string& entry, bool onTop) {
    // Measuring a long line costs; the first 400 characters bound the width well enough.
    const QString line = DisplayLine(entry.size() > 400 ? entry.substr(0, 400) : entry);
    widestLine_ = std::max(widestLine_, fontMetrics().horizontalAdvance(line));
    QScrollBar* v = verticalScrollBar();
    const bool keepPlace = onTop && v->value() > 0;
    UpdateScrollBars();
    // A reader scrolled down keeps the lines in view while new ones arrive on top.
    if (keepPlace) v->setValue(v->value() + 1);
    viewport()->update();
}

void EventLogView::UpdateScrollBars() {
    const int visible = std::max(1, viewport()->height() / LineHeight());
    const int count = static_cast<int>(log_.Size());
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setRange(0, std::max(0, count - visible));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, widestLine_ + 8 - viewport()->width()));
}

void EventLogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void EventLogView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().base());
    p.setPen(palette().color(QPalette::Text));
    const int h = LineHeight();
    const int first = verticalScrollBar()->value();
    const int x = 2 - horizontalScrollBar()->value();
    const int rows = viewport()->height() / h + 1;
    for (int r = 0; r < rows; ++r) {
        const auto i = static_cast<std::size_t>(first + r);
        if (i >= log_.Size()) break;
        p.drawText(x, r * h + fontMetrics().ascent() + 1, DisplayLine(log_.Entry(i)));
    }
}

} // namespace tavrik
