// Renders SVG artwork to PNG files at build time, for the pictures other programs and documents load
// by file name (the change-line icons of the printed report).
//   qf_svg_to_png SIZE OUT_FOLDER NAME=FILE.svg...   (writes OUT_FOLDER/NAME)

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: qf_svg_to_png SIZE OUT_FOLDER NAME=FILE.svg...\n");
        return 2;
    }
    const int size = QString::fromLocal8Bit(argv[1]).toInt();
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const QString pair = QString::fromLocal8Bit(argv[i]);
        const qsizetype equals = pair.indexOf(u'=');
        QSvgRenderer renderer(pair.mid(equals + 1));
        if (equals <= 0 || !renderer.isValid() || size <= 0) {
            std::fprintf(stderr, "qf_svg_to_png: cannot render %s\n", argv[i]);
            return 1;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        if (!image.save(folder + u'/' + pair.left(equals), "PNG"))
            return 1;
    }
    return 0;
}
