// A stand-in for the video editor's bridge plug-in, for tests on a private session bus. It owns the
// editor's bus name and answers HandleEvent from a state folder that the test prepares and reads:
//
//   open.txt          the open projects, one path a line; "odoc" adds to it, "cfcP" removes from it
//   eXML.xml          the answer to eXML;  eTCX.xml the answer to eTCX
//   gXML-ITEM.xml     the answer to gXML for the item ITEM (else gXML.xml)
//   silent            event IDs never answered, one a line ("*" for all)
//   requests.jsonl    written: every event received, one JSON object a line {"class","id","params"}
//
// The folder is the argument --state DIR, else the environment variable QF_FAKE_EDITOR_STATE (so that a
// bus-activated copy finds it). The event "aevt"/"quit" ends the program.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace {

const QString kEditorName = QStringLiteral("com.apple.FinalCutPro");

QByteArray readFile(const QString &path, bool *found = nullptr)
{
    QFile file(path);
    const bool ok = file.open(QIODevice::ReadOnly);
    if (found)
        *found = ok;
    return ok ? file.readAll() : QByteArray();
}

QStringList readLines(const QString &path)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(readFile(path)).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    }
    return lines;
}

void writeLines(const QString &path, const QStringList &lines)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write((lines.join(u'\n') + u'\n').toUtf8());
}

QJsonValue jsonOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return QJsonValue::fromVariant(value);
}

} // namespace

class FakeEditor final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.EditorBridge")

public:
    explicit FakeEditor(const QString &state)
        : m_state(state)
    {
    }

public Q_SLOTS:
    QVariantMap HandleEvent(const QString &eventClass, const QString &eventID, const QVariantMap &params)
    {
        record(eventClass, eventID, params);
        const QStringList silent = readLines(file(QStringLiteral("silent")));
        if (silent.contains(eventID) || silent.contains(QStringLiteral("*"))) {
            // Keep the caller waiting: the reply is never sent.
            setDelayedReply(true);
            return {};
        }
        if (eventClass == QLatin1String("aevt"))
            return coreEvent(eventID, params);
        if (eventClass != QLatin1String("KeyG")) {
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("unknown event class"));
            return {};
        }
        if (eventID == QLatin1String("fcLP")) {
            QList<QVariantMap> items;
            for (const QString &path : readLines(file(QStringLiteral("open.txt"))))
                items << QVariantMap { { QStringLiteral("fcPf"), path } };
            return { { QStringLiteral("fcOP"), QVariant::fromValue(items) } };
        }
        if (eventID == QLatin1String("eXML") || eventID == QLatin1String("eTCX") || eventID == QLatin1String("gXML")) {
            QString name = eventID + QStringLiteral(".xml");
            const QString item = params.value(QStringLiteral("fcIU")).toString();
            if (eventID == QLatin1String("gXML") && QFile::exists(file(QStringLiteral("gXML-%1.xml").arg(item))))
                name = QStringLiteral("gXML-%1.xml").arg(item);
            bool found = false;
            const QByteArray xml = readFile(file(name), &found);
            if (!found)
                return {};
            return { { QStringLiteral("xmlD"), xml } };
        }
        if (eventID == QLatin1String("sfcP"))
            return {};
        if (eventID == QLatin1String("cfcP")) {
            QStringList open = readLines(file(QStringLiteral("open.txt")));
            open.removeAll(params.value(QStringLiteral("fcpP")).toString());
            writeLines(file(QStringLiteral("open.txt")), open);
            return {};
        }
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("unknown event ") + eventID);
        return {};
    }

private:
    QString file(const QString &name) const { return m_state + u'/' + name; }

    QVariantMap coreEvent(const QString &eventID, const QVariantMap &params)
    {
        if (eventID == QLatin1String("odoc")) {
            const QString path = params.value(QStringLiteral("----")).toString();
            QStringList open = readLines(file(QStringLiteral("open.txt")));
            if (!path.isEmpty() && !open.contains(path)) {
                open << path;
                writeLines(file(QStringLiteral("open.txt")), open);
            }
            return {};
        }
        if (eventID == QLatin1String("quit")) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            return {};
        }
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("unknown event ") + eventID);
        return {};
    }

    void record(const QString &eventClass, const QString &eventID, const QVariantMap &params)
    {
        QJsonObject fields;
        for (auto it = params.constBegin(); it != params.constEnd(); ++it)
            fields.insert(it.key(), jsonOf(it.value()));
        const QJsonObject line { { QStringLiteral("class"), eventClass }, { QStringLiteral("id"), eventID },
            { QStringLiteral("params"), fields } };
        QFile log(file(QStringLiteral("requests.jsonl")));
        if (log.open(QIODevice::WriteOnly | QIODevice::Append))
            log.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    }

    QString m_state;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<QList<QVariantMap>>();

    QString state = qEnvironmentVariable("QF_FAKE_EDITOR_STATE");
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--state"));
    if (at >= 0 && at + 1 < args.size())
        state = args.at(at + 1);
    if (state.isEmpty() || !QDir(state).exists()) {
        std::fprintf(stderr, "qf_fake_editor: no state folder (--state DIR)\n");
        return 2;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeEditor editor(QDir(state).absolutePath());
    // The object must exist before the name is taken: a launch queues events for the first owner.
    if (!bus.registerObject(QStringLiteral("/"), &editor, QDBusConnection::ExportAllSlots)
        || !bus.registerService(kEditorName)) {
        std::fprintf(stderr, "qf_fake_editor: cannot own %s\n", qPrintable(kEditorName));
        return 1;
    }
    return app.exec();
}

#include "FakeEditor.moc"
