#include "app/AppController.h"

#include "app/AppControllerPrivate.h"
#include "app/QFCoverFlowView.h"
#include "app/QFOutlineView.h"
#include "app/QFProjectListModel.h"
#include "app/QFVersionListModel.h"
#include "engine/QFChangeLines.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectStore.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFAlert.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QSplitter>
#include <QTimer>

using namespace AppControllerPrivate;

namespace AppControllerPrivate {

ListedVersions listVersions(const QString &versionsFolder)
{
    ListedVersions listed;
    for (const QFVersionsFolderEntry &version : QFVersionsFolder::versions(versionsFolder)) {
        listed.names << version.listedName();
        listed.fcpRemains = listed.fcpRemains || version.isFinalCutVersionWithoutXML();
    }
    return listed;
}

} // namespace AppControllerPrivate

namespace {

constexpr int kExpandedStripHeight = 600;

QString plural(qsizetype count)
{
    return count == 1 ? QStringLiteral("") : QStringLiteral("s");
}

// What the list shows of each version, newest first, until its change lines are known: number, date,
// size and note, as its entry will have them.
QList<QFVersionEntry> versionsWithoutLines(const QString &projectFolder, const QStringList &names)
{
    const QString versions = projectFolder + QStringLiteral("/Versions");
    const QVariantMap notes
        = QFPropertyList::readDictionary(projectFolder + QStringLiteral("/Annotations.plist")).value_or(QVariantMap());
    QList<QFVersionEntry> entries;
    entries.reserve(names.size());
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        QFVersionEntry entry;
        entry.file = versions + u'/' + *name;
        const QFileInfo info(entry.file);
        const QString stem = info.suffix().isEmpty() ? *name : name->left(name->size() - info.suffix().size() - 1);
        const qsizetype dot = stem.lastIndexOf(u'.');
        entry.version = dot >= 0 ? stem.mid(dot + 1) : QString();
        const bool xml = info.suffix().compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0;
        // An XML copy is dated and sized as the binary version it stands for.
        const QString binary = info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".fcp");
        const QFileInfo stat(xml && QFileInfo::exists(binary) ? binary : entry.file);
        entry.date = stat.lastModified();
        if (!stat.isDir())
            entry.size = QFFileManager::formatFileSize(double(stat.size()));
        entry.type = xml ? QStringLiteral("xml") : QStringLiteral("doc");
        if (xml)
            entry.host = QStringLiteral("fcp");
        entry.annotation = notes.value(*name).toString();
        entries << entry;
    }
    return entries;
}

} // namespace

// --- The project list ---------------------------------------------------------------------------------

void AppController::populateProjects()
{
    // A re-read that has not started yet covers this request; one under way may have listed too early.
    if (m_projectReadWaiting.exchange(true))
        return;
    m_projectQueue.start([this] {
        m_projectReadWaiting = false;
        QFException::guard("populateProjects", [this] { readProjects(); });
    });
}

void AppController::readProjects()
{
    QFMainThread::run(
        [this] {
            m_startingUp = m_projects.isEmpty();
            if (m_startingUp && m_window)
                m_window->projectSpinner()->show();
        },
        true);

    const QList<QFProject> projects = QFProjectStore::projects(QFProjectStore::Logging::Logged);
    QFMainThread::run([this, projects] { showProjects(projects); }, true);
}

QList<QFProject> AppController::projectsMatching(const QList<QFProject> &projects, const QString &text)
{
    if (text.isEmpty())
        return projects;
    const QString lower = text.toLower();
    QList<QFProject> matching;
    for (const QFProject &project : projects) {
        if (project.friendlyName().toLower().contains(lower) || project.projectPath().toLower().contains(lower))
            matching << project;
    }
    return matching;
}

void AppController::projectSearch()
{
    const QString text = m_window->projectSearchField()->text();
    const QList<QFProject> shown = projectsMatching(m_projects, text);
    m_projectModel->setProjects(shown);
    m_window->projectCountLabel()->setText(qfFormat("%i project%@", int(shown.size()), plural(shown.size())));
    m_window->updateEmptyProjectsView(m_projects.size(), shown.size());
    selectLastProject();
    updateNoBackupView();
}

