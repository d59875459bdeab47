#include "cli/ManPage.h"

#include "cli/TombrelCommand.h"

#include <QMap>
#include <QRegularExpression>
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

// What the usage text of one command says to complete. Keys are the command's name, or its name and a
// subcommand ("watch add"), as written in the usage lines.
struct CompletionTable {
    QStringList subcommands;
    QMap<QString, QStringList> options; // the options of each usage line
    QMap<QString, QStringList> values; // options that take a value, as "--html:file"
    QMap<QString, QList<QStringList>> arguments; // per position, the kinds of its placeholders
    QMap<QString, bool> repeats; // whether the last argument may be given again (PATH...)
};

// How a placeholder of a usage line is completed: "project", "file", "dir" or "none". A FILE of its own
// is a name that an earlier listing showed (a copy in Dropbox); as an option's value it is a file to write.
QString placeholderKind(QString placeholder, bool optionValue)
{
    placeholder.remove(QLatin1String("..."));
    if (placeholder == QLatin1String("PROJECT"))
        return QStringLiteral("project");
    if (placeholder == QLatin1String("FOLDER"))
        return QStringLiteral("dir");
    if (placeholder.startsWith(QLatin1String("PATH")) || placeholder.endsWith(QLatin1String(".xml"))
        || (optionValue && placeholder == QLatin1String("FILE")))
        return QStringLiteral("file");
    return QStringLiteral("none");
}

CompletionTable completionTable(const CommandSpec &command)
{
    static const QRegularExpression subcommandPattern(QStringLiteral("^[a-z]+(\\|[a-z]+)*$"));
    static const QRegularExpression placeholderPattern(QStringLiteral("^[A-Z][A-Za-z.-]*$"));
    static const QRegularExpression optionPattern(QStringLiteral("(?:^|[\\s(])(--[a-z][a-z-]*)"));
    const QString name = QString::fromUtf8(command.name);
    CompletionTable table;
    QStringList formOptions;
    QStringList textOptions;
    for (const QString &line : QString::fromUtf8(command.usage).split(u'\n')) {
        // A usage line: "usage: tombrel NAME ..." or an indented "tombrel NAME ..." under it.
        QString form = line;
        if (form.startsWith(QLatin1String("usage: ")))
            form = form.mid(7);
        else if (!form.startsWith(u' '))
            form.clear();
        QStringList tokens = form.split(u' ', Qt::SkipEmptyParts);
        if (tokens.size() < 2 || tokens[0] != QLatin1String("tombrel") || tokens[1] != name) {
            for (const QRegularExpressionMatch &match : optionPattern.globalMatch(line))
                textOptions << match.captured(1);
            continue;
        }
        tokens = tokens.mid(2);
        QStringList keys { name };
        if (!tokens.isEmpty() && subcommandPattern.match(tokens.first()).hasMatch()) {
            keys.clear();
            for (const QString &subcommand : tokens.takeFirst().split(u'|')) {
                if (!table.subcommands.contains(subcommand))
                    table.subcommands << subcommand;
                keys << name + u' ' + subcommand;
            }
        }
        QStringList options;
        QStringList values;
        QList<QStringList> arguments;
        bool repeats = false;
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString raw = tokens[i];
            const QString token = QString(raw).remove(u'[').remove(u']');
            if (token.isEmpty() || token == QLatin1String("|"))
                continue;
            if (token.startsWith(QLatin1String("--"))) {
                options << token;
                formOptions << token;
                // "--html FILE" takes a value; "[--drive]" closes its bracket on the option itself.
                const QString next
                    = i + 1 < tokens.size() ? QString(tokens[i + 1]).remove(u'[').remove(u']') : QString();
                if (!raw.endsWith(u']') && placeholderPattern.match(next).hasMatch()) {
                    values << token + u':' + placeholderKind(next, true);
                    ++i;
                }
                continue;
            }
            arguments << QStringList { placeholderKind(token, false) };
            repeats = token.endsWith(QLatin1String("..."));
        }
        for (const QString &key : keys) {
            table.options[key] += options;
            table.values[key] += values;
            // Forms of the same key (diff's two) merge position by position.
            QList<QStringList> &merged = table.arguments[key];
            for (qsizetype position = 0; position < arguments.size(); ++position) {
                if (position >= merged.size())
                    merged << QStringList();
                for (const QString &kind : arguments[position]) {
                    if (!merged[position].contains(kind))
                        merged[position] << kind;
                }
            }
            table.repeats[key] = table.repeats.value(key) || repeats;
        }
    }
    // Options only the description names belong to every usage line of the command.
    for (const QString &option : textOptions) {
        if (formOptions.contains(option))
            continue;
        for (QStringList &options : table.options)
            options << option;
    }
    for (QStringList &options : table.options)
        options.removeDuplicates();
    for (QStringList &values : table.values)
        values.removeDuplicates();
    return table;
}

