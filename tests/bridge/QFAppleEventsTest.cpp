#include "foundation/QFAppleEvents.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kLogName = QStringLiteral("BridgeTest");

bool editorRunning()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QFAppleEvents::editorBundleIdentifier());
}

class QFAppleEventsTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "the bridge tests need a private session bus";
        QFLog::createNewLog(kLogName);
        QDir().mkpath(state());
        project = home.write(QStringLiteral("Projects/My Edit.fcp"), "project");
        // Long enough for a slow machine, short enough that a hung editor cannot stall the suite.
        QFAppleEvents::setReplyTimeout(10000);
        m_logLinesAtStart = logMessages().size();
    }

    void TearDown() override
    {
        if (m_editor.state() != QProcess::NotRunning) {
            m_editor.terminate();
            m_editor.waitForFinished(10000);
        } else if (editorRunning()) {
            // A copy the bus started for us: ask it to quit.
            QDBusMessage quit = QDBusMessage::createMethodCall(QFAppleEvents::editorBundleIdentifier(),
                QStringLiteral("/"), QStringLiteral("com.quenfield.EditorBridge"), QStringLiteral("HandleEvent"));
            quit << QStringLiteral("aevt") << QStringLiteral("quit") << QVariantMap();
            QDBusConnection::sessionBus().call(quit, QDBus::Block, 5000);
        }
        EXPECT_TRUE(QTest::qWaitFor([] { return !editorRunning(); }, 10000));
        QFAppleEvents::setReplyTimeout(0);
        QFLog::finishWriting();
    }

    QString state() const { return home.file(QStringLiteral("editor")); }

    void startEditor()
    {
        const QString program = supportProgram(QStringLiteral("qf_fake_editor"));
        ASSERT_FALSE(program.isEmpty());
        m_editor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_editor.start(program, { QStringLiteral("--state"), state() });
        ASSERT_TRUE(m_editor.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([] { return QFAppleEvents::isFCPRunning(); }, 10000));
    }

    void setOpenProjects(const QStringList &paths) const
    {
        home.write(QStringLiteral("editor/open.txt"), (paths.join(u'\n') + u'\n').toUtf8());
    }
    void serve(const QString &name, const QByteArray &xml) const { home.write(QStringLiteral("editor/") + name, xml); }

    QList<QJsonObject> requests() const
    {
        QList<QJsonObject> out;
        QFile file(state() + QStringLiteral("/requests.jsonl"));
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                out << QJsonDocument::fromJson(line).object();
        }
        return out;
    }
    QStringList requestIDs() const
    {
        QStringList ids;
        for (const QJsonObject &request : requests())
            ids << request.value(QStringLiteral("id")).toString();
        return ids;
    }

    QStringList logMessages() const { return home.logMessages(kLogName); }
    QStringList newLogMessages() const { return logMessages().mid(m_logLinesAtStart); }

    QString project;
    QProcess m_editor;
    qsizetype m_logLinesAtStart = 0;
};

} // namespace

TEST_F(QFAppleEventsTest, EditorNotRunningAndNoLaunchGivesNothingAndLogsNothing)
{
    EXPECT_FALSE(QFAppleEvents::isFCPRunning());
    EXPECT_FALSE(QFAppleEvents::getProjectXMLData(project).has_value());
    EXPECT_FALSE(QFAppleEvents::getItemXMLData(QStringLiteral("ABC"), project).has_value());
    EXPECT_FALSE(QFAppleEvents::getTOCData(project).has_value());
    EXPECT_TRUE(QFAppleEvents::getProjectXML(project).isNull());
    EXPECT_TRUE(newLogMessages().isEmpty()) << qPrintable(newLogMessages().join(u'\n'));
    EXPECT_FALSE(editorRunning()) << "nothing may start the editor";

    EXPECT_FALSE(QFAppleEvents::listOfOpenFCPProjects().has_value());
    EXPECT_FALSE(QFAppleEvents::saveProject(project));
    EXPECT_FALSE(QFAppleEvents::closeProject(project, true));
    EXPECT_EQ(newLogMessages(),
        QStringList({ QStringLiteral("Error: Final Cut Pro is not running."),
            QStringLiteral("Error: Final Cut Pro is not running.") }));
}

TEST_F(QFAppleEventsTest, RunningEditorWithoutTheProjectOpenRefusesTheExport)
{
    startEditor();
    EXPECT_FALSE(QFAppleEvents::getProjectXMLData(project).has_value());
    EXPECT_EQ(newLogMessages(), QStringList { QStringLiteral("Error: project is not open.") });
    EXPECT_EQ(requestIDs(), QStringList { QStringLiteral("fcLP") });

    // The table of contents gives up quietly.
    EXPECT_FALSE(QFAppleEvents::getTOCData(project).has_value());
    EXPECT_EQ(newLogMessages().size(), 1);
}

