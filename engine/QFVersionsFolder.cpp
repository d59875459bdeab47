#include "engine/QFVersionsFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

bool isDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::optional<qint64> numberOf(QStringView digits)
{
    if (!isDigits(digits))
        return std::nullopt;
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

// The name without its last extension, and that extension; the stem is the whole name without one.
QStringView stemOf(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

bool hasSuffix(QStringView name, QLatin1StringView suffix)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && name.mid(dot + 1).compare(suffix, Qt::CaseInsensitive) == 0;
}

// Numbered versions by number, then by name; names without a number after them, by name.
bool entryLess(const std::optional<qint64> &na, const QString &a, const std::optional<qint64> &nb, const QString &b)
{
    if (na.has_value() != nb.has_value())
        return na.has_value();
    if (na && *na != *nb)
        return *na < *nb;
    return a < b;
}

QStringList visibleNames(const QString &versionsFolder)
{
    QStringList names
        = QDir(versionsFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeIf([](const QString &name) { return name.startsWith(u'.'); });
    return names;
}

} // namespace

bool QFVersionsFolderEntry::isFinalCutVersionWithoutXML() const
{
    return xmlCopy.isEmpty() && hasSuffix(name, QLatin1StringView("fcp"));
}

std::optional<qint64> QFVersionsFolder::versionNumber(const QString &name)
{
    const QString file = QFileInfo(name).fileName();
    const qsizetype last = file.lastIndexOf(u'.');
    if (last <= 0)
        return std::nullopt;
    const QStringView rest = QStringView(file).left(last);
    const qsizetype previous = rest.lastIndexOf(u'.');
    if (previous >= 0) {
        if (const auto number = numberOf(rest.mid(previous + 1)))
            return number;
    }
    // A project file without an extension gives versions named "Edit.00007".
    return numberOf(QStringView(file).mid(last + 1));
}

bool QFVersionsFolder::lessThan(const QString &a, const QString &b)
{
    return entryLess(versionNumber(a), a, versionNumber(b), b);
}

QList<QFVersionsFolderEntry> QFVersionsFolder::versions(const QString &versionsFolder)
{
    const QStringList names = visibleNames(versionsFolder);
    // An XML copy belongs to the ".fcp" version file of the same stem, whatever the case of either extension.
    QHash<QStringView, QString> xmlByStem;
    QHash<QStringView, QString> fcpByStem;
    for (const QString &name : names) {
        if (hasSuffix(name, QLatin1StringView("xml")))
            xmlByStem.insert(stemOf(name), name);
        else if (hasSuffix(name, QLatin1StringView("fcp")))
            fcpByStem.insert(stemOf(name), name);
    }
    QList<QFVersionsFolderEntry> entries;
    entries.reserve(names.size());
    for (const QString &name : names) {
        if (hasSuffix(name, QLatin1StringView("xml")) && fcpByStem.contains(stemOf(name)))
            continue;
        QFVersionsFolderEntry entry;
        entry.name = name;
        entry.number = versionNumber(name);
        if (hasSuffix(name, QLatin1StringView("fcp")))
            entry.xmlCopy = xmlByStem.value(stemOf(name));
        entries << entry;
    }
    std::sort(entries.begin(), entries.end(), [](const QFVersionsFolderEntry &a, const QFVersionsFolderEntry &b) {
        return entryLess(a.number, a.name, b.number, b.name);
    });
    return entries;
}

QStringList QFVersionsFolder::entryNames(const QString &versionsFolder)
{
    QStringList names;
    for (const QFVersionsFolderEntry &entry : versions(versionsFolder)) {
        names << entry.name;
        if (!entry.xmlCopy.isEmpty())
            names << entry.xmlCopy;
    }
    return names;
}

qint64 QFVersionsFolder::nextVersionNumber(const QString &versionsFolder)
{
    const QList<QFVersionsFolderEntry> entries = versions(versionsFolder);
    if (entries.isEmpty() || !entries.last().number)
        return 1;
    return *entries.last().number + 1;
}

bool QFVersionsFolder::isXMLCopy(const QString &versionsFolder, const QString &name)
{
    if (name.startsWith(u'.') || !hasSuffix(name, QLatin1StringView("xml")))
        return false;
    const QString stem = versionsFolder + u'/' + stemOf(name).toString();
    return QFileInfo::exists(stem + QStringLiteral(".fcp")) || QFileInfo(stem + QStringLiteral(".fcp")).isSymLink()
        || QFileInfo::exists(stem + QStringLiteral(".FCP"));
}
