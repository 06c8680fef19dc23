// quokka-render-icon: renders the application icon's drawing into the PNG sizes of the desktop's
// icon theme, at build time.
//
//   quokka-render-icon DRAWING.svg OUT_FOLDER SIZE...
//
// writes OUT_FOLDER/<SIZE>x<SIZE>/apps/quokka.png for each size, square, transparent around the
// drawing. Ends with 1, naming the file, when the drawing cannot be read or a picture written.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

namespace {

// The theme's sizes stop at 512; a size past that is a typing mistake, not an icon.
constexpr int kLargestSize = 1024;

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: quokka-render-icon DRAWING.svg OUT_FOLDER SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer drawing(QString::fromLocal8Bit(argv[1]));
    if (!drawing.isValid()) {
        std::fprintf(stderr, "quokka-render-icon: cannot read the drawing %s\n", argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || size > kLargestSize) {
            std::fprintf(stderr, "quokka-render-icon: '%s' is not an icon size\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            drawing.render(&painter, QRectF(0, 0, size, size));
        }
        const QString sub = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = folder + "/" + sub + "/quokka.png";
        if (!QDir(folder).mkpath(sub) || !image.save(path, "PNG")) {
            std::fprintf(stderr, "quokka-render-icon: cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
