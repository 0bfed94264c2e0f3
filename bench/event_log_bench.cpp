// The two ways of showing the event log that were weighed: a plain text box
// holding a copy of the text, and a list view over the entries themselves.
// One entry added on top with its repaint, after 0 and 100 000 entries.
#include <QAbstractListModel>
#include <QListView>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <benchmark/benchmark.h>
#include <deque>

#include "qt_bench.h"

namespace {

const QString kFiller = QStringLiteral(
    "2024-03-05 14:07:09.250: Winsock Error \"10061\" occured: Connection refused (filler)");
const QString kEntry =
    QStringLiteral("2024-03-05 14:07:10.000: http://127.0.0.1:1/x: 200 OK | Server: bench");

void Drain() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void Shown(QWidget& w) {
    w.resize(681, 97); // the event log box's size in the window
    w.show();
    Drain();
}

class EntryModel final : public QAbstractListModel {
  public:
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(entries.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        return entries[static_cast<std::size_t>(index.row())];
    }
    void Prepend(const QString& entry) {
        beginInsertRows({}, 0, 0);
        entries.push_front(entry);
        endInsertRows();
    }
    std::deque<QString> entries;
};

void BM_PlainTextPrepend(benchmark::State& state) {
    QPlainTextEdit box;
    box.setReadOnly(true);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    box.setFont(font);
    box.setLineWrapMode(QPlainTextEdit::NoWrap);
    box.document()->setUndoRedoEnabled(false);
    QStringList fill;
    for (int i = 0; i < state.range(0); ++i)
        fill.append(kFiller);
    box.setPlainText(fill.join(QLatin1Char('\n')));
    Shown(box);
    tavrik::bench::TimeHandler(
        state, "us",
        [&box] {
            QTextCursor c(box.document());
            c.beginEditBlock();
            c.insertBlock(); // an empty first line, then its text: the widest line stays known
            c.setPosition(0);
            c.insertText(kEntry);
            c.endEditBlock();
        },
        Drain);
}

void BM_ListViewPrepend(benchmark::State& state) {
    EntryModel model;
    for (int i = 0; i < state.range(0); ++i)
        model.entries.push_back(kFiller);
    QListView view;
    view.setUniformItemSizes(true);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setModel(&model);
    Shown(view);
    tavrik::bench::TimeHandler(
        state, "us", [&model] { model.Prepend(kEntry); }, Drain);
}

} // namespace

BENCHMARK(BM_PlainTextPrepend)
    ->ArgName("entries")
    ->Arg(0)
    ->Arg(100000)
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListViewPrepend)
    ->ArgName("entries")
    ->Arg(0)
    ->Arg(100000)
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    return tavrik::bench::RunQtBenchmarks(argc, argv);
}
