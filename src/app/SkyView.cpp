#include "app/SkyView.h"

#include <QAction>
#include <QCoreApplication>
#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

#include "archive/Archive.h"
#include "station/PassWatch.h"
#include "support/qt/QtText.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

constexpr std::int64_t kDotsBackMs = 30LL * 24 * 3600 * 1000;
// A year of a busy station's frames is far more than a plot can show apart.
constexpr std::size_t kMaxDots = 200000;
constexpr double kHighDeg = 20;

} // namespace

SkyPlot::SkyPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 320);
    setAccessibleName(QStringLiteral("Sky plot"));
}

QPointF SkyPlot::Place(double az, double el) const {
    const double radius = std::min(width(), height()) / 2.0 - 24;
    const double r = radius * (90.0 - std::clamp(el, 0.0, 90.0)) / 90.0;
    const double a = az * M_PI / 180.0;
    return {width() / 2.0 + r * std::sin(a), height() / 2.0 - r * std::cos(a)};
}

void SkyPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    const QPointF c(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0 - 24;
    p.setPen(QPen(QColor(170, 170, 170), 1));
    for (int el = 0; el < 90; el += 30) {
        const double r = radius * (90 - el) / 90.0;
        p.drawEllipse(c, r, r);
        p.drawText(QPointF(c.x() + 3, c.y() - r + 12), QStringLiteral("%1\u00B0").arg(el));
    }
    p.drawLine(QPointF(c.x() - radius, c.y()), QPointF(c.x() + radius, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - radius), QPointF(c.x(), c.y() + radius));
    p.setPen(Qt::black);
    p.drawText(QPointF(c.x() - 4, c.y() - radius - 8), QStringLiteral("N"));
    p.drawText(QPointF(c.x() + radius + 6, c.y() + 4), QStringLiteral("E"));
    p.drawText(QPointF(c.x() - 4, c.y() + radius + 18), QStringLiteral("S"));
    p.drawText(QPointF(c.x() - radius - 16, c.y() + 4), QStringLiteral("W"));
    // The frames heard: small, light, so that thousands make a density.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 110, 180, dots_.size() > 5000 ? 40 : 120));
    for (const auto& [az, el] : dots_)
        p.drawEllipse(Place(az, el), 1.6, 1.6);
    if (track_.size() > 1) {
        QPainterPath path(Place(track_[0].first, track_[0].second));
        for (std::size_t i = 1; i < track_.size(); ++i)
            path.lineTo(Place(track_[i].first, track_[i].second));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(200, 90, 0), 2));
        p.drawPath(path);
    }
    if (now_ && now_->second >= 0) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(220, 0, 0));
        p.drawEllipse(Place(now_->first, now_->second), 5, 5);
    }
}

SkyView::SkyView(StationSky& sky, QLabel* line, QFrame* rule, QMenu* options,
                 std::function<QString()> archivePath, std::function<std::int64_t()> nowMs,
                 QWidget* parent)
    : QObject(parent), sky_(sky), line_(line), archivePath_(std::move(archivePath)),
      nowMs_(std::move(nowMs)), parent_(parent) {
    action_ = options->addAction(QStringLiteral("Sky\u2026"));
    action_->setObjectName(QStringLiteral("MnuSky"));
    connect(action_, &QAction::triggered, this, &SkyView::OpenPlot);
    connect(&sky_, &StationSky::ticked, this, &SkyView::Update);
    // The line sits under the clock, the rule moved below it.
    if (rule && sky_.State()) rule->move(rule->x(), line_->geometry().bottom() + 1);
    line_->setVisible(sky_.State() != nullptr);
    Update();
}

void SkyView::Update() {
    SkyState* s = sky_.State();
    if (!s) return;
    std::string text =
        s->Ready() ? s->NextPassLine(nowMs_()) : std::string("No sky: no usable TLE");
    if (const std::string more = suffix_ ? suffix_() : std::string(); !more.empty())
        text += ", " + more;
    line_->setText(Utf8Text(text));
    if (dialog_ && dialog_->isVisible()) UpdatePlot();
}

void SkyView::OpenPlot() {
    if (!dialog_) {
        dialog_ = new QDialog(parent_);
        dialog_->setWindowTitle(QStringLiteral("Sky"));
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        auto* layout = new QVBoxLayout(dialog_);
        plot_ = new SkyPlot(dialog_);
        caption_ = new QLabel(dialog_);
        caption_->setWordWrap(true);
        layout->addWidget(plot_, 1);
        layout->addWidget(caption_);
        dialog_->resize(480, 540);
        above_ = below_ = 0;
        LoadDots();
    }
    UpdatePlot();
    dialog_->show();
    dialog_->raise();
}

void SkyView::UpdatePlot() {
    if (!plot_) return;
    SkyState* s = sky_.State();
    const std::int64_t now = nowMs_();
    QString next = QStringLiteral("no usable TLE");
    if (s && s->Ready()) {
        const std::optional<SkyPoint> at = s->At(now);
        plot_->SetNow(at ? std::optional(std::pair(at->azimuthDeg, at->elevationDeg))
                         : std::nullopt);
        const std::vector<Pass> passes = s->NextPasses(now, 1);
        std::vector<std::pair<double, double>> track;
        if (!passes.empty()) {
            const Pass& p = passes[0];
            const std::int64_t step = std::max<std::int64_t>(1000, (p.losMs - p.aosMs) / 120);
            for (std::int64_t t = p.aosMs; t <= p.losMs + step; t += step)
                if (const std::optional<SkyPoint> q = s->At(std::min(t, p.losMs)))
                    track.emplace_back(q->azimuthDeg, q->elevationDeg);
            next = QStringLiteral("%1 pass: AOS %2, maximum elevation %3\u00B0, LOS %4")
                       .arg(p.aosMs <= now ? QStringLiteral("current") : QStringLiteral("next"))
                       .arg(Utf8Text(PassTimeText(p.aosMs)))
                       .arg(std::lround(p.maxElevationDeg))
                       .arg(Utf8Text(PassTimeText(p.losMs)));
        } else {
            next = QStringLiteral("no pass in the next two days");
        }
        plot_->SetTrack(std::move(track));
    }
    const QString heard =
        QStringLiteral("frames of the last 30 days: %1 heard above 20\u00B0, %2 below")
            .arg(above_)
            .arg(below_);
    caption_->setText(next + QStringLiteral("\n") + heard);
    plot_->setAccessibleDescription(QStringLiteral("Sky plot. ") + next + QStringLiteral("; ") +
                                    heard);
}

void SkyView::LoadDots() {
    const QString path = archivePath_ ? archivePath_() : QString();
    if (path.isEmpty()) return;
    const std::string file = PathBytes(path);
    const std::int64_t now = nowMs_();
    QPointer<SkyView> self(this);
    // A read connection of its own, on a pool thread: a year of rows never holds up the window.
    QThreadPool::globalInstance()->start([self, file, now] {
        auto dots = std::make_shared<std::vector<std::pair<float, float>>>();
        Archive archive;
        if (archive.Open(file, Archive::Access::Read).empty())
            archive.SkyDots({now - kDotsBackMs, now + 1}, kMaxDots, *dots);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, dots] {
                if (!self || !self->plot_) return;
                self->above_ = self->below_ = 0;
                for (const auto& d : *dots)
                    ++(d.second >= kHighDeg ? self->above_ : self->below_);
                self->plot_->SetDots(std::move(*dots));
                self->UpdatePlot();
                emit self->dotsLoaded();
            },
            Qt::QueuedConnection);
    });
}

} // namespace tavrik
