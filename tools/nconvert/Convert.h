#pragma once
// The part of the converter's command line that the screenshot uses, and the
// conversion itself.
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <optional>

namespace nconvert {

struct Options {
    QString format;                  // only "png" is written
    std::optional<QRgb> transparent; // -transpcolor r g b
    int colors = 0;                  // -colors n: 0 keeps every colour (up to 256)
    std::optional<QRect> crop;       // -crop x y w h
    bool quiet = false;              // -quiet
    bool deleteInput = false;        // -D
    QString outName;                 // -o name
    QStringList inputs;
};

// Reads the arguments after the program name; on failure returns nothing and
// sets error to a one-line reason.
std::optional<Options> ParseArguments(const QStringList& args, QString& error);

// Crops (clamped to the picture), reduces to at most maxColors colours and
// makes the transparent colour, where it occurs, the one entry with alpha 0.
// Returns a null image with error set when nothing is left after the crop.
QImage ToPalette(const QImage& source, const std::optional<QRect>& crop, int maxColors,
                 const std::optional<QRgb>& transparent, QString& error);

// The output name: the input's name with its last extension replaced by png.
QString OutputName(const QString& input);

} // namespace nconvert
