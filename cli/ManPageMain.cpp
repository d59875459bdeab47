// Writes the manual page of tombrel to the file named by its argument (used by the build).

#include "cli/ManPage.h"

#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tombrel_manpage OUTPUT\n");
        return 2;
    }
    QFile file(QFile::decodeName(argv[1]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "tombrel_manpage: cannot write %s\n", argv[1]);
        return 1;
    }
    const QByteArray page = tombrelManPage().toUtf8();
    return file.write(page) == page.size() && file.flush() ? 0 : 1;
}
