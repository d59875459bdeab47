#include "cli/TombrelCommand.h"

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
    if (paths.size() != 2)
        return context.usageError(QStringLiteral("diff: expected OLD.xml NEW.xml"));

    QString error;
    const std::unique_ptr<pugi::xml_document> oldDoc = QFXMLParser::documentFromFile(paths.at(0), &error);
    if (!oldDoc)
        return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(0), error));
    const std::unique_ptr<pugi::xml_document> newDoc = QFXMLParser::documentFromFile(paths.at(1), &error);
    if (!newDoc)
        return context.fail(QStringLiteral("cannot read %1: %2").arg(paths.at(1), error));

    QFTombrelBackup engine;
    const std::optional<QStringList> lines = engine.changeListForFCPXMLDoc(newDoc.get(), oldDoc.get(),
        QFXMLParser::uuidList(*oldDoc), QFXMLParser::idList(*oldDoc), QFXMLParser::uuidList(*newDoc),
        QFXMLParser::idList(*newDoc));
    if (!lines)
        return context.fail(QStringLiteral("the comparison was cancelled"));
    for (const QString &line : *lines)
        context.out << line << '\n';
    context.out.flush();
    return 0;
}
