#include "app/Look.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace tavrik::look {

QRect Tw(int x, int y, int w, int h) {
    auto px = [](int t) { return static_cast<int>(std::lround(t / 15.0)); };
    return {px(x), px(y), px(w), px(h)};
}

QFont BaseFont() {
    // A narrow sans close to the classic 8-point dialog font.
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    f.setBold(false); // said explicitly, so a bold group caption does not pass it on
    // The window's text has no joining scripts: laid out glyph by glyph, without the
    // shaping engine, which took half of every repaint of values and the log.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

QPalette TextPalette() {
    QPalette p;
    p.setColor(QPalette::Window, kBackground);
    p.setColor(QPalette::Button, kBackground);
    p.setColor(QPalette::WindowText, Qt::black);
    p.setColor(QPalette::Text, Qt::black);
    return p;
}

QPalette BoxPalette(const QColor& background) {
    QPalette p = TextPalette();
    p.setColor(QPalette::Base, background);
    return p;
}

QLabel* Label(QWidget* parent, const QString& text, const QRect& r, bool bold,
              Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    QFont f = BaseFont();
    f.setBold(bold);
    l->setFont(f);
    l->setPalette(TextPalette());
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
}

QGroupBox* Group(QWidget* parent, const QString& title, const QRect& r) {
    auto* g = new QGroupBox(title, parent);
    g->setGeometry(r);
    QFont f = BaseFont();
    f.setBold(true);
    g->setFont(f);
    QPalette p = TextPalette();
    p.setColor(QPalette::WindowText, QColor(128, 128, 128));
    g->setPalette(p);
    return g;
}

QFrame* HLine(QWidget* parent, int x1, int y, int x2) {
    auto* line = new QFrame(parent);
    const QRect r = Tw(x1, y, x2 - x1, 15);
    line->setGeometry(r.x(), r.y(), r.width(), 1);
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette p;
    p.setColor(QPalette::Window, QColor(128, 128, 128));
    line->setPalette(p);
    return line;
}

QPixmap LampPixmap(bool green) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = green ? QColor(20, 170, 40) : QColor(200, 20, 20);
    QRadialGradient g(QPointF(12, 11), 16);
    g.setColorAt(0, base.lighter(180));
    g.setColorAt(0.6, base);
    g.setColorAt(1, base.darker(160));
    p.setBrush(g);
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    return pm;
}

QLabel* Lamp(QWidget* parent, bool green, const QRect& r) {
    auto* l = new QLabel(parent);
    l->setGeometry(r);
    l->setPixmap(LampPixmap(green));
    l->setScaledContents(true); // the 32 by 32 picture is stretched to its place
    l->setObjectName(green ? QStringLiteral("Image2") : QStringLiteral("Image3"));
    return l;
}

QPixmap SatellitePicture(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(QColor(8, 16, 48));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // stars
    for (int i = 0; i < 60; ++i) {
        const int x = (i * 73 + 11) % w, y = (i * 41 + 7) % h;
        p.setPen(QColor(255, 255, 255, 80 + (i * 37) % 170));
        p.drawPoint(x, y);
    }
    // earth limb
    p.setBrush(QColor(30, 90, 170));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(w * 0.5, h * 1.9), w * 1.1, h * 1.15);
    // the cube and its panels
    p.translate(w * 0.5, h * 0.42);
    p.rotate(-12);
    p.setBrush(QColor(40, 60, 120));
    p.setPen(QPen(QColor(180, 190, 210), 1));
    for (int side : {-1, 1}) {
        for (int k = 0; k < 2; ++k)
            p.drawRect(QRectF(side > 0 ? 22 + k * 30 : -52 - k * 30, -12, 28, 24));
    }
    p.setBrush(QColor(200, 200, 190));
    p.drawRect(QRectF(-20, -20, 40, 40));
    p.setPen(QPen(QColor(230, 230, 230), 1.5));
    p.drawLine(QPointF(0, -20), QPointF(0, -48));
    p.drawLine(QPointF(0, 20), QPointF(0, 46));
    return pm;
}

QIcon ProgramIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(40, 60, 120));
    p.setPen(QPen(QColor(200, 200, 220), 1));
    p.drawRect(QRectF(1, 11, 9, 10));
    p.drawRect(QRectF(22, 11, 9, 10));
    p.setBrush(QColor(210, 210, 200));
    p.drawRect(QRectF(10, 9, 12, 14));
    return QIcon(pm);
}

} // namespace tavrik::look
