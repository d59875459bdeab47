#include "cli/ManPage.h"

#include "cli/TombrelCommand.h"

#include <QStringList>

namespace {

// Text as roff reads it literally: backslashes escaped, dashes as minus signs, no line taken for a request.
QString roff(const QString &text)
{
    QStringList lines;
    for (QString line : text.split(u'\n')) {
        line.replace(u'\\', QLatin1String("\\e"));
        line.replace(u'-', QLatin1String("\\-"));
        if (line.startsWith(u'.') || line.startsWith(u'\''))
            line.prepend(QLatin1String("\\&"));
        lines << line;
    }
    return lines.join(u'\n');
}

} // namespace

QString tombrelManPage()
{
    QString page;
    page += QStringLiteral(".TH TOMBREL 1 \"\" \"tombrel %1\" \"Pro Tombrel\"\n").arg(TombrelCommand::version());
    page += QStringLiteral(".SH NAME\ntombrel \\- numbered versions of editor projects from a terminal\n");
    page += QStringLiteral(".SH SYNOPSIS\n.B tombrel\n.I COMMAND\n[options] [arguments]\n.br\n"
                           ".B tombrel\n.I COMMAND\n.B \\-\\-help\n.br\n.B tombrel \\-\\-help\n.br\n.B tombrel \\-\\-version\n");
    page += QStringLiteral(
        ".SH DESCRIPTION\n"
        "tombrel works on the version store, preference file and caches of Pro Tombrel, through the same engine as the\n"
        "application and its helper, for machines without a desktop and for scripts. When it changes something the\n"
        "helper must see (watch folders, preferences, the project list) it tells a running helper; without one\n"
        "nothing fails, the helper reads the preferences when it starts.\n"
        ".PP\n"
        ".I PROJECT\n"
        "is a project identifier, the path of the project file, or a display name that names exactly one project.\n"
        ".I VERSION\n"
        "is a version number as written in the file names, with or without leading zeros (7 or 00007).\n"
        ".PP\n"
        "Listings print aligned text; with \\fB\\-\\-json\\fR they print JSON for scripts. Work that lasts over a second\n"
        "shows a progress bar on standard error when it is a terminal.\n");
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CommandSpec &command : TombrelCommand::commands()) {
        page += QStringLiteral(".SS %1\n%2\n.PP\n.nf\n%3\n.fi\n")
                    .arg(roff(QString::fromUtf8(command.name)), roff(QString::fromUtf8(command.summary)),
                        roff(QString::fromUtf8(command.usage).trimmed()));
    }
    page += QStringLiteral(
        ".SH EXIT STATUS\n"
        ".TP\n.B 0\nsuccess\n"
        ".TP\n.B 1\nthe work failed; one line on standard error beginning with \"tombrel: \" says why\n"
        ".TP\n.B 2\na usage error: an unknown command or option, a missing argument, a value of the wrong type\n");
    page += QStringLiteral(
        ".SH FILES\n"
        ".TP\n.I ~/.config/com.quenfield.ProTombrel.plist\nthe preferences (\\fBtombrel prefs\\fR, \\fBtombrel watch\\fR)\n"
        ".TP\n.I ~/.local/share/Quenfield/Pro Tombrel/Projects\nthe version store, unless the preference storagePath names another\n"
        ".TP\n.I ~/.local/share/Quenfield/Pro Tombrel/Caches\nthe change-list caches\n"
        ".TP\n.I ~/.local/state/Quenfield/tombrel.1.log\nthe log of tombrel\n"
        ".PP\n\\fBtombrel paths\\fR prints the folders in use.\n");
    return page;
}
