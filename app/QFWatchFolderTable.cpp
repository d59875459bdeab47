#include "app/QFWatchFolderTable.h"

#include "app/QFAppImages.h"
#include "foundation/QFAlert.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kFolder = QStringLiteral("folder");
const QString kExtensions = QStringLiteral("extensions");

// A path is opened for editing on purpose only (a double click, F2): a stray key would replace it with
// what was typed. The extensions are a short list, typed over at once.
class WatchFolderTableWidget final : public QTableWidget {
public:
    using QTableWidget::edit;
    using QTableWidget::QTableWidget;

    // Leaving the cell hands the typed text to the table, as clicking elsewhere would.
    void commitOpenEditor()
    {
        if (state() != EditingState)
            return;
        const QModelIndex current = currentIndex();
        setCurrentIndex(QModelIndex());
        setCurrentIndex(current);
    }

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override
    {
        if (trigger == AnyKeyPressed && index.column() == 0)
            return false;
        return QTableWidget::edit(index, trigger, event);
    }
};

} // namespace

QFWatchFolderTable::QFWatchFolderTable(QFWatchFolderSettings::List list, QWidget *parent)
    : QWidget(parent)
    , m_list(list)
    , m_table(new WatchFolderTableWidget(0, 2, this))
    , m_add(new QToolButton(this))
    , m_remove(new QToolButton(this))
    , m_presets(new QToolButton(this))
{
    const QString key = QFWatchFolderSettings::key(list);
    setObjectName(key);
    m_table->setObjectName(key + QStringLiteral("Table"));
    m_table->setHorizontalHeaderLabels({ QStringLiteral("Folder"), QStringLiteral("Extensions") });
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Interactive);
    m_table->horizontalHeader()->resizeSection(1, 190);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);

    m_add->setIcon(QFAppImages::themeIcon({ QStringLiteral("list-add") }, palette()));
    m_add->setObjectName(key + QStringLiteral("Add"));
    m_add->setToolTip(list == QFWatchFolderSettings::List::Folders ? QStringLiteral("Watch a folder…")
                                                                   : QStringLiteral("Add a folder on every drive"));
    m_remove->setIcon(QFAppImages::themeIcon({ QStringLiteral("list-remove") }, palette()));
    m_remove->setObjectName(key + QStringLiteral("Remove"));
    m_remove->setToolTip(QStringLiteral("Stop watching the selected folders"));
    m_remove->setEnabled(false);
    m_presets->setText(QStringLiteral("Presets"));
    m_presets->setObjectName(key + QStringLiteral("Presets"));
    m_presets->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_presets->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(m_presets);
    for (const Preset &preset : presets(list))
        menu->addAction(preset.title, this, [this, preset] { appendPreset(preset); });
    m_presets->setMenu(menu);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(m_presets);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_table);
    layout->addLayout(buttons);

    connect(m_add, &QToolButton::clicked, this, &QFWatchFolderTable::addFolder);
    connect(m_remove, &QToolButton::clicked, this, &QFWatchFolderTable::removeSelected);
    connect(m_table, &QTableWidget::itemChanged, this, &QFWatchFolderTable::itemEdited);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
        [this] { m_remove->setEnabled(!m_table->selectedItems().isEmpty()); });
    reload();
}

QList<QFWatchFolderTable::Preset> QFWatchFolderTable::presets(QFWatchFolderSettings::List list)
{
    if (list == QFWatchFolderSettings::List::DriveFolders) {
        return {
            { QStringLiteral("Final Cut Events on Every Drive"), QStringLiteral("/Final Cut Events"),
                QStringLiteral("fcpevent") },
            { QStringLiteral("Final Cut Projects on Every Drive"), QStringLiteral("/Final Cut Projects"),
                QStringLiteral("fcpproject") },
        };
    }
    const QString movies = QFLocalPaths::movieDirectory();
    const QString documents = QFLocalPaths::documentDirectory(true);
    return {
        { QStringLiteral("Final Cut Events"), movies + QStringLiteral("/Final Cut Events"),
            QStringLiteral("fcpevent") },
        { QStringLiteral("Final Cut Projects"), movies + QStringLiteral("/Final Cut Projects"),
            QStringLiteral("fcpproject") },
        { QStringLiteral("Avid Projects"), documents + QStringLiteral("/Avid Projects"), QStringLiteral("avb,avp") },
        { QStringLiteral("Premiere Pro Projects"), documents + QStringLiteral("/Adobe/Premiere Pro"),
            QStringLiteral("prproj") },
        { QStringLiteral("Audition Sessions"), documents + QStringLiteral("/Adobe/Audition"), QStringLiteral("sesx") },
        { QStringLiteral("Prelude Projects"), documents + QStringLiteral("/Adobe/Prelude/1.0/Projects"),
            QStringLiteral("plproj") },
        // The editors people use on this desktop.
        { QStringLiteral("Kdenlive Projects"), movies, QStringLiteral("kdenlive") },
        { QStringLiteral("Shotcut Projects"), movies, QStringLiteral("mlt") },
        { QStringLiteral("Olive Projects"), movies, QStringLiteral("ove") },
        { QStringLiteral("Exported Resolve Projects"), movies, QStringLiteral("drp") },
        { QStringLiteral("Blender Files"), documents, QStringLiteral("blend") },
        { QStringLiteral("Ardour Sessions"), documents, QStringLiteral("ardour") },
    };
}

