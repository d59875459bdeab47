#include "app/QFSyncPane.h"

#include "app/AppController.h"
#include "app/QFPrefLayout.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFRcloneClient.h"
#include "foundation/QFAlert.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFPropertyList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

using namespace qfpref;

namespace {

enum Service { Nowhere = 0, Dropbox = 1, Rclone = 2 };

// The most entries a test names of what it found.
constexpr int kNamesShown = 3;

bool isDark(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window).lightness() < 128;
}

QColor warningColour(const QWidget *widget)
{
    return isDark(widget) ? QColor(0xff, 0x7b, 0x63) : QColor(0xc0, 0x1c, 0x28);
}

} // namespace

QFSyncPane::QFSyncPane(AppController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    auto *form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setVerticalSpacing(10);

    m_service = new QComboBox;
    m_service->setObjectName(QStringLiteral("syncService"));
    m_service->addItems({ QStringLiteral("Nowhere"), QStringLiteral("Dropbox"), QStringLiteral("rclone remote") });
    connect(m_service, &QComboBox::currentIndexChanged, this, &QFSyncPane::serviceChosen);
    form->addRow(QStringLiteral("Copy versions to:"), row({ m_service }));

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("syncStatus"));
    m_linkButton = new QPushButton(QStringLiteral("Link"));
    m_linkButton->setObjectName(QStringLiteral("linkUnlink"));
    connect(m_linkButton, &QPushButton::clicked, this, &QFSyncPane::linkUnlink);
    m_dropboxRow = row({ m_status, m_linkButton });
    m_accountLabel = new QLabel(QStringLiteral("Account:"));
    form->addRow(m_accountLabel, m_dropboxRow);

    m_remote = new QComboBox;
    m_remote->setObjectName(QStringLiteral("syncRemoteName"));
    m_remote->setMinimumContentsLength(16);
    m_remote->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_remote->setAccessibleName(QStringLiteral("rclone remote"));
    connect(m_remote, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_loading)
            storeRemote();
    });
    auto *refresh = new QPushButton(QStringLiteral("Refresh"));
    refresh->setObjectName(QStringLiteral("syncRemoteRefresh"));
    refresh->setToolTip(QStringLiteral("Reads the remotes of rclone config again"));
    connect(refresh, &QPushButton::clicked, this, &QFSyncPane::listRemotes);
    m_remoteRow = row({ m_remote, refresh });
    m_remoteLabel = new QLabel(QStringLiteral("Remote:"));
    form->addRow(m_remoteLabel, m_remoteRow);

    m_path = new QLineEdit;
    m_path->setObjectName(QStringLiteral("syncRemotePath"));
    m_path->setPlaceholderText(QStringLiteral("folder in the remote, e.g. Backups/Tombrel"));
    m_path->setAccessibleName(QStringLiteral("Path in the remote"));
    connect(m_path, &QLineEdit::editingFinished, this, [this] {
        if (!m_loading)
            storeRemote();
    });
    m_test = new QPushButton(QStringLiteral("Test"));
    m_test->setObjectName(QStringLiteral("syncRemoteTest"));
    connect(m_test, &QPushButton::clicked, this, &QFSyncPane::testRemote);
    m_pathLabel = new QLabel(QStringLiteral("Path:"));
    m_pathRow = row({ m_path, m_test }, false);
    form->addRow(m_pathLabel, m_pathRow);

    m_result = new QLabel;
    m_result->setObjectName(QStringLiteral("syncRemoteResult"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QString(), m_result);

    m_deleteRemote = new QCheckBox(QStringLiteral("Removing versions or projects also removes their copies"));
    m_deleteRemote->setObjectName(QStringLiteral("syncDeleteRemoteFiles"));
    connect(m_deleteRemote, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            store(QStringLiteral("syncDeleteRemoteFiles"), qint64(on ? 1 : 0));
    });
    form->addRow(QString(), m_deleteRemote);
    m_explanation = explanation(QString());
    m_explanation->setObjectName(QStringLiteral("syncExplanation"));
    form->addRow(QString(), m_explanation);

    fillPage(this, form);
}

QFSyncPane::~QFSyncPane()
{
    if (m_listing) {
        m_listing->disconnect(this);
        m_listing->kill();
        m_listing->waitForFinished(2000);
    }
}