void AppController::showProjects(const QList<QFProject> &projects)
{
    m_projects = projects;
    if (m_window) {
        const QList<QFProject> shown = projectsMatching(projects, m_window->projectSearchField()->text());
        // The selection survives a re-read when its project is still there.
        const QString selected
            = m_window->projectTable()->currentIndex().data(QFProjectListModel::ProjectIDRole).toString();
        const QSignalBlocker blocker(m_window->projectTable()->selectionModel());
        m_projectModel->setProjects(shown);
        for (int row = 0; row < shown.size(); ++row) {
            if (!selected.isEmpty() && shown.at(row).projectID() == selected)
                m_window->projectTable()->setCurrentIndex(m_projectModel->index(row));
        }
        m_window->projectCountLabel()->setText(qfFormat("%i project%@", int(shown.size()), plural(shown.size())));
        m_window->updateEmptyProjectsView(projects.size(), shown.size());
    }
    if (m_startingUp) {
        if (m_window) {
            m_window->projectSpinner()->hide();
            selectLastProject();
        }
        xpcConfigUpdate();
    }
    // The first project came, or the last one went.
    updateHelperJob();
    m_startingUp = projects.isEmpty();
    updateNoBackupView();
    Q_EMIT projectListShown();
}

void AppController::selectLastProject()
{
    if (!m_window)
        return;
    QListView *table = m_window->projectTable();
    const QModelIndex before = table->currentIndex();
    const QString last = preference(QStringLiteral("lastProjectID")).toString();
    const QList<QFProject> &rows = m_projectModel->projects();
    for (int row = 0; row < rows.size(); ++row) {
        if (!last.isEmpty() && rows.at(row).projectID() == last) {
            table->setCurrentIndex(m_projectModel->index(row));
            table->scrollTo(m_projectModel->index(row));
            break;
        }
    }
    if (!table->currentIndex().isValid() && !rows.isEmpty())
        table->setCurrentIndex(m_projectModel->index(0));
    // A new selection has filled the version list already.
    else if (table->currentIndex().isValid() && table->currentIndex() == before)
        populateChangelistForProject(selectedProjectFolder());
}

void AppController::projectSelectionChanged()
{
    const QModelIndex current = m_window->projectTable()->currentIndex();
    if (!current.isValid())
        return;
    const QString projectID = current.data(QFProjectListModel::ProjectIDRole).toString();
    if (projectID != preference(QStringLiteral("lastProjectID")).toString())
        setPreferences({ { QStringLiteral("lastProjectID"), projectID } });
    resetSearch();
    replaceVersionList({});
    m_window->backupNowAction()->setEnabled(true);
    populateChangelistForProject(selectedProjectFolder());
}

// --- The version list ---------------------------------------------------------------------------------

void AppController::populateChangelistForProject(const QString &projectFolder)
{
    if (projectFolder.isEmpty())
        return;
    // Requests still waiting are dropped: the latest wins.
    m_parserQueue.clear();
    m_parserQueue.start([this, projectFolder] {
        QFException::guard("populateChangelistForProject", [&] { populateOperation(projectFolder); });
    });
}

void AppController::populateOperation(const QString &projectFolder)
{
    QFLog::appendLog("Populating changelist for project: %@", projectFolder);
    const bool interactive = m_hasUserInterface;
    // Every version is listed at once, newest first; change lines fill in as they are computed, so the
    // newest version is at the top from the start, however many versions are still to be read.
    const QList<QFVersionEntry> listed = interactive
        ? versionsWithoutLines(projectFolder, listVersions(projectFolder + QStringLiteral("/Versions")).names)
        : QList<QFVersionEntry>();
    QFMainThread::run(
        [this, projectFolder, interactive, listed] {
            if (interactive && m_window && projectFolder == selectedProjectFolder()) {
                // Versions shown already keep their lines until the new ones come.
                QHash<QString, QFVersionEntry> shown;
                for (const QFVersionEntry &entry : m_versionModel->allEntries())
                    shown.insert(entry.file, entry);
                QList<QFVersionEntry> rows;
                rows.reserve(listed.size());
                for (const QFVersionEntry &entry : listed)
                    rows << shown.value(entry.file, entry);
                replaceVersionList(rows);
                m_window->versionSpinner()->show();
            }
        },
        true);

    std::optional<QVariantMap> cache;
    {
        QMutexLocker lock(&m_cacheLock);
        cache = m_engine->cacheForProject(projectFolder, this);
    }
    if (!cache) {
        if (interactive && !m_engine->processingCancelled()) {
            onMainThread([this] {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to load cache"), QString(), QString(),
                    QString(), QStringLiteral("Pro Tombrel was unable to determine version information."), m_window,
                    false);
            });
        } else if (!interactive) {
            QFLog::appendLog("Unable to load cache. Pro Tombrel was unable to determine version information.");
        }
    }

    const ListedVersions versions = listVersions(projectFolder + QStringLiteral("/Versions"));
    QList<QFVersionEntry> result;
    for (const QString &name : versions.names) {
        if (!cache)
            break;
        if (const auto entry = QFVersionEntry::fromDictionary(cache->value(name)))
            result.prepend(*entry);
    }
    const bool showXMLItem
        = versions.fcpRemains && QFPreferenceSnapshot::read().intValue(QStringLiteral("generateFCPXML")) == 1;

    QFMainThread::run(
        [this, projectFolder, result, showXMLItem] {
            if (m_window)
                m_window->generateXMLAction()->setVisible(showXMLItem);
            if (m_window && projectFolder == selectedProjectFolder()) {
                replaceVersionList(result);
                if (m_window->isVisible() && !result.isEmpty())
                    m_window->versionOutline()->setCurrentIndex(m_versionModel->index(0, 0));
                // Which of them Dropbox holds: the answer marks them " (synced)".
                m_engine->loadSyncedFileListForProjectUUID(QFDropboxSync::remotePathForProject(projectFolder).mid(1));
            }
            if (m_window)
                m_window->versionSpinner()->hide();
            QFLog::appendLog("Finished populating changelist for project %@.", projectFolder);
            Q_EMIT versionListPopulated(projectFolder);
        },
        true);
}