TEST_F(QFAppleEventsTest, ListsTheOpenProjects)
{
    startEditor();
    const auto none = QFAppleEvents::listOfOpenFCPProjects();
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty());

    const QStringList open = { project, QStringLiteral("/srv/shared/Other Film.fcp") };
    setOpenProjects(open);
    EXPECT_EQ(QFAppleEvents::listOfOpenFCPProjects(), open);
}

TEST_F(QFAppleEventsTest, ExportsAnOpenProjectItsSequencesAndItsTableOfContents)
{
    startEditor();
    setOpenProjects({ project });
    serve(QStringLiteral("eXML.xml"), "<xmeml version=\"5\"><project/></xmeml>");
    serve(QStringLiteral("gXML-SEQ-1.xml"), "<xmeml><sequence id=\"1\"/></xmeml>");
    serve(QStringLiteral("eTCX.xml"), "<toc/>");

    EXPECT_EQ(
        QFAppleEvents::getProjectXML(project, false, true), QStringLiteral("<xmeml version=\"5\"><project/></xmeml>"));
    EXPECT_EQ(QFAppleEvents::getItemXMLData(QStringLiteral("SEQ-1"), project),
        QByteArray("<xmeml><sequence id=\"1\"/></xmeml>"));
    EXPECT_EQ(QFAppleEvents::getTOC(project), QStringLiteral("<toc/>"));

    const auto sent = requests();
    ASSERT_EQ(requestIDs(),
        QStringList({ QStringLiteral("fcLP"), QStringLiteral("eXML"), QStringLiteral("fcLP"), QStringLiteral("gXML"),
            QStringLiteral("fcLP"), QStringLiteral("eTCX") }));
    EXPECT_EQ(sent[1].value(QStringLiteral("class")).toString(), QStringLiteral("KeyG"));
    EXPECT_EQ(sent[1].value(QStringLiteral("params")).toObject().value(QStringLiteral("fcpP")).toString(), project);
    EXPECT_EQ(sent[3].value(QStringLiteral("params")).toObject().value(QStringLiteral("fcIU")).toString(),
        QStringLiteral("SEQ-1"));
    // The project was open already, so nothing closes it.
    EXPECT_FALSE(requestIDs().contains(QStringLiteral("cfcP")));
    EXPECT_TRUE(newLogMessages().isEmpty()) << qPrintable(newLogMessages().join(u'\n'));
}

TEST_F(QFAppleEventsTest, AnExportThatOpenedTheProjectClosesItAndSavesChanges)
{
    startEditor();
    serve(QStringLiteral("eXML.xml"), "<xmeml/>");

    EXPECT_EQ(QFAppleEvents::getProjectXMLData(project, true, true), QByteArray("<xmeml/>"));
    const auto sent = requests();
    ASSERT_EQ(requestIDs(),
        QStringList(
            { QStringLiteral("fcLP"), QStringLiteral("odoc"), QStringLiteral("eXML"), QStringLiteral("cfcP") }));
    EXPECT_EQ(sent[1].value(QStringLiteral("class")).toString(), QStringLiteral("aevt"));
    EXPECT_EQ(sent[1].value(QStringLiteral("params")).toObject().value(QStringLiteral("----")).toString(), project);
    const QJsonObject close = sent[3].value(QStringLiteral("params")).toObject();
    EXPECT_EQ(close.value(QStringLiteral("fcpP")).toString(), project);
    EXPECT_EQ(close.value(QStringLiteral("fcCF")).toInt(-1), 0);

    // Without the close request the project stays open.
    QFile::remove(state() + QStringLiteral("/requests.jsonl"));
    setOpenProjects({});
    EXPECT_TRUE(QFAppleEvents::getProjectXMLData(project, true, false).has_value());
    EXPECT_FALSE(requestIDs().contains(QStringLiteral("cfcP")));
}

TEST_F(QFAppleEventsTest, TheTableOfContentsOpensTheProjectInTheBackgroundAndLeavesItOpen)
{
    startEditor();
    serve(QStringLiteral("eTCX.xml"), "<toc/>");
    EXPECT_EQ(QFAppleEvents::getTOCData(project, true), QByteArray("<toc/>"));
    const auto sent = requests();
    ASSERT_EQ(requestIDs(), QStringList({ QStringLiteral("fcLP"), QStringLiteral("odoc"), QStringLiteral("eTCX") }));
    EXPECT_FALSE(sent[1].value(QStringLiteral("params")).toObject().value(QStringLiteral("actv")).toBool(true));
}