void QFSyncPane::loadValues()
{
    m_loading = true;
    const qint64 service = integerValue(QStringLiteral("syncService"));
    m_service->setCurrentIndex(service >= 0 && service < m_service->count() ? int(service) : 0);
    m_deleteRemote->setChecked(QFPreferenceSnapshot::read().intValue(QStringLiteral("syncDeleteRemoteFiles")) == 1);
    const QString remote = AppController::preferenceValue(QStringLiteral("syncRemote")).toString();
    const qsizetype colon = remote.indexOf(u':');
    const QString name = colon > 0 ? remote.left(colon) : QString();
    if (!name.isEmpty() && m_remote->findData(name) < 0)
        m_remote->addItem(name, name);
    m_remote->setCurrentIndex(name.isEmpty() ? -1 : m_remote->findData(name));
    m_path->setText(colon > 0 ? remote.mid(colon + 1) : QString());
    m_loading = false;
    refreshStatus();
    // rclone is asked only while someone looks at the pane.
    if (isVisible())
        listRemotes();
}

void QFSyncPane::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    listRemotes();
}

void QFSyncPane::refreshStatus()
{
    const int service = m_service->currentIndex();
    const bool dropbox = service == Dropbox;
    const bool rclone = service == Rclone;
    const bool linked = dropbox && m_controller && m_controller->isSyncAccountLinked();
    m_status->setText(linked ? QStringLiteral("Linked to account") : QStringLiteral("No linked account"));
    QPalette colours = m_status->palette();
    colours.setColor(QPalette::WindowText, linked ? palette().color(QPalette::WindowText) : warningColour(this));
    m_status->setPalette(colours);
    m_linkButton->setText(linked ? QStringLiteral("Unlink") : QStringLiteral("Link"));
    m_linkButton->setEnabled(dropbox);

    // The rows of the other store are of no use; the account's row stays (greyed) while nothing is chosen.
    m_accountLabel->setVisible(!rclone);
    m_dropboxRow->setVisible(!rclone);
    for (QWidget *widget : QList<QWidget *> { m_remoteLabel, m_remoteRow, m_pathLabel, m_pathRow, m_result })
        widget->setVisible(rclone);
    m_test->setEnabled(rclone && !remoteOfControls().isEmpty() && !m_tester);
    m_explanation->setText(rclone
            ? QStringLiteral(
                "Each version is copied as a compressed file into a folder of its project in the remote's path, "
                "beside a small description of the project. rclone uses its own configuration; "
                "set remotes up with rclone config.")
            : QStringLiteral(
                "Each version is copied as a compressed file into the application's own folder of the account."));
}

void QFSyncPane::commitEditors()
{
    if (m_path->isModified() && !m_loading) {
        storeRemote();
        m_path->setModified(false);
    }
}

void QFSyncPane::serviceChosen(int index)
{
    if (m_loading || index < 0)
        return;
    if (!store(QStringLiteral("syncService"), qint64(index)))
        return;
    if (index == Rclone)
        storeRemote();
    if (index == Nowhere && m_controller && m_controller->isSyncAccountLinked())
        m_controller->unlinkSyncAccount();
    refreshStatus();
    if (index != Dropbox)
        tellHelper();
}

void QFSyncPane::linkUnlink()
{
    if (m_service->currentIndex() != Dropbox || !m_controller)
        return;
    if (m_controller->isSyncAccountLinked()) {
        m_controller->unlinkSyncAccount();
        refreshStatus();
        tellHelper();
        return;
    }
    m_linkButton->setEnabled(false);
    m_controller->linkSyncAccount(window(), [this] {
        refreshStatus();
        tellHelper();
    });
}

void QFSyncPane::listRemotes()
{
    if (m_listing)
        return;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    if (program.isEmpty()) {
        m_remote->setPlaceholderText(QStringLiteral("rclone is not installed"));
        Q_EMIT remotesListed();
        return;
    }
    // A child process the window's thread never waits for: its answer arrives as an event.
    m_listing = new QProcess(this);
    m_listing->setProgram(program);
    m_listing->setArguments({ QStringLiteral("listremotes"), QStringLiteral("--ask-password=false") });
    QFTaskEx::prepareChildProcess(*m_listing);
    connect(m_listing, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        const QByteArray out = m_listing->readAllStandardOutput();
        m_listing->deleteLater();
        m_listing = nullptr;
        if (status != QProcess::NormalExit || exitCode != 0) {
            QFLog::appendLog("rclone listremotes ended with status %@", QString::number(exitCode));
            Q_EMIT remotesListed();
            return;
        }
        m_loading = true;
        const QString current = m_remote->currentData().toString();
        m_remote->clear();
        for (const QString &line : QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts)) {
            const QString name = line.trimmed().chopped(line.trimmed().endsWith(u':') ? 1 : 0);
            if (!name.isEmpty() && m_remote->findData(name) < 0)
                m_remote->addItem(name, name);
        }
        // The chosen remote stays shown though rclone no longer names it; the test says what is wrong.
        if (!current.isEmpty() && m_remote->findData(current) < 0)
            m_remote->addItem(current, current);
        m_remote->setCurrentIndex(current.isEmpty() ? (m_remote->count() > 0 ? 0 : -1) : m_remote->findData(current));
        m_remote->setPlaceholderText(
            m_remote->count() == 0 ? QStringLiteral("no remotes: set one up with rclone config") : QString());
        m_loading = false;
        if (current.isEmpty() && m_service->currentIndex() == Rclone && m_remote->currentIndex() >= 0)
            storeRemote();
        refreshStatus();
        Q_EMIT remotesListed();
    });
    connect(m_listing, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || !m_listing)
            return;
        m_listing->deleteLater();
        m_listing = nullptr;
        Q_EMIT remotesListed();
    });
    m_listing->start();
    m_listing->closeWriteChannel();
}