void AppController::replaceVersionList(const QList<QFVersionEntry> &entries)
{
    if (!m_window)
        return;
    m_versionModel->setFilters(filterPreferences());
    m_versionModel->setEntries(entries);
    m_readyEntries.clear();
    showVersionListInViews();
    // A search under way applies to the new list too.
    const QString search = m_window->versionSearchField()->text();
    if (!search.isEmpty() && !entries.isEmpty())
        beginSearch(search);
}

void AppController::showVersionListInViews()
{
    const QList<QFVersionEntry> &shown = m_versionModel->entries();
    QList<QFCoverFlowView::Item> items;
    items.reserve(shown.size());
    for (const QFVersionEntry &entry : shown)
        items << stripItemFor(entry);
    m_window->screenshotStrip()->setItems(items);
    if (m_window->isVisible() && !shown.isEmpty())
        m_window->versionOutline()->expandAll();
    m_window->printAction()->setEnabled(!shown.isEmpty());
    m_window->printPreviewAction()->setEnabled(!shown.isEmpty());
    updateVersionCount();
    updateNoBackupView();
}

QVariantMap AppController::filterPreferences()
{
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    QVariantMap filters;
    for (const QString &key : QFChangeLines::filterKeys()) {
        const QVariant value = prefs.value(key);
        if (value.isValid())
            filters.insert(key, value);
    }
    return filters;
}

void AppController::reloadBackupViews()
{
    if (!m_window)
        return;
    m_versionModel->setFilters(filterPreferences());
    showVersionListInViews();
}

// --- Searches -----------------------------------------------------------------------------------------

void AppController::search(const QString &text)
{
    if (text.isEmpty()) {
        updateVersionSearchArray(std::nullopt);
        return;
    }
    beginSearch(text);
}

void AppController::beginSearch(const QString &text)
{
    const QList<QFVersionEntry> entries = m_versionModel->allEntries();
    const QString folder = selectedProjectFolder();
    detach([this, text, entries, folder] {
        QFLog::appendLog("Beginning search for '%@'", text);
        const QList<QFVersionEntry> result = QFChangeLines::searchVersions(entries, text);
        onMainThread([this, text, result, folder] {
            // A result for an older text or another project is not shown.
            if (m_window && m_window->versionSearchField()->text() == text && selectedProjectFolder() == folder)
                updateVersionSearchArray(result);
        });
    });
}

void AppController::updateVersionSearchArray(const std::optional<QList<QFVersionEntry>> &result)
{
    if (!m_window)
        return;
    m_versionModel->setSearchResult(result);
    showVersionListInViews();
    Q_EMIT versionSearchShown();
}

void AppController::resetSearch()
{
    if (!m_window)
        return;
    const QSignalBlocker blocker(m_window->versionSearchField());
    m_window->versionSearchField()->clear();
    if (m_versionModel->isShowingSearchResult())
        updateVersionSearchArray(std::nullopt);
}

// --- Change-list progress ----------------------------------------------------------------------------

void AppController::versionsToBeLoaded(int count)
{
    // The bar runs until the first version is ready, then counts.
    m_progressMaximum = count;
    m_progressValue = 0;
    if (m_window && count > 0) {
        m_window->versionSpinner()->setRange(0, 0);
        m_window->versionSpinner()->show();
    }
}

