#include "Convert.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace nconvert {
namespace {

bool ReadInt(const QStringList& args, qsizetype& i, int lo, int hi, const char* what, int& out,
             QString& error) {
    if (i + 1 >= args.size()) {
        error = QStringLiteral("%1 needs a value").arg(QLatin1String(what));
        return false;
    }
    bool ok = false;
    const int v = args[++i].toInt(&ok);
    if (!ok || v < lo || v > hi) {
        error = QStringLiteral("%1: \"%2\" is not a whole number from %3 to %4")
                    .arg(QLatin1String(what), args[i])
                    .arg(lo)
                    .arg(hi);
        return false;
    }
    out = v;
    return true;
}

struct ColorCount {
    QRgb rgb;
    std::uint64_t count;
};

int Channel(QRgb c, int ch) {
    return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c);
}

// Median cut: split the box with the widest channel range at its weighted
// median until there are as many boxes as colours allowed; each box becomes
// its weighted mean.
std::vector<QRgb> MedianCut(std::vector<ColorCount> colors, int boxes) {
    struct Box {
        std::size_t begin, end;
    };
    std::vector<Box> work{{0, colors.size()}};
    auto widest = [&](const Box& b, int& channel) {
        int best = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (std::size_t i = b.begin; i < b.end; ++i) {
                lo = std::min(lo, Channel(colors[i].rgb, ch));
                hi = std::max(hi, Channel(colors[i].rgb, ch));
            }
            if (hi - lo > best) {
                best = hi - lo;
                channel = ch;
            }
        }
        return best;
    };
    while (static_cast<int>(work.size()) < boxes) {
        std::size_t pick = work.size();
        int pickRange = 0, pickChannel = 0;
        for (std::size_t k = 0; k < work.size(); ++k) {
            if (work[k].end - work[k].begin < 2) continue;
            int ch = 0;
            const int r = widest(work[k], ch);
            if (r > pickRange) {
                pickRange = r;
                pick = k;
                pickChannel = ch;
            }
        }
        if (pick == work.size()) break; // every box holds a single colour
        Box b = work[pick];
        std::sort(colors.begin() + static_cast<std::ptrdiff_t>(b.begin),
                  colors.begin() + static_cast<std::ptrdiff_t>(b.end),
                  [&](const ColorCount& x, const ColorCount& y) {
                      return Channel(x.rgb, pickChannel) < Channel(y.rgb, pickChannel);
                  });
        std::uint64_t total = 0;
        for (std::size_t i = b.begin; i < b.end; ++i)
            total += colors[i].count;
        std::uint64_t run = 0;
        std::size_t cut = b.begin + 1;
        for (std::size_t i = b.begin; i + 1 < b.end; ++i) {
            run += colors[i].count;
            cut = i + 1;
            if (run * 2 >= total) break;
        }
        work[pick] = {b.begin, cut};
        work.push_back({cut, b.end});
    }
    std::vector<QRgb> palette;
    palette.reserve(work.size());
    for (const Box& b : work) {
        std::uint64_t n = 0, r = 0, g = 0, bl = 0;
        for (std::size_t i = b.begin; i < b.end; ++i) {
            n += colors[i].count;
            r += colors[i].count * static_cast<std::uint64_t>(qRed(colors[i].rgb));
            g += colors[i].count * static_cast<std::uint64_t>(qGreen(colors[i].rgb));
            bl += colors[i].count * static_cast<std::uint64_t>(qBlue(colors[i].rgb));
        }
        palette.push_back(qRgb(static_cast<int>((r + n / 2) / n), static_cast<int>((g + n / 2) / n),
                               static_cast<int>((bl + n / 2) / n)));
    }
    return palette;
}

