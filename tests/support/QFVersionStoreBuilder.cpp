#include "tests/support/QFVersionStoreBuilder.h"

#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString QFVersionStoreBuilder::addProject(
    const QString &projectPath, const QString &projectID, const QByteArray &content)
{
    if (!QFileInfo::exists(projectPath)) {
        QDir().mkpath(QFileInfo(projectPath).absolutePath());
        QFile file(projectPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    const QFProject project = QFProject::projectWithPath(projectPath, std::nullopt, projectID);
    return project.destinationPath();
}

void QFVersionStoreBuilder::setModified(const QString &path, const QDateTime &when)
{
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(when, QFileDevice::FileModificationTime);
}

void QFVersionStoreBuilder::addVersions(const QString &projectFolder, const QList<VersionSpec> &versions)
{
    for (const VersionSpec &version : versions) {
        const QString path = projectFolder
            + (version.name.contains(u'/') ? u'/' + version.name : QStringLiteral("/Versions/") + version.name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(version.content);
        file.close();
        if (version.modified.isValid())
            setModified(path, version.modified);
    }
}

QStringList QFVersionStoreBuilder::versionNames(const QString &projectFolder)
{
    return QDir(projectFolder + QStringLiteral("/Versions"))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void QFVersionStoreBuilder::setPreferences(const QVariantMap &values)
{
    const QString path = QFProject::preferenceFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFPropertyList::write(path, values);
}
