// Converts the frame buffer an X server writes with -fbdir (an XWD image of 24 or 32 bits a pixel) to a
// PNG file, so that a program run under Xvfb can be looked at.
//   qf_xwd_to_png SCREEN.xwd OUT.png

#include <QFile>
#include <QImage>
#include <QtEndian>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qf_xwd_to_png SCREEN.xwd OUT.png\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray data = in.readAll();
    if (data.size() < 100)
        return 1;
    auto field = [&](int i) { return qFromBigEndian<quint32>(data.constData() + 4 * i); };
    const quint32 headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7);
    const quint32 bitsPerPixel = field(11), bytesPerLine = field(12), colours = field(19);
    const qint64 offset = qint64(headerSize) + qint64(colours) * 12;
    if (bitsPerPixel != 32 || width == 0 || height == 0 || width > 16384 || height > 16384
        || offset + qint64(bytesPerLine) * height > data.size()) {
        std::fprintf(stderr, "qf_xwd_to_png: unsupported or short image\n");
        return 1;
    }
    QImage image(reinterpret_cast<const uchar *>(data.constData() + offset), int(width), int(height), int(bytesPerLine),
        byteOrder == 0 ? QImage::Format_RGB32 : QImage::Format_RGBX8888);
    return image.copy().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