void AppController::changeLogReady(const QFVersionEntry &entry)
{
    if (!m_window)
        return;
    const QString selected = selectedProjectFolder();
    if (selected.isEmpty() || !entry.file.startsWith(selected + u'/'))
        return;
    // Entries arrive one by one, faster than rows can be laid out; they are shown together at the next
    // turn of the event loop.
    m_readyEntries << entry;
    if (!m_readyFlushQueued) {
        m_readyFlushQueued = true;
        QTimer::singleShot(0, this, &AppController::showReadyEntries);
    }
}

void AppController::showReadyEntries()
{
    m_readyFlushQueued = false;
    if (!m_window || m_readyEntries.isEmpty())
        return;
    const QString selected = selectedProjectFolder();
    QList<QFVersionEntry> newestFirst;
    for (auto it = m_readyEntries.crbegin(); it != m_readyEntries.crend(); ++it) {
        if (selected.isEmpty() || !it->file.startsWith(selected + u'/'))
            continue;
        newestFirst << *it;
    }
    const int progressed = int(m_readyEntries.size());
    m_readyEntries.clear();
    if (newestFirst.isEmpty())
        return;
    // A version listed already gets its lines in its own row; one that was not goes to the top.
    const QList<QFVersionEntry> added = m_versionModel->updateEntries(newestFirst);
    if (!m_versionModel->isShowingSearchResult()) {
        QList<QFCoverFlowView::Item> items;
        for (const QFVersionEntry &entry : added)
            items << stripItemFor(entry);
        for (const QFVersionEntry &entry : newestFirst) {
            const int row = m_versionModel->rowOfFile(entry.file);
            if (row >= 0)
                m_window->versionOutline()->expand(m_versionModel->index(row, 0));
        }
        if (!items.isEmpty())
            m_window->screenshotStrip()->insertItemsAtFront(items);
        m_window->printAction()->setEnabled(true);
        m_window->printPreviewAction()->setEnabled(true);
    }
    m_lastChangeListTime = QDateTime::currentMSecsSinceEpoch();
    updateVersionCount();
    updateNoBackupView();
    m_progressValue += progressed;
    if (m_progressMaximum > 0) {
        m_window->versionSpinner()->setRange(0, m_progressMaximum);
        m_window->versionSpinner()->setValue(std::min(m_progressValue, m_progressMaximum));
    }
}

QFCoverFlowView::Item AppController::stripItemFor(const QFVersionEntry &entry)
{
    const QFileInfo file(entry.file);
    return { QDir::cleanPath(file.absolutePath() + QStringLiteral("/../Screenshots/") + file.completeBaseName()
                 + QStringLiteral(".jpg")),
        entry.version };
}

void AppController::loadingFinished()
{
    m_startingUp = false;
    if (m_window)
        m_window->versionSpinner()->setRange(0, 0);
}

void AppController::updateVersionCount()
{
    if (!m_window)
        return;
    const qsizetype count = m_versionModel->entries().size();
    m_window->versionCountLabel()->setText(qfFormat("%i version%@", int(count), plural(count)));
}

void AppController::updateNoBackupView()
{
    if (!m_window)
        return;
    // A search that matches nothing leaves a project with versions: nothing to back up for the first time.
    const bool shown = m_projectModel->rowCount() > 0 && m_versionModel->allEntries().isEmpty();
    m_window->placeNoBackupView(shown);
}

// --- Outline and strip in step ------------------------------------------------------------------------

void AppController::outlineSelectionChanged()
{
    const int row = QFVersionListModel::entryRow(m_window->versionOutline()->currentIndex());
    if (row < 0)
        return;
    QFCoverFlowView *strip = m_window->screenshotStrip();
    if (strip->currentIndex() == row && !strip->isScrolling())
        return;
    m_stripMovedByOutline = true;
    strip->scrollToIndex(row, 500);
}

void AppController::stripStoppedScrolling(int index)
{
    if (m_stripMovedByOutline) {
        m_stripMovedByOutline = false;
        return;
    }
    if (index < 0 || index >= m_versionModel->rowCount())
        return;
    QFOutlineView *outline = m_window->versionOutline();
    if (QFVersionListModel::entryRow(outline->currentIndex()) == index)
        return;
    const QModelIndex row = m_versionModel->index(index, 0);
    outline->setCurrentIndex(row);
    outline->scrollTo(row);
}

void AppController::toggleScreenshotView()
{
    QSplitter *splitter = m_window->detailSplitter();
    if (QFPreferenceSnapshot::read().intValue(QStringLiteral("viewMode")) != 0) {
        splitter->setSizes({ 0, splitter->height() });
    } else {
        splitter->setSizes({ std::min(kExpandedStripHeight, splitter->height() / 2), splitter->height() / 2 });
        m_window->screenshotStrip()->update();
    }
    updateNoBackupView();
}