QString QFSyncPane::remoteOfControls() const
{
    const QString name = m_remote->currentData().toString();
    if (name.isEmpty())
        return {};
    QString path = m_path->text().trimmed();
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    return name + u':' + path;
}

void QFSyncPane::storeRemote()
{
    const QString remote = remoteOfControls();
    if (remote.isEmpty() || remote == AppController::preferenceValue(QStringLiteral("syncRemote")).toString()) {
        refreshStatus();
        return;
    }
    if (store(QStringLiteral("syncRemote"), remote)) {
        m_result->clear();
        if (m_service->currentIndex() == Rclone)
            tellHelper();
    }
    refreshStatus();
}

void QFSyncPane::testRemote()
{
    const QString remote = remoteOfControls();
    QString why;
    if (!QFRcloneClient::isRemoteSpec(remote, &why)) {
        showResult(why, false);
        Q_EMIT testFinished(false);
        return;
    }
    storeRemote();
    m_tester = std::make_unique<QFRcloneClient>(remote);
    m_test->setEnabled(false);
    showResult(QStringLiteral("Listing %1…").arg(remote), true);
    const auto finish = [this](const QString &text, bool ok) {
        showResult(text, ok);
        // The client answers from within its own signal: it goes once that has returned.
        QMetaObject::invokeMethod(
            this,
            [this, ok] {
                m_tester.reset();
                refreshStatus();
                Q_EMIT testFinished(ok);
            },
            Qt::QueuedConnection);
    };
    connect(m_tester.get(), &QFSyncClient::loadedMetadata, this, [remote, finish](const QFDropboxMetadata &metadata) {
        QStringList names;
        for (const QFDropboxEntry &entry : metadata.contents) {
            if (names.size() < kNamesShown)
                names << QFDropboxSync::printableName(entry.name);
        }
        const qsizetype count = metadata.contents.size();
        QString text = count == 0
            ? QStringLiteral("%1 can be reached; it is empty.").arg(remote)
            : QStringLiteral("%1 can be reached; it holds %2 %3: %4%5.")
                  .arg(remote)
                  .arg(count)
                  .arg(count == 1 ? QStringLiteral("item") : QStringLiteral("items"), names.join(QStringLiteral(", ")),
                      count > kNamesShown ? QStringLiteral(" …") : QString());
        finish(text, true);
    });
    connect(m_tester.get(), &QFSyncClient::loadMetadataFailed, this, [remote, finish](const QFDropboxError &error) {
        // A folder not made yet is made by the first upload.
        if (error.domain == QFDropboxError::Domain::HTTP && error.code == 409) {
            finish(QStringLiteral("%1 can be reached; the folder is made with the first copy.").arg(remote), true);
            return;
        }
        const QString lead = QFRcloneClient::leadTextForError(error);
        finish(lead.isEmpty() ? error.description : lead + u' ' + error.description, false);
    });
    m_tester->loadMetadata(QString());
}

bool QFSyncPane::store(const QString &key, const QVariant &value)
{
    QString error;
    if (QFPreferenceKeys::update({ { key, value } }, {}, &error))
        return true;
    QFLog::appendLog("Unable to save preferences: %@", error);
    QFAlert::alertSheetWithMessageText(
        QStringLiteral("Unable to save preferences"), QString(), QString(), QString(), error, window(), false);
    loadValues();
    return false;
}

void QFSyncPane::tellHelper()
{
    if (m_controller)
        m_controller->xpcConfigUpdate();
}

void QFSyncPane::showResult(const QString &text, bool ok)
{
    m_result->setText(text);
    QPalette colours = m_result->palette();
    colours.setColor(QPalette::WindowText, ok ? palette().color(QPalette::WindowText) : warningColour(this));
    m_result->setPalette(colours);
}
