#include "app/EventLogView.h"

#include <cstdio>
#include <utility>

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "files/SafeText.h"
#include "support/qt/QtText.h"

namespace tavrik {

namespace {
// About four repaints a second: lines on the move are not read anyway.
constexpr int kRepaintHoldMs = 250;

// One entry is one line: control characters a bad reply may carry are shown as blanks.
QString DisplayLine(const std::string& entry) {
    QString s = Utf8Text(entry);
    for (QChar& c : s)
        if (c.unicode() < 0x20) c = QLatin1Char(' ');
    return s;
}
} // namespace

EventLogView::EventLogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::StyledPanel);
    setAccessibleName(QStringLiteral("event log"));
    // Every new entry on top repaints all lines in view, each as long as an
    // upload body: text without joining scripts (Latin, degrees, arrows) needs
    // no shaping engine for that.
    QFont f = font();
    f.setStyleStrategy(QFont::PreferNoShaping);
    setFont(f);
    // The log is never edited back: no undo history to grow with it.
    document()->setUndoRedoEnabled(false);
    hold_.setSingleShot(true);
    hold_.setInterval(kRepaintHoldMs);
    connect(&hold_, &QTimer::timeout, this, [this] {
        if (!std::exchange(held_, false)) return;
        setUpdatesEnabled(true); // repaints the lines and the scroll bars once
        hold_.start();
    });
}

void EventLogView::HoldRepaint() {
    // The first entry after a quiet time is shown at once; those that follow
    // within the hold wait for its end. The text itself is always up to date.
    if (!hold_.isActive()) {
        hold_.start();
    } else if (!held_) {
        held_ = true;
        // The scroll bars too: each new line moves their range.
        setUpdatesEnabled(false);
    }
}

void EventLogView::EntryAdded(const std::string& entry, bool onTop) {
    QScrollBar* v = verticalScrollBar();
    // A reader scrolled down keeps the lines in view while new ones arrive on top.
    const bool keepPlace = onTop && v->value() > 0;
    // Positions are set, not moved to: moving lays out the line it starts from.
    Trim(1);
    QTextCursor c(document());
    c.beginEditBlock(); // one change for the box to follow, not two
    if (!onTop) c.setPosition(document()->characterCount() - 1);
    // The new line is made empty first and then filled: the box then keeps
    // knowing its widest line instead of measuring every line again.
    c.insertBlock();
    c.setPosition(onTop ? 0 : c.position() - 1);
    c.insertText(DisplayLine(entry));
    c.endEditBlock();
    if (keepPlace) v->setValue(v->value() + 1);
    HoldRepaint();
}

void EventLogView::LimitSet(std::size_t limit) {
    limit_ = limit;
    Trim(0);
}

// The box ends in an empty block after its last entry: the entries are the
// blocks before it. The oldest go from the bottom, as in the log.
void EventLogView::Trim(std::size_t room) {
    QTextDocument* doc = document();
    while (limit_ > 0 && doc->blockCount() > 1 &&
           static_cast<std::size_t>(doc->blockCount() - 1) + room > limit_) {
        const QTextBlock trailing = doc->lastBlock();
        QTextCursor c(doc);
        c.setPosition(trailing.previous().position());
        c.setPosition(trailing.position(), QTextCursor::KeepAnchor);
        c.removeSelectedText();
    }
}

} // namespace tavrik
