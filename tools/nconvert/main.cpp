// nconvert: the small image converter that the screenshot button starts with
//   nconvert -out png -transpcolor 240 240 240 -colors 256 -crop 1 37 707 640 -quiet -D <file.bmp>
// It does what that line asks and no more. Errors go to stderr with a
// non-zero exit, and then the input is kept.
#include "Convert.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <cstdio>

#include "files/Version.h"

namespace {

void Complain(const QString& text) {
    std::fprintf(stderr, "nconvert: %s\n", text.toLocal8Bit().constData());
}

void Usage(std::FILE* to) {
    std::fputs("usage: nconvert -out png [-transpcolor r g b] [-colors n] [-crop x y w h]\n"
               "                [-quiet] [-D] [-o outname] file...\n",
               to);
}

void Help() {
    Usage(stdout);
    std::fputs("Converts BMP screenshots of tavrik-decoder into cropped palette PNGs.\n"
               "  -out png              the output format (only png)\n"
               "  -transpcolor r g b    the colour that becomes transparent\n"
               "  -colors n             at most n palette colours (2 to 256)\n"
               "  -crop x y w h         the part of the picture to keep\n"
               "  -quiet                no progress line\n"
               "  -D                    delete the input once converted\n"
               "  -o outname            the output file (default: the input's name, .png)\n"
               "  -help, --help         this text;  --version  the version\n"
               "More in man nconvert.\n",
               stdout);
}

bool ConvertOne(const nconvert::Options& o, const QString& input) {
    if (!QFileInfo(input).isFile()) {
        Complain(QStringLiteral("%1: no such file").arg(input));
        return false;
    }
    QImageReader reader(input);
    const QImage source = reader.read();
    if (source.isNull()) {
        Complain(
            QStringLiteral("%1: cannot read the picture (%2)").arg(input, reader.errorString()));
        return false;
    }
    QString error;
    const QImage out = nconvert::ToPalette(source, o.crop, o.colors, o.transparent, error);
    if (out.isNull()) {
        Complain(QStringLiteral("%1: %2").arg(input, error));
        return false;
    }
    const QString outName = o.outName.isEmpty() ? nconvert::OutputName(input) : o.outName;
    // Written aside and renamed at the end, so a failed write leaves no half PNG.
    QSaveFile file(outName);
    if (!file.open(QIODevice::WriteOnly)) {
        Complain(QStringLiteral("%1: cannot create (%2)").arg(outName, file.errorString()));
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(out)) {
        file.cancelWriting();
        Complain(
            QStringLiteral("%1: cannot write the PNG (%2)").arg(outName, writer.errorString()));
        return false;
    }
    if (!file.commit()) {
        Complain(QStringLiteral("%1: cannot write (%2)").arg(outName, file.errorString()));
        return false;
    }
    if (o.deleteInput) {
        // Never delete what was just written when input and output are one file.
        const bool same =
            QFileInfo(input).canonicalFilePath() == QFileInfo(outName).canonicalFilePath();
        if (!same && !QFile::remove(input)) {
            Complain(QStringLiteral("%1: converted, but the input cannot be deleted").arg(input));
            return false;
        }
    }
    if (!o.quiet)
        std::printf("Conversion of %s into %s OK\n", input.toLocal8Bit().constData(),
                    outName.toLocal8Bit().constData());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    // Asked alone, as every program answers them; among options they are errors.
    if (args.size() == 1 && (args[0] == QLatin1String("--help") ||
                             args[0] == QLatin1String("-help") || args[0] == QLatin1String("-h"))) {
        Help();
        return 0;
    }
    if (args.size() == 1 && args[0] == QLatin1String("--version")) {
        std::printf("nconvert (tavrik-decoder) %.*s\n",
                    static_cast<int>(tavrik::kVersionText.size()), tavrik::kVersionText.data());
        return 0;
    }
    QString error;
    const auto options = nconvert::ParseArguments(args, error);
    if (!options) {
        Complain(error);
        Usage(stderr);
        return 2;
    }
    bool ok = true;
    for (const QString& input : options->inputs)
        ok = ConvertOne(*options, input) && ok;
    return ok ? 0 : 1;
}
