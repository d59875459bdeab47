#include "cli/TombrelCommand.h"

#include "cli/ProjectLookup.h"
#include "engine/QFChangeLines.h"
#include "engine/QFMLTChangeList.h"
#include "engine/QFMLTModel.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"

int commandDiff(CommandContext &context, const QStringList &arguments)
{
    QStringList paths;
    for (const QString &arg : arguments) {
        if (arg.startsWith(u'-') && arg != QLatin1String("-"))
            return context.usageError(QStringLiteral("diff: unknown option '%1'").arg(arg));
        paths.append(arg);
    }
    // PROJECT V1 V2: two versions of a project, in either order.
    if (paths.size() == 3) {
        QString error;
        const auto project = findProject(paths.at(0), &error);
        if (!project)
            return context.fail(QStringLiteral("diff: %1").arg(error));
        const QString versions = versionsFolderOf(*project);
        const auto first = QFProjectActions::findVersion(versions, paths.at(1), &error);
        const auto second = first ? QFProjectActions::findVersion(versions, paths.at(2), &error) : std::nullopt;
        if (!first || !second)
            return context.fail(QStringLiteral("diff: %1").arg(error));
        const std::optional<QStringList> lines = QFChangeLines::compareVersions(*first, *second, &error);
        if (!lines)
            return context.fail(QStringLiteral("diff: %1").arg(error));
        for (const QString &line : *lines)
            context.out << line << '\n';
        context.out.flush();
        return 0;
    }
    if (paths.size() != 2)
        return context.usageError(
            QStringLiteral("diff: expected OLD NEW (two exports or two MLT projects), or PROJECT VERSION VERSION"));

    QString error;
    std::unique_ptr<pugi::xml_document> oldDoc = QFXMLParser::documentFromFile(paths.at(0), &error);
    if (!oldDoc)
        return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(0), error));
    const auto mismatch = [&] {
        return context.fail(QStringLiteral("cannot compare %1 with %2: one is an MLT project and the other is not")
                                .arg(paths.at(0), paths.at(1)));
    };
    if (QFMLTModel::isMLTDocument(*oldDoc)) {
        // Projects of Kdenlive, Shotcut and melt are compared as models: the first is read and its document
        // freed before the second is parsed.
        const std::optional<QFMLTModel> older = QFMLTModel::fromDocument(*oldDoc, &error);
        oldDoc.reset();
        if (!older)
            return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(0), error));
        std::unique_ptr<pugi::xml_document> newDoc = QFXMLParser::documentFromFile(paths.at(1), &error);
        if (!newDoc)
            return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(1), error));
        if (!QFMLTModel::isMLTDocument(*newDoc))
            return mismatch();
        const std::optional<QFMLTModel> newer = QFMLTModel::fromDocument(*newDoc, &error);
        newDoc.reset();
        if (!newer)
            return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(1), error));
        QStringList lines = QFMLTChangeList::changeLines(*older, *newer);
        if (lines.isEmpty())
            lines << QStringLiteral("No notable changes");
        for (const QString &line : std::as_const(lines))
            context.out << line << '\n';
        context.out.flush();
        return 0;
    }
    std::unique_ptr<pugi::xml_document> newDoc = QFXMLParser::documentFromFile(paths.at(1), &error);
    if (!newDoc)
        return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(1), error));
    if (QFMLTModel::isMLTDocument(*newDoc))
        return mismatch();

    QFTombrelBackup engine;
    QStringList oldUUIDs, oldIDs, newUUIDs, newIDs;
    QFXMLParser::itemLists(*oldDoc, oldUUIDs, oldIDs);
    QFXMLParser::itemLists(*newDoc, newUUIDs, newIDs);
    const std::optional<QStringList> lines
        = engine.changeListForFCPXMLDoc(newDoc.get(), oldDoc.get(), oldUUIDs, oldIDs, newUUIDs, newIDs);
    // The sentences hold copies of what they tell: the documents may go before the lines are written.
    oldDoc.reset();
    newDoc.reset();
    if (!lines)
        return context.fail(QStringLiteral("the comparison was cancelled"));
    for (const QString &line : *lines)
        context.out << line << '\n';
    context.out.flush();
    return 0;
}
