#include "app/QFAppImages.h"

#include "engine/QFChangeLines.h"

#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>

// Resources of a static library are registered by hand, at global scope.
static void registerAppResources()
{
    Q_INIT_RESOURCE(app);
    Q_INIT_RESOURCE(lines);
}

namespace {

QString resourceFor(const QString &name)
{
    static const bool registered = [] {
        registerAppResources();
        return true;
    }();
    Q_UNUSED(registered)
    if (name == QLatin1String("page.png"))
        return QStringLiteral(":/images/page.svg");
    if (name == QLatin1String("fcp_xml.icns"))
        return QStringLiteral(":/images/fcp_xml.svg");
    if (name == QLatin1String("fcp"))
        return QStringLiteral(":/images/fcp.svg");
    if (name == QLatin1String("premiere"))
        return QStringLiteral(":/images/premiere.svg");
    if (name == QLatin1String("application"))
        return QStringLiteral(":/images/pro-tombrel.svg");
    if (name == QLatin1String("sequence"))
        return QStringLiteral(":/lines/sequence.png");
    return {};
}

} // namespace

void QFAppImages::useIconTheme()
{
    // Platforms without a desktop theme look only in the application's resources.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &folder : QStandardPaths::locateAll(
             QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory)) {
        if (!paths.contains(folder))
            paths << folder;
    }
    QIcon::setThemeSearchPaths(paths);
    const QString name = QIcon::themeName();
    if (!QFileInfo::exists(QStringLiteral("/usr/share/icons/Adwaita/index.theme")))
        return;
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (name.isEmpty() || name == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QIcon QFAppImages::themeIcon(const QStringList &names, const QPalette &palette)
{
    for (const QString &name : names) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    for (const QString &name : names) {
        const QString symbolic = name + QStringLiteral("-symbolic");
        if (!QIcon::hasThemeIcon(symbolic))
            continue;
        const QIcon source = QIcon::fromTheme(symbolic);
        QIcon tinted;
        for (const QColor &colour : { palette.color(QPalette::Active, QPalette::WindowText),
                 palette.color(QPalette::Disabled, QPalette::WindowText) }) {
            for (const int side : { 16, 22, 24, 32, 48 }) {
                QPixmap pixmap = source.pixmap(QSize(side, side));
                QPainter painter(&pixmap);
                painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                painter.fillRect(pixmap.rect(), colour);
                painter.end();
                tinted.addPixmap(pixmap,
                    colour == palette.color(QPalette::Active, QPalette::WindowText) ? QIcon::Normal : QIcon::Disabled);
            }
        }
        return tinted;
    }
    return {};
}

QIcon QFAppImages::applicationIcon()
{
    return named(QStringLiteral("application"));
}

QIcon QFAppImages::named(const QString &name)
{
    static QHash<QString, QIcon> icons;
    const auto found = icons.constFind(name);
    if (found != icons.cend())
        return *found;
    const QString resource = resourceFor(name);
    const QIcon icon = resource.isEmpty() ? QIcon() : QIcon(resource);
    icons.insert(name, icon);
    return icon;
}

QImage QFAppImages::pageImage(const QSize &size)
{
    QSvgRenderer renderer(resourceFor(QStringLiteral("page.png")));
    QSize fitted = renderer.defaultSize();
    fitted.scale(size, Qt::KeepAspectRatio);
    QImage image(fitted.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

QIcon QFAppImages::iconForFile(const QString &path)
{
    // Looked up once per kind of file: a long version list asks for the same few icons again and again.
    static QHash<QString, QIcon> bySuffix;
    const QFileInfo info(path);
    const QString key = info.isDir() ? QStringLiteral("/") : info.suffix().toLower();
    const auto found = bySuffix.constFind(key);
    if (found != bySuffix.cend())
        return *found;
    static const QMimeDatabase mimes;
    const QMimeType type = info.isDir() ? mimes.mimeTypeForName(QStringLiteral("inode/directory"))
                                        : mimes.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    // The theme's own picture of the type when it has one; its generic page says less than the
    // application's project picture, so that stands in for editors' projects the theme does not know.
    QIcon icon = QIcon::hasThemeIcon(type.iconName()) ? QIcon::fromTheme(type.iconName()) : QIcon();
    if (icon.isNull() && info.isDir())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = named(QStringLiteral("fcp"));
    bySuffix.insert(key, icon);
    return icon;
}

QIcon QFAppImages::iconForChangeLine(const QString &line)
{
    if (QFChangeLines::isAboutProject(line))
        return named(QStringLiteral("fcp"));
    const QString image = QFChangeLines::iconFilenameForString(line);
    if (image.isEmpty())
        return {};
    static QHash<QString, QIcon> icons;
    auto found = icons.find(image);
    if (found == icons.end()) {
        resourceFor(QString()); // registers the resources
        found = icons.insert(image, QIcon(QStringLiteral(":/lines/") + image));
    }
    return *found;
}

QIcon QFAppImages::iconForVersion(const QFVersionEntry &entry)
{
    if (entry.host == QLatin1String("premiere"))
        return named(QStringLiteral("premiere"));
    if (entry.type == QLatin1String("xml"))
        return named(QStringLiteral("fcp_xml.icns"));
    if (entry.type == QLatin1String("fcp"))
        return named(QStringLiteral("fcp"));
    return iconForFile(entry.file);
}