TEST_F(QFAppleEventsTest, OneTrailingZeroByteIsRemoved)
{
    EXPECT_EQ(QFAppleEvents::formatData(QByteArray("<a/>\0", 5)), QByteArray("<a/>"));
    EXPECT_EQ(QFAppleEvents::formatData(QByteArray("<a/>")), QByteArray("<a/>"));
    EXPECT_EQ(QFAppleEvents::formatData(QByteArray()), QByteArray());
    EXPECT_EQ(QFAppleEvents::formatData(QByteArray("\0\0", 2)), QByteArray("\0", 1));

    startEditor();
    setOpenProjects({ project });
    serve(QStringLiteral("eXML.xml"), QByteArray("<xmeml/>\0", 9));
    EXPECT_EQ(QFAppleEvents::getProjectXMLData(project), QByteArray("<xmeml/>"));
}

TEST_F(QFAppleEventsTest, MissingOrEmptyAnswersAreReported)
{
    startEditor();
    setOpenProjects({ project });
    EXPECT_FALSE(QFAppleEvents::getProjectXMLData(project).has_value());
    EXPECT_EQ(newLogMessages(), QStringList { QStringLiteral("Error getting XML information") });

    serve(QStringLiteral("eXML.xml"), QByteArray("\0", 1));
    const auto empty = QFAppleEvents::getProjectXML(project);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ(newLogMessages().last(),
        QStringLiteral("Unable to communicate with Final Cut Pro. Please make sure it is running."));

    // A sequence export needs a sequence.
    EXPECT_FALSE(QFAppleEvents::getItemXMLData(QString(), project).has_value());
    EXPECT_EQ(newLogMessages().last(), QStringLiteral("Error adding destination project file to AppleEvent query"));
}

TEST_F(QFAppleEventsTest, AProjectFileThatIsGoneIsNeverSentBare)
{
    startEditor();
    const QString gone = home.file(QStringLiteral("Projects/Gone.fcp"));
    setOpenProjects({ gone });
    serve(QStringLiteral("eXML.xml"), "<xmeml/>");
    EXPECT_FALSE(QFAppleEvents::getProjectXMLData(gone).has_value());
    EXPECT_FALSE(QFAppleEvents::saveProject(gone));
    EXPECT_EQ(newLogMessages(),
        QStringList({ QStringLiteral("Error adding project file to AppleEvent query"),
            QStringLiteral("Error adding source project file to AppleEvent query") }));
    EXPECT_EQ(requestIDs(), QStringList { QStringLiteral("fcLP") });
}

TEST_F(QFAppleEventsTest, AnEditorThatNeverAnswersFailsAfterTheTimeOut)
{
    startEditor();
    setOpenProjects({ project });
    serve(QStringLiteral("eXML.xml"), "<xmeml/>");
    home.write(QStringLiteral("editor/silent"), "eXML\nsfcP\n");
    QFAppleEvents::setReplyTimeout(300);

    EXPECT_FALSE(QFAppleEvents::getProjectXMLData(project).has_value());
    EXPECT_FALSE(QFAppleEvents::saveProject(project));
    EXPECT_EQ(newLogMessages(),
        QStringList({ QStringLiteral("Error sending AppleEvent"), QStringLiteral("Error sending AppleEvent") }));

    // A silent list is an empty one.
    home.write(QStringLiteral("editor/silent"), "*\n");
    const auto open = QFAppleEvents::listOfOpenFCPProjects();
    ASSERT_TRUE(open.has_value());
    EXPECT_TRUE(open->isEmpty());
}

TEST_F(QFAppleEventsTest, SaveAndCloseNameTheProject)
{
    startEditor();
    const QString odd = home.write(QStringLiteral("Projects/Cut #1 (50%).fcp"), "project");
    EXPECT_TRUE(QFAppleEvents::saveProject(odd));
    EXPECT_TRUE(QFAppleEvents::closeProject(odd, false));
    const auto sent = requests();
    ASSERT_EQ(requestIDs(), QStringList({ QStringLiteral("sfcP"), QStringLiteral("cfcP") }));
    const QJsonObject save = sent[0].value(QStringLiteral("params")).toObject();
    EXPECT_EQ(save.value(QStringLiteral("fcpP")).toString(), odd);
    EXPECT_EQ(QByteArray::fromPercentEncoding(save.value(QStringLiteral("fcpU")).toString().toUtf8()), odd.toUtf8());
    EXPECT_FALSE(save.value(QStringLiteral("fcpU")).toString().contains(u' '));
    EXPECT_TRUE(save.value(QStringLiteral("fsOF")).toBool());
    EXPECT_EQ(sent[1].value(QStringLiteral("params")).toObject().value(QStringLiteral("fcCF")).toInt(-1), 1);
}

