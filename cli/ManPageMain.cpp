// Writes the manual page of tombrel, or with --bash-completion its bash completion, to the file named by
// its last argument (used by the build).

#include "cli/ManPage.h"

#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    const bool completion = argc == 3 && std::strcmp(argv[1], "--bash-completion") == 0;
    if (argc != 2 && !completion) {
        std::fprintf(stderr, "usage: tombrel_manpage [--bash-completion] OUTPUT\n");
        return 2;
    }
    const char *output = argv[argc - 1];
    QFile file(QFile::decodeName(output));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "tombrel_manpage: cannot write %s\n", output);
        return 1;
    }
    const QByteArray text = (completion ? tombrelBashCompletion() : tombrelManPage()).toUtf8();
    return file.write(text) == text.size() && file.flush() ? 0 : 1;
}
