#pragma once
// How the window looks: twips to pixels, the fonts, colours, lamps and icon.
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QRect>
#include <QString>

class QFrame;
class QGroupBox;
class QLabel;
class QWidget;

namespace tavrik::look {

inline const QColor kBackground{240, 240, 240};

// A rectangle given in twips (15 to a pixel at 96 dpi).
QRect Tw(int x, int y, int w, int h);

QFont BaseFont();
QPalette TextPalette();
QPalette BoxPalette(const QColor& background);

QLabel* Label(QWidget* parent, const QString& text, const QRect& r, bool bold = false,
              Qt::Alignment align = Qt::AlignLeft);
QGroupBox* Group(QWidget* parent, const QString& title, const QRect& r);
QFrame* HLine(QWidget* parent, int x1, int y, int x2);
QLabel* Lamp(QWidget* parent, bool green, const QRect& r);

QPixmap LampPixmap(bool green);
QIcon ProgramIcon();
QPixmap SatellitePicture(int w, int h);

} // namespace tavrik::look