TEST_F(QFAppleEventsTest, LaunchingStartsTheEditorThroughTheBus)
{
    // The bus starts the fake editor from its activation file; it finds its state through the
    // activation environment.
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage environment = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("UpdateActivationEnvironment"));
    environment << QVariant::fromValue(QMap<QString, QString> { { QStringLiteral("QF_FAKE_EDITOR_STATE"), state() } });
    ASSERT_EQ(QDBusConnection::sessionBus().call(environment).type(), QDBusMessage::ReplyMessage);
    serve(QStringLiteral("eXML.xml"), "<xmeml/>");

    ASSERT_FALSE(QFAppleEvents::isFCPRunning());
    EXPECT_EQ(QFAppleEvents::getProjectXMLData(project, true, false), QByteArray("<xmeml/>"));
    EXPECT_TRUE(QFAppleEvents::isFCPRunning());
    EXPECT_TRUE(requestIDs().contains(QStringLiteral("odoc")));
}

TEST_F(QFAppleEventsTest, TheEditorVersionComesFromItsInstalledBundle)
{
    EXPECT_EQ(QFAppleEvents::finalCutProVersionString(), QStringLiteral("7.0"));
    EXPECT_EQ(QFAppleEvents::finalCutProMajorVersion(), 7);

    const auto install = [&](const QString &folder, const QString &identifier, const QString &version) {
        const QString plist = home.file(QStringLiteral("Applications/%1/Contents/Info.plist").arg(folder));
        QDir().mkpath(QFileInfo(plist).absolutePath());
        ASSERT_TRUE(QFPropertyList::write(plist,
            QVariantMap { { QStringLiteral("CFBundleIdentifier"), identifier },
                { QStringLiteral("CFBundleShortVersionString"), version } }));
    };
    install(QStringLiteral("Other Editor.app"), QStringLiteral("com.example.Other"), QStringLiteral("3.0"));
    EXPECT_EQ(QFAppleEvents::finalCutProVersionString(), QStringLiteral("7.0"));

    install(QStringLiteral("Final Cut Studio/Final Cut Pro.app"), QStringLiteral("com.apple.FinalCutPro"),
        QStringLiteral("7.0.3"));
    EXPECT_EQ(QFAppleEvents::finalCutProVersionString(), QStringLiteral("7.0.3"));
    EXPECT_EQ(QFAppleEvents::finalCutProMajorVersion(), 7);

    install(QStringLiteral("Final Cut Studio/Final Cut Pro.app"), QStringLiteral("com.apple.FinalCutPro"),
        QStringLiteral("6"));
    EXPECT_EQ(QFAppleEvents::finalCutProMajorVersion(), 6);

    EXPECT_EQ(QFAppleEvents::majorVersionFromString(QString()), 7);
    EXPECT_EQ(QFAppleEvents::majorVersionFromString(QStringLiteral("7.0.3")), 7);
    EXPECT_EQ(QFAppleEvents::majorVersionFromString(QStringLiteral("6")), 6);
    EXPECT_EQ(QFAppleEvents::majorVersionFromString(QStringLiteral("10.1")), 10);
}

TEST_F(QFAppleEventsTest, FinalCutCountsAsInstalledOnlyByItsOwnIdentifiers)
{
    const auto install = [&](const QString &folder, const QString &identifier) {
        const QString plist = home.file(QStringLiteral("Applications/%1/Contents/Info.plist").arg(folder));
        QDir().mkpath(QFileInfo(plist).absolutePath());
        ASSERT_TRUE(QFPropertyList::write(plist,
            QVariantMap { { QStringLiteral("CFBundleIdentifier"), identifier },
                { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("10.1") } }));
    };
    EXPECT_FALSE(QFAppleEvents::isFinalCutInstalled()) << "nothing installed, although the version reads 7.0";
    EXPECT_EQ(QFAppleEvents::finalCutProVersionString(), QStringLiteral("7.0"));
    install(QStringLiteral("Final Cut Pro.app"), QStringLiteral("com.apple.FinalCutPro"));
    EXPECT_FALSE(QFAppleEvents::isFinalCutInstalled()) << "the older editor has an identifier of its own";
    install(QStringLiteral("Final Cut Pro Trial.app"), QStringLiteral("com.apple.FinalCutTrial"));
    EXPECT_TRUE(QFAppleEvents::isFinalCutInstalled());
    QDir(home.file(QStringLiteral("Applications/Final Cut Pro Trial.app"))).removeRecursively();
    EXPECT_FALSE(QFAppleEvents::isFinalCutInstalled());
    install(QStringLiteral("Video/Final Cut Pro X.app"), QStringLiteral("com.apple.FinalCut"));
    EXPECT_TRUE(QFAppleEvents::isFinalCutInstalled());
}

TEST_F(QFAppleEventsTest, GeneratedIdentifiersAreUpperCaseWithHyphens)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString first = QFAppleEvents::generateUUID();
    EXPECT_TRUE(form.match(first).hasMatch()) << qPrintable(first);
    EXPECT_NE(first, QFAppleEvents::generateUUID());
}
