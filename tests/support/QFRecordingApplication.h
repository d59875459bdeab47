#pragma once

// The application beside the program's bundle, as a script that writes down the arguments of every start,
// for tests of what programs hand to the application ("-upload", "-removeRemote"). The bundle path is set
// for the scope's lifetime.

#include "foundation/platform/QFBundle.h"
#include "tests/support/QFTempHome.h"

#include <QFile>
#include <QString>
#include <QStringList>

class QFRecordingApplication {
public:
    explicit QFRecordingApplication(const QFTempHome &home)
        : m_record(home.file(QStringLiteral("requests.txt")))
    {
        QFBundle::setMainBundlePath(
            home.file(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app")));
        const QString app = home.write(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS/Pro Tombrel"),
            "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done >> '" + QFile::encodeName(m_record) + "'\n");
        QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~QFRecordingApplication() { QFBundle::setMainBundlePath(QString()); }
    QFRecordingApplication(const QFRecordingApplication &) = delete;
    QFRecordingApplication &operator=(const QFRecordingApplication &) = delete;

    // Every argument of every start so far, one a line as written.
    QStringList arguments() const
    {
        QFile file(m_record);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }

private:
    QString m_record;
};
