#include "foundation/platform/QFUserDefaults.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFFileLock.h"
#include "foundation/platform/QFPropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QFUserDefaults::QFUserDefaults(const QString &domain, const QString &filePath)
    : m_domain(domain)
    , m_filePath(filePath)
{
}

QFUserDefaults &QFUserDefaults::standard()
{
    static QFUserDefaults *defaults = [] {
        QString domain = QFBundle::bundleIdentifier();
        if (domain.isEmpty())
            domain = QFBundle::executableName();
        auto *d = new QFUserDefaults(domain);
        if (QCoreApplication::instance())
            d->setArguments(QCoreApplication::arguments());
        return d;
    }();
    return *defaults;
}

QString QFUserDefaults::filePath() const
{
    if (!m_filePath.isEmpty())
        return m_filePath;
    const QString prefs = QFLocalPaths::prefsDirectory(true);
    return prefs.isEmpty() ? QString() : prefs + u'/' + m_domain + QStringLiteral(".plist");
}

QVariantMap QFUserDefaults::fileContents() const
{
    return QFPropertyList::readDictionary(filePath()).value_or(QVariantMap());
}

QVariant QFUserDefaults::objectForKey(const QString &key) const
{
    {
        QMutexLocker lock(&m_lock);
        auto it = m_arguments.constFind(key);
        if (it != m_arguments.cend())
            return *it;
    }
    const QVariantMap file = fileContents();
    auto it = file.constFind(key);
    if (it != file.cend())
        return *it;
    QMutexLocker lock(&m_lock);
    return m_registered.value(key);
}

QString QFUserDefaults::stringForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    switch (v.metaType().id()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
    case QMetaType::Bool:
        return v.toString();
    default:
        return {};
    }
}

qint64 QFUserDefaults::integerForKey(const QString &key) const
{
    return QFPropertyList::integerValue(objectForKey(key)).value_or(0);
}

bool QFUserDefaults::boolForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("yes") || s == QLatin1String("true") || s.toLongLong() != 0;
    }
    return QFPropertyList::integerValue(v).value_or(0) != 0;
}

std::optional<QDateTime> QFUserDefaults::dateForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.metaType().id() != QMetaType::QDateTime)
        return std::nullopt;
    return v.toDateTime();
}

QVariantMap QFUserDefaults::dictionaryRepresentation() const
{
    QVariantMap out;
    {
        QMutexLocker lock(&m_lock);
        out = m_registered;
    }
    const QVariantMap file = fileContents();
    for (auto it = file.cbegin(); it != file.cend(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

bool QFUserDefaults::setObject(const QString &key, const QVariant &value)
{
    const QString path = filePath();
    if (path.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Under the file's lock, so a change another program makes meanwhile is kept. A damaged file reads as
    // empty and is replaced whole.
    const QFFileLock lock(path);
    QVariantMap file = fileContents();
    file.insert(key, value);
    return QFPropertyList::write(path, file);
}

bool QFUserDefaults::removeObject(const QString &key)
{
    const QString path = filePath();
    if (path.isEmpty())
        return false;
    const QFFileLock lock(path);
    QVariantMap file = fileContents();
    if (file.remove(key) == 0)
        return true;
    return QFPropertyList::write(path, file);
}

void QFUserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QMutexLocker lock(&m_lock);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        m_registered.insert(it.key(), it.value());
}

void QFUserDefaults::setArguments(const QStringList &arguments)
{
    QVariantMap parsed;
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg.size() < 2 || !arg.startsWith(u'-') || arg.startsWith(QLatin1String("--")))
            continue;
        const QString &value = arguments[i + 1];
        if (value.startsWith(u'-'))
            continue;
        parsed.insert(arg.mid(1), value);
        ++i;
    }
    QMutexLocker lock(&m_lock);
    m_arguments = parsed;
}