// One entry of a bash associative array; keys and values hold only letters, blanks and ".:+-".
QString bashEntry(const QString &key, const QString &value)
{
    return QStringLiteral("    [\"%1\"]=\"%2\"\n").arg(key, value);
}

// The part of the script that does not depend on the table: how a command line is read and what each
// kind of argument completes to.
const char *const kCompletionFunctions = R"bash(
# The names of the projects, from the NAME column of `tombrel projects`, which is as wide as its header
# up to "TYPE"; no projects, no names.
_tombrel_projects()
{
    local LC_ALL=C.UTF-8 tool=$1 header='' line name width=0
    while IFS= read -r line; do
        if [[ -z $header ]]; then
            header=$line
            [[ $header == NAME*TYPE* ]] || return 0
            name=${header%%  TYPE*}
            width=${#name}
            continue
        fi
        name=${line:0:width}
        name=${name%"${name##*[! ]}"}
        [[ -n $name ]] && printf '%s\n' "$name"
    done < <("$tool" projects 2>/dev/null)
}

# Adds to COMPREPLY what KIND ("file", "dir", "project", joined by "+") offers for the word WORD.
_tombrel_complete_kind()
{
    local kind=$1 word=$2 tool=$3 typed name
    local -a found
    case "+$kind+" in
    *+file+*)
        mapfile -t found < <(compgen -f -- "$word")
        COMPREPLY+=("${found[@]}")
        compopt -o filenames 2>/dev/null
        ;;
    *+dir+*)
        mapfile -t found < <(compgen -d -- "$word")
        COMPREPLY+=("${found[@]}")
        compopt -o filenames 2>/dev/null
        ;;
    esac
    if [[ +$kind+ == *+project+* ]]; then
        # Names hold blanks: match against the word as typed without its quotes, let bash quote the result.
        typed=${word#[\"\']}
        typed=${typed//\\/}
        while IFS= read -r name; do
            [[ $name == "$typed"* ]] && COMPREPLY+=("$name")
        done < <(_tombrel_projects "$tool")
        compopt -o filenames 2>/dev/null
    fi
}

# Adds to COMPREPLY the words of LIST that begin with WORD.
_tombrel_complete_words()
{
    local word=$2 candidate
    for candidate in $1; do
        [[ $candidate == "$word"* ]] && COMPREPLY+=("$candidate")
    done
}

_tombrel()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=''
    local tool=${COMP_WORDS[0]} command='' key='' word entry kind kinds
    local -i i position=0 options_ended=0 expects_value=0
    [[ $tool == \~/* ]] && tool=$HOME/${tool#\~/}
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # The command, its subcommand and the number of arguments before the word being completed.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((expects_value)); then
            expects_value=0
            continue
        fi
        if ((!options_ended)) && [[ $word == -* ]]; then
            if [[ $word == -- ]]; then
                options_ended=1
            elif [[ -n $key ]]; then
                for entry in ${_tombrel_values[$key]}; do
                    [[ ${entry%%:*} == "$word" ]] && expects_value=1
                done
            fi
            continue
        fi
        if [[ -z $command ]]; then
            command=$word
            key=$command
        elif [[ $key == "$command" && -n ${_tombrel_subcommands[$command]} ]]; then
            key="$command $word"
        else
            position+=1
        fi
    done

    # The value of an option.
    if ((expects_value)); then
        for entry in ${_tombrel_values[$key]}; do
            if [[ ${entry%%:*} == "$prev" ]]; then
                _tombrel_complete_kind "${entry#*:}" "$cur" "$tool"
            fi
        done
        return 0
    fi
    if ((!options_ended)) && [[ $cur == -* ]]; then
        if [[ -z $command ]]; then
            _tombrel_complete_words "--help --version" "$cur"
        else
            _tombrel_complete_words "${_tombrel_options[$key]} --help" "$cur"
        fi
        return 0
    fi
    if [[ -z $command ]]; then
        _tombrel_complete_words "$_tombrel_commands" "$cur"
        return 0
    fi
    if [[ $key == "$command" && -n ${_tombrel_subcommands[$command]} ]]; then
        _tombrel_complete_words "${_tombrel_subcommands[$command]}" "$cur"
        return 0
    fi
    read -r -a kinds <<<"${_tombrel_arguments[$key]}"
    ((${#kinds[@]} == 0)) && return 0
    if ((position < ${#kinds[@]})); then
        kind=${kinds[position]}
    elif [[ ${kinds[-1]} == *... ]]; then
        kind=${kinds[-1]}
    else
        return 0
    fi
    _tombrel_complete_kind "${kind%...}" "$cur" "$tool"
    return 0
}

complete -F _tombrel tombrel
)bash";

} // namespace

QString tombrelBashCompletion()
{
    QString commands;
    QString subcommands;
    QString options;
    QString values;
    QString arguments;
    for (const CommandSpec &command : TombrelCommand::commands()) {
        const QString name = QString::fromUtf8(command.name);
        commands += (commands.isEmpty() ? QString() : QStringLiteral(" ")) + name;
        const CompletionTable table = completionTable(command);
        if (!table.subcommands.isEmpty())
            subcommands += bashEntry(name, table.subcommands.join(u' '));
        for (auto it = table.options.cbegin(); it != table.options.cend(); ++it) {
            if (!it.value().isEmpty())
                options += bashEntry(it.key(), it.value().join(u' '));
        }
        for (auto it = table.values.cbegin(); it != table.values.cend(); ++it) {
            if (!it.value().isEmpty())
                values += bashEntry(it.key(), it.value().join(u' '));
        }
        for (auto it = table.arguments.cbegin(); it != table.arguments.cend(); ++it) {
            QStringList positions;
            for (QStringList kinds : it.value()) {
                if (kinds.size() > 1)
                    kinds.removeAll(QStringLiteral("none"));
                positions << kinds.join(u'+');
            }
            if (positions.isEmpty())
                continue;
            if (table.repeats.value(it.key()))
                positions.last() += QStringLiteral("...");
            arguments += bashEntry(it.key(), positions.join(u' '));
        }
    }
    QString script;
    script += QStringLiteral("# bash completion for tombrel %1, made from its command table when tombrel was built.\n")
                  .arg(TombrelCommand::version());
    script += QStringLiteral("\n_tombrel_commands=\"%1\"\n").arg(commands);
    script += QStringLiteral("declare -gA _tombrel_subcommands=(\n%1)\n").arg(subcommands);
    script += QStringLiteral("declare -gA _tombrel_options=(\n%1)\n").arg(options);
    script += QStringLiteral("# Options that take a value, with what the value is.\n");
    script += QStringLiteral("declare -gA _tombrel_values=(\n%1)\n").arg(values);
    script += QStringLiteral("# Per argument, what it is; the last one may repeat when it ends in \"...\".\n");
    script += QStringLiteral("declare -gA _tombrel_arguments=(\n%1)\n").arg(arguments);
    script += QString::fromUtf8(kCompletionFunctions);
    return script;
}

QString tombrelManPage()
{
    QString page;
    page += QStringLiteral(".TH TOMBREL 1 \"\" \"tombrel %1\" \"Pro Tombrel\"\n").arg(TombrelCommand::version());
    page += QStringLiteral(".SH NAME\ntombrel \\- numbered versions of editor projects from a terminal\n");
    page += QStringLiteral(
        ".SH SYNOPSIS\n.B tombrel\n.I COMMAND\n[options] [arguments]\n.br\n"
        ".B tombrel\n.I COMMAND\n.B \\-\\-help\n.br\n.B tombrel \\-\\-help\n.br\n.B tombrel \\-\\-version\n");
    page += QStringLiteral(
        ".SH DESCRIPTION\n"
        "tombrel works on the version store, preference file and caches of Pro Tombrel, through the same engine as "
        "the\n"
        "application and its helper, for machines without a desktop and for scripts. When it changes something the\n"
        "helper must see (watch folders, preferences, the project list) it tells a running helper; without one\n"
        "nothing fails, the helper reads the preferences when it starts.\n"
        ".PP\n"
        ".I PROJECT\n"
        "is a project identifier, the path of the project file, or a display name that names exactly one project.\n"
        ".I VERSION\n"
        "is a version number as written in the file names, with or without leading zeros (7 or 00007).\n"
        ".PP\n"
        "Listings print aligned text; with \\fB\\-\\-json\\fR they print JSON for scripts. Work that lasts over a "
        "second\n"
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
    page += QStringLiteral(".SH FILES\n"
                           ".TP\n.I ~/.config/com.quenfield.ProTombrel.plist\nthe preferences (\\fBtombrel prefs\\fR, "
                           "\\fBtombrel watch\\fR)\n"
                           ".TP\n.I ~/.local/share/Quenfield/Pro Tombrel/Projects\nthe version store, unless the "
                           "preference storagePath names another\n"
                           ".TP\n.I ~/.local/share/Quenfield/Pro Tombrel/Caches\nthe change-list caches\n"
                           ".TP\n.I ~/.local/state/Quenfield/tombrel.1.log\nthe log of tombrel\n"
                           ".PP\n\\fBtombrel paths\\fR prints the folders in use.\n");
    return page;
}
