#include "app/QFVersionListModel.h"

#include "app/QFAppImages.h"
#include "engine/QFChangeLines.h"
#include "foundation/platform/QFFormat.h"

#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

namespace {

// Internal ids: a version row's is even, a change line's or note's is odd and names its version. Both are
// spread over the whole word by an odd multiplier (and decoded with its inverse): Qt keeps persistent
// indexes (expanded rows, the selection) in hashes of the row, the column and this id without mixing its
// bits, so ids that differ only in their low bits make long lists slow to expand.
constexpr quint64 kSpread = 0x9E3779B97F4A7C15ull;
constexpr quint64 kUnspread = 0xF1DE83E19937733Dull;
static_assert(kSpread * kUnspread == 1, "the multipliers are inverses");
constexpr quint64 kIdMask = ~quint64(0) >> 1;

bool isChildId(quintptr id)
{
    return id & 1;
}
quintptr childId(int entry)
{
    return quintptr((((quint64(entry) + 1) * kSpread) & kIdMask) << 1 | 1);
}
int entryOfChildId(quintptr id)
{
    return int(((quint64(id) >> 1) * kUnspread & kIdMask) - 1);
}
quintptr versionId(int row)
{
    return quintptr((((quint64(row) + 1) * kSpread) & kIdMask) << 1);
}

QString mediumTimeFormat()
{
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("ss")))
        format.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
    return format;
}

// The locale's long date without the weekday and with the month's short name ("Jan 5, 2024").
QString mediumDateFormat()
{
    static const QRegularExpression weekday(QStringLiteral("[,.]?\\s*dddd\\s*[,.]?\\s*"));
    QString format = QLocale().dateFormat(QLocale::LongFormat);
    format.replace(weekday, QStringLiteral(" "));
    format.replace(QLatin1String("MMMM"), QLatin1String("MMM"));
    return format.trimmed();
}

} // namespace

QFVersionListModel::QFVersionListModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

void QFVersionListModel::setEntries(const QList<QFVersionEntry> &entries)
{
    beginResetModel();
    m_all = entries;
    m_entries = entries;
    m_searching = false;
    refilter();
    endResetModel();
}

void QFVersionListModel::setSearchResult(const std::optional<QList<QFVersionEntry>> &result)
{
    beginResetModel();
    m_searching = result.has_value();
    m_entries = result.value_or(m_all);
    refilter();
    endResetModel();
}

void QFVersionListModel::insertEntriesAtFront(const QList<QFVersionEntry> &newestFirst)
{
    if (newestFirst.isEmpty())
        return;
    m_all = newestFirst + m_all;
    // A search shows its own result; new versions join it when it is run again.
    if (m_searching)
        return;
    QList<QStringList> lines;
    for (const QFVersionEntry &entry : newestFirst)
        lines << shownLines(entry);
    beginInsertRows(QModelIndex(), 0, int(newestFirst.size()) - 1);
    m_entries = newestFirst + m_entries;
    m_lines = lines + m_lines;
    endInsertRows();
}

QList<QFVersionEntry> QFVersionListModel::updateEntries(const QList<QFVersionEntry> &newestFirst)
{
    QHash<QString, qsizetype> rows;
    for (qsizetype i = 0; i < m_all.size(); ++i)
        rows.insert(m_all.at(i).file, i);
    QList<QFVersionEntry> added;
    for (const QFVersionEntry &entry : newestFirst) {
        const auto found = rows.constFind(entry.file);
        if (found == rows.cend()) {
            added << entry;
            continue;
        }
        m_all[*found] = entry;
        // A search shows its own result; the new lines join it when it is run again.
        if (!m_searching)
            replaceShownEntry(int(*found), entry);
    }
    insertEntriesAtFront(added);
    return added;
}

int QFVersionListModel::rowOfFile(const QString &file) const
{
    for (qsizetype row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).file == file)
            return int(row);
    }
    return -1;
}

