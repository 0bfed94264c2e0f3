#pragma once
// The window screenshot's file names and its outside converter.
#include <QImage>
#include <QString>

#include "time/Clock.h"

class QWidget;

namespace tavrik::screenshot {

struct Outcome {
    QString name; // the BMP file
    bool saved = false;
    bool converterStarted = false;
};

// Grabs the area into `picture`, saves it as <image path>tavrik_<local date
// stamp>.bmp and starts the converter on it, without waiting.
Outcome Take(QWidget* area, QImage& picture, const QString& imagePath, const ClockReading& now,
             const QString& converter);
// The converter next to the program, else on PATH; empty when there is none.
QString FindConverter();
// The log line once the converter runs: the PNG's name and " converted and saved".
QString ConvertedLine(const QString& bmpName);

} // namespace tavrik::screenshot