int Nearest(const std::vector<QRgb>& palette, std::size_t first, QRgb c) {
    int best = static_cast<int>(first);
    long bestD = -1;
    for (std::size_t i = first; i < palette.size(); ++i) {
        const long dr = qRed(c) - qRed(palette[i]);
        const long dg = qGreen(c) - qGreen(palette[i]);
        const long db = qBlue(c) - qBlue(palette[i]);
        const long d = dr * dr + dg * dg + db * db;
        if (bestD < 0 || d < bestD) {
            bestD = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

} // namespace

std::optional<Options> ParseArguments(const QStringList& args, QString& error) {
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("-out")) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("-out needs a format");
                return std::nullopt;
            }
            o.format = args[++i].toLower();
            if (o.format != QLatin1String("png")) {
                error = QStringLiteral("-out %1: only png is supported").arg(args[i]);
                return std::nullopt;
            }
        } else if (a == QLatin1String("-transpcolor")) {
            int rgb[3];
            for (int& c : rgb)
                if (!ReadInt(args, i, 0, 255, "-transpcolor", c, error)) return std::nullopt;
            o.transparent = qRgb(rgb[0], rgb[1], rgb[2]);
        } else if (a == QLatin1String("-colors")) {
            if (!ReadInt(args, i, 2, 256, "-colors", o.colors, error)) return std::nullopt;
        } else if (a == QLatin1String("-crop")) {
            int v[4];
            for (int k = 0; k < 4; ++k)
                if (!ReadInt(args, i, k < 2 ? 0 : 1, 1 << 20, "-crop", v[k], error))
                    return std::nullopt;
            o.crop = QRect(v[0], v[1], v[2], v[3]);
        } else if (a == QLatin1String("-quiet")) {
            o.quiet = true;
        } else if (a == QLatin1String("-D")) {
            o.deleteInput = true;
        } else if (a == QLatin1String("-o")) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("-o needs a file name");
                return std::nullopt;
            }
            o.outName = args[++i];
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            error = QStringLiteral("unknown option %1").arg(a);
            return std::nullopt;
        } else {
            o.inputs << a;
        }
    }
    if (o.format.isEmpty()) {
        error = QStringLiteral("no output format given (-out png)");
        return std::nullopt;
    }
    if (o.inputs.isEmpty()) {
        error = QStringLiteral("no input file given");
        return std::nullopt;
    }
    if (!o.outName.isEmpty() && o.inputs.size() > 1) {
        error = QStringLiteral("-o names one output, but %1 input files were given")
                    .arg(o.inputs.size());
        return std::nullopt;
    }
    return o;
}

QImage ToPalette(const QImage& source, const std::optional<QRect>& crop, int maxColors,
                 const std::optional<QRgb>& transparent, QString& error) {
    QRect area = source.rect();
    if (crop) area = crop->intersected(source.rect());
    if (area.isEmpty()) {
        error = QStringLiteral("the crop rectangle lies outside the %1x%2 picture")
                    .arg(source.width())
                    .arg(source.height());
        return {};
    }
    const QImage rgb = source.copy(area).convertToFormat(QImage::Format_RGB32);
    const int limit = maxColors > 0 ? maxColors : 256;

    QHash<QRgb, std::uint64_t> histogram;
    bool hasTransparent = false;
    const QRgb key = transparent ? (*transparent | 0xFF000000u) : 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = line[x] | 0xFF000000u;
            if (transparent && c == key) {
                hasTransparent = true;
                continue;
            }
            ++histogram[c];
        }
    }

    // The transparent colour goes first, so the transparency chunk needs one byte.
    std::vector<QRgb> palette;
    if (hasTransparent) palette.push_back(key);
    const std::size_t first = palette.size();
    const int budget = limit - static_cast<int>(first);
    std::vector<ColorCount> colors;
    colors.reserve(static_cast<std::size_t>(histogram.size()));
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        colors.push_back({it.key(), it.value()});
    // A fixed order keeps the output the same from run to run.
    std::sort(colors.begin(), colors.end(),
              [](const ColorCount& a, const ColorCount& b) { return a.rgb < b.rgb; });
    const bool exact = static_cast<int>(colors.size()) <= budget;
    if (exact) {
        for (const ColorCount& c : colors)
            palette.push_back(c.rgb);
    } else {
        for (QRgb c : MedianCut(colors, budget)) {
            // A mean that lands on the transparent colour would look see-through
            // to viewers that go by colour; move it by one step.
            if (hasTransparent && c == key) c = qRgb(qRed(c), qGreen(c), qBlue(c) ^ 1);
            palette.push_back(c);
        }
    }
    if (palette.empty()) palette.push_back(qRgb(0, 0, 0));

    QHash<QRgb, int> index;
    if (hasTransparent) index.insert(key, 0);
    for (std::size_t i = first; exact && i < palette.size(); ++i)
        index.insert(palette[i], static_cast<int>(i));

    QImage out(rgb.size(), QImage::Format_Indexed8);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = in[x] | 0xFF000000u;
            auto it = index.constFind(c);
            if (it == index.constEnd()) it = index.insert(c, Nearest(palette, first, c));
            dst[x] = static_cast<uchar>(it.value());
        }
    }
    QList<QRgb> table(palette.begin(), palette.end());
    if (hasTransparent) table[0] = qRgba(qRed(key), qGreen(key), qBlue(key), 0);
    out.setColorTable(table);
    return out;
}

QString OutputName(const QString& input) {
    const QFileInfo fi(input);
    const QString base = fi.suffix().isEmpty() ? fi.fileName() : fi.completeBaseName();
    const QString dir = fi.path();
    return dir == QLatin1String(".") && !input.startsWith(QLatin1String("./"))
               ? base + QStringLiteral(".png")
               : dir + QLatin1Char('/') + base + QStringLiteral(".png");
}

} // namespace nconvert