void QFVersionListModel::replaceShownEntry(int row, const QFVersionEntry &entry)
{
    const QModelIndex parent = index(row, 0);
    const int before = childCount(row);
    const QStringList lines = shownLines(entry);
    const int after = int(lines.size()) + (entry.annotation.isEmpty() ? 0 : 1);
    const auto replace = [&] {
        m_entries[row] = entry;
        m_lines[row] = lines;
    };
    if (after < before) {
        beginRemoveRows(parent, after, before - 1);
        replace();
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows(parent, before, after - 1);
        replace();
        endInsertRows();
    } else {
        replace();
    }
    if (const int kept = std::min(before, after); kept > 0)
        Q_EMIT dataChanged(index(0, 0, parent), index(kept - 1, 0, parent));
    Q_EMIT dataChanged(parent, parent);
}

void QFVersionListModel::setFilters(const QVariantMap &preferences)
{
    if (preferences == m_filters)
        return;
    beginResetModel();
    m_filters = preferences;
    refilter();
    endResetModel();
}

QStringList QFVersionListModel::shownLines(const QFVersionEntry &entry) const
{
    return QFChangeLines::filterArray(entry.changelist, m_filters);
}

void QFVersionListModel::refilter()
{
    m_lines.clear();
    m_lines.reserve(m_entries.size());
    for (const QFVersionEntry &entry : std::as_const(m_entries))
        m_lines << shownLines(entry);
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
    return isChildId(index.internalId()) ? entryOfChildId(index.internalId()) : index.row();
}

QString QFVersionListModel::subtitleForEntry(const QFVersionEntry &entry, bool synced)
{
    const QLocale locale;
    const QDateTime date = entry.date.toLocalTime();
    const QString when = date.isValid() ? locale.toString(date.date(), QLocale::LongFormat) + QStringLiteral(", ")
            + locale.toString(date.time(), mediumTimeFormat())
                                        : QString();
    return qfFormat("%@   %@%@", when, entry.size, synced ? QStringLiteral(" (synced)") : QStringLiteral(""));
}

QString QFVersionListModel::mediumDateTimeText(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    const QLocale locale;
    return locale.toString(date.date(), mediumDateFormat()) + QStringLiteral(", ")
        + locale.toString(date.time(), mediumTimeFormat());
}

int QFVersionListModel::childCount(int entry) const
{
    return int(m_lines.at(entry).size()) + (m_entries.at(entry).annotation.isEmpty() ? 0 : 1);
}

QString QFVersionListModel::childText(int entry, int row) const
{
    const QFVersionEntry &e = m_entries.at(entry);
    if (!e.annotation.isEmpty()) {
        if (row == 0)
            return e.annotation;
        --row;
    }
    return m_lines.at(entry).value(row);
}

QModelIndex QFVersionListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_entries.size() ? createIndex(row, 0, versionId(row)) : QModelIndex();
    if (isChildId(parent.internalId()) || parent.row() >= m_entries.size())
        return {};
    if (row >= childCount(parent.row()))
        return {};
    return createIndex(row, 0, childId(parent.row()));
}

QModelIndex QFVersionListModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || !isChildId(child.internalId()))
        return {};
    const int entry = entryOfChildId(child.internalId());
    return createIndex(entry, 0, versionId(entry));
}

int QFVersionListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_entries.size());
    if (isChildId(parent.internalId()) || parent.row() >= m_entries.size())
        return 0;
    return childCount(parent.row());
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
    const bool top = !isChildId(index.internalId());
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
        return childText(row, index.row());
    case SubtitleRole:
        return top ? subtitleForEntry(entry, m_synced.contains(QFileInfo(entry.file).fileName())) : QVariant();
    case Qt::DecorationRole:
        if (top)
            return QFAppImages::iconForVersion(entry);
        if (data(index, KindRole).toInt() == AnnotationRow)
            return {};
        return QFAppImages::iconForChangeLine(childText(row, index.row()));
    case PlaceholderRole:
        return !top && QFChangeLines::isXMLPlaceholder(childText(row, index.row()));
    default:
        return {};
    }
}
