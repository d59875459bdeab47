#include "app/AppController.h"

#include "app/AppControllerPrivate.h"
#include "app/QFComparisonSheet.h"
#include "app/QFOutlineView.h"
#include "app/QFPrint.h"
#include "app/QFProgressSheet.h"
#include "app/QFVersionListModel.h"
#include "engine/QFChangeLines.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFException.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"

#include <QFileInfo>
#include <QListView>

using namespace AppControllerPrivate;

// --- Comparing two versions ---------------------------------------------------------------------------

QStringList AppController::selectedVersionFiles() const
{
    QStringList files;
    for (const QModelIndex &index : m_window->versionOutline()->selectionModel()->selectedIndexes()) {
        if (index.data(QFVersionListModel::KindRole).toInt() == QFVersionListModel::VersionRow)
            files << index.data(QFVersionListModel::VersionFileRole).toString();
    }
    return files;
}

void AppController::compareSelectedVersions()
{
    const QStringList files = selectedVersionFiles();
    if (files.size() != 2)
        return;
    detach([this, files] {
        QString error;
        const std::optional<QStringList> lines = QFChangeLines::compareVersions(files.at(0), files.at(1), &error);
        onMainThread([this, files, lines, error] { showComparison(files, lines, error); });
    });
}

void AppController::showComparison(
    const QStringList &files, const std::optional<QStringList> &lines, const QString &error)
{
    if (!m_window)
        return;
    if (!lines) {
        QFAlert::alertSheetWithMessageText(
            QStringLiteral("Unable to compare the versions"), QString(), QString(), QString(), error, m_window, false);
        return;
    }
    auto number = [](const QString &file) {
        return QFTombrelBackup::versionNumberOfFile(QFileInfo(file).fileName()).value_or(0);
    };
    const qint64 older = std::min(number(files.at(0)), number(files.at(1)));
    const qint64 newer = std::max(number(files.at(0)), number(files.at(1)));
    auto *sheet = new QFComparisonSheet(older, newer, *lines, m_window);
    sheet->open();
    Q_EMIT comparisonShown(sheet);
}

// --- XML copies of binary versions ------------------------------------------------------------------

QString AppController::sequenceUUIDForVersion(const QString &versionFile) const
{
    // The version lies in the Versions folder of its project's folder.
    const QString projectFolder = QFileInfo(QFileInfo(versionFile).absolutePath()).absolutePath();
    for (const QFProject &project : m_projects) {
        if (project.destinationPath() == projectFolder)
            return project.selectedUUID();
    }
    return {};
}

void AppController::generateFCPProjectXML(const QString &versionFile)
{
    if (versionFile.isEmpty() || !m_window)
        return;
    const std::optional<qint64> number = QFTombrelBackup::versionNumberOfFile(QFileInfo(versionFile).fileName());
    QFLog::appendLog("Generating XML on demand for project %@ revision %i...", versionFile, long(number.value_or(0)));
    populateProjects();
    QFProgressSheet *sheet = m_window->progressSheet();
    m_progressCancelled = false;
    sheet->start(QStringLiteral("Waiting for XML data..."));
    const QString uuid = sequenceUUIDForVersion(versionFile);
    const QString folder = QFileInfo(versionFile).absolutePath();
    detach([this, versionFile, folder, number, uuid] {
        QFException::guard("generateFCPProjectXML", [&] {
            m_engine->backupProject(versionFile, folder, number.value_or(0), uuid, true, true);
            onMainThread([this] {
                if (m_window)
                    m_window->progressSheet()->setStatus(QStringLiteral("Updating changelist..."));
            });
            QMutexLocker lock(&m_cacheLock);
            m_engine->updateChangelistForItem(xmlPathFor(versionFile));
        });
        onMainThread([this, folder] { endProgress(QFileInfo(folder).absolutePath()); });
    });
}

void AppController::toolbarGenerateXML()
{
    if (!m_window || m_versionModel->allEntries().isEmpty())
        return;
    if (!QFAppleEvents::isFCPRunning()) {
        // Asked by a sheet the window goes on under; the copies start on the user's yes.
        QFAlert::alertSheetWithMessageText(
            QStringLiteral("Final Cut Pro needs to be launched. Do you wish to continue?"),
            QStringLiteral("Launch FCP"), QStringLiteral("Cancel"), QString(),
            QStringLiteral(
                "You must close any Final Cut Pro dialog boxes that pop up in order to generate XML information."),
            m_window, false, [this](int answer) {
                if (answer == QFAlert::kDefaultReturn)
                    QFException::guard("generateXMLForAll", [this] { generateXMLForAll(); });
            });
        return;
    }
    generateXMLForAll();
}

void AppController::generateXMLForAll()
{
    if (!m_window || m_versionModel->allEntries().isEmpty())
        return;
    QFLog::appendLog("Generating XML for all revisions...");
    const QList<QFVersionEntry> entries = m_versionModel->allEntries();
    const QString projectFolder = selectedProjectFolder();
    QFProgressSheet *sheet = m_window->progressSheet();
    m_progressCancelled = false;
    sheet->start(qfFormat("Detecting changes for %@...", m_window->projectTable()->currentIndex().data().toString()));
    sheet->setDeterminate(int(entries.size()));
    sheet->setStatus(QStringLiteral("Generating XML data. This may take a while..."));
    populateProjects();
    QList<std::pair<QString, QString>> work; // version file, sequence
    for (const QFVersionEntry &entry : entries)
        work.append({ entry.file, sequenceUUIDForVersion(entry.file) });
    detach([this, work, projectFolder, sheet] {
        for (const auto &[file, uuid] : work) {
            // Cancel stops before the next version; the copies made so far stay.
            if (sheet->isCancelled())
                break;
            QFException::guard("generateXMLForAll", [&] {
                if (file.endsWith(QLatin1String(".fcp"), Qt::CaseInsensitive)) {
                    const auto number = QFTombrelBackup::versionNumberOfFile(QFileInfo(file).fileName());
                    m_engine->backupProject(file, QFileInfo(file).absolutePath(), number.value_or(0), uuid, true, true);
                    QMutexLocker lock(&m_cacheLock);
                    m_engine->updateChangelistForItem(xmlPathFor(file));
                }
            });
            onMainThread([sheet] { sheet->increment(); });
        }
        onMainThread([this, projectFolder] { endProgress(projectFolder); });
    });
}

QString AppController::xmlPathFor(const QString &versionFile)
{
    const QFileInfo file(versionFile);
    return file.absolutePath() + u'/' + file.completeBaseName() + QStringLiteral(".xml");
}

void AppController::endProgress(const QString &projectFolder)
{
    m_progressCancelled = true;
    if (m_window)
        m_window->progressSheet()->finish();
    populateChangelistForProject(projectFolder);
    Q_EMIT xmlGenerationFinished();
}

// --- Printing -----------------------------------------------------------------------------------------

QString AppController::generateHTMLForPrinting(bool complete) const
{
    const QModelIndex current = m_window ? m_window->projectTable()->currentIndex() : QModelIndex();
    const QString name = current.isValid() ? current.data().toString() : QString();
    return QFChangeLines::reportHTML(name, m_versionModel ? m_versionModel->allEntries() : QList<QFVersionEntry>(),
        complete, QFChangeLines::imageFolder());
}

QString AppController::printJobTitle()
{
    return QFChangeLines::reportJobTitle(preference(QStringLiteral("lastProject")).toString());
}

void AppController::print()
{
    if (!m_window || m_versionModel->entries().isEmpty())
        return;
    QFPrint::printHTMLStringWithDialog(generateHTMLForPrinting(true), printJobTitle(), m_window);
}