void QFWatchFolderTable::reload()
{
    m_loading = true;
    m_shown = QFWatchFolderSettings::elements(m_list);
    m_table->setRowCount(int(m_shown.size()));
    for (int row = 0; row < m_shown.size(); ++row) {
        const QVariantMap &element = m_shown.at(row);
        int column = 0;
        for (const QString &name : { kFolder, kExtensions }) {
            const QVariant value = element.value(name);
            auto *item
                = new QTableWidgetItem(value.metaType().id() == QMetaType::QString ? value.toString() : QString());
            item->setToolTip(item->text());
            m_table->setItem(row, column++, item);
        }
    }
    m_loading = false;
    m_remove->setEnabled(!m_table->selectedItems().isEmpty());
}

void QFWatchFolderTable::editCell(int row, int column)
{
    // Once the table has settled (an editor opened inside a signal of the table would close again).
    QTimer::singleShot(0, this, [this, row, column] {
        if (row >= m_table->rowCount())
            return;
        m_table->setFocus();
        m_table->setCurrentCell(row, column);
        m_table->editItem(m_table->item(row, column));
    });
}

void QFWatchFolderTable::addFolder()
{
    if (m_list == QFWatchFolderSettings::List::DriveFolders) {
        // A row with an empty folder, which the user types at once.
        QString error;
        if (!QFWatchFolderSettings::appendElement(m_list, { { kFolder, QString() } }, &error)) {
            report(error);
            return;
        }
        reload();
        editCell(m_table->rowCount() - 1, 0);
        return;
    }
    auto *panel = new QFileDialog(window(), QStringLiteral("Choose a Folder to Watch"), QFLocalPaths::userDirectory());
    panel->setObjectName(QStringLiteral("watchFolderPanel"));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Watch"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::fileSelected, this, &QFWatchFolderTable::folderChosen);
    panel->open();
}

void QFWatchFolderTable::folderChosen(const QString &chosen)
{
    if (chosen.isEmpty())
        return;
    const QString path = QFWatchFolderSettings::normalizedFolder(m_list, chosen);
    // The same check as the command line's: parents are whole path components.
    std::optional<QFWatchFolderSettings::Refusal> refusal;
    QString error;
    if (!QFWatchFolderSettings::addFolder(m_list, path, std::nullopt, &refusal, &error)) {
        if (refusal) {
            QFAlert::alertSheetWithMessageText(
                refusal->title, QString(), QString(), QString(), refusal->text, window(), false);
            return;
        }
        report(error);
        return;
    }
    reload();
    Q_EMIT changed();
    // The extensions are typed next; until then the folder finds no project.
    editCell(m_table->rowCount() - 1, 1);
}

void QFWatchFolderTable::removeSelected()
{
    QList<QPair<int, QVariantMap>> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows()) {
        if (index.row() < m_shown.size())
            rows.append({ index.row(), m_shown.at(index.row()) });
    }
    if (rows.isEmpty())
        return;
    QString error;
    if (!QFWatchFolderSettings::removeElements(m_list, rows, &error))
        report(error);
    reload();
    Q_EMIT changed();
}

void QFWatchFolderTable::appendPreset(const Preset &preset)
{
    // Presets are appended as they are, without a duplicate check.
    QString error;
    if (!QFWatchFolderSettings::appendElement(
            m_list, { { kFolder, preset.folder }, { kExtensions, preset.extensions } }, &error)) {
        report(error);
        return;
    }
    reload();
    Q_EMIT changed();
}

void QFWatchFolderTable::itemEdited(QTableWidgetItem *item)
{
    if (m_loading || !item || item->row() >= m_shown.size())
        return;
    const QString column = item->column() == 0 ? kFolder : kExtensions;
    QString error;
    const bool stored = QFWatchFolderSettings::setElementValue(
        m_list, item->row(), m_shown.at(item->row()), column, item->text(), &error);
    // The cell shows at once what was stored (extensions as they are kept); the table is rebuilt (and an
    // error told) once the editor has let go of the item.
    if (stored) {
        const QVariant kept = QFWatchFolderSettings::elements(m_list).value(item->row()).value(column);
        m_loading = true;
        item->setText(kept.metaType().id() == QMetaType::QString ? kept.toString() : QString());
        m_loading = false;
    }
    QTimer::singleShot(0, this, [this, stored, error] {
        if (!stored)
            report(error);
        reload();
        Q_EMIT changed();
    });
}

void QFWatchFolderTable::commitEdit()
{
    static_cast<WatchFolderTableWidget *>(m_table)->commitOpenEditor();
}

void QFWatchFolderTable::report(const QString &error)
{
    QFLog::appendLog("Unable to save watch folders: %@", error);
    QFAlert::alertSheetWithMessageText(
        QStringLiteral("Unable to save watch folders"), QString(), QString(), QString(), error, window(), false);
}
