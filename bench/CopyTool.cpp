// Copies one item the way the product copies versions, for timing against cp -a.
// usage: bench_copy SOURCE DESTINATION

#include "foundation/QFFileManager.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    return QFFileManager::copyFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), false) ? 0 : 1;
}
