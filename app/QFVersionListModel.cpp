#include "app/QFVersionListModel.h"

#include "app/QFAppImages.h"
#include "foundation/platform/QFFormat.h"

#include <QFileInfo>
#include <QLocale>

namespace {

// Top-level rows carry 0 as internal id; a child carries its entry's row plus one.
constexpr quintptr kTopLevel = 0;

QString mediumTimeFormat()
{
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("ss")))
        format.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
    return format;
}

} // namespace

QFVersionListModel::QFVersionListModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

void QFVersionListModel::setEntries(const QList<QFVersionEntry> &entries)
{
    beginResetModel();
    m_entries = entries;
    endResetModel();
}

void QFVersionListModel::insertEntryAtFront(const QFVersionEntry &entry)
{
    beginInsertRows(QModelIndex(), 0, 0);
    m_entries.prepend(entry);
    endInsertRows();
}

void QFVersionListModel::setSyncedFiles(const QSet<QString> &names)
{
    m_synced = names;
    if (!m_entries.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(int(m_entries.size()) - 1, 0), { SubtitleRole });
}

int QFVersionListModel::entryRow(const QModelIndex &index)
{
    if (!index.isValid())
        return -1;
    return index.internalId() == kTopLevel ? index.row() : int(index.internalId() - 1);
}

QString QFVersionListModel::subtitleForEntry(const QFVersionEntry &entry, bool synced)
{
    const QLocale locale;
    const QDateTime date = entry.date.toLocalTime();
    const QString when = date.isValid()
        ? locale.toString(date.date(), QLocale::LongFormat) + QStringLiteral(", ") + locale.toString(date.time(), mediumTimeFormat())
        : QString();
    return qfFormat("%@   %@%@", when, entry.size, synced ? QStringLiteral(" (synced)") : QStringLiteral(""));
}

QStringList QFVersionListModel::childLines(int entry) const
{
    const QFVersionEntry &e = m_entries.at(entry);
    QStringList lines;
    if (!e.annotation.isEmpty())
        lines << e.annotation;
    lines << e.changelist;
    return lines;
}

QModelIndex QFVersionListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_entries.size() ? createIndex(row, 0, kTopLevel) : QModelIndex();
    if (parent.internalId() != kTopLevel || parent.row() >= m_entries.size())
        return {};
    if (row >= childLines(parent.row()).size())
        return {};
    return createIndex(row, 0, quintptr(parent.row()) + 1);
}

QModelIndex QFVersionListModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == kTopLevel)
        return {};
    return createIndex(int(child.internalId() - 1), 0, kTopLevel);
}

int QFVersionListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_entries.size());
    if (parent.internalId() != kTopLevel || parent.row() >= m_entries.size())
        return 0;
    const QFVersionEntry &e = m_entries.at(parent.row());
    return int(e.changelist.size()) + (e.annotation.isEmpty() ? 0 : 1);
}

int QFVersionListModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool QFVersionListModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant QFVersionListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = entryRow(index);
    if (row < 0 || row >= m_entries.size())
        return {};
    const QFVersionEntry &entry = m_entries.at(row);
    const bool top = index.internalId() == kTopLevel;
    switch (role) {
    case KindRole:
        if (top)
            return VersionRow;
        return (!entry.annotation.isEmpty() && index.row() == 0) ? AnnotationRow : ChangeLineRow;
    case EntryRowRole:
        return row;
    case VersionFileRole:
        return entry.file;
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (top)
            return role == Qt::DisplayRole ? qfFormat("Version %@", entry.version) : entry.file;
        return childLines(row).value(index.row());
    case SubtitleRole:
        return top ? subtitleForEntry(entry, m_synced.contains(QFileInfo(entry.file).fileName())) : QVariant();
    case Qt::DecorationRole:
        return top ? QVariant(QFAppImages::iconForVersion(entry)) : QVariant();
    default:
        return {};
    }
}
