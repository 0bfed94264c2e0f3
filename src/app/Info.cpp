#include "app/Info.h"

#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>

#include "app/Look.h"
#include "files/Version.h"

namespace tavrik {

namespace {
QLabel* Text(QWidget* parent, const QString& text, const QRect& r, int pixelSize = 11,
             bool bold = false, const QColor& color = Qt::black) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    QFont f = look::BaseFont();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    l->setFont(f);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Window, Qt::white);
    l->setPalette(p);
    return l;
}
} // namespace

QString VersionLine() {
    return QStringLiteral("Version ") +
           QString::fromUtf8(kVersionText.data(), kVersionText.size()) + QStringLiteral("    (") +
           QString::fromUtf8(kReleaseDateText.data(), kReleaseDateText.size()) +
           QStringLiteral(")");
}

Info::Info(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About"));
    setWindowIcon(look::ProgramIcon());
    setFixedSize(495, 330);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    Label1 =
        Text(this, QStringLiteral("Tavrik Telemetry Decoder"), look::Tw(120, 120, 3735, 375), 18);
    Label3 = Text(this, QStringLiteral("Copyright (C) 2016 Veskar"), look::Tw(120, 600, 3255, 255));
    Label10 = Text(this, QStringLiteral("All rights reserved."), look::Tw(120, 840, 3255, 255));
    Label8 = Text(this, QStringLiteral("Veskar"), look::Tw(120, 1080, 735, 255), 11, true);
    auto* frame = new QGroupBox(this);
    frame->setGeometry(look::Tw(120, 1440, 3375, 615));
    frame->setPalette(pal);
    Label2 = Text(frame, QString(), look::Tw(120, 240, 3135, 255));
    Label2->setAlignment(Qt::AlignCenter);
    Label6 = Text(this, QStringLiteral("Homepage:"), look::Tw(120, 2280, 855, 255));
    Label4 = Text(this, QStringLiteral("www.veskar.example"), look::Tw(1080, 2280, 1815, 255), 11,
                  false, Qt::blue);
    Label7 = Text(this, QStringLiteral("e-mail:"), look::Tw(120, 2520, 615, 255));
    Label5 = Text(this, QStringLiteral("info@veskar.example"), look::Tw(1080, 2520, 1815, 255), 11,
                  false, Qt::blue);
    for (QLabel* link : {Label4, Label5}) {
        QFont f = link->font();
        f.setUnderline(true);
        link->setFont(f);
    }
    Image1 = new QLabel(this);
    Image1->setGeometry(look::Tw(3720, 120, 3660, 2565));
    Image1->setPixmap(look::SatellitePicture(244, 171));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label9 = Text(
        this,
        QStringLiteral("Frames come in from AGW Packet Engine or Soundmodem (AGW TCP interface)."),
        look::Tw(120, 2760, 4815, 375));
    Label9->setWordWrap(true);
    Label12 = Text(this, QStringLiteral("ONLINE VERSION"), look::Tw(5640, 2760, 1695, 255), 11,
                   true, QColor(0, 0, 255));
    Label11 =
        Text(this, QString(), look::Tw(120, 3240, 7215, 1695), 11, false, QColor(128, 128, 128));
    QFont arial(QStringLiteral("Liberation Sans"));
    arial.setStyleHint(QFont::SansSerif);
    arial.setPixelSize(11);
    Label11->setFont(arial);
    Label11->setWordWrap(true);
    Label11->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Form_Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Info::Form_Load() {
    Label2->setText(VersionLine());
    Label11->setText(QStringLiteral(
        "THIS SOFTWARE IS PROVIDED AS IS. ITS AUTHOR DISCLAIMS ALL WARRANTIES WITH REGARD TO "
        "THIS SOFTWARE, INCLUDING ALL IMPLIED WARRANTIES OF MERCHANTABILITY AND FITNESS. IN NO "
        "EVENT SHALL THE AUTHOR BE LIABLE FOR ANY SPECIAL, DIRECT, INDIRECT OR CONSEQUENTIAL "
        "DAMAGES OR ANY DAMAGES WHATSOEVER RESULTING FROM LOSS OF USE, DATA OR PROFITS, ARISING "
        "OUT OF OR IN CONNECTION WITH THE USE OR PERFORMANCE OF THIS SOFTWARE."));
}

void Info::ShowOne(QPointer<Info>& window) {
    if (!window) {
        window = new Info();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tavrik
