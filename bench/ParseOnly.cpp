// Parses two XML exports as `tombrel diff` loads them, keeps both documents until the end and does nothing
// else: what tombrel's loader costs beside the library's own (bench_load_file_only).
// usage: bench_parse_only OLD.xml NEW.xml

#include "engine/QFXMLParser.h"

#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OLD.xml NEW.xml\n", argv[0]);
        return 2;
    }
    QString error;
    const auto oldDoc = QFXMLParser::documentFromFile(QString::fromLocal8Bit(argv[1]), &error);
    if (!oldDoc) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], qPrintable(error));
        return 1;
    }
    const auto newDoc = QFXMLParser::documentFromFile(QString::fromLocal8Bit(argv[2]), &error);
    if (!newDoc) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[2], qPrintable(error));
        return 1;
    }
    return 0;
}
